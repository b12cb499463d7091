// The master's last steps on plain blocks, where the bus values can be chosen
// freely: dither, reduction toward zero with the meter seeing the word before
// it is held, and block-split invariance of words and meters (mono included).
// The half-wave RMS of a known signal is checked end to end.
#include "engine/master.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <vector>

namespace sorvan {
namespace {

using Words = std::vector<std::int64_t>;

RenderPlan planFor(int bits, bool mono, int dither, unsigned seed = 9) {
  RenderPlan plan;
  plan.sampleRate = 48000.0;
  plan.outputBits = bits;
  plan.mono = mono;
  plan.monoFactor = 0.5;
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

// Bus values (2^31 full scale) to words toward zero, held at the word range.
TEST(MasterOutputTest, ReductionToWordsTowardZero) {
  MasterOutput m16(planFor(16, false, 0));
  EXPECT_EQ(words(m16, {-65535, -65536, 65537, 1LL << 40}, {0, 0, 0, -(1LL << 40)}),
            (Words{0, 0, -1, 0, 1, 0, 32767, -32768}));
  EXPECT_EQ(std::tuple(m16.meters().peakL, m16.meters().peakPosL), std::tuple(16777216.0, 3))
      << "the meter sees the word before it is held";
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
  MasterOutput a(planFor(24, false, 2)), b(planFor(24, false, 2, 10));
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

}  // namespace
}  // namespace sorvan
