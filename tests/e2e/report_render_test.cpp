// The statistics text and the report files of real renders: channel and
// output peaks with their times, the half-wave RMS, over and clipping texts,
// and where the two report files go.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "e2e/render_support.h"
#include "e2e/session.h"

namespace sorvan::e2e {
namespace {

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
