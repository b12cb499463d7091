// The master's last steps on plain blocks, where the bus values can be chosen
// freely: reduction toward zero with the meter seeing the word before it is
// held, the half-wave RMS window, and block-split invariance. Dither bounds,
// seeds, mono fold-down and peak times are checked on real renders (e2e).
#include "engine/master.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "base/limits.h"

namespace sorvan {
namespace {

RenderPlan planFor(int bits, bool mono, int ditherLevel) {
  RenderPlan plan;
  plan.sampleRate = 48000.0;
  plan.outputBits = bits;
  plan.mono = mono;
  plan.monoFactor = mono ? 0.5 : 1.0;
  plan.ditherHalfWidth = ditherLevel ? 1 << (ditherLevel - 1) : 0;
  plan.ditherModulus = ditherLevel ? (1 << ditherLevel) + 1 : 0;
  plan.ditherSeed = 9;
  return plan;
}

// The left words of a block with the same values on both sides.
std::vector<std::int64_t> reduce(MasterOutput& master, std::vector<std::int64_t> both) {
  std::vector<std::int64_t> right = both;
  const long n = static_cast<long>(both.size());
  master.reduceBlock(both.data(), right.data(), 0, n);
  return std::vector<std::int64_t>(master.wordsLeft(), master.wordsLeft() + n);
}

// Both sides' words of a block, interleaved.
std::vector<std::int64_t> words(MasterOutput& master, std::int64_t* l, std::int64_t* r,
                                std::int64_t pos, long n) {
  master.reduceBlock(l, r, pos, n);
  std::vector<std::int64_t> out;
  for (long i = 0; i < n; ++i) {
    out.push_back(master.wordsLeft()[i]);
    out.push_back(master.wordsRight()[i]);
  }
  return out;
}

TEST(MasterOutputTest, ReducesTowardZeroAndHoldsTheWordRange) {
  MasterOutput m16(planFor(16, false, 0));
  EXPECT_EQ(reduce(m16, {-65535, -65536, -65537, 65535, 65536, -1, 1LL << 40, -(1LL << 40)}),
            (std::vector<std::int64_t>{0, -1, -1, 0, 1, 0, 32767, -32768}));
  EXPECT_EQ(m16.meters().peakL, 16777216.0) << "the meter sees the word before it is held";
  EXPECT_EQ(m16.meters().peakPosL, 6);

  MasterOutput m24(planFor(24, false, 0));
  EXPECT_EQ(reduce(m24, {-255, -256, -257, 256, 2147483648LL + 5000, -2147483648LL - 5000}),
            (std::vector<std::int64_t>{0, -1, -1, 1, 8388607, -8388608}));
  EXPECT_EQ(m24.meters().peakR, 8388627.0);
}

TEST(MasterOutputTest, BlockSizesDoNotChangeTheOutput) {
  std::mt19937 rng(3);
  std::uniform_int_distribution<std::int64_t> value(-300000000, 300000000);
  const long n = 60000;
  std::vector<std::int64_t> l(n), r(n);
  for (long i = 0; i < n; ++i) {
    // A slow square under noise, so the RMS meter measures across blocks.
    const std::int64_t base = (i / 7000) % 2 ? -600000000 : 600000000;
    l[i] = base + value(rng);
    r[i] = -base / 2 + value(rng);
  }
  for (const bool mono : {false, true}) {
    MasterOutput whole(planFor(24, mono, 3)), split(planFor(24, mono, 3));
    std::vector<std::int64_t> wl = l, wr = r, sl = l, sr = r;
    const std::vector<std::int64_t> expected = words(whole, wl.data(), wr.data(), 0, n);
    std::vector<std::int64_t> got;
    std::uniform_int_distribution<long> size(1, 9000);
    for (long at = 0, k = 0; at < n; at += k) {
      k = std::min(size(rng), n - at);
      const auto part = words(split, sl.data() + at, sr.data() + at, at, k);
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

TEST(MasterOutputTest, FloatKeepsTheBusValuesAndMetersThemIn24BitUnits) {
  RenderPlan plan = planFor(16, false, 3);
  plan.format = OutputFormat::kFloat;
  MasterOutput m(plan);
  const std::vector<std::int64_t> values = {-257, 3LL << 31, -(5LL << 30), 255};
  EXPECT_EQ(reduce(m, values), values) << "neither dithered nor reduced nor held";
  EXPECT_EQ(m.meters().peakL, 3.0 * 8388608.0);
  EXPECT_EQ(m.meters().peakPosL, 1);
}

TEST(StemOutputTest, ReducesLikeTheMasterWithADitherStreamOfItsOwn) {
  std::mt19937 rng(5);
  std::uniform_int_distribution<std::int64_t> value(-3000000000LL, 3000000000LL);
  const long n = 5000;
  std::vector<std::int64_t> l(n), r(n);
  for (long i = 0; i < n; ++i) l[i] = value(rng), r[i] = value(rng);
  for (const bool mono : {false, true}) {
    for (const int bits : {16, 24}) {
      // Without dither a stem's words are the master's.
      MasterOutput master(planFor(bits, mono, 0));
      StemOutput stem(planFor(bits, mono, 0), 3);
      std::vector<std::int64_t> ml = l, mr = r;
      const std::vector<std::int64_t> expected = words(master, ml.data(), mr.data(), 0, n);
      stem.reduceBlock(l.data(), r.data(), n, 1.0);
      for (long i = 0; i < n; ++i) {
        ASSERT_EQ(stem.wordsLeft()[i], expected[2 * i]) << i;
        ASSERT_EQ(stem.wordsRight()[i], expected[2 * i + 1]) << i;
      }
    }
  }
  // With dither every stem draws from its own stream of the one seed: never
  // the mix's sequence, never another stem's, and the same on every render.
  std::vector<std::int64_t> silence(n, 0);
  const auto ditherOf = [&](std::uint64_t stream) {
    StemOutput stem(planFor(24, false, 8), stream);
    stem.reduceBlock(silence.data(), silence.data(), n, 1.0);
    return std::vector<std::int64_t>(stem.wordsLeft(), stem.wordsLeft() + n);
  };
  MasterOutput master(planFor(24, false, 8));
  std::vector<std::int64_t> sl = silence, sr = silence;
  master.reduceBlock(sl.data(), sr.data(), 0, n);
  const std::vector<std::int64_t> mix(master.wordsLeft(), master.wordsLeft() + n);
  EXPECT_TRUE(ditherOf(0) == mix) << "stream 0 is the mix's";
  EXPECT_TRUE(ditherOf(1) == ditherOf(1));
  for (const auto& [a, b] : {std::pair(0, 1), std::pair(1, 2), std::pair(2, 10)}) {
    const auto x = ditherOf(a), y = ditherOf(b);
    long same = 0;
    for (long i = 0; i < n; ++i) same += x[i] == y[i];
    EXPECT_LT(same, n / 50) << a << " and " << b;  // 257 values: about n / 257 by chance
  }
}

TEST(MasterRmsTest, MeasuresOnlyHalfWavesLongerThanTheWindow) {
  // Half-waves of 12 frames against a window of 10: every crossing measures.
  std::vector<std::int64_t> l(60), r(60);
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
  std::vector<std::int64_t> s(30);
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
