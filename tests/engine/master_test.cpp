// The master's last steps on plain blocks, where the bus values can be chosen
// freely: dither, mono fold-down, reduction toward zero with the meter seeing
// the word before it is held, the half-wave RMS window, and block-split
// invariance.
#include "engine/master.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <vector>

namespace sorvan {
namespace {

using Words = std::vector<std::int64_t>;

RenderPlan planFor(int bits, bool mono, int dither, double monoFactor = 0.5, unsigned seed = 9) {
  RenderPlan plan;
  plan.sampleRate = 48000.0;
  plan.outputBits = bits;
  plan.mono = mono;
  plan.monoFactor = monoFactor;
  plan.ditherHalfWidth = dither ? 1 << (dither - 1) : 0;
  plan.ditherModulus = dither ? (1 << dither) + 1 : 0;
  plan.ditherSeed = seed;
  return plan;
}

// Both sides' words of a block, interleaved (one word a frame for mono).
Words words(MasterOutput& master, Words l, Words r, std::int64_t pos = 0) {
  master.reduceBlock(l.data(), r.data(), pos, static_cast<long>(l.size()));
  Words out;
  for (std::size_t i = 0; i < l.size(); ++i) {
    out.push_back(master.wordsLeft()[i]);
    if (master.wordsRight() != master.wordsLeft()) out.push_back(master.wordsRight()[i]);
  }
  return out;
}

// Bus values (2^31 full scale) to words toward zero, held at the word range;
// mono sums both sides times its factor first.
TEST(MasterOutputTest, ReductionToWordsAndMonoFoldDown) {
  MasterOutput m16(planFor(16, false, 0));
  EXPECT_EQ(words(m16, {-65535, -65536, 65537, 1LL << 40}, {0, 0, 0, -(1LL << 40)}),
            (Words{0, 0, -1, 0, 1, 0, 32767, -32768}));
  EXPECT_EQ(std::tuple(m16.meters().peakL, m16.meters().peakPosL), std::tuple(16777216.0, 3))
      << "the meter sees the word before it is held";
  const Words l = {3000000 * 256LL, -7 * 256, 101 * 256, 8000000 * 256LL};
  const Words r = {-1000000 * 256LL, 5 * 256, 100 * 256, 8000000 * 256LL};
  for (const auto& [bits, factor] : {std::pair{24, 0.5}, {24, 1.0}, {16, 0.5011872336272722}}) {
    MasterOutput m(planFor(bits, true, 0, factor));
    const Words out = words(m, l, r);
    for (std::size_t i = 0; i < l.size(); ++i) {
      const auto sum = static_cast<std::int64_t>(l[i] * factor + r[i] * factor);
      EXPECT_EQ(out[i], std::min<std::int64_t>(sum / (bits == 16 ? 65536 : 256),
                                               bits == 16 ? 32767 : 8388607))
          << bits << " " << factor << " " << i;
    }
    EXPECT_EQ(std::tuple(m.meters().peakR, m.meters().peakPosR), std::tuple(m.meters().peakL, 3))
        << "one mono word meters both sides";
  }
}

// Rectangular dither of 2^(level-1) output steps either way: every value in
// the range occurs, centred on zero, drawn for each side; a seed repeats.
TEST(MasterOutputTest, DitherStaysWithinItsLevelAndRepeatsWithItsSeed) {
  for (const auto& [bits, mono, level] :
       {std::tuple{24, false, 1}, {16, false, 8}, {24, true, 2}}) {
    MasterOutput m(planFor(bits, mono, level)), again(planFor(bits, mono, level));
    const Words out = words(m, Words(24000, 0), Words(24000, 0));
    std::map<std::int64_t, int> seen;
    double sum = 0, equalSides = 0;
    for (std::size_t i = 0; i < out.size(); ++i) ++seen[out[i]], sum += out[i];
    for (std::size_t i = 0; !mono && i < out.size(); i += 2) equalSides += out[i] == out[i + 1];
    const int half = 1 << (level - 1);
    EXPECT_EQ(std::tuple(seen.begin()->first, seen.rbegin()->first, seen.size()),
              std::tuple(-half, half, 2u * half + 1))
        << bits << " " << level;
    EXPECT_LT(std::fabs(sum / out.size()), 0.05 * half + 0.02);
    EXPECT_LT(equalSides, out.size() / 4.0);
    EXPECT_EQ(words(again, Words(24000, 0), Words(24000, 0)), out);
  }
  MasterOutput a(planFor(24, false, 2)), b(planFor(24, false, 2, 0.5, 10));
  EXPECT_NE(words(a, Words(100, 0), Words(100, 0)), words(b, Words(100, 0), Words(100, 0)));
}

TEST(MasterOutputTest, BlockSizesDoNotChangeTheOutputOrTheMeters) {
  std::mt19937 rng(3);
  std::uniform_int_distribution<std::int64_t> value(-300000000, 300000000);
  const long n = 60000;
  Words l(n), r(n);
  for (long i = 0; i < n; ++i) {
    // A slow square under noise, so the RMS meter measures across blocks.
    const std::int64_t base = (i / 7000) % 2 ? -600000000 : 600000000;
    l[i] = base + value(rng), r[i] = -base / 2 + value(rng);
  }
  for (const bool mono : {false, true}) {
    MasterOutput whole(planFor(24, mono, 3)), split(planFor(24, mono, 3));
    const Words expected = words(whole, l, r);
    Words got;
    for (long at = 0, k = 0; at < n; at += k) {
      k = std::min(std::uniform_int_distribution<long>(1, 9000)(rng), n - at);
      const Words part = words(split, {l.begin() + at, l.begin() + at + k},
                               {r.begin() + at, r.begin() + at + k}, at);
      got.insert(got.end(), part.begin(), part.end());
    }
    EXPECT_TRUE(got == expected) << "mono " << mono;
    const OutputMeters &a = whole.meters(), &b = split.meters();
    EXPECT_GT(a.rmsCountL, 5.0f);
    EXPECT_EQ(std::tie(a.peakL, a.peakPosR, a.rmsCountL, a.rmsSumL, a.rmsSumR),
              std::tie(b.peakL, b.peakPosR, b.rmsCountL, b.rmsSumL, b.rmsSumR));
  }
}

// Only half-waves longer than the window measure (here 10 frames, in units of
// 256): every crossing of 12-frame half-waves; a crossing after exactly 10
// frames does not, and the sums run on to the next one, across blocks.
TEST(MasterRmsTest, MeasuresOnlyHalfWavesLongerThanTheWindow) {
  Words l(60), r(60), s(30);
  for (std::size_t i = 0; i < 60; ++i) {
    l[i] = (i / 12) % 2 ? -256 * 300 : 256 * 300;
    r[i] = (i / 12) % 2 ? -(256 * 40 + 255) : 256 * 40 + 255;  // the divisor truncates
  }
  MasterRmsState state, first;
  OutputMeters m, n;
  MasterRMS(state, l.data(), r.data(), m, 10.0f, 256, 60);
  EXPECT_EQ(std::tuple(m.rmsCountL, m.rmsSumL, m.rmsSumR), std::tuple(4.0f, 1200.0f, 160.0f));
  for (std::size_t i = 0; i < 30; ++i) s[i] = i < 9 || i == 18 ? 2560 : -2560;
  MasterRMS(first, s.data(), s.data(), n, 10.0f, 256, 10);
  EXPECT_EQ(n.rmsCountL, 0.0f) << "10 frames, window 10";
  MasterRMS(first, s.data() + 10, s.data() + 10, n, 10.0f, 256, 20);
  EXPECT_EQ(std::tuple(n.rmsCountL, n.rmsSumL), std::tuple(1.0f, 10.0f)) << "the crossing at 18";
}

}  // namespace
}  // namespace sorvan
