#include "filters/hpf.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "filter_test_util.h"

namespace sorvan {
namespace {

TEST(HpfTest, Coefficients) {
  const HpfCoefficients k = highPassCoefficients(100.0, 48000.0);
  EXPECT_DOUBLE_EQ(k.a, 47600.0 / 48000.0);
  EXPECT_NEAR(k.b, 0.987079, 5e-7);
  // A quarter of the rate cancels the feedback; half the rate inverts it.
  EXPECT_EQ(highPassCoefficients(12000.0, 48000.0).a, 0.0);
  EXPECT_EQ(highPassCoefficients(24000.0, 48000.0).a, -1.0);
}

TEST(HpfTest, FirstSampleSeedsMemoryAndPassesUnchanged) {
  const HpfCoefficients k3 = highPassCoefficients(100.0, 48000.0);
  const HpfCoefficients k4 = highPassCoefficients(12000.0, 48000.0);
  HpfMemory m3, m4;
  const double a = k3.a;
  // A constant decays from its own value: c, a c, a^2 c.
  double l[3] = {1000.0, 1000.0, 1000.0}, r[3] = {-1000.0, -1000.0, -1000.0};
  HPF(k3, m3, 3, l, r);
  EXPECT_EQ(l[0], 1000.0);
  EXPECT_EQ(l[1], a * 1000.0);
  EXPECT_EQ(l[2], a * (a * 1000.0));
  EXPECT_EQ(r[2], a * (a * -1000.0));

  // A one-sample first block only seeds; the next block is filtered from its
  // first sample. With the feedback at 0 the output is b times the difference.
  double x = 500.0, y = -500.0;
  HPF(k4, m4, 1, &x, &y);
  EXPECT_EQ(x, 500.0);
  EXPECT_TRUE(m4.seeded);
  double l2[2] = {700.0, 600.0}, r2[2] = {-700.0, -600.0};
  HPF(k4, m4, 2, l2, r2);
  EXPECT_EQ(l2[0], k4.b * 200.0);
  EXPECT_EQ(l2[1], k4.b * -100.0);
  EXPECT_EQ(r2[0], k4.b * -200.0);
}

TEST(HpfTest, DenormalGuard) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double in[] = {0.0, -0.0, 0.00005, -0.00005, 0.0001, -0.0001, 0.00011, -5.0, nan};
  const double out[] = {0.0001, 0.0001, 0.0001, -0.0001, 0.0001, -0.0001, 0.00011, -5.0, nan};
  for (int i = 0; i < 9; ++i) {
    const double g = denormalGuard(in[i]);
    if (std::isnan(out[i])) {
      EXPECT_TRUE(std::isnan(g));
    } else {
      EXPECT_EQ(g, out[i]) << i;
    }
  }

  // Silence therefore leaves the filter as the decay of a constant 0.0001.
  const HpfCoefficients k = highPassCoefficients(100.0, 48000.0);
  HpfMemory m;
  double sl[2] = {0.0, 0.0}, sr[2] = {0.0, 0.0};
  HPF(k, m, 2, sl, sr);
  EXPECT_EQ(sl[0], 0.0001);
  EXPECT_EQ(sr[1], k.a * 0.0001);
}

TEST(HpfTest, BlockSplitInvariance) {
  const HpfCoefficients k = highPassCoefficients(80.0, 44100.0);
  for (unsigned seed : {1u, 2u}) {
    test::expectBlockSplitInvariant(
        [&] {
          return [&k, m = HpfMemory{}](test::Pair& p, long off, long n) mutable {
            HPF(k, m, n, p.left.data() + off, p.right.data() + off);
          };
        },
        seed);
  }
}

}  // namespace
}  // namespace sorvan
