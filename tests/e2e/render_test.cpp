// Renders of the real binary compared sample by sample with their sources and
// with sox: identity at 0 dB, plain sums, polarity, mono fan-out, and the render range.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "e2e/render_support.h"
#include "e2e/session.h"

namespace sorvan::e2e {
namespace {

constexpr const char* kQuietPrefs = "begin\npre\toff\ndither\t0\nverbo\t0\nend\n";

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
  s.write("faders.txt", "begin\nsong\nt\t0\t0\t0\nv\t1\t0\nend\n");
  const std::string prefs16 = "begin\npre\toff\ndither\t0\nverbo\t0\noutbits\t16\nend\n";
  struct Case {
    const char* source;
    const char* prefs;
    int bits;  // output word size, also the size sox decodes the source to
  };
  const Case cases[] = {{"a.wav", kQuietPrefs, 24},
                        {"b.wav", prefs16.c_str(), 16},
                        {"b.wav", kQuietPrefs, 24},
                        {"f.wav", kQuietPrefs, 24}};
  const std::vector<std::int32_t> reference24 = soxSamples(s, "a.wav", 24);
  for (const Case& c : cases) {
    s.write("tracks.txt", std::string("begin\nk ") + c.source + " +\nend\n");
    s.write("prefs.txt", c.prefs);
    const RunResult r = s.run();
    ASSERT_EQ(r.status, 0) << c.source << "\n" << r.out;
    const Rendered out = readRendered(s, "song.wav");
    EXPECT_EQ(out.bits, c.bits) << c.source;
    EXPECT_EQ(out.channels, 2);
    const std::string decoded = std::string(c.source) == "f.wav" ? "a.wav" : c.source;
    const std::vector<std::int32_t> expected =
        decoded == "a.wav" && c.bits == 24 ? reference24 : soxSamples(s, decoded, c.bits);
    ASSERT_EQ(out.words.size(), expected.size()) << c.source << " at " << c.bits << " bits";
    EXPECT_TRUE(out.words == expected) << c.source << " at " << c.bits << " bits";
  }

  // Polarity -1 negates every word.
  s.write("tracks.txt", "begin\nk a.wav +\nend\n");
  s.write("prefs.txt", kQuietPrefs);
  s.write("faders.txt", "begin\nsong\nt\t0\t0\t0\nv\t1\t0\npol\t1\t-1\nend\n");
  ASSERT_EQ(s.run().status, 0);
  const Rendered inverted = readRendered(s, "song.wav");
  ASSERT_EQ(inverted.words.size(), reference24.size());
  std::size_t differing = 0;
  for (std::size_t i = 0; i < reference24.size(); ++i)
    differing += inverted.words[i] != -reference24[i];
  EXPECT_EQ(differing, 0u);

  // A mono source feeds both sides, 3 dB down at the centre by the default
  // pan law (one word of slack for the single-precision gain).
  s.sox("-n -r 48000 -b 16 -c 1 m.wav synth 0.4 whitenoise gain -0.5");
  s.write("tracks.txt", "begin\nk m.wav +\nend\n");
  s.write("faders.txt", "begin\nsong\nt\t0\t0\t0\nv\t1\t0\nend\n");
  ASSERT_EQ(s.run().status, 0);
  const Rendered fanned = readRendered(s, "song.wav");
  const std::vector<std::int32_t> mono = soxSamples(s, "m.wav", 24);
  ASSERT_EQ(fanned.frames(), mono.size());
  const double centre = std::pow(10.0, -3.0 / 20.0) * 134217728.0;
  std::size_t off = 0;
  for (std::size_t i = 0; i < mono.size(); ++i) {
    const std::int64_t want = faderWord(mono[i], centre);
    off += fanned.left(i) != fanned.right(i) || std::llabs(fanned.left(i) - want) > 1;
  }
  EXPECT_EQ(off, 0u);
}

TEST(RenderIdentity, TwoSourcesSumLikeSoxMix) {
  Session s;
  // Different lengths, word sizes and levels low enough that nothing clips.
  s.sox("-n -r 44100 -b 24 -c 2 a.wav synth 0.5 whitenoise gain -8");
  s.sox("-n -r 44100 -b 16 -c 2 b.wav synth 0.3 sine 300 synth 0.3 pinknoise mix gain -8");
  s.sox("-m -v 1 a.wav -v 1 b.wav -D -b 24 sum.wav");
  s.write("tracks.txt", "begin\nx a.wav +\ny b.wav +\nend\n");
  s.write("faders.txt", "begin\nsong\nt\t0\t0\t0\nv\t1\t0\nv\t2\t0\nend\n");
  s.write("prefs.txt", kQuietPrefs);
  const RunResult r = s.run();
  ASSERT_EQ(r.status, 0) << r.out;
  const Rendered out = readRendered(s, "song.wav");
  const std::vector<std::int32_t> expected = soxSamples(s, "sum.wav", 24);
  EXPECT_EQ(out.frames(), 22050u);
  ASSERT_EQ(out.words.size(), expected.size());
  EXPECT_TRUE(out.words == expected);
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
  s.write("tracks.txt", "begin\nk a.wav +\nend\n");
  // A shaped ramp from 6000 to 18000 and an automatic one from 24000 on, so
  // slices start inside running ramps.
  s.write("faders.txt",
          "begin\nsong\nt\t0\t0\t0\nv\t1\t-3\nt\t0\t0\t125\nv\t1\t-20\nrmp\t0.25\nshape\t2\n"
          "t\t0\t0\t500\nv\t1\t0\nend\n");
}

TEST(RenderRange, PreviewAndTrimsGiveSlicesOfTheFullRender) {
  Session s;
  rangeSession(s);
  s.write("prefs.txt", kQuietPrefs);
  ASSERT_EQ(s.run().status, 0);
  const Rendered full = readRendered(s, "song.wav");
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
    s.write("prefs.txt", std::string("begin\ndither\t0\nverbo\t0\n") + c.prefs + "end\n");
    const RunResult r = s.run();
    ASSERT_EQ(r.status, 0) << c.prefs << r.out;
    const Rendered part = readRendered(s, c.output);
    EXPECT_EQ(part.frames(), c.length) << c.prefs;
    EXPECT_TRUE(part.words == slice(full.words, c.start, c.length)) << c.prefs;
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
  s.write("tracks.txt", "begin\nx a.wav +\ny b.wav +\nz c.wav +\nw d.wav +\nend\n");
  s.write("faders.txt",
          "begin\nsong\ntstamp\t2\t0\t2\t0\nsstamp\t2\t30000\nsstamp\t2\t4972\n"
          "sstamp\t3\t131072\nsstamp\t4\t-100\nt\t0\t0\t0\nv\t1\t0\nv\t2\t0\nv\t3\t0\nv\t4\t0\n"
          "end\n");
  s.write("prefs.txt", kQuietPrefs);
  const RunResult r = s.run();
  ASSERT_EQ(r.status, 0) << r.out;
  const Rendered out = readRendered(s, "song.wav");
  const std::vector<std::int32_t> expected = soxSamples(s, "sum.wav", 24);
  ASSERT_EQ(out.frames(), 200000u);
  ASSERT_EQ(out.words.size(), expected.size());
  std::size_t firstDifference = out.words.size();
  for (std::size_t i = 0; i < out.words.size() && firstDifference == out.words.size(); ++i)
    if (out.words[i] != expected[i]) firstDifference = i;
  EXPECT_EQ(firstDifference, out.words.size()) << "first differing frame " << firstDifference / 2;
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
  s.write("tracks.txt", "begin\nk a.wav +\nend\n");
  s.write("faders.txt", "begin\nsong\nt\t0\t0\t0\nv\t1\t0\nend\n");

  s.write("prefs.txt", "begin\npre\toff\ndither\t0\nend\n");
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
