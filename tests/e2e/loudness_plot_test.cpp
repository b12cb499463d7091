// Loudness, loudness range and true peak in the statistics, compared with
// FFmpeg's ebur128 filter as an independent meter; and the "plot"
// preference: a valid self-contained SVG beside the reports, and a mix that
// is the same with or without it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "e2e/session.h"

namespace sorvan::e2e {
namespace {

struct Loudness {
  double integrated = 0, range = 0, truePeak = 0;
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
  return {grab(stats, R"(Loudness: (-?[0-9.]+) LUFS integrated)"),
          grab(stats, R"(range (-?[0-9.]+) LU\n)"),
          grab(stats, R"(True peak: (-?[0-9.]+) dBTP\n)")};
}

Loudness fromFfmpeg(const Session& s, const std::string& wav) {
  s.shell("ffmpeg -hide_banner -nostats -i " + wav + " -af ebur128=peak=true -f null - > ff.txt");
  const std::string text = s.read("ff.txt");
  const std::string summary = text.substr(std::min(text.rfind("Summary:"), text.size()));
  return {grab(summary, R"(I:\s+(-?[0-9.]+) LUFS)"), grab(summary, R"(LRA:\s+(-?[0-9.]+) LU)"),
          grab(summary, R"(Peak:\s+(-?[0-9.]+) dBFS)")};
}

TEST(LoudnessRun, SignalsAgreeWithAnIndependentMeter) {
  if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0) GTEST_SKIP() << "no ffmpeg";
  struct Case {
    std::vector<std::string> sox;  // the last command makes src.wav
    double integrated;             // 0: compared with ffmpeg only
    bool compareRange;
  };
  const Case cases[] = {
      {{"-n -r 48000 -b 24 -c 2 src.wav synth 10 sine 1000 gain -23"}, -23.0, true},
      {{"-n -r 48000 -b 24 -c 2 src.wav synth 10 sine 1000 gain -20"}, -20.0, true},
      // Tone, ten seconds of silence, tone: the gates remove the gap. The two
      // meters treat the short-term windows around the gap differently, so
      // the loudness range of this signal is not compared.
      {{"-n -r 48000 -b 24 -c 2 tone.wav synth 15 sine 1000 gain -23",
        "-n -r 48000 -b 24 -c 2 gap.wav trim 0 10", "tone.wav gap.wav tone.wav src.wav"},
       0,
       false},
      // A true peak between samples.
      {{"-n -r 44100 -b 24 -c 2 src.wav synth 5 sine 997 0 0 25 gain -1"}, 0, true},
  };
  // Both meters print one decimal, so "within 0.1 LU" includes one step of 0.1.
  constexpr double kPrinted = 1e-9;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sox.back());
    Session s;
    for (const std::string& args : c.sox) s.sox(args);
    s.files("begin\nx src.wav +\nend\n", "begin\nmix\nt\t0\t0\t0\nv\t1\t0\nend\n",
            "begin\npre\toff\ndither\t0\nverbo\t0\nend\n");
    ASSERT_EQ(s.run().status, 0);
    const Loudness ours = fromStatistics(s.read("stats_mix.txt"));
    const Loudness theirs = fromFfmpeg(s, "mix.wav");
    EXPECT_NEAR(ours.integrated, theirs.integrated, 0.1 + kPrinted);
    if (c.compareRange) {
      EXPECT_NEAR(ours.range, theirs.range, 0.1 + kPrinted);
    }
    EXPECT_NEAR(ours.truePeak, theirs.truePeak, 0.2 + kPrinted);
    if (c.integrated < 0) {
      EXPECT_NEAR(ours.integrated, c.integrated, 0.1 + kPrinted);
    }
  }
}

TEST(LoudnessRun, ShortRendersSayTooShortAndDitherNamesItsSeed) {
  Session s;
  s.sox("-n -r 48000 -b 24 -c 2 src.wav synth 0.2 sine 1000 gain -23");
  s.files("begin\nx src.wav +\nend\n", "begin\nmix\nt\t0\t0\t0\nv\t1\t0\nend\n",
          "begin\npre\toff\ndither\t2\nseed\t77\nverbo\t0\nend\n");
  ASSERT_EQ(s.run().status, 0);
  const std::string stats = s.read("stats_mix.txt");
  EXPECT_TRUE(contains(stats, "\nLoudness: too short to measure\nTrue peak: ")) << stats;
  EXPECT_TRUE(contains(stats, "dBTP\nDither seed: 77\nProcessing time = ")) << stats;
}

// Three seconds at 48 kHz are two blocks. Channel 1 rides VCA 1 and ramps,
// channel 2 (a name that needs escaping) feeds submix 1, and the master
// ramps up 12 dB so that the output goes over full scale.
void makeSong(const Session& s) {
  s.sox("-n -r 48000 -b 24 -c 2 kick.wav synth 3 sine 100 gain -3");
  s.sox("-n -r 48000 -b 16 -c 1 'a&b.wav' synth 3 sine 441 gain -12");
  s.files("begin\nk kick.wav +\nx a&b.wav +\nend\n",
          "begin\nsong\nsub\t1\t2\nVCA:\t1\t1\n"
          "t\t0\t0\t0\nv\t1\t0\nv\t2\t-6\nv\tG\t1\t0\nv\tM\t0\nvca\t1\t0\n"
          "t\t0\t1\t0\nv\t1\t-3\nrmp\t0.5\nshape\t2\nvca\t1\t-3\nrmp\t0.7\n"
          "t\t0\t1\t500\nv\tG\t1\t-20\n"
          "t\t0\t2\t0\nv\tM\t12\nrmp\t0.2\nend\n",
          "");
}

std::string prefs(const std::string& extra) {
  return "begin\npre\toff\ndither\t0\nverbo\t0\nbakdir\trep/\n" + extra + "end\n";
}

TEST(PlotRender, PictureBesideTheReportsWhileTheMixStaysTheSame) {
  Session s;
  makeSong(s);
  std::filesystem::create_directory(s.path("rep"));
  s.write("prefs.txt", prefs("plot\n"));
  ASSERT_EQ(s.run().status, 0);
  const std::string plotted = s.read("song.wav");
  ASSERT_TRUE(s.exists("rep/stats_song.txt"));
  const std::string svg = s.read("rep/mix_song.svg");
  for (const char* text : {">Ch 1 kick<", ">Ch 2 a&amp;b<", ">Sub 1<", ">VCA 1<", ">Master<",
                           ">Output<", "frames over</title>", ">0:03.0<"})
    EXPECT_NE(svg.find(text), std::string::npos) << text;
  EXPECT_EQ(svg.find("href"), std::string::npos);  // nothing outside the file

  // Without the line, or with "plot" only as a value, nothing is drawn and
  // the mix is the same to the byte: plotting only watches.
  std::filesystem::remove(s.path("rep/mix_song.svg"));
  s.write("prefs.txt", prefs(""));
  ASSERT_EQ(s.run().status, 0);
  EXPECT_FALSE(s.exists("rep/mix_song.svg"));
  EXPECT_TRUE(s.read("song.wav") == plotted);
  s.write("prefs.txt", prefs("oname\tplot\n"));
  ASSERT_EQ(s.run().status, 0);
  EXPECT_FALSE(s.exists("rep/mix_plot.svg"));
}

TEST(PlotRender, PictureIsWellFormedAndRenders) {
  if (std::system("command -v xmllint >/dev/null 2>&1 && command -v rsvg-convert >/dev/null 2>&1"))
    GTEST_SKIP() << "xmllint or rsvg-convert is not installed";
  Session s;
  makeSong(s);
  s.write("prefs.txt", "begin\npre\ton\nstart\t0\t1\t0\nlength\t1.5\nverbo\t0\n  plot \nend\n");
  ASSERT_EQ(s.run().status, 0);
  ASSERT_TRUE(s.exists("mix_song.svg"));
  s.shell("xmllint --noout --nonet mix_song.svg");
  s.shell("rsvg-convert -o mix.png mix_song.svg");
  EXPECT_EQ(s.read("mix.png").substr(0, 8), "\x89PNG\r\n\x1a\n");
}

}  // namespace
}  // namespace sorvan::e2e
