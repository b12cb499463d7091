#include "dynamics/peak_compressor.h"

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
  PeakCompressorSettings settings;
  PeakCompressorState state;
  int ch = 0;  // the master: thresholds in bus scale are just larger numbers
  Rig(std::int64_t thresh, long attack, long release, double ratio) {
    setPeakCompressor(settings, ch, thresh, attack, release, ratio);
  }
  void run(std::vector<double>& l, std::vector<double>& r) {
    PEAKCOMPRESSOR(settings, state, ch, static_cast<long>(l.size()), l.data(), r.data());
  }
};

TEST(PeakCompressorTest, TriggersAtTheFirstSampleAboveTheThresholdOnEitherSide) {
  for (bool loudLeft : {true, false}) {
    Rig rig(1000, 1, 100, 4.0);
    std::vector<double> loud{10, 20, 1000, -1000, 1001, 5};  // equal to the threshold is not above
    std::vector<double> quiet(loud.size(), 0.0);
    std::vector<double> l = loudLeft ? loud : quiet;
    std::vector<double> r = loudLeft ? quiet : loud;
    rig.run(l, r);
    std::vector<double>& out = loudLeft ? l : r;
    std::vector<double>& other = loudLeft ? r : l;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(out[i], loud[i]) << i;
    EXPECT_EQ(other[3], 0.0);
    EXPECT_EQ(out[4], 250.25);  // attack 1: full reduction at the triggering sample
    EXPECT_EQ(out[5], 1.25);
    EXPECT_DOUBLE_EQ(other[4], 0.000025);  // the other side follows, floored
  }
}

TEST(PeakCompressorTest, AttackHoldReleaseAndWalkBack) {
  Rig rig(1000, 3, 10, 2.0);
  // Every frame closes a half-wave, so each frame's magnitude is its peak.
  std::vector<double> l =
      alternating({100, 1200, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100,
                   100, 1000, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100});
  std::vector<double> r(l.size());
  for (std::size_t i = 0; i < r.size(); ++i) r[i] = l[i] < 0 ? 100.0 : -100.0;
  r[7] = std::copysign(600.0, r[7]);  // at or above half the threshold: resets the right count
  const std::vector<double> inL = l, inR = r;
  rig.run(l, r);

  auto gain = [&](std::size_t i) { return l[i] / inL[i]; };
  EXPECT_EQ(l[0], inL[0]);
  for (int c = 1; c <= 3; ++c)
    EXPECT_NEAR(gain(c), 1.0 - 0.5 * std::sin(c * kQuarter / 3), 1e-12) << c;
  for (std::size_t i = 4; i <= 11; ++i) EXPECT_EQ(l[i], inL[i] / 2.0) << i;
  for (std::size_t i = 0; i < 24; ++i) EXPECT_NEAR(r[i] / inR[i], gain(i), 1e-15) << i;
  // The loud half-wave closed at frame 14 walks the release back one step.
  const int steps[] = {1, 2, 3, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  for (std::size_t k = 0; k < std::size(steps); ++k)
    EXPECT_NEAR(gain(12 + k), 0.5 + 0.5 * std::sin(steps[k] * kQuarter / 10), 1e-12) << 12 + k;
  EXPECT_EQ(l[24], inL[24]);
  EXPECT_EQ(rig.state.state[0], kIdle);
}

TEST(PeakCompressorTest, RatioOneChangesOnlyTheFloor) {
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

TEST(PeakCompressorTest, BlockSplitInvariant) {
  PeakCompressorSettings settings;
  for (int ch : {3, 130}) setPeakCompressor(settings, ch, 100000, 300, 3000, 5.0);
  dyntest::expectBlockSplitInvariant<PeakCompressorState>(
      dyntest::steppedTone(100000, 97.3, 0.0), dyntest::steppedTone(80000, 61.0, 1.0),
      [&](PeakCompressorState& st, int ch, long n, double* l, double* r) {
        PEAKCOMPRESSOR(settings, st, ch, n, l, r);
      });
}

}  // namespace
}  // namespace sorvan
