// Fader and VCA playback in blocks. What a listener hears is checked on
// renders (ramps in the mixer tests; zero crossings and renders that start
// inside running ramps end to end); here: the result must not depend on where
// blocks split.
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

}  // namespace
}  // namespace sorvan
