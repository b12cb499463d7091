// The strip's high-pass and EQ sections and the reverb send filters: each
// one's measured response at the frequencies that define it and how it
// starts. Block-split invariance of the strip filters is checked on whole
// strips (engine); the send filters' here.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "filters/eq.h"
#include "filters/hpf.h"
#include "filters/reverb_eq.h"

namespace sorvan {
namespace {

struct Pair {
  std::vector<double> left, right;
};

// Gain in dB of run(pair) on a steady sine at 48 kHz, measured by RMS over
// the second of two seconds (a whole number of periods).
template <typename Run>
double sineGainDb(double hz, Run run) {
  Pair p{std::vector<double>(96000), std::vector<double>(96000)};
  for (long i = 0; i < 96000; ++i)
    p.left[i] = p.right[i] = 1e6 * std::sin(2 * M_PI * hz * i / 48000);
  const std::vector<double> in = p.left;
  run(p.left.data(), p.right.data(), 96000L);
  double out = 0.0, ref = 0.0;
  for (long i = 48000; i < 96000; ++i) out += p.left[i] * p.left[i], ref += in[i] * in[i];
  return 10.0 * std::log10(out / ref);
}

// The send filters fed one long block must give the same bits as a fresh
// copy fed the same music-like signal (with stretches of silence and
// near-zero values, so the denormal guard takes part) in random blocks of 0
// to 700 frames, the first of one frame so that seeding spans blocks.
// make() returns a callable run(left, right, n) that owns its own state.
template <typename Make>
void expectBlockSplitInvariant(Make make) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> noise(-20000.0, 20000.0);
  Pair in{std::vector<double>(20000), std::vector<double>(20000)};
  for (long i = 0; i < 20000; ++i) {
    in.left[i] = 900000.0 * std::sin(i * 0.031) + 150000.0 * std::sin(i * 0.9) + noise(rng);
    in.right[i] = 700000.0 * std::sin(i * 0.047 + 1.0) + noise(rng);
    if (i % 997 > 960) in.left[i] = in.right[i] = (i % 3 == 0) ? -0.0 : 0.00003 * (i % 5 - 2.0);
  }
  Pair whole = in, split = in;
  make()(whole.left.data(), whole.right.data(), 20000L);
  auto many = make();
  for (long off = 0, n = 0; off < 20000; off += n) {
    n = std::min(off == 0 ? 1 : std::uniform_int_distribution<long>(0, 700)(rng), 20000 - off);
    many(split.left.data() + off, split.right.data() + off, n);
  }
  EXPECT_TRUE(split.left == whole.left && split.right == whole.right);
  EXPECT_NE(whole.left, in.left);
}

// The feedback 1 - 4f/SR puts the -3 dB corner of a cutoff f at 2f/pi: a
// first-order slope below it, and above it a flat band at the input gain
// RC / (RC + 1/SR), a little below unity.
TEST(HpfTest, MeasuredResponseAroundItsCorner) {
  const HpfCoefficients k = highPassCoefficients(50.0 * M_PI, 48000.0);  // corner at 100 Hz
  const auto gainDb = [&](double hz) {
    return sineGainDb(
        hz, [&, m = HpfMemory{}](double* l, double* r, long n) mutable { HPF(k, m, n, l, r); });
  };
  EXPECT_NEAR(gainDb(100.0), -3.1, 0.1);
  EXPECT_NEAR(gainDb(10.0), -20.1, 0.2);
  EXPECT_NEAR(gainDb(10000.0), -0.12, 0.01);
}

// The first sample seeds the memory and passes, so a constant decays from its
// own value (c, a c, a^2 c, even across blocks); magnitudes below 0.0001,
// zeros of either sign included, enter as 0.0001 of their sign.
TEST(HpfTest, FirstSampleSeedsTheMemoryAndSilenceIsGuarded) {
  const HpfCoefficients k = highPassCoefficients(100.0, 48000.0);
  HpfMemory m;
  double l[3] = {1000.0, 1000.0, 1000.0}, r[3] = {-0.0, -0.00005, 0.00011};
  HPF(k, m, 1, l, r);
  HPF(k, m, 2, l + 1, r + 1);
  EXPECT_EQ(std::tuple(l[0], l[1], l[2]), std::tuple(1000.0, k.a * 1000.0, k.a * (k.a * 1000.0)));
  EXPECT_EQ(std::tuple(r[0], r[1]), std::tuple(0.0001, k.a * 0.0001 + k.b * -0.0002));
  EXPECT_EQ(std::tuple(denormalGuard(0.00005), denormalGuard(-0.0001), denormalGuard(0.00011)),
            std::tuple(0.0001, -0.0001, 0.00011));
  EXPECT_TRUE(std::isnan(denormalGuard(std::nan(""))));
}

// Peaking bands reach their gain at the centre and Q sets how far it reaches;
// shelves reach theirs far above (high) or below (low) the corner; 0 dB is
// flat for every section. The values are those of the cookbook forms.
TEST(EqTest, MeasuredResponseAtTheFrequenciesThatDefineIt) {
  const auto gainDb = [](int section, double freq, double gain, double q, double probe) {
    const BiquadCoefficients k = eqSection(section, freq, gain, q, 48000.0);
    return sineGainDb(probe, [&, m = BiquadMemory{}](double* l, double* r, long n) mutable {
      EQ(k, m, n, l, r);
    });
  };
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
  const BiquadCoefficients k = eqSection(6, 200.0, 8.0, 1.0, 48000.0);
  BiquadMemory one, split;
  std::vector<double> whole{40.0, 60.0, 80.0, 70.0}, right{41.0, 61.0, 81.0, 71.0};
  EQ(k, one, 4, whole.data(), right.data());
  EXPECT_EQ(std::tuple(whole[0], right[1]), std::tuple(40.0, 61.0));
  EXPECT_NE(whole[2], 80.0);
  std::vector<double> l{40.0, 60.0, 80.0, 70.0}, r{41.0, 61.0, 81.0, 71.0};
  EQ(k, split, 1, l.data(), r.data());
  EQ(k, split, 3, l.data() + 1, r.data() + 1);
  EXPECT_EQ(l, whole);
}

// Second order with Q = 1: each send filter passes its corner at 0 dB and
// falls 12 dB an octave beyond it (40 dB a decade); each slot (the two
// filters on the two sends) keeps its own memory.
TEST(ReverbEqTest, MeasuredResponseAndOneMemoryPerSlot) {
  ReverbEqSettings s;
  s.highPassOn = s.lowPassOn = 1;
  s.highPass = reverbHighPassCoefficients(1000.0, 48000.0);
  s.lowPass = reverbLowPassCoefficients(4000.0, 48000.0);
  const auto gainDb = [&](int slot, double hz) {
    return sineGainDb(hz, [&](double* l, double* r, long n) {
      ReverbEqState state;
      Rev_EQ(s, state, slot, n, l, r);
    });
  };
  EXPECT_NEAR(gainDb(kTapHighPassSlot, 1000.0), 0.0, 0.05);
  EXPECT_NEAR(gainDb(kRecursiveHighPassSlot, 100.0), -40.0, 0.3);
  EXPECT_NEAR(gainDb(kTapHighPassSlot, 16000.0), 0.0, 0.1);
  EXPECT_NEAR(gainDb(kRecursiveLowPassSlot, 4000.0), 0.0, 0.05);
  EXPECT_NEAR(gainDb(kTapLowPassSlot, 100.0), 0.0, 0.05);
  EXPECT_NEAR(gainDb(kTapLowPassSlot, 16000.0), -32.3, 0.1);
  expectBlockSplitInvariant([&] {
    return [&s, state = std::make_shared<ReverbEqState>()](double* l, double* r, long n) {
      for (int slot = 0; slot < kReverbEqSlots; ++slot) Rev_EQ(s, *state, slot, n, l, r);
    };
  });
}

// At low sample rates the allowed corners can lie beyond half the rate, where
// the filter would be unstable and the send would run away to infinity.
TEST(ReverbEqTest, CornersAtOrAboveHalfTheRateStayBounded) {
  ReverbEqSettings s;
  s.highPassOn = s.lowPassOn = 1;
  s.highPass = reverbHighPassCoefficients(12000.0, 22050.0);
  s.lowPass = reverbLowPassCoefficients(16000.0, 22050.0);
  std::vector<double> in(50000);
  for (long i = 0; i < 50000; ++i) in[i] = 1e6 * std::sin(i * 0.9 + 1) + (i % 7) * 1e5;
  ReverbEqState state;
  const auto run = [&](int slot) {
    std::vector<double> l = in, r = in;
    Rev_EQ(s, state, slot, 50000, l.data(), r.data());
    return l;
  };
  const std::vector<double> low = run(kRecursiveLowPassSlot), high = run(kRecursiveHighPassSlot);
  s.lowPass = reverbLowPassCoefficients(11000.0, 22050.0);  // just below half the rate
  const std::vector<double> edge = run(kTapLowPassSlot);
  for (long i = 0; i < 50000; ++i) {
    ASSERT_NEAR(low[i], in[i], 1e-3) << i;
    ASSERT_EQ(high[i], i < 2 ? in[i] : 0.0) << i;
    ASSERT_LT(std::abs(edge[i]), 1e8) << i;
  }
}

}  // namespace
}  // namespace sorvan
