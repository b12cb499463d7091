// Renders of the real binary compared sample by sample with their sources,
// with sox and with the closed forms of fader automation: identity at 0 dB,
// plain sums, polarity, mono fan-out, the render range, where level changes
// land, ramp shapes, DC, VCAs, unreachable entries and submix and master
// faders in bus scale.
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

// Frames `from` to `from + frames` of interleaved stereo words.
std::vector<std::int32_t> slice(const std::vector<std::int32_t>& words, std::size_t from,
                                std::size_t frames) {
  return {words.begin() + static_cast<std::ptrdiff_t>(2 * from),
          words.begin() + static_cast<std::ptrdiff_t>(2 * (from + frames))};
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

TEST(RenderRange, PreviewAndTrimsGiveSlicesOfTheFullRender) {
  Session s;
  // Sign-alternating sources with an amplitude envelope: every sample is a
  // zero crossing, so a slice's first sample sets the gains as the full
  // render does.
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
  // At 32768 Hz four seconds are exactly one block; the second block holds
  // one frame.
  const std::vector<std::int32_t> words = spread(2 * 131073, 8000000, 3);
  writeSource(s, "a.wav", 32768, 24, 2, words);
  s.files("begin\nk a.wav +\nend\n", unityFaders(), "begin\npre\toff\ndither\t0\nend\n");
  RunResult r = s.run();
  ASSERT_EQ(r.status, 0) << r.out;
  const Rendered two = readRendered(s, "song.wav");
  EXPECT_TRUE(two.words == words);
  // Only the second block starts after three quarters of the range.
  EXPECT_TRUE(contains(r.out, "Mixing...\n3/4 done\n") && !contains(r.out, "1/2 done")) << r.out;

  s.write("prefs.txt", "begin\npre\ton\nlength\t4\ndither\t0\nend\n");
  r = s.run();
  ASSERT_EQ(r.status, 0) << r.out;
  const Rendered one = readRendered(s, "preview.wav");
  ASSERT_EQ(one.frames(), 131072u);
  EXPECT_TRUE(one.words == slice(two.words, 0, 131072));
  EXPECT_EQ(r.out.find(" done"), std::string::npos) << "a single block prints no progress";
}

constexpr double kUnity = 134217728.0;

// One stereo source with `left` and `right` on channel 1.
void sourceSession(const Session& s, const std::vector<std::int32_t>& left,
                   const std::vector<std::int32_t>& right) {
  writeSource(s, "a.wav", 48000, 24, 2, stereo(left, right));
  s.files("begin\nk a.wav +\nend\n", "", kPlainPrefs);
}

std::size_t firstCrossingFrom(const std::vector<std::int32_t>& x, std::size_t from) {
  for (std::size_t i = from; i < x.size(); ++i)
    if ((x[i] < 0) != (x[i - 1] < 0)) return i;
  return x.size();
}

TEST(PlaybackRender, LevelChangeWaitsForEachSidesNextZeroCrossing) {
  Session s;
  std::vector<std::int32_t> left(12000), right(12000);
  for (std::size_t i = 0; i < left.size(); ++i) {
    const double phase = 2.0 * M_PI * 50.0 * static_cast<double>(i) / 48000.0;
    left[i] = static_cast<std::int32_t>(std::lround(3000000.0 * std::sin(phase + 0.3)));
    right[i] = static_cast<std::int32_t>(std::lround(3000000.0 * std::sin(phase + 1.9)));
  }
  sourceSession(s, left, right);
  // A 6 dB step at sample 6240; a huge move rate leaves it no ramp.
  s.files("", unityFaders("t\t0\t0\t130\nv\t1\t-6\n"),
          "begin\npre\toff\ndither\t0\nverbo\t0\ndbps\t1000000\nend\n");
  const Rendered out = render(s);
  ASSERT_EQ(out.frames(), 12000u);
  const std::size_t crossL = firstCrossingFrom(left, 6240), crossR = firstCrossingFrom(right, 6240);
  ASSERT_NE(crossL, crossR);
  const double level = static_cast<double>(levelOf(-6));
  for (std::size_t i = 0; i < 12000; ++i) {
    ASSERT_EQ(out.left(i), i < crossL ? left[i] : faderWord(left[i], level)) << "left " << i;
    ASSERT_EQ(out.right(i), i < crossR ? right[i] : faderWord(right[i], level)) << "right " << i;
  }
}

// Every sample alternates in sign, so every sample is a crossing and the
// output follows the ramp's closed form sample by sample.
TEST(PlaybackRender, RampsFollowTheirShapeInDecibels) {
  Session s;
  const std::vector<std::int32_t> x = alternating(24000, 4000000);
  sourceSession(s, x, x);
  const double startDb = -20.0 * std::log10(kUnity / static_cast<double>(levelOf(-40)));
  const double ramp = 12000;  // 0.25 s from sample 6000
  for (const int shape : {1, 2}) {
    s.write("faders.txt",
            "begin\nsong\nt\t0\t0\t0\nv\t1\t-40\nt\t0\t0\t125\nv\t1\t0\nrmp\t0.25\n"
            "shape\t" +
                std::to_string(shape) + "\nend\n");
    const Rendered out = render(s);
    ASSERT_EQ(out.frames(), 24000u);
    for (std::size_t i = 0; i < 24000; ++i) {
      double level = static_cast<double>(levelOf(-40));
      if (i >= 6000) {
        const double step = static_cast<double>(i - 6000 + 1);
        const double dB = startDb * (1.0 - std::pow(step / ramp, shape));
        level = step >= ramp ? kUnity : std::pow(10.0, dB / 20.0) * kUnity;
      }
      // One word of slack for the power function; outside the ramp exact.
      const std::int64_t slack = (i >= 6000 && i < 17999) ? 1 : 0;
      ASSERT_LE(std::llabs(out.left(i) - faderWord(x[i], level)), slack) << shape << " " << i;
      ASSERT_EQ(out.right(i), out.left(i)) << shape << " " << i;
    }
    // Halfway up, the linear ramp stands near -20 dB, the squared one near -30 dB.
    EXPECT_NEAR(20.0 * std::log10(out.left(12000) / 4000000.0), shape == 1 ? -20.0 : -30.0, 0.01);
  }
}

TEST(PlaybackRender, DcKeepsItsFirstGainWhileAVcaActsAtOnce) {
  Session s;
  sourceSession(s, std::vector<std::int32_t>(24000, 3000000),
                std::vector<std::int32_t>(24000, -2000000));
  s.write("faders.txt",
          "begin\nsong\nVCA:\t1\t1\nt\t0\t0\t0\nv\t1\t-6\nvca\t1\t0\nt\t0\t0\t125\nv\t1\t0\n"
          "t\t0\t0\t250\nvca\t1\t-6\nend\n");
  const Rendered out = render(s);
  ASSERT_EQ(out.frames(), 24000u);
  const double level = static_cast<double>(levelOf(-6));
  const double vca = level * 7.450580596923828e-09;
  const std::int64_t beforeL = faderWord(3000000, level), beforeR = faderWord(-2000000, level);
  const auto afterL = static_cast<std::int64_t>(channelGain(level) * vca * 3000000.0) / 256;
  const auto afterR = static_cast<std::int64_t>(-2000000.0 * vca * channelGain(level)) / 256;
  for (std::size_t i = 0; i < 24000; ++i) {
    // The channel's entry at 6000 is never heard: DC has no crossing.
    ASSERT_EQ(out.left(i), i < 12000 ? beforeL : afterL) << "frame " << i;
    ASSERT_EQ(out.right(i), i < 12000 ? beforeR : afterR) << "frame " << i;
  }
  EXPECT_NEAR(static_cast<double>(afterL), static_cast<double>(beforeL) * 0.5011872336272722, 1.0);
  EXPECT_NEAR(static_cast<double>(afterR), static_cast<double>(beforeR) * 0.5011872336272722, 1.0);
}

TEST(PlaybackRender, EntriesAtOrBeforeAReachedTimeAreNeverReached) {
  Session s;
  const std::vector<std::int32_t> x = alternating(24000, 3000000);
  sourceSession(s, x, x);
  const double level6 = static_cast<double>(levelOf(-6));
  // Two entries at 6000: only the first is reached, and the entry at 12000
  // behind them is never reached either.
  s.write("faders.txt",
          unityFaders("t\t0\t0\t125\nv\t1\t-6\nv\t1\t-12\nt\t0\t0\t250\nv\t1\t-20\n"));
  Rendered out = render(s);
  ASSERT_EQ(out.frames(), 24000u);
  for (std::size_t i = 0; i < 24000; ++i)
    ASSERT_EQ(out.left(i), i < 6000 ? x[i] : faderWord(x[i], level6)) << "frame " << i;
  // An entry earlier than the one before it: the first entry's level holds
  // from the start of the song to its end.
  s.write("faders.txt", "begin\nsong\nt\t0\t0\t250\nv\t1\t-6\nt\t0\t0\t125\nv\t1\t-12\nend\n");
  out = render(s);
  ASSERT_EQ(out.frames(), 24000u);
  for (std::size_t i = 0; i < 24000; ++i)
    ASSERT_EQ(out.right(i), faderWord(x[i], level6)) << "frame " << i;
}

TEST(PlaybackRender, SubmixAndMasterFadersWorkInBusScale) {
  Session s;
  const std::vector<std::int32_t> x = alternating(4800, 3000001);
  sourceSession(s, x, x);
  const auto busGain = [](double dB) {
    return static_cast<double>(static_cast<float>(levelOf(dB))) / kUnity;
  };
  // Channel field 0 stores a master entry that is never played back; "M" is
  // the master.
  for (const char* master : {"0", "M"}) {
    s.write("faders.txt",
            std::string("begin\nsong\nsub\t1\t1\nt\t0\t0\t0\nv\t1\t0\nv\tG\t1\t-6\nv\t") + master +
                "\t-20\nend\n");
    const Rendered out = render(s);
    ASSERT_EQ(out.frames(), 4800u);
    const double masterGain = std::string(master) == "M" ? busGain(-20) : 1.0;
    for (std::size_t i = 0; i < 4800; ++i) {
      const auto bus = static_cast<std::int64_t>(256.0 * x[i] * busGain(-6));
      const auto word = static_cast<std::int64_t>(masterGain * static_cast<double>(bus)) / 256;
      ASSERT_EQ(out.left(i), word) << master << " frame " << i;
      ASSERT_EQ(out.right(i), word) << master << " frame " << i;
    }
  }
}

}  // namespace
}  // namespace sorvan::e2e
