// The master's last steps on plain blocks: dither bounds, reduction toward
// zero, words held at their range, output peaks and their positions, the
// half-wave RMS meter, and the same result whatever the block sizes.
#include "engine/master.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "base/limits.h"

namespace sorvan {
namespace {

RenderPlan planFor(int bits, bool mono, int ditherLevel, std::uint32_t seed = 5) {
  RenderPlan plan;
  plan.sampleRate = 48000.0;
  plan.outputBits = bits;
  plan.mono = mono;
  plan.monoFactor = mono ? 0.5 : 1.0;
  plan.ditherHalfWidth = ditherLevel ? 1 << (ditherLevel - 1) : 0;
  plan.ditherModulus = ditherLevel ? (1 << ditherLevel) + 1 : 0;
  plan.ditherSeed = seed;
  return plan;
}

// Little-endian words of `bits` back from the encoded bytes.
std::vector<std::int64_t> words(const std::vector<unsigned char>& bytes, int bits) {
  const std::size_t width = static_cast<std::size_t>(bits / 8);
  std::vector<std::int64_t> out;
  for (std::size_t at = 0; at + width <= bytes.size(); at += width) {
    std::int64_t v = 0;
    for (std::size_t b = 0; b < width; ++b)
      v |= static_cast<std::int64_t>(bytes[at + b]) << (8 * b);
    const std::int64_t sign = std::int64_t{1} << (8 * width - 1);
    out.push_back(v >= sign ? v - 2 * sign : v);
  }
  return out;
}

struct Encoded {
  std::vector<std::int64_t> left, right;  // right empty for mono
};

Encoded encode(MasterOutput& master, std::vector<std::int64_t> l, std::vector<std::int64_t> r,
               std::int64_t pos, int bits, bool mono) {
  const auto w =
      words(master.encodeBlock(l.data(), r.data(), pos, static_cast<long>(l.size())), bits);
  Encoded e;
  if (mono) {
    e.left = w;
    return e;
  }
  for (std::size_t i = 0; i + 1 < w.size(); i += 2) {
    e.left.push_back(w[i]);
    e.right.push_back(w[i + 1]);
  }
  return e;
}

TEST(MasterOutputTest, ReducesTowardZeroAndHoldsTheWordRange) {
  {
    MasterOutput master(planFor(16, false, 0));
    const std::vector<std::int64_t> in = {-65535,
                                          -65536,
                                          -65537,
                                          65535,
                                          65536,
                                          -1,
                                          0,
                                          std::int64_t{1} << 40,
                                          -(std::int64_t{1} << 40)};
    const Encoded e = encode(master, in, in, 0, 16, false);
    EXPECT_EQ(e.left, (std::vector<std::int64_t>{0, -1, -1, 0, 1, 0, 0, 32767, -32768}));
    EXPECT_EQ(e.right, e.left);
    EXPECT_EQ(master.meters().peakL, 16777216.0) << "the meter sees the word before it is held";
    EXPECT_EQ(master.meters().peakPosL, 7);
  }
  {
    MasterOutput master(planFor(24, false, 0));
    const std::vector<std::int64_t> in = {
        -255, -256, -257, 255, 256, 2147483648LL + 5000, -2147483648LL - 5000};
    const Encoded e = encode(master, in, in, 0, 24, false);
    EXPECT_EQ(e.left, (std::vector<std::int64_t>{0, -1, -1, 0, 1, 8388607, -8388608}));
    EXPECT_EQ(master.meters().peakR, 8388627.0);
  }
  {
    // Mono: the factor applies to each side in double before truncation.
    MasterOutput master(planFor(24, true, 0));
    const Encoded e = encode(master, {1001, -1001, 3, 2147483647LL * 3},
                             {0, -511, 0, 2147483647LL * 3}, 0, 24, true);
    EXPECT_EQ(e.left, (std::vector<std::int64_t>{500 / 256, -756 / 256, 0, 8388607}));
  }
}

TEST(MasterOutputTest, DitherStaysWithinItsLevel) {
  for (const int bits : {16, 24}) {
    for (const bool mono : {false, true}) {
      for (int level = 1; level <= 8; ++level) {
        MasterOutput master(planFor(bits, mono, level, 100 + static_cast<std::uint32_t>(level)));
        constexpr long kFrames = 20000;
        std::vector<std::int64_t> l(kFrames, 0), r(kFrames, 0);
        const auto w = words(master.encodeBlock(l.data(), r.data(), 0, kFrames), bits);
        const std::int64_t half = 1 << (level - 1);
        std::vector<long> seen(static_cast<std::size_t>(2 * half + 1), 0);
        for (const std::int64_t v : w) {
          ASSERT_LE(std::abs(v), half) << bits << " bits, mono " << mono << ", level " << level;
          ++seen[static_cast<std::size_t>(v + half)];
        }
        for (std::size_t k = 0; k < seen.size(); ++k)
          EXPECT_GT(seen[k], 0) << "value " << static_cast<std::int64_t>(k) - half
                                << " never drawn, " << bits << " bits, mono " << mono << ", level "
                                << level;
        if (!mono) {
          // Stereo dither lands in the master pair in bus scale.
          const std::int64_t unit = bits == 16 ? 65536 : 256;
          EXPECT_EQ(l[0], w[0] * unit);
          EXPECT_EQ(r[0], w[1] * unit);
        }
      }
    }
  }
  MasterOutput quiet(planFor(24, false, 0));
  std::vector<std::int64_t> l(1000, 255), r(1000, -255);
  const auto w = words(quiet.encodeBlock(l.data(), r.data(), 0, 1000), 24);
  for (const std::int64_t v : w) ASSERT_EQ(v, 0) << "level 0 adds nothing";
}

TEST(MasterOutputTest, PeakPositionsKeepTheFirstOfEqualMagnitudes) {
  MasterOutput master(planFor(24, false, 0));
  std::vector<std::int64_t> l(10, 0), r(10, 0);
  l[3] = 256 * 700;
  l[7] = -256 * 700;
  r[2] = -256 * 40;
  encode(master, l, r, 1000, 24, false);
  EXPECT_EQ(master.meters().peakL, 700.0);
  EXPECT_EQ(master.meters().peakPosL, 1003);
  EXPECT_EQ(master.meters().peakPosR, 1002);
  l.assign(10, -256 * 700);  // ties in a later block
  r.assign(10, 0);
  r[5] = 256 * 41;
  encode(master, l, r, 1010, 24, false);
  EXPECT_EQ(master.meters().peakPosL, 1003);
  EXPECT_EQ(master.meters().peakR, 41.0);
  EXPECT_EQ(master.meters().peakPosR, 1015);

  // Mono: one word meters both sides, positions included.
  MasterOutput mono(planFor(16, true, 0));
  encode(mono, {0, 65536 * 10, 0}, {0, 0, -65536 * 30}, 50, 16, true);
  EXPECT_EQ(mono.meters().peakL, 15.0);
  EXPECT_EQ(mono.meters().peakR, 15.0);
  EXPECT_EQ(mono.meters().peakPosR, 52);
  encode(mono, {65536 * 4, 0}, {65536 * 40, 0}, 53, 16, true);
  EXPECT_EQ(mono.meters().peakL, 22.0);
  EXPECT_EQ(mono.meters().peakR, 22.0);
  EXPECT_EQ(mono.meters().peakPosL, 53);
  EXPECT_EQ(mono.meters().peakPosR, 53);
}

TEST(MasterOutputTest, BlockSizesDoNotChangeTheOutput) {
  std::mt19937 rng(3);
  std::uniform_int_distribution<std::int64_t> value(-300000000, 300000000);
  std::vector<std::int64_t> l(60000), r(60000);
  for (std::size_t i = 0; i < l.size(); ++i) {
    // A slow square under noise, so the RMS meter measures across blocks.
    const std::int64_t base = (i / 7000) % 2 ? -600000000 : 600000000;
    l[i] = base + value(rng);
    r[i] = -base / 2 + value(rng);
  }
  for (const bool mono : {false, true}) {
    MasterOutput whole(planFor(24, mono, 3, 9));
    std::vector<std::int64_t> wl = l, wr = r;
    const std::vector<unsigned char> expected = whole.encodeBlock(wl.data(), wr.data(), 0, 60000);

    MasterOutput split(planFor(24, mono, 3, 9));
    std::vector<std::int64_t> sl = l, sr = r;
    std::vector<unsigned char> got;
    std::uniform_int_distribution<long> size(1, 9000);
    for (long at = 0; at < 60000;) {
      const long n = std::min(size(rng), 60000 - at);
      const auto& bytes = split.encodeBlock(sl.data() + at, sr.data() + at, at, n);
      got.insert(got.end(), bytes.begin(), bytes.end());
      at += n;
    }
    EXPECT_TRUE(got == expected) << "mono " << mono;
    const OutputMeters& a = whole.meters();
    const OutputMeters& b = split.meters();
    EXPECT_EQ(a.peakL, b.peakL);
    EXPECT_EQ(a.peakPosR, b.peakPosR);
    EXPECT_GT(a.rmsCountL, 5.0f);
    EXPECT_EQ(a.rmsCountL, b.rmsCountL);
    EXPECT_EQ(a.rmsSumL, b.rmsSumL);
    EXPECT_EQ(a.rmsSumR, b.rmsSumR);
  }
}

TEST(MasterRmsTest, MeasuresHalfWavesLongerThanTheWindow) {
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
  // accumulation runs on to the next crossing.
  std::vector<std::int64_t> s(30);
  for (std::size_t i = 0; i < 30; ++i) s[i] = i < 9 || (i >= 18 && i < 19) ? 2560 : -2560;
  MasterRmsState first;
  OutputMeters n;
  MasterRMS(first, s.data(), s.data(), n, 10.0f, 256, 10);
  EXPECT_EQ(n.rmsCountL, 0.0f) << "10 frames, window 10";
  MasterRMS(first, s.data() + 10, s.data() + 10, n, 10.0f, 256, 20);
  EXPECT_EQ(n.rmsCountL, 1.0f) << "the crossing at frame 18 ends 19 frames";
  EXPECT_FLOAT_EQ(n.rmsSumL, 10.0f);

  // Shorter than the window: nothing measured, whatever the crossings.
  MasterRmsState shortState;
  OutputMeters none;
  std::vector<std::int64_t> alt = {2560, -2560, 2560, -2560, 2560};
  MasterRMS(shortState, alt.data(), alt.data(), none, 10.0f, 256, 5);
  EXPECT_EQ(none.rmsCountL, 0.0f);
  EXPECT_EQ(none.rmsCountR, 0.0f);
}

}  // namespace
}  // namespace sorvan
