// The master stage seen in the output file: mono fold-down, dither bounds and
// seeds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "e2e/render_support.h"
#include "e2e/session.h"

namespace sorvan::e2e {
namespace {

std::string prefsWith(const std::string& lines) {
  return "begin\npre\toff\nverbo\t0\n" + lines + "end\n";
}

// Values that exercise truncation toward zero on both sides of every step.
std::vector<std::int32_t> craftedSide(std::size_t frames, std::int32_t salt) {
  std::vector<std::int32_t> out(frames);
  for (std::size_t i = 0; i < frames; ++i)
    out[i] =
        static_cast<std::int32_t>((i * 2654435761u + static_cast<std::uint32_t>(salt)) % 6000001) -
        3000000;
  return out;
}

std::string statLine(const std::string& stats, const std::string& prefix) {
  const std::size_t at = stats.find(prefix);
  if (at == std::string::npos) return "";
  return stats.substr(at + prefix.size(), stats.find('\n', at) - at - prefix.size());
}

TEST(MasterRender, MonoFoldDownSumsBothSidesWithItsFactor) {
  Session s;
  const std::vector<std::int32_t> left = craftedSide(6000, 1), right = craftedSide(6000, 77);
  writeSource(s, "a.wav", 48000, 24, 2, stereo(left, right));
  s.files("begin\nk a.wav +\nend\n", unityFaders(), "");
  const double minus6 = static_cast<double>(static_cast<float>(std::pow(10.0, -6.0 / 20.0)));
  struct Case {
    const char* prefs;
    int bits;
    double factor;
  };
  // Outside 0.125..1.0 the factor falls back to one half.
  const Case cases[] = {{"mono\t-20\n", 24, 0.5},
                        {"mono\t3\n", 24, 0.5},
                        {"mono\t0\n", 24, 1.0},
                        {"mono\t-6\n", 24, minus6},
                        {"mono\t-20\noutbits\t16\n", 16, 0.5}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.prefs);
    s.write("prefs.txt", prefsWith(std::string("dither\t0\n") + c.prefs));
    const Rendered out = render(s);
    EXPECT_EQ(out.channels, 1);
    EXPECT_EQ(out.bits, c.bits);
    ASSERT_EQ(out.words.size(), 6000u);
    const std::int64_t step = c.bits == 16 ? 65536 : 256;
    for (std::size_t i = 0; i < 6000; ++i) {
      const auto m =
          static_cast<std::int64_t>(256.0 * left[i] * c.factor + 256.0 * right[i] * c.factor);
      ASSERT_EQ(out.words[i], m / step) << "frame " << i;
    }
    const std::string stats = s.read("stats_song.txt");
    EXPECT_NE(statLine(stats, "Peak Out L = "), "") << stats;
    EXPECT_EQ(statLine(stats, "Peak Out L = "), statLine(stats, "Peak Out R = "))
        << "one mono word meters both sides";
  }
}

TEST(MasterRender, DitherStaysWithinItsLevelAndRepeatsWithItsSeed) {
  Session s;
  s.sox("-n -r 48000 -b 24 -c 2 silence.wav trim 0 0.5");
  s.files("begin\nk silence.wav +\nend\n", unityFaders(), "");
  struct Case {
    const char* prefs;
    int half;  // every word lies in -half..half, and each of them occurs
  };
  const Case cases[] = {
      {"dither\t1\n", 1},          {"dither\t3\n", 4},
      {"dither\t8\n", 128},        {"dither\t3\noutbits\t16\n", 4},
      {"dither\t2\nmono\t0\n", 2}, {"dither\t9\n", 1}};  // out of range: the default level stays
  for (const Case& c : cases) {
    SCOPED_TRACE(c.prefs);
    s.write("prefs.txt", prefsWith(std::string("seed\t11\n") + c.prefs));
    const RunResult r = s.run();
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(contains(r.out, "Dither is set out of range (0-8)\n"), contains(c.prefs, "9"))
        << r.out;
    const Rendered out = readRendered(s, "song.wav");
    ASSERT_EQ(out.frames(), 24000u);
    std::map<std::int32_t, int> seen;
    double sum = 0;
    for (const std::int32_t w : out.words) {
      ++seen[w];
      sum += w;
    }
    EXPECT_EQ(seen.begin()->first, -c.half);
    EXPECT_EQ(seen.rbegin()->first, c.half);
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(2 * c.half + 1));
    EXPECT_LT(std::fabs(sum / static_cast<double>(out.words.size())), 0.05 * c.half + 0.02)
        << "rectangular dither centred on zero";
    if (out.channels == 2) {
      std::size_t equalSides = 0;
      for (std::size_t i = 0; i < out.frames(); ++i) equalSides += out.left(i) == out.right(i);
      EXPECT_LT(equalSides, out.frames() / 2) << "each side draws its own value";
    }
  }

  // The same seed repeats byte for byte, another seed differs.
  s.write("prefs.txt", prefsWith("seed\t42\n"));
  ASSERT_EQ(s.run().status, 0);
  const std::string first = s.read("song.wav");
  ASSERT_EQ(s.run().status, 0);
  EXPECT_TRUE(s.read("song.wav") == first);
  s.write("prefs.txt", prefsWith("seed\t43\n"));
  ASSERT_EQ(s.run().status, 0);
  EXPECT_EQ(s.read("song.wav").size(), first.size());
  EXPECT_FALSE(s.read("song.wav") == first);
}

}  // namespace
}  // namespace sorvan::e2e
