#include "filters/eq.h"

#include <gtest/gtest.h>

#include <memory>

#include "filter_test_util.h"

namespace sorvan {
namespace {

constexpr double kRate = 48000.0;

// One section of one strip: its coefficients and its memory.
struct Eq {
  BiquadCoefficients k;
  BiquadMemory m;
  Eq(int section, double freq, double gain, double q, double rate = kRate)
      : k(eqSection(section, freq, gain, q, rate)) {}
  void run(test::Pair& p, long off, long n) {
    EQ(k, m, n, p.left.data() + off, p.right.data() + off);
  }
  void run(test::Pair& p) { run(p, 0, static_cast<long>(p.left.size())); }
};

TEST(EqTest, PeakingBandCoefficients) {
  double A = 0, w0 = 0, alpha = 0;
  EQSetA(6.0, 1000.0, kRate, 1.0, A, w0, alpha);
  EXPECT_NEAR(A, 1.41254, 5e-6);
  EXPECT_NEAR(w0, 0.130900, 5e-7);
  EXPECT_NEAR(alpha, 0.0652631, 5e-8);

  const BiquadCoefficients k = eqSection(2, 1000.0, 6.0, 1.0, kRate);
  EXPECT_NEAR(k.b0, 1.04395, 5e-6);
  EXPECT_NEAR(k.b1, -1.89532, 5e-6);
  EXPECT_EQ(k.a1, k.b1);
  EXPECT_NEAR(k.b2, 0.867722, 5e-7);
  EXPECT_NEAR(k.a2, 0.911675, 5e-7);
}

TEST(EqTest, ZeroGainIsIdentityForEverySectionType) {
  const test::Pair in = test::testSignal(5000, 3);
  for (int section = kEqBand1; section <= kEqLowShelf; ++section) {
    Eq eq(section, 2500.0, 0.0, 0.7);
    test::Pair out = in;
    eq.run(out);
    for (long i = 0; i < 5000; ++i) {
      // Only the guard's rewrite of tiny values and rounding may differ.
      ASSERT_NEAR(out.left[i], in.left[i], 1e-3) << "section " << section << " i " << i;
      ASSERT_NEAR(out.right[i], in.right[i], 1e-3) << "section " << section << " i " << i;
    }
  }
}

TEST(EqTest, MeasuredGainMatchesTheSetting) {
  const auto gainDb = [](int section, double freq, double gain, double q, double probe) {
    Eq eq(section, freq, gain, q);
    return test::sineGainDb(probe, kRate, [&](test::Pair& p) { eq.run(p); });
  };
  // Peaking bands reach their gain exactly at the centre frequency.
  EXPECT_NEAR(gainDb(4, 1000.0, 6.0, 1.0, 1000.0), 6.0, 0.01);
  EXPECT_NEAR(gainDb(1, 3000.0, -12.0, 4.0, 3000.0), -12.0, 0.01);
  EXPECT_NEAR(gainDb(3, 1000.0, 15.0, 0.3, 1000.0), 15.0, 0.01);
  // Shelves approach their gain far above (high) or below (low) the corner.
  EXPECT_NEAR(gainDb(kEqHighShelf, 1000.0, 9.0, 0.707, 20000.0), 9.0, 0.2);
  EXPECT_NEAR(gainDb(kEqHighShelf, 1000.0, 9.0, 0.707, 30.0), 0.0, 0.2);
  EXPECT_NEAR(gainDb(kEqLowShelf, 1000.0, -9.0, 0.707, 30.0), -9.0, 0.2);
  EXPECT_NEAR(gainDb(kEqLowShelf, 1000.0, -9.0, 0.707, 20000.0), 0.0, 0.2);
}

TEST(EqTest, FirstTwoSamplesPassUnchangedAndSeedTheMemoryEvenAcrossBlocks) {
  Eq one(6, 200.0, 8.0, 1.0), split(6, 200.0, 8.0, 1.0);
  test::Pair whole{{40.0, 60.0, 80.0, 70.0}, {41.0, 61.0, 81.0, 71.0}};
  one.run(whole);
  EXPECT_EQ(whole.left[0], 40.0);
  EXPECT_EQ(whole.right[1], 61.0);
  EXPECT_NE(whole.left[2], 80.0);
  test::Pair first{{40.0}, {41.0}}, next{{60.0, 80.0, 70.0}, {61.0, 81.0, 71.0}};
  split.run(first);
  split.run(next);
  EXPECT_EQ(next.left, std::vector<double>(whole.left.begin() + 1, whole.left.end()));
}

TEST(EqTest, BlockSplitInvariance) {
  for (int section : {kEqBand1, kEqHighShelf, kEqLowShelf}) {
    for (unsigned seed : {4u, 5u}) {
      test::expectBlockSplitInvariant(
          [&] {
            return [eq = Eq(section, 1500.0, -7.5, 0.9, 44100.0)](test::Pair& p, long off,
                                                                   long n) mutable {
              eq.run(p, off, n);
            };
          },
          seed);
    }
  }
}

}  // namespace
}  // namespace sorvan
