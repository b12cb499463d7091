// The "plot" preference: a picture of the mix beside the reports, a valid
// self-contained SVG, and a mix that is the same with or without it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "e2e/session.h"

namespace sorvan::e2e {
namespace {

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
