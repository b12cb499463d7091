// Fader and VCA playback in blocks. What a listener hears is checked on
// renders (the mixer tests and e2e); here: the result must not depend on where
// blocks split, and a render starting mid-song must find every fader where
// playback from the start would have left it.
#include "engine/playback.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace sorvan {
namespace {

constexpr std::int64_t kUnity = 134217728;

struct Entry {
  std::int64_t time, level, ramp;
  float shape;
};

void setEntries(FaderTable& table, std::initializer_list<Entry> entries) {
  table.count = 0;
  for (const Entry& e : entries) {
    const auto k = static_cast<std::size_t>(table.count++);
    table.time[k] = e.time;
    table.level[k] = e.level;
    table.ramp[k] = e.ramp;
    table.shape[k] = e.shape;
  }
}

TEST(PlaybackTest, BlockSizesDoNotChangeTheResult) {
  const long n = 60000;
  std::vector<std::int64_t> left(n), right(n);
  for (long i = 0; i < n; ++i) {
    left[i] = std::lround(1e6 * std::sin(2 * M_PI * i / 100.0));
    right[i] = std::lround(1e6 * std::sin(2 * M_PI * i / 100.0 + 1.0));
  }
  MixScript script;
  setEntries(script.levels.faders[1], {{0, kUnity / 3, 0, 1},
                                       {5000, kUnity, 9000, 2},
                                       {20000, 40000000, 0, 1},
                                       {21000, 0, 15000, 0.5f},
                                       {45000, kUnity, 3, 1}});
  setEntries(script.levels.vcas[4],
             {{0, kUnity, 0, 1}, {1000, kUnity / 8, 30000, 3}, {40000, kUnity * 2, 7, 1}});
  script.routing.vcaAssignment[1] = 4;
  auto run = [&](const std::vector<long>& blocks) {
    AutomationState state;
    startAutomation(script.levels, 0, kMaxTracks, {}, state);
    std::vector<double> rows(kVcaSlots * kBlockFrames, 1.0), vca;
    std::vector<std::int64_t> l = left, r = right;
    std::int64_t pos = 0;
    for (long size : blocks) {
      double* row = rows.data() + 4 * kBlockFrames;
      FillVCA(pos, size, 4, script.levels, state, row);
      vca.insert(vca.end(), row, row + size);
      AUTOMATE(pos, size, 1, script, state, l.data() + pos, r.data() + pos, 524288.0, rows.data());
      pos += size;
    }
    return std::tuple{l, r, vca};
  };
  const auto whole = run({n});
  EXPECT_NE(std::get<0>(whole), left);
  for (unsigned seed : {1u, 2u}) {
    std::mt19937 rng(seed);
    std::vector<long> blocks;
    for (long done = 0; done < n; done += blocks.back())
      blocks.push_back(std::min<long>(n - done, std::uniform_int_distribution<long>(1, 997)(rng)));
    EXPECT_TRUE(run(blocks) == whole) << seed;
  }
}

TEST(PlaybackTest, RenderStartingMidSongResumesWhereContinuousPlaybackIs) {
  const long n = 50000;
  for (float shape : {1.0f, 2.5f}) {
    MixScript script;
    setEntries(script.levels.vcas[1], {{100, kUnity, 0, 1}, {10000, kUnity / 5, 30000, shape}});
    AutomationState state;
    startAutomation(script.levels, 0, kMaxTracks, {}, state);
    std::vector<double> whole(n);
    FillVCA(0, n, 1, script.levels, state, whole.data());
    for (std::int64_t start : {50L, 20000L, 39999L}) {
      startAutomation(script.levels, start, kMaxTracks, {}, state);
      std::vector<double> resumed(static_cast<std::size_t>(n - start));
      FillVCA(start, n - start, 1, script.levels, state, resumed.data());
      EXPECT_TRUE(std::equal(resumed.begin(), resumed.end(), whole.begin() + start))
          << "shape " << shape << " from " << start;
    }
  }
  // Halfway down a 12.04 dB ramp: -6.02 dB when linear, a quarter of the way
  // in dB when squared; a channel whose source starts later is set at its own start.
  MixScript script;
  setEntries(script.levels.faders[1], {{0, kUnity, 0, 1}, {48000, kUnity / 4, 48000, 1}});
  setEntries(script.levels.faders[2], {{0, kUnity, 0, 1}, {48000, kUnity / 4, 48000, 2}});
  setEntries(script.levels.faders[3], {{0, kUnity, 0, 1}, {100000, kUnity / 2, 0, 1}});
  std::array<std::int64_t, kMaxTracks + 1> sourceStart{};
  sourceStart[3] = 48000LL * 80;
  AutomationState state;
  startAutomation(script.levels, 72000, 8, sourceStart, state);
  EXPECT_NEAR(static_cast<double>(state.faders[1].cursor.current), kUnity / 2.0, 1.0);
  EXPECT_NEAR(static_cast<double>(state.faders[2].cursor.current), kUnity * std::pow(0.25, 0.25),
              1.0);
  EXPECT_EQ(state.faders[3].cursor.current, kUnity / 2);
}

}  // namespace
}  // namespace sorvan
