// The master stage and the reports of real renders: mono fold-down, dither
// bounds and seeds, the statistics text (peaks with their times, half-wave
// RMS, over and clipping texts) and where the report files go.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "e2e/render_support.h"
#include "e2e/session.h"

namespace sorvan::e2e {
namespace {

std::string prefsWith(const std::string& lines) {
  return "begin\npre\toff\nverbo\t0\n" + lines + "end\n";
}

std::string statLine(const std::string& stats, const std::string& prefix) {
  const std::size_t at = stats.find(prefix);
  if (at == std::string::npos) return "";
  return stats.substr(at + prefix.size(), stats.find('\n', at) - at - prefix.size());
}

TEST(MasterRender, MonoFoldDownSumsBothSidesWithItsFactor) {
  Session s;
  const std::vector<std::int32_t> left = spread(6000, 3000000, 1),
                                  right = spread(6000, 3000000, 77);
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

// A square wave of the given half period, starting positive.
std::vector<std::int32_t> square(std::size_t frames, std::size_t half, std::int32_t amplitude) {
  std::vector<std::int32_t> out(frames);
  for (std::size_t i = 0; i < frames; ++i) out[i] = (i / half) % 2 ? -amplitude : amplitude;
  return out;
}

TEST(ReportRender, StatisticsOfAKnownSignal) {
  Session s;
  // Half-waves of 1000 frames at 8000 Hz: longer than the 800-frame RMS
  // window, so every crossing takes one RMS value equal to the amplitude.
  writeSource(s, "kick.wav", 8000, 24, 2,
              stereo(square(16000, 1000, 1 << 20), square(16000, 1000, 1 << 19)));
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
  EXPECT_TRUE(std::regex_search(stats, std::regex("\nProcessing time = [0-9]+\\.[0-9]{2} sec\n")))
      << stats;
  EXPECT_TRUE(contains(r.out, "\n\nDone!  Created the file: song.wav\n\n" + expected)) << r.out;
  EXPECT_FALSE(contains(r.out, "Processing time")) << "only from verbosity 3 on";
}

TEST(ReportRender, PeakTimesAreSongPositionsAndTiesKeepTheFirst) {
  Session s;
  // 62 seconds at 8000 Hz: four blocks, silent but for three spikes.
  std::vector<std::int32_t> left(496000, 0), right(496000, 0);
  left[490000] = 1 << 22;
  left[492000] = -(1 << 22);  // as loud, later: the time stays
  right[480000] = 1 << 21;
  writeSource(s, "spikes.wav", 8000, 24, 2, stereo(left, right));
  s.files("begin\nk spikes.wav +\nend\n", unityFaders(), "begin\npre\toff\ndither\t0\nend\n");
  const std::string peaks =
      "\nPeak Out L = -6.02 dB at 1 min : 1.250 sec\n"
      "Peak Out R = -12.04 dB at 1 min : 0.000 sec\n";
  RunResult r = s.run();
  ASSERT_EQ(r.status, 0) << r.out;
  std::string stats = s.read("stats_song.txt");
  EXPECT_TRUE(contains(stats, "Ch 1\tL  -6.02\tR  -12.04\tspikes\n")) << stats;
  // The left side crosses zero once, after more than the window; the right
  // side never does, so it has no RMS value at all.
  EXPECT_TRUE(contains(stats, "\nRMS\tL  -59.93\tR  -144.00\t(average)\n")) << stats;
  EXPECT_TRUE(contains(stats, peaks)) << stats;
  EXPECT_TRUE(contains(r.out, "Mixing...\n1/4 done\n1/2 done\n3/4 done\n")) << r.out;

  // A preview reports the same song positions.
  s.write("prefs.txt", "begin\npre\ton\nstart\t1\t0\t0\ndither\t0\nend\n");
  ASSERT_EQ(s.run().status, 0);
  EXPECT_TRUE(contains(s.read("stats_song.txt"), peaks));
}

TEST(ReportRender, OverAndClippingTexts) {
  Session s;
  writeSource(s, "loud.wav", 48000, 24, 2,
              stereo(alternating(12000, 6000000), alternating(12000, 6000000)));
  writeSource(s, "quiet.wav", 48000, 24, 2,
              stereo(alternating(12000, 3000000), alternating(12000, 3000000)));
  // Channel 1 and submix 1 are pushed past their scale by an effects gain
  // behind a flat EQ band; the master by its own effects gain.
  s.files("begin\nl loud.wav +\nq quiet.wav +\nend\n",
          "begin\nsong\nsub\t1\t2\nt\t0\t0\t0\nv\t1\t0\nv\t2\t0\nband1\t1\t1000\t0\t1\nfxg\t1\t6\n"
          "band1\tG\t1\t1000\t0\t1\nfxg\tG\t1\t12\nfxg\tM\t-6\nend\n",
          kPlainPrefs);
  const Rendered out = render(s);
  const auto [low, high] = std::minmax_element(out.words.begin(), out.words.end());
  EXPECT_EQ(*low, -8388608) << "the overloaded output is held at the word range";
  EXPECT_EQ(*high, 8388607);
  const std::string stats = s.read("stats_song.txt");
  for (const char* piece : {
           "Peaks (dB):\n\nCh 1\tL  ",
           "\tloudChannel Over!Ch 2\tL  -8.93\tR  -8.93\tquiet\n\n\nSub 1\tL  ",
           "Submix Over!\nRMS\tL  ",
           "\t(average)RMS Over!\nPeak Out L = ",
           "Main Out Left Over!Peak Out R = ",
           "Main Out Right OverChannel 1 is clipping after effects processing!\n"
           "Submix 1 is clipping after effects processing!\n"
           "Master channel is clipping after effects processing!\n\n",
       }) {
    EXPECT_TRUE(contains(stats, piece)) << piece << "\n---\n" << stats;
  }
}

TEST(ReportRender, ReportFilesFollowTheOutputNameAndBackupFolder) {
  Session s;
  s.sox("-n -r 48000 -b 24 -c 2 a.wav synth 0.1 sine 440 gain -6");
  s.files("begin\nk a.wav +\nend\n",
          "notes for the take\nbegin\nsong\nt\t0\t0\t0\nv\t1\t-1 \nend\n",
          "begin\npre\toff\noname\tfinal\nverbo\t0\nend\n");
  const std::string loaded = "notes for the take\nbegin\nsong\nt\t0\t0\t0\nv\t1\t-1\nend\n";
  ASSERT_EQ(s.run().status, 0);
  EXPECT_TRUE(s.exists("final.wav"));
  EXPECT_TRUE(s.exists("stats_final.txt"));
  EXPECT_EQ(s.read("faders_final.txt"), loaded) << "the section as read, its spaces removed";

  std::filesystem::create_directory(s.path("rep"));
  s.write("prefs.txt", "begin\npre\toff\noname\tnext\nbakdir\trep/\nverbo\t0\nend\n");
  ASSERT_EQ(s.run().status, 0);
  EXPECT_TRUE(s.exists("next.wav")) << "the backup folder takes only the reports";
  EXPECT_TRUE(s.exists("rep/stats_next.txt"));
  EXPECT_EQ(s.read("rep/faders_next.txt"), loaded);
  EXPECT_FALSE(s.exists("stats_next.txt"));
  EXPECT_FALSE(s.exists("faders_next.txt"));
}

}  // namespace
}  // namespace sorvan::e2e
