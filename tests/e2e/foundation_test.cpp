// Runs of the real binary through the stages before the mix: the command
// line, default files, messages, track lists and output paths. The runs that
// must fail are cases of the bad-input suite.
#include <gtest/gtest.h>

#include <filesystem>

#include "e2e/render_support.h"
#include "e2e/session.h"

namespace sorvan::e2e {
namespace {

constexpr const char* kBanner = "Sorvan version 1.164 (w20e)\n";

// A one-second 48 kHz stereo 24-bit source and plain files around it.
void basicSession(Session& s, const std::string& prefs = "begin\npre\toff\nend\n") {
  s.sox("-n -r 48000 -b 24 -c 2 a.wav synth 1 sine 440 gain -6");
  s.files("begin\nkick a.wav +\nend\n", "begin\nsong\nt\t0\t0\t0\nv\t1\t0\nend\n", prefs);
}

TEST(FoundationRun, NormalRunPrintsStagesAndWritesHeader) {
  Session s;
  basicSession(s, "begin\npre\toff\ndither\t0\nend\n");
  const RunResult r = s.run();
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.rfind(kBanner, 0), 0u) << r.out;
  EXPECT_TRUE(contains(r.out,
                       "Counted 1 track\nRead file headers.\nSample Rate: 48000\n"
                       "Checking Preferences...\n"))
      << r.out;
  EXPECT_TRUE(contains(r.out, "\nDone!  Created the file: song.wav\n\n"));
  const Rendered out = readRendered(s, "song.wav");  // its header checked field by field
  EXPECT_EQ(out.frames(), 48000u);
  EXPECT_EQ(out.rate, 48000u);
  EXPECT_TRUE(s.exists("stats_song.txt"));
  EXPECT_EQ(s.read("faders_song.txt"), s.read("faders.txt"));
}

TEST(FoundationRun, DefaultFilesAreCreatedOnlyWhereNoFileIsInTheWay) {
  Session s;
  basicSession(s, "begin\nverbo\t0\nend\n");
  // Named but missing: the existing default file stays as it is.
  RunResult r = s.run("tracks.txt faders.txt other.txt");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(s.read("prefs.txt"), "begin\nverbo\t0\nend\n");
  EXPECT_TRUE(contains(r.out, "prefs.txt already exists and was left unchanged"));
  EXPECT_TRUE(contains(r.out, kBanner)) << "the default text (verbosity 2) is used";

  std::filesystem::remove(s.path("prefs.txt"));
  r = s.run();
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.rfind("\nWarning: prefs.txt file was not found......created one for you.\n", 0),
            0u)
      << r.out;
  EXPECT_EQ(s.read("prefs.txt"),
            "begin\npre\toff\nstart\t0\t0\t0\nlength\t0\noutbits\t24\n\nend\n");

  // The dialogue writes a fader file for every track.
  std::filesystem::remove(s.path("faders.txt"));
  s.write("tracks.txt", "begin\nx a.wav +\ny a.wav +\nz a.wav -\nend\n");
  r = s.run("", "-3\n");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(contains(r.out,
                       "faders.txt file was not found\n"
                       "Enter the default fader value or -999 to exit.\n"));
  EXPECT_EQ(s.read("faders.txt"),
            "begin\ntest_mix\n\nt\t0\t0\t0\nv\t1\t-3.0\nv\t2\t-3.0\nv\t3\t-3.0\nend\n");
  EXPECT_TRUE(s.exists("test_mix.wav"));
}

TEST(FoundationRun, VerbosityLevelsSelectMessages) {
  Session s;
  basicSession(s, "begin\nverbo\t0\nend\n");
  RunResult r = s.run();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Preview mode not specified.\n\n") << "the empty line before the mix stays";

  s.write("prefs.txt", "begin\nverbo\t1\npre\toff\nend\n");
  r = s.run();
  EXPECT_FALSE(contains(r.out, kBanner));
  EXPECT_TRUE(contains(r.out, "\nDone!  Created the file: song.wav"));
  EXPECT_TRUE(contains(r.out, "Peaks (dB):"));
  EXPECT_FALSE(contains(r.out, "Processing time"));

  s.write("prefs.txt", "begin\nverbo\t3\npre\toff\nend\n");
  r = s.run();
  EXPECT_FALSE(contains(r.out, kBanner));
  EXPECT_FALSE(contains(r.out, "Counted"));
  EXPECT_FALSE(contains(r.out, "Mixing..."));
  EXPECT_TRUE(contains(r.out, "Reading effect settings..."));
  EXPECT_TRUE(contains(r.out, "\nProcessing time = "));
}

TEST(FoundationRun, LineWarningsAndWindowsLineEnds) {
  Session s;
  basicSession(s);
  s.write("prefs.txt", "begin\r\npre\toff\t\r\nverbo\t 2\r\nend\r\n");
  s.write("faders.txt", "x\r\nbegin\r\nsong\r\nt\t0\t0\t0\r\nv\t1\t\t0\r\nend\r\n");
  const RunResult r = s.run();
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(contains(r.out, "\n>>>  Warning: extra tab on line 2 of preferences file.\n"))
      << r.out;
  EXPECT_TRUE(contains(r.out, "\n>>>  Warning: extra space on line 3 of preferences file.\n"));
  EXPECT_TRUE(contains(r.out, "\n>>>  Warning: extra tab on line 4 of fader file.\n"))
      << "line numbers count from the begin line";
  EXPECT_TRUE(s.exists("song.wav")) << "the carriage return is not part of the mix name";
  EXPECT_FALSE(contains(r.out, "Preview mode not specified.")) << "the end token is recognised";
}

TEST(FoundationRun, TrackListModesAndSolo) {
  Session s;
  basicSession(s, "begin\nverbo\t1\ndither\t0\nend\n");
  s.sox("-n -r 48000 -b 16 -c 1 'b c.wav' synth 1 sine 300 gain -1");
  struct Case {
    const char* prefs;  // empty: as before
    const char* tracks;
    const char* heard;  // the channels with a line in the statistics
    const char* says;
  };
  const Case cases[] = {
      // Mode 2 with labels; channel 2 left out by its mark.
      {"", "begin\nk a.wav +\ns a.wav -\nb a.wav +\nend\n", "13", ""},
      {"", "begin\nk a.wav +\ns a.wav ++\nend\n", "2", ""},  // solo wins
      // Mode 1, tab separated, a name with a space.
      {"begin\nverbo\t1\ntlist\t1\ntlist=tab\nend\n", "begin\nb c.wav\t+\nend\n", "1", ""},
      // Mode 0: whole lines are names; a missing file is reported, others play.
      {"begin\nverbo\t1\ntlist\t0\nend\n", "begin\na.wav\nnone.wav\nb c.wav\nend\n", "13",
       "Cannot find file in track list called none.wav!!\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tracks);
    s.files(c.tracks, "", c.prefs);
    const RunResult r = s.run();
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(contains(r.out, c.says)) << r.out;
    for (const char channel : {'1', '2', '3'})
      EXPECT_EQ(contains(r.out, std::string("Ch ") + channel + "\tL"),
                contains(c.heard, std::string(1, channel)))
          << r.out;
  }
}

TEST(FoundationRun, OutputPathRules) {
  Session s;
  basicSession(s, "begin\nmixdir\tout\noname\tmix\npre\toff\nend\n");
  EXPECT_EQ(s.run().status, 0);
  EXPECT_TRUE(s.exists("outmix.wav"));
  std::filesystem::create_directory(s.path("pre"));
  s.write("prefs.txt", "begin\nmixdir\tout/\npredir\tpre/\npre\ton\nend\n");
  EXPECT_EQ(s.run().status, 0);
  EXPECT_TRUE(s.exists("pre/preview.wav"));
  s.write("prefs.txt", "begin\npre\ton\nlength\t0.5\nend\n");
  EXPECT_EQ(s.run().status, 0);
  EXPECT_EQ(s.read("preview.wav").size(), 44u + 24000u * 6u);
}

TEST(OptionsRun, HelpVersionAndUnknownOptions) {
  Session s;
  RunResult r = s.run("--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("Usage: sorvan [options] [tracks.txt [faders.txt [prefs.txt]]]\n", 0), 0u);
  EXPECT_TRUE(contains(r.out, "--check"));
  EXPECT_TRUE(contains(r.out, "docs/guide.md"));
  r = s.run("--version");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("Sorvan version 1.164 (w20e)\nbuild 1.164", 0), 0u) << r.out;
  r = s.run("--frobnicate");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "Unknown option --frobnicate (see sorvan --help)\n");
  EXPECT_FALSE(s.exists("prefs.txt"));
}

TEST(OptionsRun, CheckReadsEverythingAndWritesNothing) {
  Session s;
  basicSession(s);
  s.write("faders.txt", "begin\nsong\nt\t0\t0\t0\nv\t1\t20\nend\n");
  Snapshot before = snapshot(s);
  RunResult r = s.run("--check");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(contains(r.out, ">> Warning: fader 1 (entry 1) set above 12.02 dB\n")) << r.out;
  EXPECT_TRUE(contains(r.out, "Check complete"));
  EXPECT_FALSE(contains(r.out, "Mixing..."));
  EXPECT_EQ(differences(before, snapshot(s)), "");

  std::filesystem::remove(s.path("prefs.txt"));
  std::filesystem::remove(s.path("faders.txt"));
  before = snapshot(s);
  r = s.run("--check");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(contains(r.out, "Check: would create prefs.txt")) << r.out;
  EXPECT_TRUE(contains(r.out, "Check: would create faders.txt")) << r.out;
  EXPECT_EQ(differences(before, snapshot(s)), "");
}

}  // namespace
}  // namespace sorvan::e2e
