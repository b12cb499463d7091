// Fader and VCA automation heard through the real binary: where level changes
// land, the shape of ramps in decibels, DC that never crosses zero, VCAs that
// act sample by sample, and entries that are never reached.
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
constexpr double kUnity = 134217728.0;

int signOf(std::int32_t x) { return x < 0 ? -1 : 1; }

std::size_t firstCrossingFrom(const std::vector<std::int32_t>& x, std::size_t from) {
  for (std::size_t i = from; i < x.size(); ++i)
    if (signOf(x[i]) != signOf(x[i - 1])) return i;
  return x.size();
}

double levelDb(double level) { return level > 0 ? -20.0 * std::log10(kUnity / level) : -144.0; }

TEST(PlaybackRender, LevelChangeWaitsForEachSidesNextZeroCrossing) {
  Session s;
  std::vector<std::int32_t> left(12000), right(12000);
  for (std::size_t i = 0; i < left.size(); ++i) {
    const double phase = 2.0 * M_PI * 50.0 * static_cast<double>(i) / 48000.0;
    left[i] = static_cast<std::int32_t>(std::lround(3000000.0 * std::sin(phase + 0.3)));
    right[i] = static_cast<std::int32_t>(std::lround(3000000.0 * std::sin(phase + 1.9)));
  }
  writeSource(s, "a.wav", 48000, 24, 2, stereo(left, right));
  s.write("tracks.txt", "begin\nk a.wav +\nend\n");
  // A 6 dB step at sample 6240; a huge move rate leaves it no ramp.
  s.write("faders.txt", "begin\nsong\nt\t0\t0\t0\nv\t1\t0\nt\t0\t0\t130\nv\t1\t-6\nend\n");
  s.write("prefs.txt", "begin\npre\toff\ndither\t0\nverbo\t0\ndbps\t1000000\nend\n");
  const RunResult r = s.run();
  ASSERT_EQ(r.status, 0) << r.out;
  const Rendered out = readRendered(s, "song.wav");
  ASSERT_EQ(out.frames(), 12000u);

  const std::size_t crossL = firstCrossingFrom(left, 6240);
  const std::size_t crossR = firstCrossingFrom(right, 6240);
  ASSERT_GT(crossL, 6240u);
  ASSERT_GT(crossR, 6240u);
  ASSERT_NE(crossL, crossR);
  const double level = static_cast<double>(levelOf(-6));
  for (std::size_t i = 0; i < 12000; ++i) {
    const std::int64_t wantL = i < crossL ? left[i] : faderWord(left[i], level);
    const std::int64_t wantR = i < crossR ? right[i] : faderWord(right[i], level);
    ASSERT_EQ(out.left(i), wantL) << "left frame " << i << ", crossing at " << crossL;
    ASSERT_EQ(out.right(i), wantR) << "right frame " << i << ", crossing at " << crossR;
  }
}

// Every sample alternates in sign, so every sample is a crossing and the
// output follows the ramp's closed form sample by sample.
TEST(PlaybackRender, RampsFollowTheirShapeInDecibels) {
  Session s;
  const std::vector<std::int32_t> x = alternating(24000, 4000000);
  writeSource(s, "a.wav", 48000, 24, 2, stereo(x, x));
  s.write("tracks.txt", "begin\nk a.wav +\nend\n");
  s.write("prefs.txt", kQuietPrefs);

  const double start = static_cast<double>(levelOf(-40));
  const double startDb = levelDb(start);
  const double ramp = 12000;  // 0.25 s from sample 6000
  std::vector<std::int32_t> midRamp;
  for (const float shape : {1.0f, 2.0f}) {
    s.write("faders.txt",
            "begin\nsong\nt\t0\t0\t0\nv\t1\t-40\nt\t0\t0\t125\nv\t1\t0\nrmp\t0.25\n"
            "shape\t" +
                std::to_string(shape) + "\nend\n");
    const RunResult r = s.run();
    ASSERT_EQ(r.status, 0) << r.out;
    const Rendered out = readRendered(s, "song.wav");
    ASSERT_EQ(out.frames(), 24000u);
    for (std::size_t i = 0; i < 24000; ++i) {
      double level = start;
      if (i >= 6000) {
        const double step = static_cast<double>(i - 6000 + 1);
        const double dB = shape == 1.0f ? startDb + step * (0.0 - startDb) / ramp
                                        : startDb + std::pow(step / ramp, 2.0) * (0.0 - startDb);
        level = step >= ramp ? kUnity : std::pow(10.0, dB / 20.0) * kUnity;
      }
      const std::int64_t want = faderWord(x[i], level);
      // One word of slack for the power function; outside the ramp exact.
      const std::int64_t slack = (i >= 6000 && i < 17999) ? 1 : 0;
      ASSERT_LE(std::llabs(out.left(i) - want), slack) << "shape " << shape << " frame " << i;
      ASSERT_LE(std::llabs(out.right(i) - want), slack) << "shape " << shape << " frame " << i;
    }
    midRamp.push_back(out.left(12000));
    EXPECT_EQ(out.left(23999), x[23999]) << "unity once the ramp is over";
  }
  // Halfway up, the linear ramp stands near -20 dB, the squared one near -30 dB.
  EXPECT_NEAR(20.0 * std::log10(midRamp[0] / 4000000.0), -20.0, 0.01);
  EXPECT_NEAR(20.0 * std::log10(midRamp[1] / 4000000.0), -30.0, 0.01);
}

TEST(PlaybackRender, DcKeepsItsFirstGainWhileAVcaActsAtOnce) {
  Session s;
  const std::vector<std::int32_t> left(24000, 3000000), right(24000, -2000000);
  writeSource(s, "a.wav", 48000, 24, 2, stereo(left, right));
  s.write("tracks.txt", "begin\nk a.wav +\nend\n");
  s.write("prefs.txt", kQuietPrefs);
  s.write("faders.txt",
          "begin\nsong\nVCA:\t1\t1\nt\t0\t0\t0\nv\t1\t-6\nvca\t1\t0\nt\t0\t0\t125\nv\t1\t0\n"
          "t\t0\t0\t250\nvca\t1\t-6\nend\n");
  const RunResult r = s.run();
  ASSERT_EQ(r.status, 0) << r.out;
  const Rendered out = readRendered(s, "song.wav");
  ASSERT_EQ(out.frames(), 24000u);

  const double gain = channelGain(static_cast<double>(levelOf(-6)));
  const double vca = static_cast<double>(levelOf(-6)) * 7.450580596923828e-09;
  const std::int64_t beforeL = faderWord(3000000, static_cast<double>(levelOf(-6)));
  const std::int64_t beforeR = faderWord(-2000000, static_cast<double>(levelOf(-6)));
  const auto afterL = static_cast<std::int64_t>(gain * vca * 3000000.0) / 256;
  const auto afterR = static_cast<std::int64_t>(-2000000.0 * vca * gain) / 256;
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
  writeSource(s, "a.wav", 48000, 24, 2, stereo(x, x));
  s.write("tracks.txt", "begin\nk a.wav +\nend\n");
  s.write("prefs.txt", kQuietPrefs);
  const double level6 = static_cast<double>(levelOf(-6));

  // Two entries at 6000: only the first is reached, and the entry at 12000
  // behind them is never reached either.
  s.write("faders.txt",
          "begin\nsong\nt\t0\t0\t0\nv\t1\t0\nt\t0\t0\t125\nv\t1\t-6\nv\t1\t-12\n"
          "t\t0\t0\t250\nv\t1\t-20\nend\n");
  ASSERT_EQ(s.run().status, 0);
  Rendered out = readRendered(s, "song.wav");
  ASSERT_EQ(out.frames(), 24000u);
  for (std::size_t i = 0; i < 24000; ++i)
    ASSERT_EQ(out.left(i), i < 6000 ? x[i] : faderWord(x[i], level6)) << "frame " << i;

  // An entry earlier than the one before it: the first entry's level holds
  // from the start of the song to its end.
  s.write("faders.txt", "begin\nsong\nt\t0\t0\t250\nv\t1\t-6\nt\t0\t0\t125\nv\t1\t-12\nend\n");
  ASSERT_EQ(s.run().status, 0);
  out = readRendered(s, "song.wav");
  ASSERT_EQ(out.frames(), 24000u);
  for (std::size_t i = 0; i < 24000; ++i)
    ASSERT_EQ(out.right(i), faderWord(x[i], level6)) << "frame " << i;
}

TEST(PlaybackRender, SubmixAndMasterFadersWorkInBusScale) {
  Session s;
  const std::vector<std::int32_t> x = alternating(4800, 3000001);
  writeSource(s, "a.wav", 48000, 24, 2, stereo(x, x));
  s.write("tracks.txt", "begin\nk a.wav +\nend\n");
  s.write("prefs.txt", kQuietPrefs);
  const auto busGain = [](double dB) {
    return static_cast<double>(static_cast<float>(levelOf(dB))) / kUnity;
  };

  // Channel field 0 stores a master entry that is never played back.
  s.write("faders.txt",
          "begin\nsong\nsub\t1\t1\nt\t0\t0\t0\nv\t1\t0\nv\tG\t1\t-6\nv\t0\t-20\nend\n");
  ASSERT_EQ(s.run().status, 0);
  Rendered out = readRendered(s, "song.wav");
  ASSERT_EQ(out.frames(), 4800u);
  for (std::size_t i = 0; i < 4800; ++i) {
    const auto bus = static_cast<std::int64_t>(256.0 * x[i] * busGain(-6));
    ASSERT_EQ(out.left(i), bus / 256) << "frame " << i;
  }

  s.write("faders.txt",
          "begin\nsong\nsub\t1\t1\nt\t0\t0\t0\nv\t1\t0\nv\tG\t1\t-6\nv\tM\t-20\nend\n");
  ASSERT_EQ(s.run().status, 0);
  out = readRendered(s, "song.wav");
  ASSERT_EQ(out.frames(), 4800u);
  for (std::size_t i = 0; i < 4800; ++i) {
    const auto bus = static_cast<std::int64_t>(256.0 * x[i] * busGain(-6));
    const auto master = static_cast<std::int64_t>(busGain(-20) * static_cast<double>(bus));
    ASSERT_EQ(out.right(i), master / 256) << "frame " << i;
  }
}

}  // namespace
}  // namespace sorvan::e2e
