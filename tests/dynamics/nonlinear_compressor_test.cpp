#include "dynamics/nonlinear_compressor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace sorvan {
namespace {

std::vector<double> square(double magnitude, std::size_t n) {
  std::vector<double> out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = i % 2 ? -magnitude : magnitude;
  return out;
}

// Runs one compressor (threshold 1000, ratio 4) over both sides.
NonLinChannelState run(long window, std::vector<double>& l, std::vector<double>& r) {
  NonLinChannelState state;
  NonLinCOMP(nonLinComp(1000, window, 4.0), state, static_cast<long>(l.size()), l.data(),
             r.data());
  return state;
}

TEST(NonLinCompTest, SettlesToTheRatioAboveThreshold) {
  // Window 0: every frame of an alternating signal measures one sample. The
  // smoothed level goes S/2, 5S/6, then S, where the gain (1 - T/S)/ratio +
  // T/S = 0.4375 leaves T + (S - T)/ratio. The right side is measured after
  // the left, so its link sees this frame's left gain, the left link the
  // previous right one.
  std::vector<double> l = square(4000, 50), r = square(4000, 50);
  run(0, l, r);
  EXPECT_DOUBLE_EQ(r[0], 4000 * (0.5 / 4 + 0.5));
  EXPECT_DOUBLE_EQ(l[0], 4000 * (0.5 * 1.0 + 0.5 * 0.625));
  EXPECT_NEAR(-r[1], 4000 * ((1 - 0.3) / 4 + 0.3), 1e-4);
  for (std::size_t i = 3; i < l.size(); ++i) {
    EXPECT_DOUBLE_EQ(std::fabs(l[i]), 1750.0) << i;
    EXPECT_EQ(r[i], l[i]) << i;
  }
  // Settled on unequal sides the gains average (0.4375 and 1.1875 to 0.8125),
  // so the quiet side is reduced too; a gain above unity is capped.
  l = square(4000, 20), r = square(800, 20);
  run(0, l, r);
  EXPECT_EQ(r[0], 800.0);
  EXPECT_DOUBLE_EQ(std::fabs(l[19]), 4000 * 0.8125);
  EXPECT_DOUBLE_EQ(std::fabs(r[19]), 800 * 0.8125);
}

TEST(NonLinCompTest, MeasuresOnlyAfterMoreThanWindowSamplesAndHoldsTheGain) {
  std::vector<double> l = square(4000, 12), r = square(4000, 12);
  run(3, l, r);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(std::fabs(r[i]), 4000.0) << i;
  // Frame 3 closes the first stretch of four samples; frame 7 the next.
  for (int i = 3; i < 7; ++i) EXPECT_DOUBLE_EQ(std::fabs(r[i]), 2500.0) << i;
  EXPECT_NEAR(std::fabs(r[7]), 4000 * ((1 - 0.3) / 4 + 0.3), 1e-4);
}

TEST(NonLinCompTest, BelowThresholdOnlyTheFloorChanges) {
  std::vector<double> l{3.0, -200.0, 0.0, -0.00005, 700.0, -1.0}, r = l, expected = l;
  expected[2] = 0.0001;
  expected[3] = -0.0001;
  run(0, l, r);
  EXPECT_EQ(l, expected);
  EXPECT_EQ(r, expected);
}

}  // namespace
}  // namespace sorvan
