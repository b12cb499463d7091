// Channel, submix and master strips seen in the output file: processors and
// effects gains on exact values, bypassed channels, strips working in bus
// scale, processor order, and the clipping lines of the statistics.
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

constexpr const char* kQuietPrefs = "begin\npre\toff\ndither\t0\nverbo\t0\nend\n";
constexpr double kFullScale = 8388608.0;

// Values spread over +-amplitude that land on both sides of every knee.
std::vector<std::int32_t> spread(std::size_t frames, std::int32_t amplitude, std::uint32_t salt) {
  std::vector<std::int32_t> out(frames);
  const auto span = static_cast<std::uint32_t>(2 * amplitude + 1);
  for (std::size_t i = 0; i < frames; ++i)
    out[i] =
        static_cast<std::int32_t>((static_cast<std::uint32_t>(i) * 2654435761u + salt) % span) -
        amplitude;
  return out;
}

// A threshold as the fader file's dB value gives it, in channel scale.
double thresholdOf(double dB) { return std::trunc(std::pow(10.0, dB / 20.0) * kFullScale); }

// The soft limiter: one eighth of the excess above the knee survives.
double limited(double sample, double threshold) {
  const double knee = threshold * 0.89125;
  const double p = sample >= 0.0 ? 1.0 : -1.0;
  double x = std::fabs(sample);
  if (x < 0.0001) x = 0.0001;
  if (x > knee) x = (x - knee) * 0.125 + knee;
  return p * x;
}

double gainOf(double dB) { return std::pow(10.0, dB / 20.0); }

std::vector<std::int32_t> sine(std::size_t frames, double hz, double amplitude) {
  std::vector<std::int32_t> out(frames);
  for (std::size_t i = 0; i < frames; ++i)
    out[i] = static_cast<std::int32_t>(std::lround(
        amplitude * kFullScale * std::sin(2.0 * M_PI * hz * static_cast<double>(i) / 48000.0)));
  return out;
}

double rmsOfLeft(const Rendered& out, std::size_t from) {
  double sum = 0.0;
  for (std::size_t i = from; i < out.frames(); ++i)
    sum += static_cast<double>(out.left(i)) * out.left(i);
  return std::sqrt(sum / static_cast<double>(out.frames() - from));
}

double peakOfLeft(const Rendered& out, std::size_t from) {
  double peak = 0.0;
  for (std::size_t i = from; i < out.frames(); ++i)
    peak = std::max(peak, std::fabs(static_cast<double>(out.left(i))));
  return peak / kFullScale;
}

TEST(StripRender, ProcessorAndEffectsGainOnAChannelWhileABypassedChannelIgnoresItsGain) {
  Session s;
  constexpr std::size_t kFrames = 9000;
  const std::vector<std::int32_t> a = spread(2 * kFrames, 1000000, 3);
  const std::vector<std::int32_t> b = spread(2 * kFrames, 6000000, 99);
  writeSource(s, "a.wav", 48000, 24, 2, a);
  writeSource(s, "b.wav", 48000, 24, 2, b);
  s.write("tracks.txt", "begin\nx a.wav +\ny b.wav +\nend\n");
  s.write("prefs.txt", kQuietPrefs);
  // Channel 1 has no processor, so its effects gain is not applied. The mix
  // name starting with "e" must not end the reading of the strip settings.
  s.write("faders.txt",
          "begin\necho\nt\t0\t0\t0\nv\t1\t0\nv\t2\t0\nfxg\t1\t6\nlim\t2\t-6\nfxg\t2\t3\nend\n");
  const RunResult r = s.run();
  ASSERT_EQ(r.status, 0) << r.out;
  const Rendered out = readRendered(s, "echo.wav");
  ASSERT_EQ(out.words.size(), a.size());
  const double threshold = thresholdOf(-6.0), gain = gainOf(3.0);
  std::size_t wrong = 0, limitedSamples = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto strip = static_cast<std::int64_t>(limited(b[i], threshold) * gain);
    limitedSamples += std::abs(b[i]) > threshold * 0.89125;
    if (out.words[i] != a[i] + strip && ++wrong < 5)
      ADD_FAILURE() << "sample " << i << ": " << out.words[i] << " instead of " << a[i] + strip;
  }
  EXPECT_EQ(wrong, 0u);
  EXPECT_GT(limitedSamples, a.size() / 10) << "the signal reaches above the knee";
  EXPECT_EQ(s.read("stats_echo.txt").find("clipping"), std::string::npos);
}

TEST(StripRender, MasterLimiterHoldsAHotMixAndItsEffectsGainComesAfter) {
  Session s;
  constexpr std::size_t kFrames = 9000;
  const std::vector<std::int32_t> a = spread(2 * kFrames, 6000000, 17);
  const std::vector<std::int32_t> b = spread(2 * kFrames, 6000000, 12345);
  writeSource(s, "a.wav", 48000, 24, 2, a);
  writeSource(s, "b.wav", 48000, 24, 2, b);
  s.write("tracks.txt", "begin\nx a.wav +\ny b.wav +\nend\n");
  s.write("prefs.txt", kQuietPrefs);
  s.write("faders.txt", "begin\nsong\nt\t0\t0\t0\nv\t1\t0\nv\t2\t0\nlim\tM\t-1\nfxg\tM\t-2\nend\n");
  const RunResult r = s.run();
  ASSERT_EQ(r.status, 0) << r.out;
  const Rendered out = readRendered(s, "song.wav");
  ASSERT_EQ(out.words.size(), a.size());
  // The master works in bus scale: its threshold is x 256 - 1.
  const double threshold = thresholdOf(-1.0) * 256.0 - 1.0, gain = gainOf(-2.0);
  std::size_t wrong = 0, overFullScale = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const double bus = 256.0 * (static_cast<double>(a[i]) + b[i]);
    overFullScale += std::fabs(bus) > 2147483648.0;
    const auto master = static_cast<std::int64_t>(limited(bus, threshold) * gain);
    if (out.words[i] != master / 256 && ++wrong < 5)
      ADD_FAILURE() << "sample " << i << ": " << out.words[i] << " instead of " << master / 256;
  }
  EXPECT_EQ(wrong, 0u);
  EXPECT_GT(overFullScale, a.size() / 20) << "the mix is hot";
  EXPECT_EQ(s.read("stats_song.txt").find("clipping"), std::string::npos);
}

TEST(StripRender, SubmixStripsWorkOnTheSubmixInBusScale) {
  Session s;
  constexpr std::size_t kFrames = 24000;
  // Channel 1 (left only) feeds submix 1; channel 2 (right only) the master bus.
  const std::vector<std::int32_t> tone = sine(kFrames, 1000.0, 0.1);
  const std::vector<std::int32_t> other = spread(kFrames, 2000000, 7);
  writeSource(s, "a.wav", 48000, 24, 2, stereo(tone, std::vector<std::int32_t>(kFrames, 0)));
  writeSource(s, "b.wav", 48000, 24, 2, stereo(std::vector<std::int32_t>(kFrames, 0), other));
  s.write("tracks.txt", "begin\nx a.wav +\ny b.wav +\nend\n");
  s.write("prefs.txt", kQuietPrefs);
  const std::string head = "begin\nsong\nsub\t1\t1\nt\t0\t0\t0\nv\t1\t0\nv\t2\t0\n";
  auto render = [&](const std::string& strips) {
    s.write("faders.txt", head + strips + "end\n");
    const RunResult r = s.run();
    EXPECT_EQ(r.status, 0) << r.out;
    const Rendered out = readRendered(s, "song.wav");
    EXPECT_EQ(out.frames(), kFrames);
    for (std::size_t i = 0; i < out.frames(); ++i) {
      if (out.right(i) != other[i]) {
        ADD_FAILURE() << strips << ": the master bus channel changed at " << i;
        break;
      }
    }
    return out;
  };
  const double plain = rmsOfLeft(render(""), 4800);
  const double boosted = rmsOfLeft(render("band1\tG\t1\t1000\t12\t1\n"), 4800);
  EXPECT_NEAR(boosted / plain, gainOf(12.0), 0.01) << "a peaking band's gain at its centre";

  // The same limiter setting on the channel and on its submix limits at the
  // same level, each in its own scale.
  const std::vector<std::int32_t> loud = spread(kFrames, 7000000, 5);
  writeSource(s, "a.wav", 48000, 24, 2, stereo(loud, std::vector<std::int32_t>(kFrames, 0)));
  const Rendered onChannel = render("lim\t1\t-6\n");
  const Rendered onSubmix = render("lim\tG\t1\t-6\n");
  const double t = thresholdOf(-6.0);
  std::size_t wrong = 0;
  for (std::size_t i = 0; i < kFrames; ++i) {
    const auto channel = static_cast<std::int64_t>(limited(loud[i], t));
    const auto submix = static_cast<std::int64_t>(limited(256.0 * loud[i], t * 256.0 - 1.0)) / 256;
    wrong += onChannel.left(i) != channel || onSubmix.left(i) != submix;
    EXPECT_LE(std::abs(channel - submix), 1);
  }
  EXPECT_EQ(wrong, 0u);
}

TEST(StripRender, ClippingLinesNameTheStripsThatLeftTheirScale) {
  Session s;
  constexpr std::size_t kFrames = 9600;
  const std::vector<std::int32_t> half = sine(kFrames, 1000.0, 0.5);
  writeSource(s, "a.wav", 48000, 24, 2, stereo(half, half));
  s.write("tracks.txt", "begin\nx a.wav +\ny a.wav +\nend\n");
  s.write("prefs.txt", kQuietPrefs);
  auto stats = [&](const std::string& entries) {
    s.write("faders.txt", "begin\nsong\nt\t0\t0\t0\nv\t1\t0\nv\t2\t-6\n" + entries + "end\n");
    const RunResult r = s.run();
    EXPECT_EQ(r.status, 0) << r.out;
    return s.read("stats_song.txt");
  };
  constexpr const char* kChannel1 = "Channel 1 is clipping after effects processing!\n";
  constexpr const char* kChannel2 = "Channel 2 is clipping after effects processing!\n";
  constexpr const char* kSubmix2 = "Submix 2 is clipping after effects processing!\n";
  constexpr const char* kMaster = "Master channel is clipping after effects processing!\n";

  // An EQ boost pushes channel 1 out of channel scale. Channel 2 has no
  // processor, so its +12 dB effects gain is not applied and it cannot clip.
  // The overloaded master has no processing and is never tested.
  std::string text = stats("band1\t1\t1000\t15\t1\nfxg\t2\t12\n");
  EXPECT_NE(text.find(kChannel1), std::string::npos) << text;
  EXPECT_EQ(text.find(kChannel2), std::string::npos) << text;
  EXPECT_EQ(text.find(kMaster), std::string::npos) << text;

  // A submix and a master far above channel scale but within bus scale do
  // not clip.
  text = stats("sub\t2\t1\nlim\tG\t2\t0\nhp\tM\t10\n");
  EXPECT_EQ(text.find("clipping"), std::string::npos) << text;

  text = stats("sub\t2\t1\nband1\tG\t2\t1000\t15\t1\nlim\tG\t2\t0\nband1\tM\t1000\t15\t1\n");
  EXPECT_NE(text.find(kSubmix2), std::string::npos) << text;
  EXPECT_NE(text.find(kMaster), std::string::npos) << text;
  EXPECT_EQ(text.find(kChannel1), std::string::npos) << text;
}

TEST(StripRender, ProcessorOrderDecidesWhetherTheLimiterSeesTheBoost) {
  Session s;
  const std::vector<std::int32_t> tone = sine(24000, 1000.0, 0.126);
  writeSource(s, "a.wav", 48000, 24, 2, stereo(tone, tone));
  s.write("tracks.txt", "begin\nx a.wav +\nend\n");
  s.write("prefs.txt", kQuietPrefs);
  // The mix name and the "ofs" entry start with "o" but must not swallow the
  // order entry; the order entry must not be read as a limiter entry either.
  auto peak = [&](const std::string& order) {
    s.write("faders.txt",
            "begin\noverdub\nt\t0\t0\t0\nv\t1\t0\nofs\t0\nband1\t1\t1000\t12\t1\nlim\t1\t-24\n" +
                order + "end\n");
    const RunResult r = s.run();
    EXPECT_EQ(r.status, 0) << r.out;
    return peakOfLeft(readRendered(s, "overdub.wav"), 4800);
  };
  const double limitAfterBoost = peak("");
  const double limitBeforeBoost = peak("order\tlim\t1\t1\n");
  const double neverLimit = peak("order\tlim\t1\t12\n");
  // Boost to 0.5 of full scale, then limit: about 0.111. Limit 0.126 to
  // about 0.065, then boost the flattened tone: well above that. Without
  // the limiter: 0.5.
  EXPECT_NEAR(limitAfterBoost, 0.111, 0.005);
  EXPECT_GT(limitBeforeBoost, 2.0 * limitAfterBoost);
  EXPECT_LT(limitBeforeBoost, 0.7 * neverLimit);
  EXPECT_NEAR(neverLimit, 0.5, 0.01);
}

}  // namespace
}  // namespace sorvan::e2e
