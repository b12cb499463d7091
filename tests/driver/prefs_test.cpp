#include "driver/prefs.h"

#include <gtest/gtest.h>

#include "base/fatal.h"
#include "base/messages.h"
#include "driver/text_file.h"
#include "driver/tracks.h"

namespace sorvan {
namespace {

Preferences check(const std::string& text, double rate, std::int64_t song,
                  const PreScan& pre = PreScan{}) {
  const TextFile file = makeTextFile(text);
  return checkPreferences(file.section(), pre, SongFacts{"\nmy mix\n", rate, song});
}

TEST(PreferencesTest, DefaultFileGivesWholeSong24BitStereo) {
  MessageCapture cap;
  const Preferences p = check(kDefaultPreferencesText, 48000, 96000);
  EXPECT_FALSE(p.preview);
  EXPECT_EQ(p.renderStart, 0);
  EXPECT_EQ(p.renderLength, 96000);
  EXPECT_EQ(p.outputBits, 24);
  EXPECT_EQ(p.ditherLevel, 1);
  EXPECT_FALSE(p.mono);
  EXPECT_EQ(p.outputName, "my mix");
  EXPECT_EQ(p.outputPath, "my mix.wav");
  EXPECT_EQ(cap.text(), "Checking Preferences...\n");
}

TEST(PreferencesTest, PreviewStartAndLength) {
  MessageCapture cap;
  Preferences p = check("begin\npre\ton\nstart\t0\t30\t500\nlength\t2.5\nend\n", 48000, 4800000);
  EXPECT_TRUE(p.preview);
  EXPECT_EQ(p.outputPath, "preview.wav");
  EXPECT_EQ(p.renderStart, 1464000);
  EXPECT_EQ(p.renderLength, 120000);
  // A start before the pre line is not seen.
  p = check("begin\nstart\t0\t30\t500\npre\ton\nend\n", 48000, 4800000);
  EXPECT_EQ(p.renderStart, 0);
  EXPECT_EQ(p.renderLength, 4800000);
  // "on " is not "on".
  p = check("begin\npre\ton \nend\n", 48000, 100);
  EXPECT_FALSE(p.preview);
  // Fewer start fields.
  p = check("begin\nsfields\t1\npre\ton\nstart\t1.5\nend\n", 48000, 4800000);
  EXPECT_EQ(p.renderStart, 72000);
}

TEST(PreferencesTest, HeadTailAndPoints) {
  MessageCapture cap;
  const std::int64_t song = 60 * 44100;
  Preferences p = check("begin\npre\toff\nhead\t2\ntail\t3\nend\n", 44100, song);
  EXPECT_EQ(p.renderStart, 88200);
  EXPECT_EQ(p.renderLength, 2425500);
  p = check("begin\npre\toff\nxfields\t1\nxin\t10\nxout\t20\nend\n", 44100, song);
  EXPECT_EQ(p.renderStart, 441000);
  EXPECT_EQ(p.renderLength, 441000);
  p = check("begin\npre\toff\nxfields\t1\nxin\t10\nxout\t20\nhead\t1\nend\n", 44100, song);
  EXPECT_EQ(p.renderStart, 485100);
  EXPECT_EQ(p.renderLength, 396900);
  p = check("begin\npre\toff\nxfields\t7\nxin\t0\t10\t0\nend\n", 44100, song);
  EXPECT_EQ(p.renderStart, 441000) << "a field count outside 1..3 means 3";
  p = check("begin\npre\toff\nhead\t0\nend\n", 44100, song);
  EXPECT_EQ(p.renderStart, 0);
  EXPECT_EQ(p.renderLength, song);
  EXPECT_THROW(check("begin\npre\toff\nxin\t1e300\t0\t0\nend\n", 44100, song), Fatal);
  EXPECT_THROW(check("begin\npre\toff\nend\n", 44100, 0), Fatal) << "no song at all";
}

TEST(PreferencesTest, DitherMonoBitsAndModes) {
  MessageCapture cap;
  Preferences p = check("begin\npre\toff\ndither\t9\nend\n", 48000, 10);
  EXPECT_EQ(p.ditherLevel, 1);
  EXPECT_EQ(p.ditherHalfWidth, 1);
  EXPECT_EQ(p.ditherModulus, 3);
  EXPECT_NE(cap.text().find("Dither is set out of range (0-8)\n"), std::string::npos);
  p = check("begin\npre\toff\ndither\t3\nend\n", 48000, 10);
  EXPECT_EQ(p.ditherHalfWidth, 4);
  EXPECT_EQ(p.ditherModulus, 9);
  p = check("begin\npre\toff\ndither\t0\nend\n", 48000, 10);
  EXPECT_EQ(p.ditherHalfWidth, 0);
  EXPECT_EQ(p.ditherModulus, 0);

  EXPECT_EQ(check("begin\nmono\t0\nend\n", 48000, 10).monoFactor, 1.0);
  EXPECT_NEAR(check("begin\nmono\t-6\nend\n", 48000, 10).monoFactor, 0.501, 0.001);
  EXPECT_EQ(check("begin\nmono\t-20\nend\n", 48000, 10).monoFactor, 0.5);
  EXPECT_EQ(check("begin\nmono\t3\nend\n", 48000, 10).monoFactor, 0.5);

  EXPECT_EQ(check("begin\noutbits\t16\nend\n", 48000, 10).outputBits, 16);
  EXPECT_EQ(check("begin\noutbits\t32\nend\n", 48000, 10).outputBits, 24);
  EXPECT_EQ(check("begin\nend\noutbits\t16\n", 48000, 10).outputBits, 16);

  cap.clear();
  p = check("begin\nv=percent\ntempo\nseed\t77\nlaunch\techo hi there\npre\toff\nend\n", 48000, 10);
  EXPECT_TRUE(p.percent);
  EXPECT_TRUE(p.tempo);
  EXPECT_EQ(p.seed, 77u);
  EXPECT_EQ(p.launch, "echo hi there");
  EXPECT_EQ(cap.text(), "Checking Preferences...\nFaders using percent.\nTempo mode on.\n");
}

TEST(PreferencesTest, PreScanDirectoriesAndTrackListMode) {
  const TextFile file = makeTextFile(
      "begin\nmixdir\tone/\nmixdir\ttwo dir/\nwavdir\taudio/\ntlist\t5\ntlist=tab\nverbo\t3\nend\n");
  const PreScan pre = preScanPreferences(file.section());
  EXPECT_EQ(pre.mixDir, "two dir/");
  EXPECT_EQ(pre.sourceDir, "audio/");
  EXPECT_FALSE(pre.backupDir);
  EXPECT_EQ(pre.trackListMode, 2);
  EXPECT_TRUE(pre.tabSeparatedTracks);
  EXPECT_EQ(pre.verbosity, 3);
  EXPECT_EQ(preScanPreferences(makeTextFile("begin\ntlist\t0\n").section()).trackListMode, 0);
}

TEST(TrackListTest, ModesMarksAndCounts) {
  MessageCapture cap;
  const TextFile file =
      makeTextFile("begin\nk kick.wav +\ns  snare.wav -\nb bass.wav +\nend\nx y.wav +\n");
  EXPECT_EQ(countTracks(file.section()), 3);
  TrackList list = readTrackList(file.section(), 3, 2, false);
  EXPECT_EQ(list.wanted[1], 1);
  EXPECT_EQ(list.wanted[2], 0);
  EXPECT_EQ(list.wanted[3], 1);
  EXPECT_EQ(list.names, (std::vector<std::string>{"kick.wav", "snare.wav", "bass.wav"}));
  EXPECT_EQ(countTracks(makeTextFile("begin\nend\n").section()), 1);

  std::string many = "begin\n";
  for (int i = 0; i < 130; ++i) many += "t f.wav +\n";
  EXPECT_EQ(countTracks(makeTextFile(many).section()), 127);
  EXPECT_NE(cap.text().find("only the first 127 are used"), std::string::npos);
}

TEST(TrackListTest, TimeStampsCombineAndIgnoreBadChannels) {
  MessageCapture cap;
  std::array<std::int64_t, kMaxTracks + 1> offsets{};
  readTimeStamps("\ntstamp\t2\t0\t1\t0\nsstamp\t2\t-100\nsstamp\t2\t-5\ntstamp\t200\t0\t1\t0\n",
                 44100, offsets);
  EXPECT_EQ(offsets[2], 44100 - 105);
  EXPECT_NE(cap.text().find("tstamp for channel 200 is out of range"), std::string::npos);
}

}  // namespace
}  // namespace sorvan
