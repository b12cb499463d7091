#include "dynamics/rms_compressor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "dynamics_test_support.h"

namespace sorvan {
namespace {

using namespace compressor_phase;
using dyntest::alternating;

constexpr double kQuarter = 1.5707963267948966;

struct Rig {
  RmsCompressorSettings settings;
  RmsCompressorState state;
  int ch = 7;
  Rig(std::int64_t thresh, long attack, long release, double ratio) {
    setRmsCompressor(settings, ch, thresh, attack, release, ratio);
  }
  void run(std::vector<double>& l, std::vector<double>& r) {
    RMSCOMPRESSOR(settings, state, ch, static_cast<long>(l.size()), l.data(), r.data());
  }
};

TEST(RmsCompressorTest, SilencePassesUntouchedAndNeverTriggers) {
  Rig rig(1, 10, 100, 4.0);
  std::vector<double> l(1000, 0.0), r(1000, 0.0);
  rig.run(l, r);
  EXPECT_EQ(l, std::vector<double>(1000, 0.0));
  EXPECT_EQ(r, std::vector<double>(1000, 0.0));
  EXPECT_EQ(rig.state.state[7], kIdle);
}

TEST(RmsCompressorTest, TriggersOnlyAtTheZeroCrossingAfterALoudHalfWave) {
  Rig rig(1000, 1, 100, 4.0);
  // A loud positive half-wave; its RMS is known only when the signal turns negative.
  std::vector<double> l{1, 2000, 2000, 2000, 2000, -1, -1};
  std::vector<double> r(l.size(), 0.0);
  rig.run(l, r);
  for (int i = 1; i <= 4; ++i) EXPECT_EQ(l[i], 2000.0);
  EXPECT_EQ(rig.state.state[7], kCompressed);  // attack 1: compressed at once
  EXPECT_EQ(l[5], -0.25);
  EXPECT_DOUBLE_EQ(r[5], 0.000025);  // silence carries the floor times the gain
}

TEST(RmsCompressorTest, AttackHoldReleaseAndWalkBack) {
  Rig rig(1000, 4, 10, 4.0);
  // Every frame closes a half-wave, so each frame's magnitude is its own RMS.
  std::vector<double> l =
      alternating({100, 2000, 100,  100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100,
                   100, 1500, 1000, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 3000});
  std::vector<double> r(l.size());
  for (std::size_t i = 0; i < r.size(); ++i) r[i] = -l[i] / std::fabs(l[i]) * 100.0;
  r[7] = std::copysign(600.0, r[7]);  // at or above half the threshold: resets the right count
  const std::vector<double> inL = l, inR = r;
  rig.run(l, r);

  auto gain = [&](std::size_t i) { return l[i] / inL[i]; };
  auto attackGain = [](int c) { return 1.0 - 0.75 * std::sin(c * kQuarter / 4); };
  auto releaseGain = [](int c) { return 0.25 + 0.75 * std::sin(c * kQuarter / 10); };

  EXPECT_EQ(l[0], inL[0]);
  for (int c = 1; c <= 4; ++c) EXPECT_NEAR(gain(c), attackGain(c), 1e-12) << c;
  EXPECT_NEAR(gain(4), 0.25, 1e-15);
  // Compressed until both sides have had four quiet half-waves in a row;
  // the right side's count restarts at frame 7.
  for (std::size_t i = 5; i <= 11; ++i) EXPECT_EQ(l[i], inL[i] / 4.0) << i;
  for (std::size_t i = 0; i < 26; ++i) EXPECT_NEAR(r[i] / inR[i], gain(i), 1e-15) << i;
  // Release steps 1, 2, 3, 4; the loud frames walk it back to 3 and 2 ...
  const int steps[] = {1, 2, 3, 4, 3, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  for (std::size_t k = 0; k < std::size(steps); ++k)
    EXPECT_NEAR(gain(12 + k), releaseGain(steps[k]), 1e-12) << 12 + k;
  // ... and one step past the end the compressor is idle again.
  EXPECT_EQ(l[26], inL[26]);
  EXPECT_EQ(rig.state.state[7], kAttack);  // and the last loud frame starts a new attack
}

TEST(RmsCompressorTest, LoudSignalDuringReleaseHoldsFullReductionWithoutOvershoot) {
  Rig rig(1000, 1, 10, 4.0);
  std::vector<double> l = alternating({2000, 100, 100, 100, 100});  // compressed, then release
  l.resize(30, 0.0);
  for (std::size_t i = 5; i < l.size(); ++i) l[i] = i % 2 ? -1500.0 : 1500.0;
  std::vector<double> r = l;
  rig.run(l, r);
  EXPECT_EQ(rig.state.state[7], kRelease);
  // Walked back to step 0 and held there: exactly 1/ratio, never below.
  for (std::size_t i = 6; i < l.size(); ++i) EXPECT_EQ(std::fabs(l[i]), 375.0) << i;
}

TEST(RmsCompressorTest, RatioOneChangesOnlyTheFloor) {
  Rig rig(1000, 3, 10, 1.0);
  std::vector<double> l = alternating({100, 2000, 0,   3000, 0.00005, 100, 200, 100, 300, 100,
                                       100, 100,  100, 100,  100,     100, 100, 100, 100, 100});
  std::vector<double> r = l;
  std::vector<double> expected = l;
  expected[2] = expected[4] = 0.0001;
  rig.run(l, r);
  EXPECT_EQ(l, expected);
  EXPECT_EQ(r, expected);
}

TEST(RmsCompressorTest, BlockSplitInvariant) {
  RmsCompressorSettings settings;
  for (int ch : {3, 130}) setRmsCompressor(settings, ch, 80000, 300, 3000, 5.0);
  dyntest::expectBlockSplitInvariant<RmsCompressorState>(
      dyntest::steppedTone(100000, 97.3, 0.0), dyntest::steppedTone(80000, 61.0, 1.0),
      [&](RmsCompressorState& st, int ch, long n, double* l, double* r) {
        RMSCOMPRESSOR(settings, st, ch, n, l, r);
      });
}

}  // namespace
}  // namespace sorvan
