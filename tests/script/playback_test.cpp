#include "script/playback.h"

#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace sorvan {
namespace {

constexpr std::int64_t kUnity = 134217728;
constexpr double kChannelDivisor = 524288.0;

struct Entry {
  std::int64_t time;
  std::int64_t level;
  std::int64_t ramp = 0;
  float shape = 1.0f;
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

MixScript scriptWith(std::initializer_list<Entry> channel1) {
  MixScript script;
  setEntries(script.levels.faders[1], channel1);
  initAutomationState(0, kMaxTracks, {}, script.levels);
  return script;
}

struct Pair {
  std::vector<std::int64_t> left, right;
};

Pair signal(long n, auto leftAt, auto rightAt) {
  Pair p;
  for (long i = 0; i < n; ++i) {
    p.left.push_back(leftAt(i));
    p.right.push_back(rightAt(i));
  }
  return p;
}

Pair sine(long n, double phase) {
  auto at = [](double ph) {
    return [ph](long i) {
      return static_cast<std::int64_t>(std::lround(1e6 * std::sin(2 * M_PI * i / 100.0 + ph)));
    };
  };
  return signal(n, at(0.0), at(phase));
}

// Runs AUTOMATE over the whole pair in blocks of the given sizes.
Pair automate(MixScript& script, Pair in, const std::vector<long>& blocks,
              const double* vca = nullptr) {
  std::int64_t pos = 0;
  for (long size : blocks) {
    AUTOMATE(pos, size, 1, script, in.left.data() + pos, in.right.data() + pos, kChannelDivisor,
             vca);
    pos += size;
  }
  return in;
}

std::vector<long> randomBlocks(long total, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<long> blocks;
  for (long done = 0; done < total;) {
    const long size = std::min<long>(total - done, std::uniform_int_distribution<long>(1, 997)(rng));
    blocks.push_back(size);
    done += size;
  }
  return blocks;
}

TEST(PlaybackTest, UnityChannelMultipliesByExactly256AndPolarityInverts) {
  const Pair in = signal(9, [](long i) { return (i - 4) * 1000003; },
                         [](long i) { return i == 3 ? 0 : 8388607 - i; });
  MixScript script = scriptWith({{0, kUnity}});
  const Pair out = automate(script, in, {9});
  script = scriptWith({{0, kUnity}});
  script.levels.polarity[1] = -1;
  const Pair inverted = automate(script, in, {9});
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(out.left[i], in.left[i] * 256);
    EXPECT_EQ(out.right[i], in.right[i] * 256);
    EXPECT_EQ(inverted.left[i], -in.left[i] * 256);
    EXPECT_EQ(inverted.right[i], -in.right[i] * 256);
  }
}

TEST(PlaybackTest, LevelChangesWaitForEachSidesZeroCrossing) {
  const Pair in = sine(2000, M_PI / 2);
  MixScript script = scriptWith({{0, kUnity}, {1010, kUnity / 2}});
  const Pair out = automate(script, in, {2000});
  auto firstCrossing = [](const std::vector<std::int64_t>& x) {
    long i = 1010;
    while ((x[i] < 0) == (x[i - 1] < 0)) ++i;
    return i;
  };
  const long crossL = firstCrossing(in.left);
  const long crossR = firstCrossing(in.right);
  ASSERT_NE(crossL, crossR);
  for (long i = 0; i < 2000; ++i) {
    EXPECT_EQ(out.left[i], in.left[i] * (i < crossL ? 256 : 128)) << i;
    EXPECT_EQ(out.right[i], in.right[i] * (i < crossR ? 256 : 128)) << i;
  }
}

TEST(PlaybackTest, RampsFollowTheirCurveInDecibels) {
  auto gainAt = [](float shape, long step) {
    MixScript script = scriptWith({{0, 0}, {100, kUnity, 48000, shape}});
    // Alternating signs: every sample is a crossing, so the gain follows the ramp.
    const long n = 100 + step;
    Pair in = signal(n, [](long i) { return i % 2 ? -1000 : 1000; },
                     [](long i) { return i % 2 ? 1000 : -1000; });
    automate(script, in, {n});
    EXPECT_EQ(script.playback.ApplyLeft[1], script.playback.ApplyRight[1]);
    // A lone crossing at the last sample finds the ramp just as far along.
    MixScript sparse = scriptWith({{0, 0}, {100, kUnity, 48000, shape}});
    automate(sparse, signal(n, [n](long i) { return i + 1 < n ? 7 : -7; }, [](long) { return 7; }),
             {n});
    EXPECT_EQ(sparse.playback.ApplyLeft[1], script.playback.ApplyLeft[1]) << step;
    EXPECT_EQ(sparse.playback.ApplyRight[1], 0.0) << "no crossing since the first sample";
    return script.playback.ApplyLeft[1] / 256.0;
  };
  for (long step : {1L, 12000L, 24000L, 47999L}) {
    const double fraction = step / 48000.0;
    const double linear = std::pow(10.0, (-144.0 + 144.0 * fraction) / 20.0);
    const double squared = std::pow(10.0, (-144.0 + 144.0 * fraction * fraction) / 20.0);
    EXPECT_NEAR(gainAt(1.0f, step) / linear, 1.0, 1e-6) << step;
    EXPECT_NEAR(gainAt(2.0f, step) / squared, 1.0, 1e-6) << step;
    EXPECT_LT(gainAt(2.0f, step), gainAt(1.0f, step));
  }
  EXPECT_EQ(gainAt(1.0f, 48000), 1.0) << "the ramp ends exactly on its target";
  EXPECT_EQ(gainAt(2.0f, 60000), 1.0);
}

TEST(PlaybackTest, DirectCurrentKeepsItsFirstGain) {
  const Pair in = signal(3000, [](long) { return 1000; }, [](long) { return -1000; });
  MixScript script = scriptWith({{0, kUnity}, {100, kUnity / 2}, {2000, 0, 500}});
  const Pair out = automate(script, in, {3000});
  for (long i = 0; i < 3000; ++i) {
    EXPECT_EQ(out.left[i], 256000);
    EXPECT_EQ(out.right[i], -256000);
  }
}

TEST(PlaybackTest, VcaGainAppliesFromTheFirstSample) {
  MixScript script = scriptWith({{0, kUnity}});
  setEntries(script.levels.vcas[2], {{0, 67268211}});
  initAutomationState(0, kMaxTracks, {}, script.levels);
  script.routing.vcaAssignment[1] = 2;
  std::vector<double> rows(kVcaSlots * kBlockFrames, 1.0);
  FillVCA(0, 500, 2, script, rows.data() + 2 * kBlockFrames);
  const double gain = rows[2 * kBlockFrames];
  EXPECT_EQ(gain, 67268211 * 7.450580596923828e-09);
  EXPECT_NEAR(gain, 0.5011872336272722, 1e-7);
  EXPECT_EQ(rows[2 * kBlockFrames + 499], gain);

  const Pair in = signal(500, [](long) { return 1000; }, [](long i) { return 3 - i; });
  const Pair out = automate(script, in, {500}, rows.data());
  for (long i = 0; i < 500; ++i) {
    EXPECT_EQ(out.left[i], static_cast<std::int64_t>(256.0 * gain * 1000.0));
    EXPECT_EQ(out.right[i], static_cast<std::int64_t>(static_cast<double>(3 - i) * gain * 256.0));
  }
}

TEST(PlaybackTest, EntriesAtTheSameTimeStopTheFader) {
  const Pair in = signal(1500, [](long i) { return i % 2 ? -5 : 5; },
                         [](long i) { return i % 2 ? 5 : -5; });
  MixScript script = scriptWith({{0, kUnity}, {500, kUnity / 2}, {500, kUnity / 4}, {800, kUnity}});
  const Pair out = automate(script, in, {1500});
  EXPECT_EQ(out.left[499], 5 * 256 * (499 % 2 ? -1 : 1));
  for (long i = 500; i < 1500; ++i) EXPECT_EQ(out.left[i], in.left[i] * 128) << i;
  EXPECT_EQ(script.levels.faderState[1].entryIndex, 2);
}

TEST(PlaybackTest, BlockSizesDoNotChangeTheResult) {
  const long n = 60000;
  auto build = [] {
    MixScript script = scriptWith({{0, kUnity / 3},
                                   {5000, kUnity, 9000, 2.0f},
                                   {20000, 40000000, 0},
                                   {21000, 0, 15000, 0.5f},
                                   {45000, kUnity, 3}});
    setEntries(script.levels.vcas[4], {{0, kUnity}, {1000, kUnity / 8, 30000, 3.0f},
                                       {40000, kUnity * 2, 7}});
    initAutomationState(0, kMaxTracks, {}, script.levels);
    script.routing.vcaAssignment[1] = 4;
    return script;
  };
  const Pair in = sine(n, 1.0);
  auto run = [&](const std::vector<long>& blocks) {
    MixScript script = build();
    std::vector<double> rows(kVcaSlots * kBlockFrames, 1.0);
    std::vector<double> vcaTrace;
    Pair out = in;
    std::int64_t pos = 0;
    for (long size : blocks) {
      FillVCA(pos, size, 4, script, rows.data() + 4 * kBlockFrames);
      vcaTrace.insert(vcaTrace.end(), rows.begin() + 4 * kBlockFrames,
                      rows.begin() + 4 * kBlockFrames + size);
      AUTOMATE(pos, size, 1, script, out.left.data() + pos, out.right.data() + pos,
               kChannelDivisor, rows.data());
      pos += size;
    }
    return std::pair{out, vcaTrace};
  };
  const auto whole = run({n});
  for (unsigned seed : {1u, 2u, 3u}) {
    const auto split = run(randomBlocks(n, seed));
    EXPECT_EQ(split.first.left, whole.first.left) << seed;
    EXPECT_EQ(split.first.right, whole.first.right) << seed;
    EXPECT_EQ(split.second, whole.second) << seed;
  }
}

TEST(PlaybackTest, InterpretLevelResumesARampWhereContinuousPlaybackIs) {
  const long n = 50000;
  for (float shape : {1.0f, 2.5f}) {
    MixScript script;
    setEntries(script.levels.vcas[1], {{100, kUnity}, {10000, kUnity / 5, 30000, shape}});
    initAutomationState(0, kMaxTracks, {}, script.levels);
    std::vector<double> whole(n);
    FillVCA(0, n, 1, script, whole.data());

    for (std::int64_t start : {50L, 20000L, 39999L}) {
      initAutomationState(start, kMaxTracks, {}, script.levels);
      std::vector<double> resumed(static_cast<std::size_t>(n - start));
      FillVCA(start, n - start, 1, script, resumed.data());
      EXPECT_TRUE(std::equal(resumed.begin(), resumed.end(), whole.begin() + start))
          << "shape " << shape << " from " << start;
    }
  }
}

}  // namespace
}  // namespace sorvan
