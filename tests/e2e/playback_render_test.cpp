// Fader and VCA automation heard through the real binary: where level changes
// land, the shape of ramps in decibels, DC that never crosses zero, VCAs that
// act sample by sample, entries that are never reached, and submix and master
// faders in bus scale.
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
