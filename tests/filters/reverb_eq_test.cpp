// The reverb send filters: a second-order high-pass and low-pass with one
// memory per send slot, and no runaway from corners at or above half the rate.
#include "filters/reverb_eq.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "filter_test_util.h"

namespace sorvan {
namespace {

ReverbEqSettings sendFilters(double highPassHz, double lowPassHz, double rate) {
  ReverbEqSettings s;
  s.highPassOn = s.lowPassOn = 1;
  s.highPass = reverbHighPassCoefficients(highPassHz, rate);
  s.lowPass = reverbLowPassCoefficients(lowPassHz, rate);
  return s;
}

// With Q = 1 each filter passes its corner at 0 dB and falls 12 dB an octave
// beyond it (40 dB a decade).
TEST(ReverbEqTest, MeasuredResponseOfBothFilters) {
  const ReverbEqSettings s = sendFilters(1000.0, 4000.0, 48000.0);
  const auto gainDb = [&](int slot, double hz) {
    ReverbEqState state;
    return test::sineGainDb(hz, 48000.0, [&](test::Pair& p) {
      Rev_EQ(s, state, slot, static_cast<long>(p.left.size()), p.left.data(), p.right.data());
    });
  };
  EXPECT_NEAR(gainDb(kTapHighPassSlot, 1000.0), 0.0, 0.05);
  EXPECT_NEAR(gainDb(kRecursiveHighPassSlot, 100.0), -40.0, 0.3);
  EXPECT_NEAR(gainDb(kTapHighPassSlot, 16000.0), 0.0, 0.1);
  EXPECT_NEAR(gainDb(kRecursiveLowPassSlot, 4000.0), 0.0, 0.05);
  EXPECT_NEAR(gainDb(kTapLowPassSlot, 100.0), 0.0, 0.05);
  EXPECT_NEAR(gainDb(kTapLowPassSlot, 16000.0), -32.3, 0.1);
}

TEST(ReverbEqTest, SlotsUseTheirFilterAndKeepSeparateMemory) {
  const ReverbEqSettings s = sendFilters(150.0, 6000.0, 44100.0);
  test::Pair sends[kReverbEqSlots], expect[kReverbEqSlots];
  for (int slot = 0; slot < kReverbEqSlots; ++slot) {
    sends[slot] = expect[slot] = test::testSignal(6000, 21 + slot);
    BiquadMemory alone;
    runBiquad(slot % 2 == 0 ? s.highPass : s.lowPass, alone, 6000, expect[slot].left.data(),
              expect[slot].right.data());
  }
  ReverbEqState state;
  for (long off = 0; off < 6000; off += 1000)
    for (int slot = 0; slot < kReverbEqSlots; ++slot)
      Rev_EQ(s, state, slot, 1000, sends[slot].left.data() + off, sends[slot].right.data() + off);
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
  const test::Pair in = test::testSignal(50000, 31);
  ReverbEqState state;
  test::Pair low = in, high = in, edge = in;
  Rev_EQ(s, state, kRecursiveLowPassSlot, 50000, low.left.data(), low.right.data());
  Rev_EQ(s, state, kRecursiveHighPassSlot, 50000, high.left.data(), high.right.data());
  s.lowPass = reverbLowPassCoefficients(11000.0, rate);
  Rev_EQ(s, state, kTapLowPassSlot, 50000, edge.left.data(), edge.right.data());
  for (long i = 0; i < 50000; ++i) {
    ASSERT_NEAR(low.left[i], in.left[i], 1e-3) << i;
    ASSERT_EQ(high.left[i], i < 2 ? in.left[i] : 0.0) << i;
    ASSERT_LT(std::abs(edge.left[i]), 1e8) << i;
  }
}

TEST(ReverbEqTest, BlockSplitInvariance) {
  const ReverbEqSettings s = sendFilters(300.0, 5000.0, 48000.0);
  test::expectBlockSplitInvariant(
      [&] {
        return [&s, state = std::make_shared<ReverbEqState>()](test::Pair& p, long off, long n) {
          Rev_EQ(s, *state, kTapHighPassSlot, n, p.left.data() + off, p.right.data() + off);
          Rev_EQ(s, *state, kTapLowPassSlot, n, p.left.data() + off, p.right.data() + off);
        };
      },
      9);
}

}  // namespace
}  // namespace sorvan
