#include "filters/eq.h"

#include <gtest/gtest.h>

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
};

double gainDb(int section, double freq, double gain, double q, double probe) {
  Eq eq(section, freq, gain, q);
  return test::sineGainDb(probe, kRate,
                          [&](test::Pair& p) { eq.run(p, 0, static_cast<long>(p.left.size())); });
}

// Peaking bands reach their gain at the centre, Q sets how far it reaches;
// shelves reach theirs far above (high) or below (low) the corner; 0 dB is
// flat for every section.
TEST(EqTest, MeasuredResponseAtTheFrequenciesThatDefineIt) {
  EXPECT_NEAR(gainDb(4, 1000.0, 6.0, 1.0, 1000.0), 6.0, 0.01);
  EXPECT_NEAR(gainDb(1, 3000.0, -12.0, 4.0, 3000.0), -12.0, 0.01);
  EXPECT_NEAR(gainDb(1, 3000.0, -12.0, 4.0, 6000.0), -0.375, 0.01);
  EXPECT_NEAR(gainDb(3, 1000.0, 15.0, 0.3, 2000.0), 11.82, 0.01);
  EXPECT_NEAR(gainDb(kEqHighShelf, 1000.0, 9.0, 0.707, 20000.0), 9.0, 0.2);
  EXPECT_NEAR(gainDb(kEqHighShelf, 1000.0, 9.0, 0.707, 30.0), 0.0, 0.2);
  EXPECT_NEAR(gainDb(kEqLowShelf, 1000.0, -9.0, 0.707, 30.0), -9.0, 0.2);
  EXPECT_NEAR(gainDb(kEqLowShelf, 1000.0, -9.0, 0.707, 20000.0), 0.0, 0.2);
  for (int section = kEqBand1; section <= kEqLowShelf; ++section)
    EXPECT_NEAR(gainDb(section, 2500.0, 0.0, 0.7, 2500.0), 0.0, 1e-9) << section;
}

TEST(EqTest, FirstTwoSamplesPassUnchangedAndSeedTheMemoryEvenAcrossBlocks) {
  Eq one(6, 200.0, 8.0, 1.0), split(6, 200.0, 8.0, 1.0);
  test::Pair whole{{40.0, 60.0, 80.0, 70.0}, {41.0, 61.0, 81.0, 71.0}};
  one.run(whole, 0, 4);
  EXPECT_EQ(whole.left[0], 40.0);
  EXPECT_EQ(whole.right[1], 61.0);
  EXPECT_NE(whole.left[2], 80.0);
  test::Pair first{{40.0}, {41.0}}, next{{60.0, 80.0, 70.0}, {61.0, 81.0, 71.0}};
  split.run(first, 0, 1);
  split.run(next, 0, 3);
  EXPECT_EQ(next.left, std::vector<double>(whole.left.begin() + 1, whole.left.end()));
}

TEST(EqTest, BlockSplitInvariance) {
  for (int section : {kEqBand1, kEqHighShelf, kEqLowShelf}) {
    test::expectBlockSplitInvariant(
        [&] {
          return [eq = Eq(section, 1500.0, -7.5, 0.9, 44100.0)](test::Pair& p, long off,
                                                                 long n) mutable {
            eq.run(p, off, n);
          };
        },
        4 + section);
  }
}

}  // namespace
}  // namespace sorvan
