#include "dynamics/nonlinear_compressor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace sorvan {
namespace {

struct Rig {
  NonLinCompSettings settings;
  NonLinChannelState state;
  Rig(std::int64_t thresh, long window, double ratio)
      : settings(nonLinComp(thresh, window, ratio)) {}
  void run(std::vector<double>& l, std::vector<double>& r) {
    NonLinCOMP(settings, state, static_cast<long>(l.size()), l.data(), r.data());
  }
};

std::vector<double> square(double magnitude, std::size_t n) {
  std::vector<double> out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = i % 2 ? -magnitude : magnitude;
  return out;
}

TEST(NonLinCompTest, SettlesToTheRatioAboveThresholdGain) {
  // Window 0: every frame of an alternating signal is a measurement of one sample.
  Rig rig(1000, 0, 4.0);
  std::vector<double> l = square(4000, 50), r = square(4000, 50);
  rig.run(l, r);
  // Smoothed levels of the first three measurements: S/2, 5S/6, then S
  // itself, where (1 - T/S)/ratio + T/S = 0.4375, an output level of
  // T + (S - T)/ratio. The right side is measured after the left, so its link
  // sees this frame's left gain while the left link sees the previous right one.
  EXPECT_DOUBLE_EQ(r[0], 4000 * (0.5 / 4 + 0.5));
  EXPECT_DOUBLE_EQ(l[0], 4000 * (0.5 * 1.0 + 0.5 * 0.625));
  EXPECT_NEAR(-r[1], 4000 * ((1 - 0.3) / 4 + 0.3), 1e-4);
  EXPECT_DOUBLE_EQ(r[2], 1750.0);
  for (std::size_t i = 3; i < l.size(); ++i) {
    EXPECT_DOUBLE_EQ(std::fabs(l[i]), 1750.0) << i;
    EXPECT_EQ(r[i], l[i]) << i;
  }
}

TEST(NonLinCompTest, StereoLinkAveragesTheSidesAndNeverBoosts) {
  Rig rig(1000, 0, 4.0);
  std::vector<double> l = square(4000, 20), r = square(800, 20);
  rig.run(l, r);
  // Settled: gammas 0.4375 and 1.1875 average to 0.8125 on both sides, so the
  // quiet side is reduced too and the loud one less than it alone would ask.
  EXPECT_DOUBLE_EQ(std::fabs(l[19]), 4000 * 0.8125);
  EXPECT_DOUBLE_EQ(std::fabs(r[19]), 800 * 0.8125);
  // First frame, right side: its gamma 2.125 with the left 0.625 is capped at unity.
  EXPECT_EQ(r[0], 800.0);

  // A silent side's huge gamma lifts the link to the cap once it is measured.
  Rig silent(1000, 0, 4.0);
  l = square(4000, 20);
  r.assign(20, 0.0);
  silent.run(l, r);
  std::vector<double> expected = square(4000, 20);
  expected[0] = 3250.0;
  EXPECT_EQ(l, expected);
  EXPECT_EQ(r, std::vector<double>(20, 0.0001));
}

TEST(NonLinCompTest, MeasuresOnlyAfterMoreThanWindowSamplesAndHoldsTheGain) {
  Rig rig(1000, 3, 4.0);
  std::vector<double> l = square(4000, 12), r = square(4000, 12);
  rig.run(l, r);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(std::fabs(r[i]), 4000.0) << i;
  // Frame 3 closes the first stretch of four samples; frame 7 the next.
  for (int i = 3; i < 7; ++i) EXPECT_DOUBLE_EQ(std::fabs(r[i]), 2500.0) << i;
  EXPECT_NEAR(std::fabs(r[7]), 4000 * ((1 - 0.3) / 4 + 0.3), 1e-4);
}

TEST(NonLinCompTest, RatioOneChangesOnlyTheFloor) {
  Rig rig(1000000, 0, 1.0);
  std::vector<double> l{3.0, -2e6, 0.0, -0.00005, 7e5, -1.0, 12345.0, 2e-7};
  std::vector<double> r = l, expected = l;
  expected[2] = expected[7] = 0.0001;
  expected[3] = -0.0001;
  rig.run(l, r);
  EXPECT_EQ(l, expected);
  EXPECT_EQ(r, expected);
}

}  // namespace
}  // namespace sorvan
