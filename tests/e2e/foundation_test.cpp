// Runs of the real binary through the stages before the mix: files, messages,
// exit statuses and output paths.
#include <cstdio>
#include <filesystem>

#include <gtest/gtest.h>

#include "e2e/session.h"

namespace sorvan::e2e {
namespace {

constexpr const char* kBanner = "Sorvan version 1.164 (w20e)\n";

// A one-second 48 kHz stereo 24-bit source and plain files around it.
void basicSession(Session& s, const std::string& prefs = "begin\npre\toff\nend\n") {
  s.sox("-n -r 48000 -b 24 -c 2 a.wav synth 1 sine 440 gain -6");
  s.write("tracks.txt", "begin\nkick a.wav +\nend\n");
  s.write("faders.txt", "begin\nsong\nt\t0\t0\t0\nv\t1\t0\nend\n");
  s.write("prefs.txt", prefs);
}

TEST(FoundationRun, NormalRunPrintsStagesAndWritesHeader) {
  Session s;
  basicSession(s, "begin\npre\toff\ndither\t0\nend\n");
  const RunResult r = s.run();
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.rfind(kBanner, 0), 0u) << r.out;
  EXPECT_NE(r.out.find("Counted 1 track\nRead file headers.\nSample Rate: 48000\n"
                       "Checking Preferences...\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\nDone!  Created the file: song.wav\n\n"), std::string::npos);
  const std::string wav = s.read("song.wav");
  ASSERT_EQ(wav.size(), 44u + 48000u * 6u);
  EXPECT_EQ(wav.substr(0, 4), "RIFF");
  EXPECT_EQ(le32(wav, 4), 48000u * 6u + 36u);
  EXPECT_EQ(le32(wav, 24), 48000u);
  EXPECT_EQ(le32(wav, 40), 48000u * 6u);
  EXPECT_TRUE(s.exists("stats_song.txt"));
  EXPECT_EQ(s.read("faders_song.txt"), s.read("faders.txt"));
}

TEST(FoundationRun, MissingPreferencesAreCreatedWithTheDefaultText) {
  Session s;
  basicSession(s);
  std::remove(s.path("prefs.txt").c_str());
  const RunResult r = s.run();
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.rfind("\nWarning: prefs.txt file was not found......created one for you.\n", 0),
            0u)
      << r.out;
  EXPECT_EQ(s.read("prefs.txt"), "begin\npre\toff\nstart\t0\t0\t0\nlength\t0\noutbits\t24\n\nend\n");
}

TEST(FoundationRun, NamedMissingPreferencesLeaveAnExistingDefaultAlone) {
  Session s;
  basicSession(s, "begin\nverbo\t0\nend\n");
  const RunResult r = s.run("tracks.txt faders.txt other.txt");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(s.read("prefs.txt"), "begin\nverbo\t0\nend\n");
  EXPECT_NE(r.out.find("prefs.txt already exists and was left unchanged"), std::string::npos);
  EXPECT_NE(r.out.find(kBanner), std::string::npos) << "the default text (verbosity 2) is used";
}

TEST(FoundationRun, FatalConditionsOfTheEarlyStages) {
  struct Case {
    const char* name;
    const char* prefs;
    const char* expected;
    int status;
  };
  const Case cases[] = {
      {"preview start beyond song", "begin\npre\ton\nstart\t0\t2\t0\nend\n",
       "Error: Preview start time in preferences file exceeds song length\n", 2},
      {"preview start negative", "begin\npre\ton\nstart\t0\t-1\t0\nend\n",
       "Error: Preview start time in preferences is less than zero.\n", 2},
      {"preview negative length", "begin\npre\ton\nlength\t-1\nend\n",
       "Head or tail set incorrectly in preferences!\n", 2},
      {"xin beyond song", "begin\npre\toff\nxfields\t1\nxin\t5\nend\n",
       "Head or tail set incorrectly in preferences!\n", 2},
  };
  for (const Case& c : cases) {
    Session s;
    basicSession(s, c.prefs);
    const RunResult r = s.run();
    EXPECT_EQ(r.status, c.status) << c.name << "\n" << r.out;
    EXPECT_NE(r.out.find(c.expected), std::string::npos) << c.name << "\n" << r.out;
    EXPECT_FALSE(s.exists("song.wav")) << c.name;
  }
}

TEST(FoundationRun, MissingTracksFileEndsTheRun) {
  Session s;
  basicSession(s);
  std::remove(s.path("tracks.txt").c_str());
  const RunResult r = s.run("missing.txt");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("tracks.txt file was not found.\nCreate the file and run again.\nExiting...\n"),
            std::string::npos)
      << r.out;
}

TEST(FoundationRun, DifferentSampleRatesEndTheRunWithStatusOne) {
  Session s;
  basicSession(s);
  s.sox("-n -r 44100 -b 16 -c 1 b.wav synth 1 sine 300");
  s.write("tracks.txt", "begin\nx a.wav +\ny a.wav +\nz b.wav +\nend\n");
  const RunResult r = s.run();
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("The sample rate appears to be 48000\n"
                       "The file assigned to channel 3 has a different rate!\n"),
            std::string::npos)
      << r.out;
}

TEST(FoundationRun, FaderDialogueCreatesFileOrEnds) {
  {
    Session s;
    basicSession(s);
    std::remove(s.path("faders.txt").c_str());
    s.write("tracks.txt", "begin\nx a.wav +\ny a.wav +\nz a.wav -\nend\n");
    const RunResult r = s.run("", "-3\n");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("faders.txt file was not found\n"
                         "Enter the default fader value or -999 to exit.\n"),
              std::string::npos);
    EXPECT_EQ(s.read("faders.txt"),
              "begin\ntest_mix\n\nt\t0\t0\t0\nv\t1\t-3.0\nv\t2\t-3.0\nv\t3\t-3.0\nend\n");
    EXPECT_TRUE(s.exists("test_mix.wav"));
  }
  for (const char* input : {"-999\n", "", "abc\n"}) {
    Session s;
    basicSession(s);
    std::remove(s.path("faders.txt").c_str());
    const RunResult r = s.run("", input);
    EXPECT_EQ(r.status, 1) << input;
    EXPECT_FALSE(s.exists("faders.txt")) << input;
    EXPECT_EQ(r.out.find("No default fader value was given.") != std::string::npos,
              std::string(input) != "-999\n")
        << r.out;
  }
}

TEST(FoundationRun, VerbosityLevelsSelectMessages) {
  Session s;
  basicSession(s, "begin\nverbo\t0\nend\n");
  RunResult r = s.run();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Preview mode not specified.\n\n") << "the empty line before the mix is always printed";

  s.write("prefs.txt", "begin\nverbo\t1\npre\toff\nend\n");
  r = s.run();
  EXPECT_EQ(r.out.find(kBanner), std::string::npos);
  EXPECT_NE(r.out.find("\nDone!  Created the file: song.wav"), std::string::npos);
  EXPECT_NE(r.out.find("Peaks (dB):"), std::string::npos);
  EXPECT_EQ(r.out.find("Processing time"), std::string::npos);

  s.write("prefs.txt", "begin\nverbo\t3\npre\toff\nend\n");
  r = s.run();
  EXPECT_EQ(r.out.find(kBanner), std::string::npos);
  EXPECT_EQ(r.out.find("Counted"), std::string::npos);
  EXPECT_EQ(r.out.find("Mixing..."), std::string::npos);
  EXPECT_NE(r.out.find("Reading effect settings..."), std::string::npos);
  EXPECT_NE(r.out.find("\nProcessing time = "), std::string::npos);
}

TEST(FoundationRun, LineWarningsAndWindowsLineEnds) {
  Session s;
  basicSession(s);
  s.write("prefs.txt", "begin\r\npre\toff\t\r\nverbo\t 2\r\nend\r\n");
  s.write("faders.txt", "x\r\nbegin\r\nsong\r\nt\t0\t0\t0\r\nv\t1\t\t0\r\nend\r\n");
  const RunResult r = s.run();
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("\n>>>  Warning: extra tab on line 2 of preferences file.\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\n>>>  Warning: extra space on line 3 of preferences file.\n"),
            std::string::npos);
  EXPECT_NE(r.out.find("\n>>>  Warning: extra tab on line 4 of fader file.\n"),
            std::string::npos)
      << "line numbers count from the begin line";
  EXPECT_TRUE(s.exists("song.wav")) << "the carriage return is not part of the mix name";
  EXPECT_EQ(r.out.find("Preview mode not specified."), std::string::npos)
      << "the end token is recognised";
}

TEST(FoundationRun, TrackListModesAndSolo) {
  Session s;
  basicSession(s, "begin\nverbo\t1\ndither\t0\nend\n");
  s.sox("-n -r 48000 -b 16 -c 1 'b c.wav' synth 1 sine 300");
  // Mode 2 with labels; channel 2 left out by its mark.
  s.write("tracks.txt", "begin\nk a.wav +\ns a.wav -\nb a.wav +\nend\n");
  RunResult r = s.run();
  EXPECT_NE(r.out.find("Ch 1\tL"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Ch 2\tL"), std::string::npos);
  EXPECT_NE(r.out.find("Ch 3\tL"), std::string::npos);
  // Solo wins over plain marks.
  s.write("tracks.txt", "begin\nk a.wav +\ns a.wav ++\nend\n");
  r = s.run();
  EXPECT_EQ(r.out.find("Ch 1\tL"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Ch 2\tL"), std::string::npos);
  // Mode 1, tab separated, a name with a space.
  s.write("prefs.txt", "begin\nverbo\t1\ntlist\t1\ntlist=tab\nend\n");
  s.write("tracks.txt", "begin\nb c.wav\t+\nend\n");
  r = s.run();
  EXPECT_NE(r.out.find("Ch 1\tL"), std::string::npos) << r.out;
  // Mode 0: whole lines are names; a missing file is reported, others play.
  s.write("prefs.txt", "begin\nverbo\t1\ntlist\t0\nend\n");
  s.write("tracks.txt", "begin\na.wav\nnone.wav\nb c.wav\nend\n");
  r = s.run();
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Cannot find file in track list called none.wav!!\n"), std::string::npos);
  EXPECT_NE(r.out.find("Ch 3\tL"), std::string::npos);
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

TEST(FoundationRun, OutputThatIsAnInputIsRefused) {
  Session s;
  basicSession(s, "begin\noname\ta\npre\toff\nend\n");
  const std::string before = s.read("a.wav");
  const RunResult r = s.run();
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("Error: output file a.wav is also an input\n"), std::string::npos) << r.out;
  EXPECT_EQ(s.read("a.wav"), before);
}

TEST(FoundationRun, UnwritableOutputEndsWithStatusThree) {
  Session s;
  basicSession(s, "begin\nmixdir\tnowhere/\npre\toff\nend\n");
  const RunResult r = s.run();
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.out.find("Error: cannot write nowhere/song.wav: No such file or directory\n"),
            std::string::npos)
      << r.out;
}

}  // namespace
}  // namespace sorvan::e2e
