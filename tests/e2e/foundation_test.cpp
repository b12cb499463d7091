// Runs of the real binary around the mix: the command line, --check, and the
// default files a missing preferences or fader file is replaced with.
#include <gtest/gtest.h>

#include <filesystem>

#include "e2e/render_support.h"
#include "e2e/session.h"

namespace sorvan::e2e {
namespace {

constexpr const char* kBanner = "Sorvan version 1.164 (w20e)\n";

void basicSession(Session& s, const std::string& prefs) {
  s.sox("-n -r 48000 -b 24 -c 2 a.wav synth 1 sine 440 gain -6");
  s.files("begin\nkick a.wav +\nend\n", unityFaders(), prefs);
}

TEST(OptionsRun, HelpAndVersion) {
  Session s;
  RunResult r = s.run("--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("Usage: sorvan [options] [tracks.txt [faders.txt [prefs.txt]]]\n", 0), 0u);
  EXPECT_TRUE(contains(r.out, "--check") && contains(r.out, "docs/guide.md")) << r.out;
  r = s.run("--version");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind(std::string(kBanner) + "build 1.164", 0), 0u) << r.out;
  EXPECT_FALSE(s.exists("prefs.txt"));
}

TEST(OptionsRun, CheckReadsEverythingAndWritesNothing) {
  Session s;
  basicSession(s, "begin\npre\toff\nend\n");
  s.write("faders.txt", unityFaders("v\t1\t20\n"));
  Snapshot before = snapshot(s);
  RunResult r = s.run("--check");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(contains(r.out, ">> Warning: fader 1 (entry 2) set above 12.02 dB\n")) << r.out;
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

TEST(FoundationRun, DefaultFilesAreCreatedOnlyWhereNoFileIsInTheWay) {
  Session s;
  basicSession(s, "begin\nverbo\t0\nend\n");
  // Named but missing: the existing default file stays as it is, and the
  // default text (verbosity 2) is used.
  RunResult r = s.run("tracks.txt faders.txt other.txt");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(s.read("prefs.txt"), "begin\nverbo\t0\nend\n");
  EXPECT_TRUE(contains(r.out, "prefs.txt already exists and was left unchanged"));
  EXPECT_TRUE(contains(r.out, kBanner));
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
  EXPECT_EQ(s.read("faders.txt"),
            "begin\ntest_mix\n\nt\t0\t0\t0\nv\t1\t-3.0\nv\t2\t-3.0\nv\t3\t-3.0\nend\n");
  EXPECT_EQ(readRendered(s, "test_mix.wav").frames(), 48000u);
}

}  // namespace
}  // namespace sorvan::e2e
