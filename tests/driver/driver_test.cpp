// Preferences and the track list read directly: render ranges, output format
// and the track-list forms, including inputs found by fuzzing.
#include <gtest/gtest.h>

#include "base/fatal.h"
#include "base/messages.h"
#include "driver/prefs.h"
#include "driver/text_file.h"
#include "driver/tracks.h"

namespace sorvan {
namespace {

Preferences check(const std::string& text, std::int64_t song = 4800000) {
  const TextFile file = makeTextFile(text);
  return checkPreferences(file.section(), PreScan{}, SongFacts{"\nmy mix\n", 48000, song});
}

TEST(PreferencesTest, RenderRanges) {
  MessageCapture cap;
  const Preferences p = check(kDefaultPreferencesText, 96000);
  EXPECT_EQ(std::tuple(p.preview, p.mono, p.renderStart, p.renderLength, p.outputBits),
            std::tuple(false, false, 0, 96000, 24));
  EXPECT_EQ(p.outputPath, "my mix.wav");
  EXPECT_EQ(cap.text(), "Checking Preferences...\n");
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
  };
  for (const auto& c : cases) {
    const Preferences r = check(std::string("begin\n") + c.lines + "end\n");
    EXPECT_EQ(std::tuple(r.renderStart, r.renderLength), std::tuple(c.start, c.length)) << c.lines;
  }
  EXPECT_EQ(check("begin\npre\ton\nend\n").outputPath, "preview.wav");
  EXPECT_THROW(check("begin\npre\toff\nend\n", 0), Fatal) << "no song at all";
  // An in point beyond any song saturates; the head added to it must not
  // overflow but end in the range error.
  cap.clear();
  try {
    check("head\t2\nxin\t9e99");
    ADD_FAILURE() << "accepted";
  } catch (const Fatal& fatal) {
    EXPECT_EQ(fatal.status, exit_status::kConfig);
  }
  EXPECT_NE(cap.text().find("Head or tail set incorrectly in preferences!\n"), std::string::npos);
}

TEST(PreferencesTest, DitherBitsMonoAndFlags) {
  MessageCapture cap;
  Preferences p = check("begin\npre\toff\ndither\t9\noutbits\t16\nmono\t-6.0206\nend\n");
  EXPECT_EQ(std::tuple(p.ditherLevel, p.ditherHalfWidth, p.ditherModulus), std::tuple(1, 1, 3));
  EXPECT_EQ(std::tuple(p.outputBits, p.mono), std::tuple(16, true));
  EXPECT_NEAR(p.monoFactor, 0.5, 1e-6);
  EXPECT_NE(cap.text().find("Dither is set out of range (0-8)\n"), std::string::npos);
  p = check("begin\ndither\t3\nmono\t3\nend\n");
  EXPECT_EQ(std::tuple(p.ditherHalfWidth, p.ditherModulus, p.monoFactor), std::tuple(4, 9, 0.5))
      << "a mono factor outside 0.125..1 falls back to one half";
  p = check("begin\ndither\t0\noutbits\t32\nmono\t0\nend\n");
  EXPECT_EQ(std::tuple(p.ditherHalfWidth, p.ditherModulus, p.outputBits, p.monoFactor),
            std::tuple(0, 0, 24, 1.0));
  cap.clear();
  p = check("begin\nv=percent\ntempo\nseed\t77\nlaunch\techo hi there\npre\toff\nend\n");
  EXPECT_TRUE(p.percent && p.tempo);
  EXPECT_EQ(std::tuple(p.seed.value_or(0), *p.launch), std::tuple(77u, "echo hi there"));
  EXPECT_EQ(cap.text(), "Checking Preferences...\nFaders using percent.\nTempo mode on.\n");
}

TEST(TrackListTest, PreScanMarksCountsAndTimeStamps) {
  const PreScan pre = preScanPreferences(
      makeTextFile("begin\nmixdir\tone/\nmixdir\ttwo dir/\ntlist\t5\ntlist=tab\nend\n").section());
  EXPECT_EQ(std::tuple(*pre.mixDir, pre.trackListMode, pre.tabSeparatedTracks),
            std::tuple("two dir/", 2, true));
  MessageCapture cap;
  const TextFile file =
      makeTextFile("begin\nk kick.wav +\ns  snare.wav -\nb bass.wav ++\nend\nx y.wav +\n");
  EXPECT_EQ(countTracks(file.section()), 3);
  const TrackList list = readTrackList(file.section(), 3, 2, false);
  EXPECT_EQ(std::vector<int>(list.wanted.begin() + 1, list.wanted.begin() + 4),
            (std::vector<int>{0, 0, 1}))
      << "a solo mark silences the others";
  EXPECT_EQ(list.names, (std::vector<std::string>{"kick.wav", "snare.wav", "bass.wav"}));
  EXPECT_EQ(readTrackList("\na.wav\nb c.wav\n", 2, 0, false).names,
            (std::vector<std::string>{"a.wav", "b c.wav"}));
  std::string many = "\n";
  for (int i = 0; i < 200; ++i) many += "t a.wav +\n";
  EXPECT_EQ(countTracks(many), kMaxTracks);

  std::array<std::int64_t, kMaxTracks + 1> offsets{};
  readTimeStamps(
      "\ntstamp\t2\t0\t1\t0\nsstamp\t2\t-100\nsstamp\t2\t-5\ntstamp\t200\t0\t1\t0\n"
      "sstamp\t3\t-9223372036854775807\nsstamp\t3\t-100\n",
      44100, offsets);
  EXPECT_EQ(std::tuple(offsets[2], offsets[3]), std::tuple(44100 - 105, INT64_MIN));
  EXPECT_EQ(cap.text(),
            ">> Warning: the tracks file lists 200 tracks; only the first 127 are used.\n"
            ">> Warning: tstamp for channel 200 is out of range and is ignored.\n");
}

}  // namespace
}  // namespace sorvan
