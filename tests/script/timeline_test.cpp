#include "script/timeline.h"

#include <string>

#include <gtest/gtest.h>

#include "base/fatal.h"
#include "base/messages.h"

namespace sorvan {
namespace {

TimeCursor clockCursor(std::int64_t songLength = 48000LL * 600) {
  TimeCursor cursor;
  cursor.sampleRate = 48000.0;
  cursor.songLength = songLength;
  return cursor;
}

std::int64_t readTime(const char* fields, TimeCursor& cursor) {
  Tokenizer tok(fields);
  readTimeEntry(tok, cursor);
  return cursor.position;
}

int fatalStatus(auto action) {
  try {
    action();
  } catch (const Fatal& fatal) {
    return fatal.status;
  }
  return -1;
}

TempoMap tempoMap(const char* fader) {
  TempoMap map;
  buildTempoMap(fader, 48000.0, 0, map);
  return map;
}

std::int64_t at(const TempoMap& map, float bar, float beat, float tick) {
  return tempoToSamples(map, TimeFields{bar, beat, tick}, 0);
}

TEST(TimelineTest, ClockTimesIncludeTheOffset) {
  TimeCursor cursor = clockCursor();
  EXPECT_EQ(readTime("1\t30\t500\n", cursor), 4344000);
  cursor.offset = 100;
  EXPECT_EQ(readTime("1\t30\t500\n", cursor), 4344100);
  cursor.fieldCount = 1;
  EXPECT_EQ(readTime("2.5\n", cursor), 120100);
  EXPECT_EQ(cursor.entryCount, 3);
}

TEST(TimelineTest, TempoMapPositions) {
  const TempoMap one = tempoMap("\ntmap\t120\t4\t8\n");
  EXPECT_EQ(one.segments[0].length, 768000);
  EXPECT_EQ(at(one, 1, 1, 0), 0);
  EXPECT_EQ(at(one, 2, 1, 0), 96000);
  EXPECT_EQ(at(one, 1, 2, 240), 36000);
  EXPECT_EQ(at(one, 9, 1, 0), 768000) << "beyond the map the last tempo goes on";
  EXPECT_EQ(at(one, 2, -1, 0), 72000) << "a negative beat counts back from the bar";
  EXPECT_EQ(tempoToSamples(one, TimeFields{2, 1, 0}, 50), 96050);

  const TempoMap two = tempoMap("\ntmap\t120\t4\t8\ntmap\t60\t3\t2\nend\ntmap\t1\t1\t1\n");
  ASSERT_EQ(two.count, 2);
  EXPECT_EQ(at(two, 5, 1, 0), 384000) << "inside the first segment only its tempo counts";
  EXPECT_EQ(at(two, 10, 2, 0), 768000 + 144000 + 48000);
  EXPECT_EQ(at(two, 12, 1, 0), 768000 + 3 * 144000);
}

TEST(TimelineTest, TimesOutsideTheSongEndTheRun) {
  TimeCursor cursor = clockCursor(96000);
  EXPECT_EQ(readTime("0\t2\t0\n", cursor), 96000) << "the song's last position is allowed";
  MessageCapture cap;
  EXPECT_EQ(fatalStatus([&] { readTime("0\t2\t0.1\n", cursor); }), exit_status::kConfig);
  EXPECT_EQ(cap.text(), "Error:  Time entry 2 exceeds song length\n");

  cap.clear();
  TimeCursor early = clockCursor();
  early.offset = -100;
  EXPECT_EQ(fatalStatus([&] { readTime("0\t0\t0\n", early); }), exit_status::kConfig);
  EXPECT_EQ(cap.text(), "Error:  Time entry 1 is less than zero\n");

  cap.clear();
  TimeCursor beat = clockCursor();
  const TempoMap map = tempoMap("\ntmap\t120\t4\t8\n");
  beat.tempo = true;
  beat.tempoMap = &map;
  beat.fieldCount = 1;  // the bar is then 0: a whole bar before the map
  EXPECT_EQ(fatalStatus([&] { readTime("2\n", beat); }), exit_status::kConfig);
  EXPECT_EQ(cap.text(), "Error:  Time entry 1 is less than zero\n");

  TimeCursor huge = clockCursor();
  EXPECT_EQ(fatalStatus([&] { readTime("1e30\t1e38\t0\n", huge); }), exit_status::kConfig);
}

TEST(TimelineTest, IncrementMovesTheCursorWithoutChecks) {
  TimeCursor cursor = clockCursor(96000);
  cursor.position = 1000;
  Tokenizer tok("1.5\n1e6\n1e308\n");
  readTimeIncrement(tok, cursor);
  EXPECT_EQ(cursor.position, 73000);
  readTimeIncrement(tok, cursor);
  EXPECT_EQ(cursor.position, 73000 + 48000000000LL);
  readTimeIncrement(tok, cursor);
  EXPECT_EQ(cursor.position, INT64_MAX);
}

TEST(TimelineTest, AutomationOffsetFromThePreferences) {
  MessageCapture cap;
  EXPECT_EQ(readAutomationOffset("\nend\n", 48000.0, false, 0), 0);
  EXPECT_EQ(readAutomationOffset("\noffset\t0\t1\t500\n", 48000.0, false, 0), 72000);
  EXPECT_EQ(readAutomationOffset("\noffset\txlink\n", 48000.0, true, 5000), 5000);
  EXPECT_EQ(readAutomationOffset("\noffset\t0\t1\t0\noffset\txlink\n", 48000.0, false, 5000), 0);
  EXPECT_EQ(cap.text(),
            "Automation offset by 72000 samples.\n"
            "Automation offset by 5000 samples.\n"
            "Automation offset by 48000 samples.\n"
            "Automation offset by 0 samples.\n");
}

TEST(TimelineTest, TempoMapFaults) {
  MessageCapture cap;
  EXPECT_EQ(fatalStatus([] { tempoMap("\ntmap\t120\t4\t8\ntmap\t0\t4\t2\n"); }),
            exit_status::kConfig);
  EXPECT_EQ(cap.text(), "Error:  Tempo must be above zero in tempo map entry 2\n");

  cap.clear();
  EXPECT_EQ(fatalStatus([] { tempoMap("\nt\t1\t1\t0\nend\ntmap\t120\t4\t8\n"); }),
            exit_status::kConfig);
  EXPECT_EQ(cap.text(), "Tempo mode is on, but no tempos or meters have been entered!\n");

  cap.clear();
  std::string many = "\n";
  for (int i = 0; i < 130; ++i) many += "tmap\t120\t4\t1\n";
  many += "tmap\t0\t4\t1\n";
  const TempoMap full = tempoMap(many.c_str());
  EXPECT_EQ(full.count, kMaxTempoSegments);
  EXPECT_EQ(cap.text(),
            ">> Warning: tempo map has more than 128 entries; the extra entries are ignored.\n");
}

TEST(TimelineTest, TimeFieldCountAndItsMessages) {
  MessageCapture cap;
  EXPECT_EQ(readTimeFieldCount("\nend\n", 2), 3);
  EXPECT_EQ(readTimeFieldCount("\ntfields\t1\n", 2), 1);
  EXPECT_EQ(readTimeFieldCount("\ntfields\t7\n", 2), 3);
  EXPECT_EQ(readTimeFieldCount("\ntfields\t2\n", 3), 2);
  EXPECT_EQ(cap.text(), "Using 1 time field\nUsing 3 time fields\n");
}

}  // namespace
}  // namespace sorvan
