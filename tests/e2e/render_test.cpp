// Renders of the real binary compared sample by sample with their sources and
// with sox: identity at 0 dB, plain sums, polarity, mono fan-out, and the render range.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "e2e/render_support.h"
#include "e2e/session.h"

namespace sorvan::e2e {
namespace {

std::vector<std::int32_t> slice(const std::vector<std::int32_t>& words, std::size_t fromFrame,
                                std::size_t frames, int channels = 2) {
  const auto c = static_cast<std::size_t>(channels);
  return {words.begin() + static_cast<std::ptrdiff_t>(fromFrame * c),
          words.begin() + static_cast<std::ptrdiff_t>((fromFrame + frames) * c)};
}

TEST(RenderIdentity, UnityCentreChannelReproducesItsSourceExactly) {
  Session s;
  s.sox("-n -r 48000 -b 24 -c 2 a.wav synth 0.4 whitenoise gain -0.5");
  s.sox("-n -r 48000 -b 16 -c 2 b.wav synth 0.4 whitenoise gain -0.5");
  s.sox("a.wav -e floating-point -b 32 f.wav");
  s.write("faders.txt", unityFaders());
  struct Case {
    const char* source;
    const char* decoded;  // what sox decodes to the same words
    int bits;             // output word size
  };
  const Case cases[] = {{"a.wav", "a.wav", 24},
                        {"b.wav", "b.wav", 16},
                        {"b.wav", "b.wav", 24},
                        {"f.wav", "a.wav", 24}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.source) + " at " + std::to_string(c.bits) + " bits");
    s.files(
        std::string("begin\nk ") + c.source + " +\nend\n", "",
        c.bits == 16 ? "begin\npre\toff\ndither\t0\nverbo\t0\noutbits\t16\nend\n" : kPlainPrefs);
    const Rendered out = render(s);
    EXPECT_EQ(out.bits, c.bits);
    EXPECT_EQ(out.channels, 2);
    EXPECT_TRUE(out.words == soxSamples(s, c.decoded, c.bits));
  }

  // Polarity -1 negates every word.
  const std::vector<std::int32_t> reference = soxSamples(s, "a.wav", 24);
  s.files("begin\nk a.wav +\nend\n", unityFaders("pol\t1\t-1\n"), kPlainPrefs);
  std::vector<std::int32_t> inverted = render(s).words;
  for (std::int32_t& w : inverted) w = -w;
  EXPECT_TRUE(inverted == reference);

  // A mono source feeds both sides, 3 dB down at the centre by the default
  // pan law (one word of slack for the single-precision gain).
  s.sox("-n -r 48000 -b 16 -c 1 m.wav synth 0.4 whitenoise gain -0.5");
  s.files("begin\nk m.wav +\nend\n", unityFaders(), "");
  const Rendered fanned = render(s);
  const std::vector<std::int32_t> mono = soxSamples(s, "m.wav", 24);
  ASSERT_EQ(fanned.frames(), mono.size());
  const double centre = std::pow(10.0, -3.0 / 20.0) * 134217728.0;
  std::size_t off = 0;
  for (std::size_t i = 0; i < mono.size(); ++i)
    off += fanned.left(i) != fanned.right(i) ||
           std::llabs(fanned.left(i) - faderWord(mono[i], centre)) > 1;
  EXPECT_EQ(off, 0u);
}

TEST(RenderIdentity, TwoSourcesSumLikeSoxMix) {
  Session s;
  // Different lengths, word sizes and levels low enough that nothing clips.
  s.sox("-n -r 44100 -b 24 -c 2 a.wav synth 0.5 whitenoise gain -8");
  s.sox("-n -r 44100 -b 16 -c 2 b.wav synth 0.3 sine 300 synth 0.3 pinknoise mix gain -8");
  s.sox("-m -v 1 a.wav -v 1 b.wav -D -b 24 sum.wav");
  s.files("begin\nx a.wav +\ny b.wav +\nend\n", unityFaders("v\t2\t0\n"), kPlainPrefs);
  const Rendered out = render(s);
  EXPECT_EQ(out.frames(), 22050u);
  EXPECT_TRUE(out.words == soxSamples(s, "sum.wav", 24));
}

// Sign-alternating sources with an amplitude envelope: every sample is a zero
// crossing, so a slice's first sample sets the gains as the full render does.
void rangeSession(Session& s) {
  std::vector<std::int32_t> left(36000), right(36000);
  for (std::size_t i = 0; i < left.size(); ++i) {
    const std::int32_t a = 2000000 + static_cast<std::int32_t>((i * 7919) % 3000000);
    left[i] = i % 2 ? -a : a;
    right[i] = i % 2 ? a / 2 : -a / 3;
  }
  writeSource(s, "a.wav", 48000, 24, 2, stereo(left, right));
  // A shaped ramp from 6000 to 18000 and an automatic one from 24000 on, so
  // slices start inside running ramps.
  s.files("begin\nk a.wav +\nend\n",
          "begin\nsong\nt\t0\t0\t0\nv\t1\t-3\nt\t0\t0\t125\nv\t1\t-20\nrmp\t0.25\nshape\t2\n"
          "t\t0\t0\t500\nv\t1\t0\nend\n",
          kPlainPrefs);
}

TEST(RenderRange, PreviewAndTrimsGiveSlicesOfTheFullRender) {
  Session s;
  rangeSession(s);
  const Rendered full = render(s);
  ASSERT_EQ(full.frames(), 36000u);

  struct Case {
    const char* prefs;
    const char* output;
    std::size_t start, length;
  };
  const Case cases[] = {
      {"pre\ton\nstart\t0\t0\t250\nlength\t0.25\n", "preview.wav", 12000, 12000},
      {"pre\ton\nstart\t0\t0\t375\nlength\t0.25\n", "preview.wav", 18000, 12000},
      {"pre\ton\nsfields\t1\nstart\t0.5\nlength\t0.25\n", "preview.wav", 24000, 12000},
      {"pre\toff\nhead\t0.125\ntail\t0.25\n", "song.wav", 6000, 18000},
      {"pre\toff\nxfields\t1\nxin\t0.25\nxout\t0.5\n", "song.wav", 12000, 12000},
      {"pre\toff\nxfields\t1\nxin\t0.25\nxout\t0.5\nhead\t0.125\n", "song.wav", 18000, 6000},
      {"pre\toff\nxin\t0\t0\t625\n", "song.wav", 30000, 6000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.prefs);
    s.write("prefs.txt", std::string("begin\ndither\t0\nverbo\t0\n") + c.prefs + "end\n");
    const Rendered part = render(s, c.output);
    EXPECT_EQ(part.frames(), c.length);
    EXPECT_TRUE(part.words == slice(full.words, c.start, c.length));
  }
}

TEST(RenderRange, SourcesPlacedByTimeStampsSumLikePaddedSoxMix) {
  Session s;
  // b starts 100 frames before the first block boundary and ends inside the
  // second block; c starts exactly on the boundary; d starts 100 frames
  // before the song; a runs to the song end.
  s.sox("-n -r 48000 -b 24 -c 2 a.wav synth 200000s whitenoise gain -10");
  s.sox("-n -r 48000 -b 16 -c 2 b.wav synth 40000s sine 1000 gain -10");
  s.sox("-n -r 48000 -b 24 -c 2 c.wav synth 1000s whitenoise gain -10");
  s.sox("b.wav b_padded.wav pad 130972s");
  s.sox("c.wav c_padded.wav pad 131072s");
  s.sox("-n -r 48000 -b 24 -c 2 d.wav synth 5000s pinknoise gain -10");
  s.sox("d.wav d_trimmed.wav trim 100s");
  s.sox("-m -v 1 a.wav -v 1 b_padded.wav -v 1 c_padded.wav -v 1 d_trimmed.wav -D -b 24 sum.wav");
  s.files("begin\nx a.wav +\ny b.wav +\nz c.wav +\nw d.wav +\nend\n",
          "begin\nsong\ntstamp\t2\t0\t2\t0\nsstamp\t2\t30000\nsstamp\t2\t4972\n"
          "sstamp\t3\t131072\nsstamp\t4\t-100\nt\t0\t0\t0\nv\t1\t0\nv\t2\t0\nv\t3\t0\nv\t4\t0\n"
          "end\n",
          kPlainPrefs);
  const Rendered out = render(s);
  ASSERT_EQ(out.frames(), 200000u);
  const std::vector<std::int32_t> expected = soxSamples(s, "sum.wav", 24);
  const auto [mine, theirs] =
      std::mismatch(out.words.begin(), out.words.end(), expected.begin(), expected.end());
  EXPECT_TRUE(mine == out.words.end() && theirs == expected.end())
      << "first differing frame " << (mine - out.words.begin()) / 2;
}

TEST(RenderRange, RendersOfOneBlockAndOneBlockPlusOneFrame) {
  Session s;
  // At 32768 Hz four seconds are exactly one block.
  std::vector<std::int32_t> left(131073), right(131073);
  for (std::size_t i = 0; i < left.size(); ++i) {
    left[i] = static_cast<std::int32_t>((i * 2654435761u) % 8000000) - 4000000;
    right[i] = -static_cast<std::int32_t>(i % 5000);
  }
  left.back() = 1234567;
  right.back() = -7654321;
  writeSource(s, "a.wav", 32768, 24, 2, stereo(left, right));
  s.files("begin\nk a.wav +\nend\n", unityFaders(), "begin\npre\toff\ndither\t0\nend\n");
  RunResult r = s.run();
  ASSERT_EQ(r.status, 0) << r.out;
  const Rendered two = readRendered(s, "song.wav");
  ASSERT_EQ(two.frames(), 131073u);
  EXPECT_TRUE(two.words == stereo(left, right));
  EXPECT_EQ(two.left(131072), 1234567) << "the one-frame second block";
  EXPECT_EQ(two.right(131072), -7654321);
  // Only the second block starts after three quarters of the range.
  EXPECT_EQ(r.out.find("1/4 done"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("1/2 done"), std::string::npos);
  EXPECT_NE(r.out.find("Mixing...\n3/4 done\n"), std::string::npos);

  s.write("prefs.txt", "begin\npre\ton\nlength\t4\ndither\t0\nend\n");
  r = s.run();
  ASSERT_EQ(r.status, 0) << r.out;
  const Rendered one = readRendered(s, "preview.wav");
  ASSERT_EQ(one.frames(), 131072u);
  EXPECT_TRUE(one.words == slice(two.words, 0, 131072));
  EXPECT_EQ(r.out.find(" done"), std::string::npos) << "a single block prints no progress";
}

}  // namespace
}  // namespace sorvan::e2e
