// Preferences and the track list read directly. Render-range slices, mono
// factors, dither levels and track-list modes are also checked on real renders
// (e2e); here the corners a render cannot show well.
#include "driver/prefs.h"

#include <gtest/gtest.h>

#include "base/fatal.h"
#include "base/messages.h"
#include "driver/text_file.h"
#include "driver/tracks.h"

namespace sorvan {
namespace {

Preferences check(const std::string& text, double rate = 48000, std::int64_t song = 4800000) {
  const TextFile file = makeTextFile(text);
  return checkPreferences(file.section(), PreScan{}, SongFacts{"\nmy mix\n", rate, song});
}

TEST(PreferencesTest, DefaultFileGivesWholeSong24BitStereo) {
  MessageCapture cap;
  const Preferences p = check(kDefaultPreferencesText, 48000, 96000);
  EXPECT_FALSE(p.preview || p.mono);
  EXPECT_EQ(std::tuple(p.renderStart, p.renderLength, p.outputBits, p.ditherLevel),
            std::tuple(0, 96000, 24, 1));
  EXPECT_EQ(p.outputPath, "my mix.wav");
  EXPECT_EQ(cap.text(), "Checking Preferences...\n");
}

TEST(PreferencesTest, RenderRanges) {
  MessageCapture quiet;
  const struct {
    const char* lines;
    std::int64_t start, length;
  } cases[] = {
      {"pre\ton\nstart\t0\t30\t500\nlength\t2.5\n", 1464000, 120000},
      {"start\t0\t30\t500\npre\ton\n", 0, 4800000},   // a start before the pre line is not seen
      {"pre\ton \nstart\t0\t30\t500\n", 0, 4800000},  // "on " is not "on"
      {"sfields\t1\npre\ton\nstart\t1.5\nlength\t1\n", 72000, 48000},
      {"pre\toff\nhead\t2\ntail\t3\n", 96000, 4560000},
      {"pre\toff\nxfields\t1\nxin\t10\nxout\t20\nhead\t1\n", 528000, 432000},
      {"pre\toff\nxfields\t7\nxin\t0\t10\t0\n", 480000, 4320000},  // outside 1..3 means 3
      {"pre\toff\nhead\t0\n", 0, 4800000},
  };
  for (const auto& c : cases) {
    const Preferences p = check(std::string("begin\n") + c.lines + "end\n");
    EXPECT_EQ(std::tuple(p.renderStart, p.renderLength), std::tuple(c.start, c.length)) << c.lines;
  }
  EXPECT_EQ(check("begin\npre\ton\nend\n").outputPath, "preview.wav");
  EXPECT_THROW(check("begin\npre\toff\nxin\t1e300\t0\t0\nend\n"), Fatal);
  EXPECT_THROW(check("begin\npre\toff\nend\n", 48000, 0), Fatal) << "no song at all";
}

TEST(PreferencesTest, DitherBitsAndFlags) {
  MessageCapture cap;
  Preferences p = check("begin\npre\toff\ndither\t9\nend\n");
  EXPECT_EQ(std::tuple(p.ditherLevel, p.ditherHalfWidth, p.ditherModulus), std::tuple(1, 1, 3));
  EXPECT_NE(cap.text().find("Dither is set out of range (0-8)\n"), std::string::npos);
  p = check("begin\ndither\t3\nend\n");
  EXPECT_EQ(std::tuple(p.ditherHalfWidth, p.ditherModulus), std::tuple(4, 9));
  p = check("begin\ndither\t0\nend\n");
  EXPECT_EQ(std::tuple(p.ditherHalfWidth, p.ditherModulus), std::tuple(0, 0));
  EXPECT_EQ(check("begin\noutbits\t32\nend\n").outputBits, 24);

  cap.clear();
  p = check("begin\nv=percent\ntempo\nseed\t77\nlaunch\techo hi there\npre\toff\nend\n");
  EXPECT_TRUE(p.percent && p.tempo);
  EXPECT_EQ(p.seed, 77u);
  EXPECT_EQ(p.launch, "echo hi there");
  EXPECT_EQ(cap.text(), "Checking Preferences...\nFaders using percent.\nTempo mode on.\n");
}

TEST(PreferencesTest, DeliveryKeywords) {
  MessageCapture quiet;
  Preferences p = check("begin\npre\toff\nend\n");
  EXPECT_EQ(std::tuple(p.format, p.stems, p.json, p.target.has_value()),
            std::tuple(OutputFormat::kWave, false, false, false));
  p = check("begin\npre\ton\noutformat\tflac\nstems\ton\nstems\tyes\njson\ton\nend\n");
  EXPECT_EQ(std::tuple(p.format, p.stems, p.json), std::tuple(OutputFormat::kFlac, true, true));
  EXPECT_EQ(p.outputPath, "preview.flac");
  EXPECT_EQ(check("begin\noutformat\tflac\noutformat\tfloat\nend\n").outputPath, "my mix.wav");

  // The last target whose values are in range counts; the ceiling defaults to -1.
  const struct {
    const char* line;
    std::optional<std::pair<double, double>> target;
  } cases[] = {{"-14", std::pair(-14.0, -1.0)},         {"-23\t-2", std::pair(-23.0, -2.0)},
               {"-16.5\t\t0", std::pair(-16.5, 0.0)}, {"3", std::nullopt},
               {"-14\t1", std::nullopt},               {"-80", std::nullopt},
               {"loud", std::nullopt},                   {"-14\t-21", std::nullopt}};
  for (const auto& c : cases) {
    const auto target = parseTarget(c.line);
    EXPECT_EQ(target.has_value(), c.target.has_value()) << c.line;
    if (target && c.target) {
      EXPECT_EQ(std::pair(target->lufs, target->ceiling), *c.target) << c.line;
    }
  }
  p = check("begin\ntarget\t-20\ntarget\t5\nend\n");
  EXPECT_EQ(p.target->lufs, -20.0);
}

TEST(PreferencesTest, PreScanDirectoriesAndTrackListMode) {
  const TextFile file = makeTextFile(
      "begin\nmixdir\tone/\nmixdir\ttwo "
      "dir/\nwavdir\taudio/\ntlist\t5\ntlist=tab\nverbo\t3\nend\n");
  const PreScan pre = preScanPreferences(file.section());
  EXPECT_EQ(pre.mixDir, "two dir/");
  EXPECT_EQ(pre.sourceDir, "audio/");
  EXPECT_FALSE(pre.backupDir);
  EXPECT_EQ(std::tuple(pre.trackListMode, pre.tabSeparatedTracks, pre.verbosity),
            std::tuple(2, true, 3));
  EXPECT_EQ(preScanPreferences(makeTextFile("begin\ntlist\t0\n").section()).trackListMode, 0);
}

TEST(TrackListTest, MarksCountsAndTimeStamps) {
  MessageCapture cap;
  const TextFile file =
      makeTextFile("begin\nk kick.wav +\ns  snare.wav -\nb bass.wav +\nend\nx y.wav +\n");
  EXPECT_EQ(countTracks(file.section()), 3);
  TrackList list = readTrackList(file.section(), 3, 2, false);
  EXPECT_EQ(std::vector<int>(list.wanted.begin() + 1, list.wanted.begin() + 4),
            (std::vector<int>{1, 0, 1}));
  EXPECT_EQ(list.names, (std::vector<std::string>{"kick.wav", "snare.wav", "bass.wav"}));
  EXPECT_EQ(countTracks(makeTextFile("begin\nend\n").section()), 1);

  std::array<std::int64_t, kMaxTracks + 1> offsets{};
  readTimeStamps("\ntstamp\t2\t0\t1\t0\nsstamp\t2\t-100\nsstamp\t2\t-5\ntstamp\t200\t0\t1\t0\n",
                 44100, offsets);
  EXPECT_EQ(offsets[2], 44100 - 105);
  EXPECT_NE(cap.text().find("tstamp for channel 200 is out of range"), std::string::npos);
}

}  // namespace
}  // namespace sorvan
