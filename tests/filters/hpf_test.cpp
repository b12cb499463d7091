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
  HpfSettings s;
  setHighPass(s, 3, 100.0, 48000.0);
  setHighPass(s, 4, 12000.0, 48000.0);
  HpfState state;
  const double a = s.hpfA[3];
  // A constant decays from its own value: c, a c, a^2 c.
  double l[3] = {1000.0, 1000.0, 1000.0}, r[3] = {-1000.0, -1000.0, -1000.0};
  HPF(s, state, 3, 3, l, r);
  EXPECT_EQ(l[0], 1000.0);
  EXPECT_EQ(l[1], a * 1000.0);
  EXPECT_EQ(l[2], a * (a * 1000.0));
  EXPECT_EQ(r[2], a * (a * -1000.0));

  // A one-sample first block only seeds; the next block is filtered from its
  // first sample. With the feedback at 0 the output is b times the difference.
  double x = 500.0, y = -500.0;
  HPF(s, state, 4, 1, &x, &y);
  EXPECT_EQ(x, 500.0);
  EXPECT_EQ(state.first[4], 1);
  double l2[2] = {700.0, 600.0}, r2[2] = {-700.0, -600.0};
  HPF(s, state, 4, 2, l2, r2);
  EXPECT_EQ(l2[0], s.hpfB[4] * 200.0);
  EXPECT_EQ(l2[1], s.hpfB[4] * -100.0);
  EXPECT_EQ(r2[0], s.hpfB[4] * -200.0);
}

TEST(HpfTest, DenormalGuard) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double in[] = {0.0, -0.0, 0.00005, -0.00005, 0.0001, -0.0001, 0.00011, -5.0, nan};
  const double out[] = {0.0001, 0.0001, 0.0001, -0.0001, 0.0001, -0.0001, 0.00011, -5.0, nan};
  double l[9], r[9];
  for (int i = 0; i < 9; ++i) l[i] = r[8 - i] = in[i];
  Denormal(l, r, 9);
  for (int i = 0; i < 9; ++i) {
    if (std::isnan(out[i])) {
      EXPECT_TRUE(std::isnan(l[i]) && std::isnan(r[8 - i]));
    } else {
      EXPECT_EQ(l[i], out[i]) << i;
      EXPECT_EQ(r[8 - i], out[i]) << i;
    }
  }
  double z = 0.0;
  Denormal(&z, &z, -3);
  EXPECT_EQ(z, 0.0);

  // Silence therefore leaves the filter as the decay of a constant 0.0001.
  HpfSettings s;
  setHighPass(s, 5, 100.0, 48000.0);
  HpfState state;
  double sl[2] = {0.0, 0.0}, sr[2] = {0.0, 0.0};
  HPF(s, state, 5, 2, sl, sr);
  EXPECT_EQ(sl[0], 0.0001);
  EXPECT_EQ(sr[1], s.hpfA[5] * 0.0001);
}

// Channel 43 runs on its own signal after every block; memory shared with it
// would make the split run differ from the whole one.
TEST(HpfTest, BlockSplitInvarianceAndSeparateMemory) {
  HpfSettings s;
  setHighPass(s, 42, 80.0, 44100.0);
  setHighPass(s, 43, 80.0, 44100.0);
  for (unsigned seed : {1u, 2u}) {
    test::expectBlockSplitInvariant(
        [&] {
          return [&s, state = std::make_shared<HpfState>(), other = test::testSignal(700, 9)](
                     test::Pair& p, long off, long n) mutable {
            HPF(s, *state, 42, n, p.left.data() + off, p.right.data() + off);
            HPF(s, *state, 43, 700, other.left.data(), other.right.data());
          };
        },
        seed);
  }
}

}  // namespace
}  // namespace sorvan
