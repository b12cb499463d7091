#include "filters/eq.h"

#include <gtest/gtest.h>

#include <memory>

#include "filter_test_util.h"

namespace sorvan {
namespace {

constexpr double kRate = 48000.0;

// The tables are large; keep them off the test's stack.
struct Eq {
  std::shared_ptr<EqSettings> settings = std::make_shared<EqSettings>();
  std::shared_ptr<EqState> state = std::make_shared<EqState>();
  void run(int section, int channel, test::Pair& p, long off, long n) {
    EQ(*settings, *state, section, channel, n, p.left.data() + off, p.right.data() + off);
  }
  void run(int section, int channel, test::Pair& p) {
    run(section, channel, p, 0, static_cast<long>(p.left.size()));
  }
};

TEST(EqTest, PeakingBandCoefficients) {
  double A = 0, w0 = 0, alpha = 0;
  EQSetA(6.0, 1000.0, kRate, 1.0, A, w0, alpha);
  EXPECT_NEAR(A, 1.41254, 5e-6);
  EXPECT_NEAR(w0, 0.130900, 5e-7);
  EXPECT_NEAR(alpha, 0.0652631, 5e-8);

  Eq eq;
  setEqSection(*eq.settings, 2, 9, 1000.0, 6.0, 1.0, kRate);
  const BiquadCoefficients& k = eq.settings->coef[2][9];
  EXPECT_EQ(eq.settings->on[2][9], 1);
  EXPECT_EQ(eq.settings->on[1][9], 0);
  EXPECT_NEAR(k.b0, 1.04395, 5e-6);
  EXPECT_NEAR(k.b1, -1.89532, 5e-6);
  EXPECT_EQ(k.a1, k.b1);
  EXPECT_NEAR(k.b2, 0.867722, 5e-7);
  EXPECT_NEAR(k.a2, 0.911675, 5e-7);
}

TEST(EqTest, ZeroGainIsIdentityForEverySectionType) {
  const test::Pair in = test::testSignal(5000, 3);
  for (int section = kEqBand1; section <= kEqLowShelf; ++section) {
    Eq eq;
    setEqSection(*eq.settings, section, 1, 2500.0, 0.0, 0.7, kRate);
    test::Pair out = in;
    eq.run(section, 1, out);
    for (long i = 0; i < 5000; ++i) {
      // Only the guard's rewrite of tiny values and rounding may differ.
      ASSERT_NEAR(out.left[i], in.left[i], 1e-3) << "section " << section << " i " << i;
      ASSERT_NEAR(out.right[i], in.right[i], 1e-3) << "section " << section << " i " << i;
    }
  }
}

TEST(EqTest, MeasuredGainMatchesTheSetting) {
  const auto gainDb = [](int section, double freq, double gain, double q, double probe) {
    Eq eq;
    setEqSection(*eq.settings, section, 20, freq, gain, q, kRate);
    return test::sineGainDb(probe, kRate, [&](test::Pair& p) { eq.run(section, 20, p); });
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
  Eq one, split;
  setEqSection(*one.settings, 6, 130, 200.0, 8.0, 1.0, kRate);
  *split.settings = *one.settings;
  test::Pair whole{{40.0, 60.0, 80.0, 70.0}, {41.0, 61.0, 81.0, 71.0}};
  one.run(6, 130, whole);
  EXPECT_EQ(whole.left[0], 40.0);
  EXPECT_EQ(whole.right[1], 61.0);
  EXPECT_NE(whole.left[2], 80.0);
  test::Pair first{{40.0}, {41.0}}, next{{60.0, 80.0, 70.0}, {61.0, 81.0, 71.0}};
  split.run(6, 130, first);
  split.run(6, 130, next);
  EXPECT_EQ(next.left, std::vector<double>(whole.left.begin() + 1, whole.left.end()));
}

// Another section of the same channel and the same section of another channel
// run on their own signal after every block; a filter sharing memory with them
// would split differently than it runs whole.
TEST(EqTest, BlockSplitInvarianceAndSeparateMemory) {
  for (int section : {kEqBand1, kEqHighShelf, kEqLowShelf}) {
    auto settings = std::make_shared<EqSettings>();
    for (auto [sec, ch] : {std::pair{section, 77}, {section, 78}, {kEqBand4, 77}})
      setEqSection(*settings, sec, ch, 1500.0, -7.5, 0.9, 44100.0);
    for (unsigned seed : {4u, 5u}) {
      test::expectBlockSplitInvariant(
          [&] {
            Eq eq;
            eq.settings = settings;
            return [eq, section, other = test::testSignal(700, 20)](test::Pair& p, long off,
                                                                    long n) mutable {
              eq.run(section, 77, p, off, n);
              eq.run(section, 78, other);
              eq.run(kEqBand4, 77, other);
            };
          },
          seed);
    }
  }
}

}  // namespace
}  // namespace sorvan
