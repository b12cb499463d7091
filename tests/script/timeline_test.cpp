#include "script/timeline.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

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

TempoMap tempoMap(const std::string& fader) {
  TempoMap map;
  buildTempoMap(fader, 48000.0, 0, map);
  return map;
}

std::int64_t at(const TempoMap& map, float bar, float beat, float tick) {
  return tempoToSamples(map, TimeFields{bar, beat, tick}, 0);
}

TEST(TimelineTest, ClockTimesIncrementsAndOffset) {
  TimeCursor cursor = clockCursor();
  EXPECT_EQ(readTime("1\t30\t500\n", cursor), 4344000);
  cursor.offset = 100;
  cursor.fieldCount = 1;
  EXPECT_EQ(readTime("2.5\n", cursor), 120100);
  EXPECT_EQ(cursor.entryCount, 2);
  // "inc" moves the cursor without checks, saturating.
  cursor.position = 1000;
  Tokenizer tok("1.5\n1e308\n");
  readTimeIncrement(tok, cursor);
  EXPECT_EQ(cursor.position, 73000);
  readTimeIncrement(tok, cursor);
  EXPECT_EQ(cursor.position, INT64_MAX);
  MessageCapture cap;
  EXPECT_EQ(readAutomationOffset("\noffset\t0\t1\t500\n", 48000.0, false, 0), 72000);
  EXPECT_EQ(readAutomationOffset("\noffset\txlink\n", 48000.0, true, 5000), 5000);
  EXPECT_EQ(readAutomationOffset("\noffset\txlink\n", 48000.0, false, 5000), 0);
  EXPECT_EQ(readTimeFieldCount("\ntfields\t1\n", 2), 1);
  EXPECT_EQ(readTimeFieldCount("\ntfields\t7\n", 2), 3);
  EXPECT_EQ(cap.text(),
            "Automation offset by 72000 samples.\nAutomation offset by 5000 samples.\n"
            "Automation offset by 0 samples.\nUsing 1 time field\nUsing 3 time fields\n");
}

TEST(TimelineTest, TempoMapPositions) {
  const TempoMap one = tempoMap("\ntmap\t120\t4\t8\n");
  EXPECT_EQ(one.segments[0].length, 768000);
  EXPECT_EQ(at(one, 2, 1, 0), 96000);
  EXPECT_EQ(at(one, 1, 2, 240), 36000);
  EXPECT_EQ(at(one, 9, 1, 0), 768000) << "beyond the map the last tempo goes on";
  EXPECT_EQ(at(one, 2, -1, 0), 72000) << "a negative beat counts back from the bar";
  EXPECT_EQ(tempoToSamples(one, TimeFields{2, 1, 0}, 50), 96050);
  const TempoMap two = tempoMap("\ntmap\t120\t4\t8\ntmap\t60\t3\t2\nend\ntmap\t1\t1\t1\n");
  ASSERT_EQ(two.count, 2);
  EXPECT_EQ(at(two, 5, 1, 0), 384000) << "inside the first segment only its tempo counts";
  EXPECT_EQ(at(two, 12, 1, 0), 768000 + 3 * 144000);
  std::string many = "\n";
  for (int i = 0; i < 130; ++i) many += "tmap\t120\t4\t1\n";
  many += "tmap\t0\t4\t1\n";  // beyond the table: never checked
  MessageCapture cap;
  EXPECT_EQ(tempoMap(many).count, kMaxTempoSegments);
  EXPECT_EQ(cap.text(),
            ">> Warning: tempo map has more than 128 entries; the extra entries are ignored.\n");
}

TEST(TimelineTest, TimesOutsideTheSongAndBadTempoMapsEndTheRun) {
  const TempoMap map = tempoMap("\ntmap\t120\t4\t8\n");
  TimeCursor late = clockCursor(96000);
  EXPECT_EQ(readTime("0\t2\t0\n", late), 96000) << "the song's last position is allowed";
  TimeCursor early = clockCursor();
  early.offset = -100;
  TimeCursor beat = clockCursor();
  beat.tempo = true;
  beat.tempoMap = &map;
  beat.fieldCount = 1;  // the bar is then 0: a whole bar before the map
  const std::pair<std::function<void()>, std::string> cases[] = {
      {[&] { readTime("0\t2\t0.1\n", late); }, "Error:  Time entry 2 exceeds song length\n"},
      {[&] { readTime("0\t0\t0\n", early); }, "Error:  Time entry 1 is less than zero\n"},
      {[&] { readTime("2\n", beat); }, "Error:  Time entry 1 is less than zero\n"},
      {[] { tempoMap("\ntmap\t120\t4\t8\ntmap\t0\t4\t2\n"); },
       "Error:  Tempo must be above zero in tempo map entry 2\n"},
      {[] { tempoMap("\nt\t1\t1\t0\nend\ntmap\t120\t4\t8\n"); },
       "Tempo mode is on, but no tempos or meters have been entered!\n"},
  };
  for (const auto& [action, message] : cases) {
    MessageCapture cap;
    int status = -1;
    try {
      action();
    } catch (const Fatal& f) {
      status = f.status;
    }
    EXPECT_EQ(std::pair(status, cap.text()), std::pair(int{exit_status::kConfig}, message));
  }
}

}  // namespace
}  // namespace sorvan
