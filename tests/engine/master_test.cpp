// The master's last steps on plain blocks, where the bus values can be chosen
// freely: dither, mono fold-down, reduction toward zero with the meter seeing
// the word before it is held, the half-wave RMS window, and block-split
// invariance.
#include "engine/master.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <map>
#include <random>
#include <vector>

#include "base/limits.h"

namespace sorvan {
namespace {

using Words = std::vector<std::int64_t>;

RenderPlan planFor(int bits, bool mono, int ditherLevel, double monoFactor = 0.5) {
  RenderPlan plan;
  plan.sampleRate = 48000.0;
  plan.outputBits = bits;
  plan.mono = mono;
  plan.monoFactor = monoFactor;
  plan.ditherHalfWidth = ditherLevel ? 1 << (ditherLevel - 1) : 0;
  plan.ditherModulus = ditherLevel ? (1 << ditherLevel) + 1 : 0;
  plan.ditherSeed = 9;
  return plan;
}

// Both sides' words of a block, interleaved (one word a frame for mono).
Words words(MasterOutput& master, Words l, Words r, std::int64_t pos = 0) {
  const long n = static_cast<long>(l.size());
  master.reduceBlock(l.data(), r.data(), pos, n);
  Words out;
  for (long i = 0; i < n; ++i) {
    out.push_back(master.wordsLeft()[i]);
    if (master.wordsRight() != master.wordsLeft()) out.push_back(master.wordsRight()[i]);
  }
  return out;
}

TEST(MasterOutputTest, ReducesTowardZeroAndHoldsTheWordRange) {
  MasterOutput m16(planFor(16, false, 0));
  const Words in16 = {-65535, -65536, -65537, 65535, 65536, -1, 1LL << 40, -(1LL << 40)};
  const Words out16 = words(m16, in16, in16);
  for (std::size_t i = 0; i < in16.size(); ++i)
    EXPECT_EQ(out16[2 * i], (Words{0, -1, -1, 0, 1, 0, 32767, -32768})[i]) << i;
  EXPECT_EQ(m16.meters().peakL, 16777216.0) << "the meter sees the word before it is held";
  EXPECT_EQ(m16.meters().peakPosL, 6);
  MasterOutput m24(planFor(24, false, 0));
  const Words in24 = {-255, -256, 256, 2147483648LL + 5000, -2147483648LL - 5000};
  EXPECT_EQ(words(m24, in24, {0, 0, 0, 0, -2147483648LL - 5000}),
            (Words{0, 0, -1, 0, 1, 0, 8388607, 0, -8388608, -8388608}));
  EXPECT_EQ(std::tuple(m24.meters().peakR, m24.meters().peakPosR), std::tuple(8388627.0, 4));
}

// Mono sums both sides times the factor, in bus scale, before the reduction.
TEST(MasterOutputTest, MonoFoldDownSumsBothSidesWithItsFactor) {
  const Words l = {3000000 * 256LL, -7 * 256, 100 * 256, 8000000 * 256LL};
  const Words r = {-1000000 * 256LL, 5 * 256, 101 * 256, 8000000 * 256LL};
  for (const auto& [bits, factor] : {std::pair{24, 0.5}, {24, 1.0}, {16, 0.5011872336272722}}) {
    MasterOutput m(planFor(bits, true, 0, factor));
    const Words out = words(m, l, r);
    ASSERT_EQ(out.size(), l.size());
    for (std::size_t i = 0; i < l.size(); ++i) {
      const auto sum = static_cast<std::int64_t>(l[i] * factor + r[i] * factor);
      EXPECT_EQ(out[i], std::clamp<std::int64_t>(sum / (bits == 16 ? 65536 : 256),
                                                  bits == 16 ? -32768 : -8388608,
                                                  bits == 16 ? 32767 : 8388607))
          << bits << " " << factor << " " << i;
    }
    EXPECT_EQ(m.meters().peakR, m.meters().peakL) << "one mono word meters both sides";
    EXPECT_EQ(m.meters().peakPosR, 3);
  }
}

// Rectangular dither of 2^(level-1) output steps either way: every value in
// the range occurs, centred on zero, drawn for each side; a seed repeats.
TEST(MasterOutputTest, DitherStaysWithinItsLevelAndRepeatsWithItsSeed) {
  for (const auto& [bits, mono, level] :
       {std::tuple{24, false, 1}, {24, false, 3}, {16, false, 8}, {24, true, 2}}) {
    MasterOutput m(planFor(bits, mono, level));
    const Words out = words(m, Words(24000, 0), Words(24000, 0));
    const int half = 1 << (level - 1);
    std::map<std::int64_t, int> seen;
    double sum = 0, equalSides = 0;
    for (std::size_t i = 0; i < out.size(); ++i) ++seen[out[i]], sum += out[i];
    for (std::size_t i = 0; !mono && i < out.size(); i += 2) equalSides += out[i] == out[i + 1];
    EXPECT_EQ(seen.begin()->first, -half) << bits << " " << level;
    EXPECT_EQ(seen.rbegin()->first, half);
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(2 * half + 1));
    EXPECT_LT(std::fabs(sum / out.size()), 0.05 * half + 0.02);
    EXPECT_LT(equalSides, out.size() / 4.0);
    MasterOutput again(planFor(bits, mono, level));
    EXPECT_EQ(words(again, Words(24000, 0), Words(24000, 0)), out);
  }
  RenderPlan other = planFor(24, false, 2);
  other.ditherSeed = 10;
  MasterOutput a(planFor(24, false, 2)), b(other);
  EXPECT_NE(words(a, Words(100, 0), Words(100, 0)), words(b, Words(100, 0), Words(100, 0)));
}

TEST(MasterOutputTest, BlockSizesDoNotChangeTheOutput) {
  std::mt19937 rng(3);
  std::uniform_int_distribution<std::int64_t> value(-300000000, 300000000);
  const long n = 60000;
  Words l(n), r(n);
  for (long i = 0; i < n; ++i) {
    // A slow square under noise, so the RMS meter measures across blocks.
    const std::int64_t base = (i / 7000) % 2 ? -600000000 : 600000000;
    l[i] = base + value(rng);
    r[i] = -base / 2 + value(rng);
  }
  for (const bool mono : {false, true}) {
    MasterOutput whole(planFor(24, mono, 3)), split(planFor(24, mono, 3));
    const Words expected = words(whole, l, r);
    Words got;
    std::uniform_int_distribution<long> size(1, 9000);
    for (long at = 0, k = 0; at < n; at += k) {
      k = std::min(size(rng), n - at);
      const auto part = words(split, Words(l.begin() + at, l.begin() + at + k),
                              Words(r.begin() + at, r.begin() + at + k), at);
      got.insert(got.end(), part.begin(), part.end());
    }
    EXPECT_TRUE(got == expected) << "mono " << mono;
    const OutputMeters& a = whole.meters();
    const OutputMeters& b = split.meters();
    EXPECT_GT(a.rmsCountL, 5.0f);
    EXPECT_EQ(std::tie(a.peakL, a.peakPosR, a.rmsCountL, a.rmsSumL, a.rmsSumR),
              std::tie(b.peakL, b.peakPosR, b.rmsCountL, b.rmsSumL, b.rmsSumR));
  }
}

TEST(MasterRmsTest, MeasuresOnlyHalfWavesLongerThanTheWindow) {
  // Half-waves of 12 frames against a window of 10: every crossing measures.
  Words l(60), r(60);
  for (std::size_t i = 0; i < 60; ++i) {
    l[i] = (i / 12) % 2 ? -256 * 300 : 256 * 300;
    r[i] = (i / 12) % 2 ? -(256 * 40 + 255) : 256 * 40 + 255;  // the divisor truncates
  }
  MasterRmsState state;
  OutputMeters m;
  MasterRMS(state, l.data(), r.data(), m, 10.0f, 256, 60);
  EXPECT_EQ(m.rmsCountL, 4.0f);
  EXPECT_FLOAT_EQ(m.rmsSumL, 4 * 300.0f);
  EXPECT_FLOAT_EQ(m.rmsSumR, 4 * 40.0f);
  // A crossing after exactly the window's frames does not measure; the
  // accumulation runs on to the next crossing, across the block boundary.
  Words s(30);
  for (std::size_t i = 0; i < 30; ++i) s[i] = i < 9 || i == 18 ? 2560 : -2560;
  MasterRmsState first;
  OutputMeters n;
  MasterRMS(first, s.data(), s.data(), n, 10.0f, 256, 10);
  EXPECT_EQ(n.rmsCountL, 0.0f) << "10 frames, window 10";
  MasterRMS(first, s.data() + 10, s.data() + 10, n, 10.0f, 256, 20);
  EXPECT_EQ(n.rmsCountL, 1.0f) << "the crossing at frame 18 ends 19 frames";
  EXPECT_FLOAT_EQ(n.rmsSumL, 10.0f);
}

}  // namespace
}  // namespace sorvan
