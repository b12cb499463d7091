// Loudness, loudness range and true peak in the statistics, compared with
// FFmpeg's ebur128 filter as an independent meter.
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/session.h"

namespace sorvan::e2e {
namespace {

bool haveFfmpeg() { return std::system("command -v ffmpeg >/dev/null 2>&1") == 0; }

struct Loudness {
  double integrated = 0, range = 0, truePeak = 0;
  bool measured = false;
};

double grab(const std::string& text, const std::string& pattern) {
  std::smatch m;
  if (!std::regex_search(text, m, std::regex(pattern))) {
    ADD_FAILURE() << "no match for " << pattern << " in\n" << text;
    return 0;
  }
  return std::stod(m[1]);
}

Loudness fromStatistics(const std::string& stats) {
  Loudness l;
  l.measured = stats.find("Loudness: too short to measure\n") == std::string::npos;
  if (l.measured) {
    l.integrated = grab(stats, R"(Loudness: (-?[0-9.]+) LUFS integrated)");
    l.range = grab(stats, R"(range (-?[0-9.]+) LU\n)");
  }
  l.truePeak = grab(stats, R"(True peak: (-?[0-9.]+) dBTP\n)");
  return l;
}

Loudness fromFfmpeg(const Session& s, const std::string& wav) {
  const std::string command = "cd '" + s.dir() + "' && ffmpeg -hide_banner -nostats -i " + wav +
                              " -af ebur128=peak=true -f null - > ff.txt 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0);
  const std::string text = s.read("ff.txt");
  const std::size_t summary = text.rfind("Summary:");
  const std::string tail = summary == std::string::npos ? text : text.substr(summary);
  Loudness l;
  l.measured = true;
  l.integrated = grab(tail, R"(I:\s+(-?[0-9.]+) LUFS)");
  l.range = grab(tail, R"(LRA:\s+(-?[0-9.]+) LU)");
  l.truePeak = grab(tail, R"(Peak:\s+(-?[0-9.]+) dBFS)");
  return l;
}

// Renders src.wav (made by the sox commands) at unity without dither and
// compares; a negative expectedIntegrated is also checked absolutely.
void compareWithFfmpeg(const std::vector<std::string>& soxCommands, double expectedIntegrated,
                       bool compareRange = true) {
  Session s;
  for (const std::string& args : soxCommands) s.sox(args);
  const std::string soxArgs = soxCommands.back();
  s.write("tracks.txt", "begin\nx src.wav +\nend\n");
  s.write("faders.txt", "begin\nmix\nt\t0\t0\t0\nv\t1\t0\nend\n");
  s.write("prefs.txt", "begin\npre\toff\ndither\t0\nverbo\t0\nend\n");
  const RunResult r = s.run();
  ASSERT_EQ(r.status, 0) << r.out;
  const Loudness ours = fromStatistics(s.read("stats_mix.txt"));
  const Loudness theirs = fromFfmpeg(s, "mix.wav");
  ASSERT_TRUE(ours.measured);
  // Both meters print one decimal, so "within 0.1 LU" includes one step of 0.1.
  constexpr double kPrinted = 1e-9;
  EXPECT_NEAR(ours.integrated, theirs.integrated, 0.1 + kPrinted) << soxArgs;
  if (compareRange) {
    EXPECT_NEAR(ours.range, theirs.range, 0.1 + kPrinted) << soxArgs;
  }
  EXPECT_NEAR(ours.truePeak, theirs.truePeak, 0.2 + kPrinted) << soxArgs;
  if (expectedIntegrated < 0) {
    EXPECT_NEAR(ours.integrated, expectedIntegrated, 0.1 + kPrinted) << soxArgs;
  }
}

TEST(LoudnessRun, SinesAgreeWithAnIndependentMeter) {
  if (!haveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  compareWithFfmpeg({"-n -r 48000 -b 24 -c 2 src.wav synth 10 sine 1000 gain -23"}, -23.0);
  compareWithFfmpeg({"-n -r 48000 -b 24 -c 2 src.wav synth 10 sine 1000 gain -20"}, -20.0);
}

TEST(LoudnessRun, GatingIgnoresASilentGap) {
  if (!haveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  // Tone, ten seconds of silence, tone: the gates remove the gap.
  compareWithFfmpeg({"-n -r 48000 -b 24 -c 2 tone.wav synth 15 sine 1000 gain -23",
                     "-n -r 48000 -b 24 -c 2 gap.wav trim 0 10",
                     "tone.wav gap.wav tone.wav src.wav"},
                    0, /*compareRange=*/false);
  // The two meters treat the short-term windows around the gap differently,
  // so the loudness range of this signal is not compared.
}

TEST(LoudnessRun, TruePeakBetweenSamples) {
  if (!haveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  compareWithFfmpeg({"-n -r 44100 -b 24 -c 2 src.wav synth 5 sine 997 0 0 25 gain -1"}, 0);
}

TEST(LoudnessRun, ShortRendersSayTooShortAndDitherNamesItsSeed) {
  Session s;
  s.sox("-n -r 48000 -b 24 -c 2 src.wav synth 0.2 sine 1000 gain -23");
  s.write("tracks.txt", "begin\nx src.wav +\nend\n");
  s.write("faders.txt", "begin\nmix\nt\t0\t0\t0\nv\t1\t0\nend\n");
  s.write("prefs.txt", "begin\npre\toff\ndither\t2\nseed\t77\nverbo\t0\nend\n");
  ASSERT_EQ(s.run().status, 0);
  const std::string stats = s.read("stats_mix.txt");
  EXPECT_NE(stats.find("\nLoudness: too short to measure\nTrue peak: "), std::string::npos) << stats;
  EXPECT_NE(stats.find("dBTP\nDither seed: 77\nProcessing time = "), std::string::npos) << stats;
}

}  // namespace
}  // namespace sorvan::e2e
