#include "dynamics/limiter.h"

#include <gtest/gtest.h>

#include <vector>

namespace sorvan {
namespace {

TEST(LimiterTest, KneeAndSlopeOnEachSideAlone) {
  const LimiterSettings settings{1000};  // knee 891.25
  const LimiterSettings zero{0};         // knee 0: everything leaves at an eighth, floor included
  std::vector<double> l{891.25, 1000.0, -2000.0, 891.5, 0.0, -0.00001, 123.0}, r(7, 500.0);
  LIMITER(settings, 7, l.data(), r.data());
  EXPECT_EQ(l, (std::vector<double>{891.25, 904.84375, -(1108.75 / 8 + 891.25), 891.28125, 0.0001,
                                    -0.0001, 123.0}));
  EXPECT_EQ(r, std::vector<double>(7, 500.0));
  LIMITER(zero, 7, r.data(), l.data());
  EXPECT_EQ(r[0], 62.5);
  EXPECT_EQ(l[4], 0.0001 * 0.125);
  EXPECT_EQ(l[2], -(1108.75 / 8 + 891.25) / 8);
}

}  // namespace
}  // namespace sorvan
