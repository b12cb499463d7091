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

constexpr double kFullScale = 8388608.0;

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

// Two stereo sources of interleaved words on channels 1 and 2.
void twoSources(const Session& s, const std::vector<std::int32_t>& a,
                const std::vector<std::int32_t>& b) {
  writeSource(s, "a.wav", 48000, 24, 2, a);
  writeSource(s, "b.wav", 48000, 24, 2, b);
  s.files("begin\nx a.wav +\ny b.wav +\nend\n", "", kPlainPrefs);
}

// The words of `out` that differ from expected(i), the first few reported.
template <typename Expected>
std::size_t mismatches(const std::vector<std::int32_t>& out, Expected expected) {
  std::size_t wrong = 0;
  for (std::size_t i = 0; i < out.size(); ++i)
    if (out[i] != expected(i) && ++wrong < 5)
      ADD_FAILURE() << "word " << i << ": " << out[i] << " instead of " << expected(i);
  return wrong;
}

TEST(StripRender, ProcessorAndEffectsGainOnAChannelWhileABypassedChannelIgnoresItsGain) {
  Session s;
  const std::vector<std::int32_t> a = spread(18000, 1000000, 3), b = spread(18000, 6000000, 99);
  twoSources(s, a, b);
  // Channel 1 has no processor, so its effects gain is not applied. The mix
  // name starting with "e" must not end the reading of the strip settings.
  s.write("faders.txt",
          "begin\necho\nt\t0\t0\t0\nv\t1\t0\nv\t2\t0\nfxg\t1\t6\nlim\t2\t-6\nfxg\t2\t3\nend\n");
  const Rendered out = render(s, "echo.wav");
  ASSERT_EQ(out.words.size(), a.size());
  const double threshold = thresholdOf(-6.0);
  EXPECT_EQ(mismatches(out.words,
                       [&](std::size_t i) {
                         return a[i] +
                                static_cast<std::int64_t>(limited(b[i], threshold) * gainOf(3.0));
                       }),
            0u);
  EXPECT_GT(std::count_if(b.begin(), b.end(),
                          [&](std::int32_t x) { return std::abs(x) > threshold * 0.89125; }),
            1800)
      << "the signal reaches above the knee";
  EXPECT_FALSE(contains(s.read("stats_echo.txt"), "clipping"));
}

TEST(StripRender, MasterLimiterHoldsAHotMixAndItsEffectsGainComesAfter) {
  Session s;
  const std::vector<std::int32_t> a = spread(18000, 6000000, 17), b = spread(18000, 6000000, 12345);
  twoSources(s, a, b);
  s.write("faders.txt", unityFaders("v\t2\t0\nlim\tM\t-1\nfxg\tM\t-2\n"));
  const Rendered out = render(s);
  ASSERT_EQ(out.words.size(), a.size());
  // The master works in bus scale: its threshold is x 256 - 1.
  const double threshold = thresholdOf(-1.0) * 256.0 - 1.0;
  std::size_t overFullScale = 0;
  EXPECT_EQ(mismatches(out.words,
                       [&](std::size_t i) {
                         const double bus = 256.0 * (static_cast<double>(a[i]) + b[i]);
                         overFullScale += std::fabs(bus) > 2147483648.0;
                         return static_cast<std::int64_t>(limited(bus, threshold) * gainOf(-2.0)) /
                                256;
                       }),
            0u);
  EXPECT_GT(overFullScale, a.size() / 20) << "the mix is hot";
  EXPECT_FALSE(contains(s.read("stats_song.txt"), "clipping"));
}

TEST(StripRender, SubmixStripsWorkOnTheSubmixInBusScale) {
  Session s;
  constexpr std::size_t kFrames = 24000;
  // Channel 1 (left only) feeds submix 1; channel 2 (right only) the master bus.
  const std::vector<std::int32_t> silence(kFrames, 0), other = spread(kFrames, 2000000, 7);
  const std::vector<std::int32_t> loud = spread(kFrames, 7000000, 5);
  twoSources(s, stereo(sine(kFrames, 1000.0, 0.1), silence), stereo(silence, other));
  auto mix = [&](const std::string& strips) {
    s.write("faders.txt", unityFaders("sub\t1\t1\nv\t2\t0\n" + strips));
    const Rendered out = render(s);
    EXPECT_TRUE(out.side(false) == other) << strips << ": the master bus channel changed";
    return out;
  };
  const double plain = rmsOfLeft(mix(""), 4800);
  const double boosted = rmsOfLeft(mix("band1\tG\t1\t1000\t12\t1\n"), 4800);
  EXPECT_NEAR(boosted / plain, gainOf(12.0), 0.01) << "a peaking band's gain at its centre";

  // The same limiter setting on the channel and on its submix limits at the
  // same level, each in its own scale.
  writeSource(s, "a.wav", 48000, 24, 2, stereo(loud, silence));
  const Rendered onChannel = mix("lim\t1\t-6\n"), onSubmix = mix("lim\tG\t1\t-6\n");
  const double t = thresholdOf(-6.0);
  EXPECT_EQ(
      mismatches(onChannel.side(true),
                 [&](std::size_t i) { return static_cast<std::int64_t>(limited(loud[i], t)); }),
      0u);
  EXPECT_EQ(mismatches(
                onSubmix.side(true),
                [&](std::size_t i) {
                  return static_cast<std::int64_t>(limited(256.0 * loud[i], t * 256.0 - 1.0)) / 256;
                }),
            0u);
}

TEST(StripRender, ClippingLinesNameTheStripsThatLeftTheirScale) {
  Session s;
  const std::vector<std::int32_t> half = sine(9600, 1000.0, 0.5);
  writeSource(s, "a.wav", 48000, 24, 2, stereo(half, half));
  s.files("begin\nx a.wav +\ny a.wav +\nend\n", "", kPlainPrefs);
  struct Case {
    const char* entries;
    const char* lines;  // every clipping line of the statistics
  };
  const Case cases[] = {
      // An EQ boost pushes channel 1 out of channel scale. Channel 2 has no
      // processor, so its +12 dB effects gain is not applied and it cannot
      // clip; the overloaded master has no processing and is never tested.
      {"band1\t1\t1000\t15\t1\nfxg\t2\t12\n", "Channel 1 is clipping after effects processing!\n"},
      // Far above channel scale but within bus scale is no clipping.
      {"sub\t2\t1\nlim\tG\t2\t0\nhp\tM\t10\n", ""},
      {"sub\t2\t1\nband1\tG\t2\t1000\t15\t1\nlim\tG\t2\t0\nband1\tM\t1000\t15\t1\n",
       "Submix 2 is clipping after effects processing!\n"
       "Master channel is clipping after effects processing!\n"},
  };
  for (const Case& c : cases) {
    s.write("faders.txt", unityFaders(std::string("v\t2\t-6\n") + c.entries));
    EXPECT_EQ(s.run().status, 0);
    const std::string stats = s.read("stats_song.txt");
    for (const char* strip : {"Channel 1", "Channel 2", "Submix 2", "Master channel"}) {
      const std::string line = std::string(strip) + " is clipping after effects processing!\n";
      EXPECT_EQ(contains(stats, line), contains(c.lines, line)) << c.entries << "\n" << stats;
    }
  }
}

TEST(StripRender, ProcessorOrderDecidesWhetherTheLimiterSeesTheBoost) {
  Session s;
  const std::vector<std::int32_t> tone = sine(24000, 1000.0, 0.126);
  writeSource(s, "a.wav", 48000, 24, 2, stereo(tone, tone));
  s.files("begin\nx a.wav +\nend\n", "", kPlainPrefs);
  // The mix name and the "ofs" entry start with "o" but must not swallow the
  // order entry; the order entry must not be read as a limiter entry either.
  auto peak = [&](const std::string& order) {
    s.write("faders.txt",
            "begin\noverdub\nt\t0\t0\t0\nv\t1\t0\nofs\t0\nband1\t1\t1000\t12\t1\nlim\t1\t-24\n" +
                order + "end\n");
    return peakOfLeft(render(s, "overdub.wav"), 4800);
  };
  // Boost to 0.5 of full scale, then limit: about 0.111. Limit 0.126 to
  // about 0.065, then boost the flattened tone: well above that. A position
  // outside the strip never runs: 0.5.
  const double limitAfterBoost = peak(""), limitBeforeBoost = peak("order\tlim\t1\t1\n");
  const double neverLimit = peak("order\tlim\t1\t12\n");
  EXPECT_NEAR(limitAfterBoost, 0.111, 0.005);
  EXPECT_GT(limitBeforeBoost, 2.0 * limitAfterBoost);
  EXPECT_LT(limitBeforeBoost, 0.7 * neverLimit);
  EXPECT_NEAR(neverLimit, 0.5, 0.01);
}

}  // namespace
}  // namespace sorvan::e2e
