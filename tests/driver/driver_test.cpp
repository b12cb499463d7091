// Preferences and the track list read directly: the corners of the render
// range a render cannot show (slices themselves are checked end to end), the
// output format and flags, the track-list forms and time stamps.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <tuple>
#include <utility>

#include "base/fatal.h"
#include "base/messages.h"
#include "driver/prefs.h"
#include "driver/text_file.h"
#include "driver/tracks.h"

namespace sorvan {
namespace {

Preferences check(const std::string& lines, std::int64_t song = 4800000) {
  const TextFile file = makeTextFile("begin\n" + lines + "end\n");
  return checkPreferences(file.section(), PreScan{}, SongFacts{"\nmy mix\n", 48000, song});
}

TEST(PreferencesTest, RangesFormatAndFlags) {
  MessageCapture cap;
  Preferences p = check("pre\toff\nstart\t0\t0\t0\nlength\t0\noutbits\t24\n\n", 96000);
  EXPECT_EQ(std::tuple(p.preview, p.renderStart, p.renderLength, p.outputBits, p.outputPath),
            std::tuple(false, 0, 96000, 24, "my mix.wav"));
  for (const auto& [lines, start, length] :
       {std::tuple{"start\t0\t30\t500\npre\ton\n", 0, 4800000},  // a start before pre is unseen
        {"pre\ton \nstart\t0\t30\t500\n", 0, 4800000},           // "on " is not "on"
        {"pre\toff\nxfields\t7\nxin\t0\t10\t0\n", 480000, 4320000}}) {  // outside 1..3: 3
    p = check(lines);
    EXPECT_EQ(std::tuple(p.renderStart, p.renderLength), std::tuple(start, length)) << lines;
  }
  EXPECT_EQ(check("pre\ton\n").outputPath, "preview.wav");
  EXPECT_THROW(check("pre\toff\n", 0), Fatal) << "no song at all";
  // An in point beyond any song saturates; the head added to it must not
  // overflow but end in the range error (found by fuzzing).
  EXPECT_THROW(check("head\t2\nxin\t9e99\n"), Fatal);
  cap.clear();
  p = check(
      "pre\toff\ndither\t9\noutbits\t16\nmono\t-6.0206\nv=percent\ntempo\nseed\t77\n"
      "launch\techo hi there\n");
  EXPECT_EQ(std::tuple(p.ditherLevel, p.ditherHalfWidth, p.ditherModulus, p.outputBits, p.mono,
                       std::lround(p.monoFactor * 1000), p.percent, p.tempo, *p.seed, *p.launch),
            std::tuple(1, 1, 3, 16, true, 500, true, true, 77u, "echo hi there"));
  EXPECT_EQ(cap.text(),
            "Checking Preferences...\nFaders using percent.\nTempo mode on.\n"
            "Dither is set out of range (0-8)\n");
  p = check("dither\t3\nmono\t3\n");  // a mono factor outside 0.125..1 falls back to one half
  EXPECT_EQ(std::tuple(p.ditherHalfWidth, p.ditherModulus, p.monoFactor), std::tuple(4, 9, 0.5));
  p = check("dither\t0\noutbits\t32\nmono\t0\n");
  EXPECT_EQ(std::tuple(p.ditherModulus, p.outputBits, p.monoFactor), std::tuple(0, 24, 1.0));
}

TEST(PreferencesTest, DeliveryKeywords) {
  MessageCapture quiet;
  Preferences p = check("pre\toff\n");
  EXPECT_EQ(std::tuple(p.format, p.stems, p.json, p.target.has_value()),
            std::tuple(OutputFormat::kWave, false, false, false));
  p = check("pre\ton\noutformat\tflac\nstems\ton\nstems\tyes\njson\ton\n");
  EXPECT_EQ(std::tuple(p.format, p.stems, p.json), std::tuple(OutputFormat::kFlac, true, true));
  EXPECT_EQ(p.outputPath, "preview.flac");
  EXPECT_EQ(check("outformat\tflac\noutformat\tfloat\n").outputPath, "my mix.wav");

  // The last target whose values are in range counts; the ceiling defaults to -1.
  const struct {
    const char* line;
    std::optional<std::pair<double, double>> target;
  } cases[] = {{"-14", std::pair(-14.0, -1.0)},
               {"-23\t-2", std::pair(-23.0, -2.0)},
               {"-16.5\t\t0", std::pair(-16.5, 0.0)},
               {"3", std::nullopt},
               {"-14\t1", std::nullopt},
               {"-80", std::nullopt},
               {"loud", std::nullopt},
               {"-14\t-21", std::nullopt}};
  for (const auto& c : cases) {
    const auto target = parseTarget(c.line);
    EXPECT_EQ(target.has_value(), c.target.has_value()) << c.line;
    if (target && c.target) {
      EXPECT_EQ(std::pair(target->lufs, target->ceiling), *c.target) << c.line;
    }
  }
  EXPECT_EQ(check("target\t-20\ntarget\t5\n").target->lufs, -20.0);
}

TEST(TrackListTest, MarksCountsNamesAndTimeStamps) {
  MessageCapture cap;
  const TextFile file =
      makeTextFile("begin\nk kick.wav +\ns  snare.wav -\nb bass.wav ++\nend\nx y.wav +\n");
  const TrackList list = readTrackList(file.section(), countTracks(file.section()), 2, false);
  EXPECT_EQ(std::vector<int>(list.wanted.begin() + 1, list.wanted.begin() + 5),
            (std::vector<int>{0, 0, 1, 0}))
      << "three tracks; a solo mark silences the others";
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
