// Renders of the real binary on files made by sox, where sox or a closed form
// is the oracle: identity at 0 dB, sums of tracks placed by time stamps, the
// render range, zero-crossing fader steps, where reverb reflections land,
// processor order and the statistics of a known signal.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>

#include "e2e/render_support.h"
#include "e2e/session.h"

namespace sorvan::e2e {
namespace {

TEST(RenderIdentity, UnityCentreChannelReproducesItsSourceExactly) {
  Session s;
  s.sox("-n -r 48000 -b 24 -c 2 a.wav synth 0.4 whitenoise gain -0.5");
  s.sox("-n -r 48000 -b 16 -c 2 b.wav synth 0.4 whitenoise gain -0.5");
  s.sox("a.wav -e floating-point -b 32 f.wav");
  s.write("faders.txt", unityFaders());
  const struct {
    const char *source, *decoded, *prefs;  // decoded: what sox decodes to the same words
    int bits;
  } cases[] = {{"a.wav", "a.wav", "", 24},
               {"b.wav", "b.wav", "outbits\t16\n", 16},
               {"b.wav", "b.wav", "", 24},
               {"f.wav", "a.wav", "", 24}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.source) + " at " + std::to_string(c.bits) + " bits");
    s.files(std::string("begin\nk ") + c.source + " +\nend\n", "",
            std::string("begin\npre\toff\ndither\t0\nverbo\t0\n") + c.prefs + "end\n");
    const Rendered out = render(s);
    EXPECT_EQ(std::tuple(out.bits, out.channels), std::tuple(c.bits, 2));
    EXPECT_TRUE(out.words == soxSamples(s, c.decoded, c.bits));
  }
  // Polarity -1 negates every word.
  s.files("begin\nk a.wav +\nend\n", unityFaders("pol\t1\t-1\n"), kPlainPrefs);
  std::vector<std::int32_t> inverted = render(s).words;
  for (std::int32_t& w : inverted) w = -w;
  EXPECT_TRUE(inverted == soxSamples(s, "a.wav", 24));
  // A mono source feeds both sides, 3 dB down at the centre by the default pan
  // law (one word of slack for the single-precision gain).
  s.sox("-n -r 48000 -b 16 -c 1 m.wav synth 0.4 whitenoise gain -0.5");
  s.files("begin\nk m.wav +\nend\n", unityFaders(), "");
  const Rendered fanned = render(s);
  const std::vector<std::int32_t> mono = soxSamples(s, "m.wav", 24);
  ASSERT_EQ(fanned.frames(), mono.size());
  const double gain = static_cast<float>(std::pow(10.0, -3.0 / 20.0) * 134217728.0) / 524288.0;
  for (std::size_t i = 0; i < mono.size(); ++i)
    ASSERT_LE(std::abs(fanned.left(i) - static_cast<std::int64_t>(gain * mono[i]) / 256) +
                  std::abs(fanned.right(i) - fanned.left(i)),
              1)
        << i;
}

// b starts 100 frames before the first block boundary and ends inside the
// second block; c starts exactly on the boundary; d starts 100 frames before
// the song; e starts at the most negative stamp and so plays nothing; a runs
// to the song end. The mix is sox's plain sum, to the bit.
TEST(RenderIdentity, TracksPlacedByTimeStampsSumLikeSoxMix) {
  Session s;
  s.sox("-n -r 48000 -b 24 -c 2 a.wav synth 200000s whitenoise gain -10");
  s.sox("-n -r 48000 -b 16 -c 2 b.wav synth 40000s sine 1000 gain -10");
  s.sox("-n -r 48000 -b 24 -c 2 c.wav synth 1000s whitenoise gain -10");
  s.sox("-n -r 48000 -b 24 -c 2 d.wav synth 5000s pinknoise gain -10");
  s.sox("b.wav b_padded.wav pad 130972s");
  s.sox("c.wav c_padded.wav pad 131072s");
  s.sox("d.wav d_trimmed.wav trim 100s");
  s.sox("-m -v 1 a.wav -v 1 b_padded.wav -v 1 c_padded.wav -v 1 d_trimmed.wav -D -b 24 sum.wav");
  s.files("begin\nx a.wav +\ny b.wav +\nz c.wav +\nw d.wav +\nv c.wav +\nend\n",
          unityFaders("tstamp\t2\t0\t2\t0\nsstamp\t2\t30000\nsstamp\t2\t4972\nsstamp\t3\t131072\n"
                      "sstamp\t4\t-100\ntstamp\t5\t0\t0\t-1e308\nv\t2\t0\nv\t3\t0\nv\t4\t0\n"
                      "v\t5\t0\n"),
          kPlainPrefs);
  const Rendered out = render(s);
  ASSERT_EQ(out.frames(), 200000u);
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
  const struct {
    const char *prefs, *output;
    std::size_t start, length;
  } cases[] = {
      {"pre\ton\nstart\t0\t0\t250\nlength\t0.25\n", "preview.wav", 12000, 12000},
      {"pre\ton\nstart\t0\t0\t375\nlength\t0.25\n", "preview.wav", 18000, 12000},
      {"pre\ton\nsfields\t1\nstart\t0.5\nlength\t0.25\n", "preview.wav", 24000, 12000},
      {"pre\toff\nhead\t0.125\ntail\t0.25\n", "song.wav", 6000, 18000},
      {"pre\toff\nxfields\t1\nxin\t0.25\nxout\t0.5\nhead\t0.125\n", "song.wav", 18000, 6000},
      {"pre\toff\nxin\t0\t0\t625\n", "song.wav", 30000, 6000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.prefs);
    s.write("prefs.txt", std::string("begin\ndither\t0\nverbo\t0\n") + c.prefs + "end\n");
    const Rendered part = render(s, c.output);
    EXPECT_EQ(part.frames(), c.length);
    EXPECT_TRUE(std::equal(part.words.begin(), part.words.end(), full.words.begin() + 2 * c.start,
                           full.words.begin() + 2 * (c.start + c.length)));
  }
}

// A 6 dB step at sample 6240 (a huge move rate leaves it no ramp) reaches
// each side at that side's next zero crossing.
TEST(PlaybackRender, LevelChangeWaitsForEachSidesNextZeroCrossing) {
  Session s;
  std::vector<std::int32_t> left(12000), right(12000);
  for (std::size_t i = 0; i < left.size(); ++i) {
    const double phase = 2.0 * M_PI * 50.0 * static_cast<double>(i) / 48000.0;
    left[i] = static_cast<std::int32_t>(std::lround(3000000.0 * std::sin(phase + 0.3)));
    right[i] = static_cast<std::int32_t>(std::lround(3000000.0 * std::sin(phase + 1.9)));
  }
  writeSource(s, "a.wav", 48000, 24, 2, stereo(left, right));
  s.files("begin\nk a.wav +\nend\n", unityFaders("t\t0\t0\t130\nv\t1\t-6\n"),
          "begin\npre\toff\ndither\t0\nverbo\t0\ndbps\t1000000\nend\n");
  const Rendered out = render(s);
  ASSERT_EQ(out.frames(), 12000u);
  const auto crossing = [](const std::vector<std::int32_t>& x) {
    std::size_t i = 6240;
    while ((x[i] < 0) == (x[i - 1] < 0)) ++i;
    return i;
  };
  const std::size_t crossL = crossing(left), crossR = crossing(right);
  ASSERT_NE(crossL, crossR);
  // The -6 dB level meets the pan gain in single precision; 2^19 takes unity
  // up by 256 into bus scale; bus value and word are truncated toward zero.
  const double gain = static_cast<float>(std::trunc(std::pow(10.0, -0.3) * 134217728.0)) / 524288.0;
  const auto word = [&](std::int32_t x) { return static_cast<std::int64_t>(gain * x) / 256; };
  for (std::size_t i = 0; i < 12000; ++i) {
    ASSERT_EQ(out.left(i), i < crossL ? left[i] : word(left[i])) << "left " << i;
    ASSERT_EQ(out.right(i), i < crossR ? right[i] : word(right[i])) << "right " << i;
  }
}

// Sends to both reverbs add into one return. Until the first bounce of the
// recursive network comes back, the output holds the dry impulse, the
// recursive reverb's direct paths from each surface (a quarter, half that on
// the far side for front, rear, floor and ceiling), and the taps. The impulse
// sits before the end of the first block, so later reflections reach the
// second block through the spill lines.
TEST(ReverbRender, ImpulseReflectionsLandAtTheirOffsetsAcrossTheBlockBoundary) {
  constexpr std::int32_t kA = 800000;  // fed to each reverb as 256 kA in bus scale
  const std::size_t F = 131072 - 3000, frames = 131072 + 3000;
  Session s;
  std::vector<std::int32_t> x(frames, 0);
  x[F] = kA;
  writeSource(s, "imp.wav", 48000, 24, 2, stereo(x, x));
  s.files("begin\nimp imp.wav +\nend\n",
          unityFaders("rev\t1\t0\ntrev\t1\t0\nrtn\t0\t75\ntrtn\t0\t75\t1\n"), kPlainPrefs);
  const Rendered out = render(s);
  ASSERT_EQ(out.frames(), frames);
  const std::map<std::size_t, std::pair<std::int32_t, std::int32_t>> expected = {
      {0, {kA, kA}},             // dry
      {806, {kA / 8, kA / 4}},   // floor, fed from the left send
      {1138, {kA / 4, 0}},       // left wall
      {1178, {kA / 4, kA / 8}},  // rear wall, fed from the right send
      {1261, {kA / 4, kA / 8}},  // ceiling, fed from the right send
      {1509, {0, kA / 4}},       // right wall
      {1612, {kA / 2, kA / 2}},  // tap reverb: floor reflection
      {2007, {kA / 8, kA / 4}},  // front wall, fed from the left send
      // First returns of the network: a sixth of 256 kA (truncated) passed from
      // the left wall (and from the rear wall) to the floor, heard from there.
      {2200, {16666, 33333}},
      {2233, {16666, 33333}},
      {2276, {kA / 2, 0}},  // tap reverb: left wall reflection
  };
  for (std::size_t i = 0; i < F + 2277; ++i) {
    const auto it = i >= F ? expected.find(i - F) : expected.end();
    const auto want = it == expected.end() ? std::pair{0, 0} : it->second;
    ASSERT_EQ(out.left(i), want.first) << "frame " << i << " (impulse + " << i - F << ")";
    ASSERT_EQ(out.right(i), want.second) << "frame " << i << " (impulse + " << i - F << ")";
  }
  EXPECT_GE(out.right(F + 3018), kA / 2) << "right wall reflection, through the spill";
}

TEST(StripRender, ProcessorOrderDecidesWhetherTheLimiterSeesTheBoost) {
  Session s;
  s.sox("-n -r 48000 -b 24 -c 2 a.wav synth 0.5 sine 1000 gain -18");  // 0.126 of full scale
  // The mix name and the "ofs" entry start with "o" but must not swallow the
  // order entry; the order entry must not be read as a limiter entry either.
  auto peak = [&](const std::string& order) {
    s.files("begin\nx a.wav +\nend\n",
            "begin\noverdub\nt\t0\t0\t0\nv\t1\t0\nofs\t0\nband1\t1\t1000\t12\t1\nlim\t1\t-24\n" +
                order + "end\n",
            kPlainPrefs);
    const Rendered out = render(s, "overdub.wav");
    const auto [low, high] = std::minmax_element(out.words.begin() + 9600, out.words.end());
    return std::max(-*low, *high) / 8388608.0;
  };
  // Boost to 0.5 of full scale, then limit: about 0.111. Limit 0.126 to about
  // 0.065, then boost the flattened tone: well above that. A position outside
  // the strip never runs: 0.5.
  const double limitAfterBoost = peak(""), limitBeforeBoost = peak("order\tlim\t1\t1\n");
  const double neverLimit = peak("order\tlim\t1\t12\n");
  EXPECT_NEAR(limitAfterBoost, 0.111, 0.005);
  EXPECT_GT(limitBeforeBoost, 2.0 * limitAfterBoost);
  EXPECT_LT(limitBeforeBoost, 0.7 * neverLimit);
  EXPECT_NEAR(neverLimit, 0.5, 0.01);
}

TEST(ReportRender, StatisticsOfAKnownSignal) {
  Session s;
  // Half-waves of 1000 frames at 8000 Hz: longer than the 800-frame RMS
  // window, so every crossing takes one RMS value equal to the amplitude.
  std::vector<std::int32_t> left(16000), right(16000);
  for (std::size_t i = 0; i < left.size(); ++i) {
    left[i] = (i / 1000) % 2 ? -(1 << 20) : 1 << 20;
    right[i] = left[i] / 2;
  }
  writeSource(s, "kick.wav", 8000, 24, 2, stereo(left, right));
  writeSource(s, "snare.x.wav", 8000, 24, 2, std::vector<std::int32_t>(32000, 0));
  s.files("begin\nk kick.wav +\nm missing.wav +\ns snare.x.wav +\nend\n",
          unityFaders("v\t2\t0\nv\t3\t0\n"), "begin\npre\toff\ndither\t0\nverbo\t1\nend\n");
  const RunResult r = s.run();
  ASSERT_EQ(r.status, 0) << r.out;
  // The unusable channel leaves an empty line; no reverb leaves another.
  const std::string expected =
      "Peaks (dB):\n\n"
      "Ch 1\tL  -18.06\tR  -24.08\tkick\n"
      "\n"
      "Ch 3\tL  -144.00\tR  -144.00\tsnare\n"
      "\n"
      "\nRMS\tL  -18.06\tR  -24.08\t(average)\n"
      "\nPeak Out L = -18.06 dB at 0 min : 0.000 sec\n"
      "Peak Out R = -24.08 dB at 0 min : 0.000 sec\n"
      "\n";
  const std::string stats = s.read("stats_song.txt");
  EXPECT_EQ(stats.rfind(expected, 0), 0u) << stats;
  EXPECT_TRUE(contains(stats, "dBTP\nProcessing time = ")) << stats;
  EXPECT_TRUE(contains(r.out, "\n\nDone!  Created the file: song.wav\n\n" + expected)) << r.out;
}

}  // namespace
}  // namespace sorvan::e2e
