// Command-line options: --help, --version, --check and unknown options.
#include <cstdio>

#include <gtest/gtest.h>

#include "e2e/session.h"

namespace sorvan::e2e {
namespace {

TEST(OptionsRun, HelpAndVersion) {
  Session s;
  RunResult r = s.run("--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("Usage: sorvan [options] [tracks.txt [faders.txt [prefs.txt]]]\n", 0), 0u);
  EXPECT_NE(r.out.find("--check"), std::string::npos);
  EXPECT_NE(r.out.find("docs/guide.md"), std::string::npos);
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
  s.sox("-n -r 48000 -b 24 -c 2 a.wav synth 0.5 sine 440 gain -6");
  s.write("tracks.txt", "begin\nx a.wav +\nend\n");
  s.write("faders.txt", "begin\nsong\nt\t0\t0\t0\nv\t1\t20\nend\n");
  s.write("prefs.txt", "begin\npre\toff\nend\n");
  const RunResult r = s.run("--check");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find(">> Warning: fader 1 (entry 1) set above 12.02 dB\n"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("Check complete"), std::string::npos);
  EXPECT_EQ(r.out.find("Mixing..."), std::string::npos);
  EXPECT_FALSE(s.exists("song.wav"));
  EXPECT_FALSE(s.exists("stats_song.txt"));
}

TEST(OptionsRun, CheckSaysWhichDefaultsItWouldCreate) {
  Session s;
  s.sox("-n -r 48000 -b 16 -c 1 a.wav synth 0.5 sine 440");
  s.write("tracks.txt", "begin\nx a.wav +\nend\n");
  const RunResult r = s.run("--check", "");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("Check: would create prefs.txt"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Check: would create faders.txt"), std::string::npos) << r.out;
  EXPECT_FALSE(s.exists("prefs.txt"));
  EXPECT_FALSE(s.exists("faders.txt"));
}

TEST(OptionsRun, CheckFailsLikeARender) {
  Session s;
  s.sox("-n -r 48000 -b 24 -c 2 a.wav synth 0.5 sine 440");
  s.write("tracks.txt", "begin\nx a.wav +\nend\n");
  s.write("prefs.txt", "begin\npre\toff\nend\n");
  // A time entry beyond the song.
  s.write("faders.txt", "begin\nsong\nt\t1\t0\t0\nv\t1\t0\nend\n");
  RunResult r = s.run("--check");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("Error:  Time entry 1 exceeds song length\n"), std::string::npos) << r.out;
  // An impossible reverb room is found without mixing.
  s.write("faders.txt", "begin\nsong\nt\t0\t0\t0\nv\t1\t0\nrtn\t0\t-5\nrev\t1\t0\nend\n");
  r = s.run("--check");
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_FALSE(s.exists("song.wav"));
}

}  // namespace
}  // namespace sorvan::e2e
