// The strip's high-pass and EQ sections and the reverb send filters: each
// one's measured response at the frequencies that define it, how the
// high-pass starts, and block-split invariance of the send filters (that of
// the strip filters is checked on whole strips, with the engine).
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <deque>
#include <random>
#include <vector>

#include "filters/chain_walks.h"
#include "filters/eq.h"
#include "filters/filter_chain.h"
#include "filters/hpf.h"
#include "filters/reverb_eq.h"

namespace sorvan {
namespace {

// Gain in dB of run(pair) on a steady sine at 48 kHz, measured by RMS over
// the second of two seconds (a whole number of periods).
template <typename Run>
double sineGainDb(double hz, Run run) {
  std::vector<double> l(96000), r(96000), in(96000);
  for (long i = 0; i < 96000; ++i) in[i] = l[i] = r[i] = 1e6 * std::sin(2 * M_PI * hz * i / 48000);
  run(l.data(), r.data(), 96000L);
  double out = 0.0, ref = 0.0;
  for (long i = 48000; i < 96000; ++i) out += l[i] * l[i], ref += in[i] * in[i];
  return 10.0 * std::log10(out / ref);
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
  // Fed as one block or in random blocks of 0 to 700 frames (the first of
  // one, so that seeding spans blocks), the four slots give the same bits.
  std::mt19937 rng(7);
  std::vector<double> wl(20000), wr(20000);
  for (long i = 0; i < 20000; ++i) {
    wl[i] = i % 997 > 960 ? 0.00003 * (i % 5 - 2.0) : 1e6 * std::sin(i * 0.031) + rng() % 40000;
    wr[i] = i % 997 > 960 ? -0.0 : 7e5 * std::sin(i * 0.047) + rng() % 40000;
  }
  std::vector<double> sl = wl, sr = wr;
  ReverbEqState one, many;
  for (int slot = 0; slot < kReverbEqSlots; ++slot)
    Rev_EQ(s, one, slot, 20000, wl.data(), wr.data());
  for (long off = 0, n = 0; off < 20000; off += n) {
    n = std::min(off == 0 ? 1 : static_cast<long>(rng() % 701), 20000 - off);
    for (int slot = 0; slot < kReverbEqSlots; ++slot) Rev_EQ(s, many, slot, n, &sl[off], &sr[off]);
  }
  EXPECT_TRUE(sl == wl && sr == wr);
}

// At low sample rates the allowed corners can lie beyond half the rate, where
// the filter would be unstable and the send would run away to infinity.
TEST(ReverbEqTest, CornersAtOrAboveHalfTheRateStayBounded) {
  ReverbEqSettings s;
  s.highPassOn = s.lowPassOn = 1;
  s.highPass = reverbHighPassCoefficients(12000.0, 22050.0);
  const auto run = [&](int slot, double lowPassHz) {
    s.lowPass = reverbLowPassCoefficients(lowPassHz, 22050.0);
    std::vector<double> l(50000), r(50000);
    for (long i = 0; i < 50000; ++i) l[i] = r[i] = 1e6 * std::sin(i * 0.9 + 1) + (i % 7) * 1e5;
    ReverbEqState state;
    Rev_EQ(s, state, slot, 50000, l.data(), r.data());
    return l;
  };
  // At 16 kHz the low-pass passes all, the high-pass at 12 kHz silences all
  // but the two seeding samples; just below half the rate the low-pass is
  // formed and stays bounded.
  const auto pass = run(kRecursiveLowPassSlot, 16000.0),
             silent = run(kRecursiveHighPassSlot, 16000.0);
  const auto edge = run(kTapLowPassSlot, 11000.0);
  for (long i = 0; i < 50000; ++i) {
    ASSERT_NEAR(pass[i], 1e6 * std::sin(i * 0.9 + 1) + (i % 7) * 1e5, 1e-3) << i;
    ASSERT_EQ(silent[i], i < 2 ? pass[i] : 0.0) << i;
    ASSERT_LT(std::abs(edge[i]), 1e8) << i;
  }
}

// A strip's high-pass and six sections, with its own coefficients and memory,
// and a stereo block of noise reaching down into the denormal guard.
struct StripChain {
  HpfCoefficients hpf;
  HpfMemory hpfMemory;
  std::array<BiquadCoefficients, 6> eq;
  std::array<BiquadMemory, 6> eqMemory{};
  std::array<ChainFilter, 7> filters;
  std::vector<double> left, right;

  StripChain(unsigned seed, long n) : left(n), right(n) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    hpf = highPassCoefficients(30.0 + 40.0 * (u(rng) + 1.0), 48000.0);
    for (int section = 1; section <= 6; ++section)
      eq[section - 1] =
          eqSection(section, 2000.0 + 1500.0 * u(rng), 6.0 * u(rng), 1.0 + 0.5 * u(rng), 48000.0);
    filters[0] = ChainFilter{&hpf, &hpfMemory, nullptr, nullptr};
    for (int f = 0; f < 6; ++f)
      filters[f + 1] = ChainFilter{nullptr, nullptr, &eq[f], &eqMemory[f]};
    for (long i = 0; i < n; ++i) {
      const double scale = i % 500 < 20 ? 1e-5 : 1e6;  // stretches inside the guard
      left[i] = scale * u(rng);
      right[i] = scale * u(rng);
    }
    // The guard's edges, where the first filter sees them.
    const double edges[] = {-0.0, 0.0, 0.0001, -0.0001, 0.00009999, -0.00009999};
    for (std::size_t k = 0; k < std::size(edges); ++k) left[2 + k] = right[8 + k] = edges[k];
  }

  // Each filter over the whole block in turn, the plain way.
  void runFilterByFilter(long from, long n) {
    HPF(hpf, hpfMemory, n, left.data() + from, right.data() + from);
    for (int f = 0; f < 6; ++f)
      runBiquad(eq[f], eqMemory[f], n, left.data() + from, right.data() + from);
  }
  ChainChannel channel(long from) {
    return {filters.data(), left.data() + from, right.data() + from};
  }
};

// Chains of several channels run side by side, on every processor family this
// machine has, and a block cut anywhere: each channel gets exactly the bits of
// its own filters run one after the other, seeding samples included.
TEST(FilterChainTest, ChannelsSideBySideGiveEachChannelItsOwnBits) {
  constexpr long kFrames = 3000, kCut = 1001;
  std::vector<ChainWalkFunction> walks{runChainWalkBaseline};
  if (__builtin_cpu_supports("avx2")) walks.push_back(runChainWalkAvx2);
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
      __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512bw"))
    walks.push_back(runChainWalkAvx512);
  for (int channels = 1; channels <= kMaxChainChannels; ++channels) {
    std::deque<StripChain> want, got;
    for (int c = 0; c < channels; ++c) {
      want.emplace_back(7u * c + 1u, kFrames);
      got.emplace_back(7u * c + 1u, kFrames);
    }
    for (StripChain& w : want) w.runFilterByFilter(0, kFrames);
    std::vector<ChainChannel> lanes;
    for (StripChain& g : got) lanes.push_back(g.channel(0));
    runFilterChains(lanes.data(), channels, 7, kCut);  // seeds, then side by side
    lanes.clear();
    for (StripChain& g : got) lanes.push_back(g.channel(kCut));
    runFilterChains(lanes.data(), channels, 7, kFrames - kCut);
    for (int c = 0; c < channels; ++c) {
      EXPECT_EQ(got[c].left, want[c].left) << channels << " channels, channel " << c;
      EXPECT_EQ(got[c].right, want[c].right) << channels << " channels, channel " << c;
    }
  }
  // Every walk, four seeded channels at once where it can.
  for (ChainWalkFunction walk : walks) {
    std::deque<StripChain> want, got;
    for (int c = 0; c < 4; ++c) {
      want.emplace_back(11u * c + 3u, kFrames);
      got.emplace_back(11u * c + 3u, kFrames);
      want[c].runFilterByFilter(0, 2);
      got[c].runFilterByFilter(0, 2);
    }
    for (StripChain& w : want) w.runFilterByFilter(2, kFrames - 2);
    std::vector<ChainChannel> lanes;
    for (StripChain& g : got) lanes.push_back(g.channel(0));
    walk(lanes.data(), 4, 7, 2, kFrames);
    for (int c = 0; c < 4; ++c) {
      EXPECT_EQ(got[c].left, want[c].left);
      EXPECT_EQ(got[c].right, want[c].right);
    }
  }
}

}  // namespace
}  // namespace sorvan
