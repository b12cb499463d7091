// The master stage seen in the output file: mono fold-down, dither bounds and
// seeds, reduction to 16-bit words, and overload held at the word range (in
// the output and in the tap file) while the meters still report it.
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

constexpr const char* kUnityFaders = "begin\nsong\nt\t0\t0\t0\nv\t1\t0\nend\n";

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
  s.write("tracks.txt", "begin\nk a.wav +\nend\n");
  s.write("faders.txt", kUnityFaders);
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
    s.write("prefs.txt", prefsWith(std::string("dither\t0\n") + c.prefs));
    const RunResult r = s.run();
    ASSERT_EQ(r.status, 0) << c.prefs << r.out;
    const Rendered out = readRendered(s, "song.wav");
    EXPECT_EQ(out.channels, 1) << c.prefs;
    EXPECT_EQ(out.bits, c.bits) << c.prefs;
    ASSERT_EQ(out.words.size(), 6000u) << c.prefs;
    const std::int64_t step = c.bits == 16 ? 65536 : 256;
    for (std::size_t i = 0; i < 6000; ++i) {
      const auto m =
          static_cast<std::int64_t>(256.0 * left[i] * c.factor + 256.0 * right[i] * c.factor);
      ASSERT_EQ(out.words[i], m / step) << c.prefs << " frame " << i;
    }
    const std::string stats = s.read("stats_song.txt");
    EXPECT_NE(statLine(stats, "Peak Out L = "), "") << stats;
    EXPECT_EQ(statLine(stats, "Peak Out L = "), statLine(stats, "Peak Out R = "))
        << "one mono word meters both sides\n"
        << stats;
  }
}

TEST(MasterRender, DitherStaysWithinItsLevelAndRepeatsWithItsSeed) {
  Session s;
  s.sox("-n -r 48000 -b 24 -c 2 silence.wav trim 0 0.5");
  s.write("tracks.txt", "begin\nk silence.wav +\nend\n");
  s.write("faders.txt", kUnityFaders);
  struct Case {
    const char* prefs;
    int half;  // every word lies in -half..half, and each of them occurs
  };
  const Case cases[] = {
      {"dither\t1\n", 1},          {"dither\t3\n", 4},
      {"dither\t8\n", 128},        {"dither\t3\noutbits\t16\n", 4},
      {"dither\t2\nmono\t0\n", 2}, {"dither\t9\n", 1}};  // out of range: the default level stays
  for (const Case& c : cases) {
    s.write("prefs.txt", prefsWith(std::string("seed\t11\n") + c.prefs));
    const RunResult r = s.run();
    ASSERT_EQ(r.status, 0) << c.prefs << r.out;
    EXPECT_EQ(r.out.find("Dither is set out of range (0-8)\n") != std::string::npos,
              std::string(c.prefs).find('9') != std::string::npos)
        << c.prefs << r.out;
    const Rendered out = readRendered(s, "song.wav");
    ASSERT_EQ(out.frames(), 24000u) << c.prefs;
    std::map<std::int32_t, int> seen;
    double sum = 0;
    for (const std::int32_t w : out.words) {
      ++seen[w];
      sum += w;
    }
    EXPECT_EQ(seen.begin()->first, -c.half) << c.prefs;
    EXPECT_EQ(seen.rbegin()->first, c.half) << c.prefs;
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(2 * c.half + 1)) << c.prefs;
    EXPECT_LT(std::fabs(sum / static_cast<double>(out.words.size())), 0.05 * c.half + 0.02)
        << c.prefs << ": rectangular dither centred on zero";
    if (out.channels == 2) {
      std::size_t equalSides = 0;
      for (std::size_t i = 0; i < out.frames(); ++i) equalSides += out.left(i) == out.right(i);
      EXPECT_LT(equalSides, out.frames() / 2) << c.prefs << ": each side draws its own value";
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

TEST(MasterRender, DitherOnASignalMovesEachWordByItsStepAtMost) {
  Session s;
  s.sox("-n -r 48000 -b 24 -c 2 a.wav synth 0.25 whitenoise gain -3");
  s.sox("-n -r 48000 -b 16 -c 2 b.wav synth 0.25 whitenoise gain -3");
  s.write("faders.txt", kUnityFaders);
  for (const int bits : {24, 16}) {
    const std::string source = bits == 24 ? "a.wav" : "b.wav";
    s.write("tracks.txt", "begin\nk " + source + " +\nend\n");
    // No "dither" line: the default level 1.
    s.write("prefs.txt", prefsWith(bits == 16 ? "outbits\t16\n" : ""));
    ASSERT_EQ(s.run().status, 0);
    const Rendered out = readRendered(s, "song.wav");
    const std::vector<std::int32_t> x = soxSamples(s, source, bits);
    ASSERT_EQ(out.words.size(), x.size());
    std::map<std::int32_t, int> moves;
    for (std::size_t i = 0; i < x.size(); ++i) ++moves[out.words[i] - x[i]];
    EXPECT_EQ(moves.size(), 3u) << bits;
    EXPECT_EQ(moves.begin()->first, -1) << bits;
    EXPECT_EQ(moves.rbegin()->first, 1) << bits;
  }
}

TEST(MasterRender, SixteenBitWordsTruncateTowardZero) {
  Session s;
  const std::vector<std::int32_t> values = {-255, -256, -257, -511,  -512,   -1,      0,
                                            255,  256,  257,  65535, -65536, 8388607, -8388608};
  writeSource(s, "a.wav", 48000, 24, 2, stereo(values, values));
  s.write("tracks.txt", "begin\nk a.wav +\nend\n");
  s.write("faders.txt", kUnityFaders);
  s.write("prefs.txt", prefsWith("dither\t0\noutbits\t16\n"));
  ASSERT_EQ(s.run().status, 0);
  const Rendered out = readRendered(s, "song.wav");
  const std::vector<std::int32_t> expected = {0, -1, -1, -1,  -2,   0,     0,
                                              0, 1,  1,  255, -256, 32767, -32768};
  ASSERT_EQ(out.frames(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(out.left(i), expected[i]) << values[i];
    EXPECT_EQ(out.right(i), expected[i]) << values[i];
  }
}

TEST(MasterRender, OverloadIsHeldAtTheWordRangeAndStillReported) {
  Session s;
  std::vector<std::int32_t> left(4800), right(4800);
  for (std::size_t i = 0; i < left.size(); ++i) {
    const double v = 8388607.0 * std::sin(2.0 * M_PI * 440.0 * static_cast<double>(i) / 48000.0);
    left[i] = static_cast<std::int32_t>(std::lround(v));
    right[i] = i % 100 == 0 ? -8388608 : -left[i];
  }
  writeSource(s, "a.wav", 48000, 24, 2, stereo(left, right));
  s.write("tracks.txt", "begin\nk a.wav +\nend\n");
  const double gain = channelGain(static_cast<double>(levelOf(6)));

  s.write("faders.txt", "begin\nsong\nt\t0\t0\t0\nv\t1\t6\nend\n");
  for (const int bits : {24, 16}) {
    s.write("prefs.txt", prefsWith(bits == 16 ? "dither\t0\noutbits\t16\n" : "dither\t0\n"));
    ASSERT_EQ(s.run().status, 0);
    const Rendered out = readRendered(s, "song.wav");
    ASSERT_EQ(out.frames(), 4800u);
    const std::int64_t hi = bits == 16 ? 32767 : 8388607;
    const std::int64_t step = bits == 16 ? 65536 : 256;
    int held = 0;
    for (std::size_t i = 0; i < 4800; ++i) {
      for (const auto& [x, word] :
           {std::pair{left[i], out.left(i)}, std::pair{right[i], out.right(i)}}) {
        const std::int64_t w = static_cast<std::int64_t>(gain * x) / step;
        const std::int64_t want = std::clamp<std::int64_t>(w, -hi - 1, hi);
        held += want != w;
        ASSERT_EQ(word, want) << bits << "-bit frame " << i << " from " << x;
      }
    }
    EXPECT_GT(held, 1000) << "the test drives the output well past full scale";
    const std::string stats = s.read("stats_song.txt");
    EXPECT_NE(stats.find("Ch 1\tL  6.00\tR  6.00\ta"
                         "Channel Over!\n"),
              std::string::npos)
        << stats;
    EXPECT_NE(stats.find("\nPeak Out L = 6.00 dB at 0 min : "), std::string::npos) << stats;
    EXPECT_NE(stats.find(" sec"
                         "Main Out Left Over!"
                         "Peak Out R = 6.00 dB at 0 min : 0.000 sec"
                         "Main Out Right Over\n"),
              std::string::npos)
        << stats;
  }

  // The reverb-send tap holds the channel's post-fader send in channel scale,
  // held at the 24-bit range as well.
  s.write("faders.txt", "begin\nsong\nt\t0\t0\t0\nv\t1\t12\nrtn\t0\t75\nrev\t1\t0\nend\n");
  s.write("prefs.txt", prefsWith("dither\t0\ntap\trev\n"));
  const RunResult r = s.run();
  ASSERT_EQ(r.status, 0) << r.out;
  const Rendered tap = readRendered(s, "revTap.wav");
  EXPECT_EQ(tap.bits, 24);
  EXPECT_EQ(tap.channels, 2);
  ASSERT_EQ(tap.frames(), 4800u);
  const double gain12 = channelGain(static_cast<double>(levelOf(12)));
  for (std::size_t i = 0; i < 4800; ++i) {
    const auto bus = static_cast<std::int64_t>(gain12 * left[i]);
    const auto word = static_cast<std::int64_t>(static_cast<float>(bus) / 256.0);
    ASSERT_EQ(tap.left(i), std::clamp<std::int64_t>(word, -8388608, 8388607)) << "frame " << i;
  }
}

}  // namespace
}  // namespace sorvan::e2e
