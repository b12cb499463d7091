#include "filters/hpf.h"

#include <gtest/gtest.h>

#include <cmath>

#include "filter_test_util.h"

namespace sorvan {
namespace {

// The feedback 1 - 4f/SR puts the -3 dB corner of a cutoff f at 2f/pi: a
// first-order slope below it, and above it a flat band at the input gain
// RC / (RC + 1/SR), a little below unity.
TEST(HpfTest, MeasuredResponseAroundItsCorner) {
  const double cutoff = 50.0 * M_PI;  // corner at 100 Hz
  const auto gainDb = [&](double hz) {
    const HpfCoefficients k = highPassCoefficients(cutoff, 48000.0);
    HpfMemory m;
    return test::sineGainDb(hz, 48000.0, [&](test::Pair& p) {
      HPF(k, m, static_cast<long>(p.left.size()), p.left.data(), p.right.data());
    });
  };
  EXPECT_NEAR(gainDb(100.0), -3.1, 0.1);
  EXPECT_NEAR(gainDb(10.0), -20.1, 0.2);
  EXPECT_NEAR(gainDb(10000.0), -0.12, 0.01);
}

TEST(HpfTest, FirstSampleSeedsTheMemoryAndPassesUnchanged) {
  const HpfCoefficients k = highPassCoefficients(100.0, 48000.0);
  HpfMemory m;
  // A constant decays from its own value: c, a c, a^2 c, even across blocks.
  double l[1] = {1000.0}, r[1] = {-1000.0}, l2[2] = {1000.0, 1000.0}, r2[2] = {-1000.0, -1000.0};
  HPF(k, m, 1, l, r);
  HPF(k, m, 2, l2, r2);
  EXPECT_EQ(l[0], 1000.0);
  EXPECT_EQ(l2[0], k.a * 1000.0);
  EXPECT_EQ(r2[1], k.a * (k.a * -1000.0));
  // Silence is guarded: it enters as +0.0001 and decays from there.
  HpfMemory quiet;
  double sl[2] = {0.0, 0.0}, sr[2] = {-0.0, -0.00005};
  HPF(k, quiet, 2, sl, sr);
  EXPECT_EQ(sl[0], 0.0001);
  EXPECT_EQ(sr[1], k.a * 0.0001 + k.b * -0.0002);
}

TEST(HpfTest, DenormalGuard) {
  const double in[] = {0.0, -0.0, 0.00005, -0.00005, 0.0001, -0.0001, 0.00011, -5.0};
  const double out[] = {0.0001, 0.0001, 0.0001, -0.0001, 0.0001, -0.0001, 0.00011, -5.0};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(denormalGuard(in[i]), out[i]) << i;
  EXPECT_TRUE(std::isnan(denormalGuard(std::nan(""))));
}

TEST(HpfTest, BlockSplitInvariance) {
  const HpfCoefficients k = highPassCoefficients(80.0, 44100.0);
  test::expectBlockSplitInvariant(
      [&] {
        return [&k, m = HpfMemory{}](test::Pair& p, long off, long n) mutable {
          HPF(k, m, n, p.left.data() + off, p.right.data() + off);
        };
      },
      1);
}

}  // namespace
}  // namespace sorvan
