// Reverb send filters: coefficients, one memory per send slot, stability near
// half the rate. The frequency limits and their messages are checked on real
// runs (e2e).
#include "filters/reverb_eq.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "filter_test_util.h"

namespace sorvan {
namespace {

// Both send filters switched on at the given corners.
ReverbEqSettings sendFilters(double highPassHz, double lowPassHz, double rate) {
  ReverbEqSettings s;
  s.highPassOn = s.lowPassOn = 1;
  s.highPass = reverbHighPassCoefficients(highPassHz, rate);
  s.lowPass = reverbLowPassCoefficients(lowPassHz, rate);
  return s;
}

TEST(ReverbEqTest, Coefficients) {
  const BiquadCoefficients hp = reverbHighPassCoefficients(100.0, 48000.0);
  EXPECT_NEAR(hp.b0, 0.993455, 5e-7);
  EXPECT_EQ(hp.b2, hp.b0);
  EXPECT_NEAR(hp.b1, -1.98691, 5e-6);
  EXPECT_NEAR(hp.a1, -1.98683, 5e-6);
  EXPECT_NEAR(hp.a2, 0.986996, 5e-7);

  const BiquadCoefficients lp = reverbLowPassCoefficients(8000.0, 48000.0);
  EXPECT_NEAR(lp.b0, 0.174458, 5e-7);
  EXPECT_EQ(lp.b2, lp.b0);
  EXPECT_NEAR(lp.b1, 0.348915, 5e-7);
  EXPECT_NEAR(lp.a1, -0.697831, 5e-7);
  EXPECT_NEAR(lp.a2, 0.395661, 5e-7);
}

TEST(ReverbEqTest, SlotsUseTheirFilterAndKeepSeparateMemory) {
  const ReverbEqSettings s = sendFilters(150.0, 6000.0, 44100.0);
  const long total = 6000;
  test::Pair sends[kReverbEqSlots], expect[kReverbEqSlots];
  for (int slot = 0; slot < kReverbEqSlots; ++slot) {
    sends[slot] = expect[slot] = test::testSignal(total, 21 + slot);
    BiquadMemory alone;
    runBiquad(slot % 2 == 0 ? s.highPass : s.lowPass, alone, total, expect[slot].left.data(),
              expect[slot].right.data());
  }
  // As the mix runs them: per block, each send's high-pass then low-pass.
  ReverbEqState state;
  for (long off = 0; off < total; off += 1000) {
    for (int slot = 0; slot < kReverbEqSlots; ++slot)
      Rev_EQ(s, state, slot, 1000, sends[slot].left.data() + off, sends[slot].right.data() + off);
  }
  for (int slot = 0; slot < kReverbEqSlots; ++slot) {
    EXPECT_EQ(sends[slot].left, expect[slot].left) << slot;
    EXPECT_EQ(sends[slot].right, expect[slot].right) << slot;
  }
}

// At low sample rates the allowed corners can lie beyond half the rate, where
// the filter would be unstable and the send would run away to infinity.
TEST(ReverbEqTest, CornersAtOrAboveHalfTheRateStayBounded) {
  const double rate = 22050.0;
  ReverbEqSettings s = sendFilters(12000.0, 16000.0, rate);

  const long total = 50000;
  const test::Pair in = test::testSignal(total, 31);
  ReverbEqState state;
  test::Pair low = in, high = in, edge = in;
  Rev_EQ(s, state, kRecursiveLowPassSlot, total, low.left.data(), low.right.data());
  Rev_EQ(s, state, kRecursiveHighPassSlot, total, high.left.data(), high.right.data());
  // Just below half the rate the ordinary low-pass is formed and stays bounded.
  s.lowPass = reverbLowPassCoefficients(11000.0, rate);
  Rev_EQ(s, state, kTapLowPassSlot, total, edge.left.data(), edge.right.data());
  for (long i = 0; i < total; ++i) {
    ASSERT_NEAR(low.left[i], in.left[i], 1e-3) << i;
    ASSERT_EQ(high.left[i], i < 2 ? in.left[i] : 0.0) << i;
    ASSERT_LT(std::abs(edge.left[i]), 1e8) << i;
  }
}

TEST(ReverbEqTest, BlockSplitInvariance) {
  const ReverbEqSettings s = sendFilters(300.0, 5000.0, 48000.0);
  for (unsigned seed : {8u, 9u}) {
    test::expectBlockSplitInvariant(
        [&] {
          return [&s, state = std::make_shared<ReverbEqState>()](test::Pair& p, long off, long n) {
            Rev_EQ(s, *state, kTapHighPassSlot, n, p.left.data() + off, p.right.data() + off);
            Rev_EQ(s, *state, kTapLowPassSlot, n, p.left.data() + off, p.right.data() + off);
          };
        },
        seed);
  }
}

}  // namespace
}  // namespace sorvan
