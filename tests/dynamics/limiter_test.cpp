#include "dynamics/limiter.h"

#include <gtest/gtest.h>

#include <vector>

#include "dynamics_test_support.h"

namespace sorvan {
namespace {

TEST(LimiterTest, KneeAndSlopeOnEachSideAlone) {
  LimiterSettings settings;
  setLimiter(settings, 12, 1000);  // knee 891.25
  std::vector<double> l{891.25, 1000.0, -2000.0, 891.5, 0.0, -0.00001, 123.0};
  std::vector<double> r(l.size(), 500.0);
  LIMITER(settings, 12, static_cast<long>(l.size()), l.data(), r.data());
  EXPECT_EQ(l[0], 891.25);
  EXPECT_EQ(l[1], 904.84375);  // a sample at the threshold leaves at about 0.905 of it
  EXPECT_EQ(l[2], -(1108.75 / 8 + 891.25));
  EXPECT_EQ(l[3], 891.28125);
  EXPECT_EQ(l[4], 0.0001);
  EXPECT_EQ(l[5], -0.0001);
  EXPECT_EQ(l[6], 123.0);
  EXPECT_EQ(r, std::vector<double>(l.size(), 500.0));
}

TEST(LimiterTest, ThresholdZeroLeavesAnEighthOfTheFlooredMagnitude) {
  LimiterSettings settings;
  setLimiter(settings, 0, 0);
  double l[] = {0.0, -8.0}, r[] = {800.0, 1e-9};
  LIMITER(settings, 0, 2, l, r);
  EXPECT_EQ(l[0], 0.0001 * 0.125);
  EXPECT_EQ(l[1], -1.0);
  EXPECT_EQ(r[0], 100.0);
  EXPECT_EQ(r[1], 0.0001 * 0.125);
}

TEST(LimiterTest, BlockSplitInvariant) {
  LimiterSettings settings;
  for (int ch : {3, 130}) setLimiter(settings, ch, 100000);
  struct NoState {};
  dyntest::expectBlockSplitInvariant<NoState>(
      dyntest::steppedTone(100000, 97.3, 0.0), dyntest::steppedTone(80000, 61.0, 1.0),
      [&](NoState&, int ch, long n, double* l, double* r) { LIMITER(settings, ch, n, l, r); });
}

}  // namespace
}  // namespace sorvan
