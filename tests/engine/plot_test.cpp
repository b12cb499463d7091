// The picture's lanes, columns, entry marks, output overs and escaping. That the
// document parses and renders is checked on a real render (e2e).
#include "engine/plot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "engine/session.h"
#include "script/levels.h"
#include "engine/playback.h"
#include "script/script.h"

namespace sorvan {
namespace {

constexpr std::int64_t kUnity = 134217728;

void addEntry(FaderTable& table, std::int64_t time, double db, std::int64_t ramp = 0) {
  const auto k = static_cast<std::size_t>(table.count++);
  table.time[k] = time;
  table.level[k] = static_cast<std::int64_t>(std::pow(10.0, db / 20.0) * kUnity);
  table.ramp[k] = ramp;
}

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(MixPlotTest, LanesOnlyForFadersThatArePlayedAndHaveEntries) {
  RenderPlan plan;
  plan.trackCount = 4;
  plan.renderLength = 48000;
  plan.sampleRate = 48000;
  for (int ch : {1, 2, 4}) plan.channels[static_cast<std::size_t>(ch)].wanted = true;
  MixScript script;
  LevelTables& levels = script.levels;
  addEntry(levels.faders[1], 0, 0);
  addEntry(levels.faders[3], 0, 0);  // not wanted: never played
  addEntry(levels.faders[4], 100, -6);
  addEntry(levels.faders[128], 0, 0);
  levels.submixVolume[1] = true;
  script.routing.busActive[1] = 1;
  addEntry(levels.faders[129], 0, 0);  // submix 2 is not active
  levels.submixVolume[2] = true;
  addEntry(levels.vcas[2], 0, -3);
  script.routing.vcaActive[2] = 1;
  addEntry(levels.vcas[3], 0, -3);   // VCA 3 runs nothing
  addEntry(levels.faders[0], 0, 0);  // master entries not written with "M"

  const std::vector<std::string> names = {"kick.wav", "snare.wav", "x.wav", ".hidden.take2.wav"};
  auto labels = [&] {
    std::vector<std::string> out;
    const MixPlot plot = makeMixPlot(plan, script, names);
    for (const PlotLane& lane : plot.lanes()) out.push_back(lane.label);
    return out;
  };
  EXPECT_EQ(labels(), (std::vector<std::string>{"Ch 1 kick", "Ch 4 hidden", "Sub 1", "VCA 2"}));
  levels.masterVolume = true;
  EXPECT_EQ(labels().back(), "Master");
}

TEST(MixPlotTest, AChannelLaneIsTracedOnlyWhereItsRecordingPlays) {
  MixPlot plot(0, 1000, 48000, 24, 10);
  FaderTable table;
  addEntry(table, 0, 0);
  plot.addLane(LaneKind::kChannel, 1, "Ch 1", table);
  plot.heardOnlyBetween(300, 600);
  for (std::int64_t at : {99, 299, 300, 599, 600, 999}) plot.recordFader(1, at, -6.0);
  const LevelTrace& trace = plot.lanes()[0].trace;
  std::vector<int> traced;
  for (int c = 0; c < 10; ++c)
    if (trace.has(c)) traced.push_back(c);
  EXPECT_EQ(traced, (std::vector<int>{3, 5}));
}

TEST(MixPlotTest, ColumnsAndChunksKeepEveryColumnObserved) {
  EXPECT_EQ(MixPlot(0, 100, 48000, 24).columns(), 100);
  EXPECT_EQ(MixPlot(0, 100, 48000, 24).chunkFrames(), 1);
  EXPECT_EQ(MixPlot(0, 48000, 48000, 24).chunkFrames(), 30);
  const MixPlot longSong(1000, 48000LL * 600, 48000, 24);
  EXPECT_EQ(longSong.columns(), kPlotColumns);
  EXPECT_EQ(longSong.chunkFrames(), kPlotChunk);
  EXPECT_EQ(longSong.column(0), 0);
  EXPECT_EQ(longSong.column(1000 + 48000LL * 300), kPlotColumns / 2);
  EXPECT_EQ(longSong.column(INT64_MAX), kPlotColumns - 1);
  // An absurd range must neither overflow nor leave the columns.
  const MixPlot huge(0, INT64_MAX, 48000, 24);
  EXPECT_NEAR(huge.column(INT64_MAX / 2), kPlotColumns / 2, 1);
}

TEST(MixPlotTest, PlayedLevelIgnoresPanAndPolarity) {
  MixScript script;
  addEntry(script.levels.faders[1], 0, -6);
  script.levels.polarity[1] = -1;
  script.levels.panGainL[1] = 0.354f;
  script.levels.panGainR[1] = 0.841f;
  addEntry(script.levels.faders[2], 0, 3);
  script.levels.panGainL[2] = 0.0f;  // hard right
  AutomationState state;
  startAutomation(script.levels, 0, kMaxTracks, {}, state);
  std::vector<std::int64_t> left = {5, -5, 5}, right = {-7, 7, -7};
  for (int ch : {1, 2})
    AUTOMATE(0, 3, ch, script, state, left.data(), right.data(), 524288.0, nullptr);
  const auto played = [&](int ch) {
    return playedLevelDb(state.faders[ch], script.levels.panGainL[ch], script.levels.panGainR[ch]);
  };
  EXPECT_NEAR(played(1), -6.0, 1e-4);
  EXPECT_NEAR(played(2), 3.0, 1e-4);
  EXPECT_EQ(played(3), kSilenceDb);  // never applied
}

TEST(MixPlotTest, EntriesOutsideTheRangeOrNeverReachedAreSetApart) {
  MixPlot plot(48000, 48000, 48000, 24);
  FaderTable table;
  addEntry(table, 0, 0);  // before the range
  addEntry(table, 60000, -6);
  addEntry(table, 60000, -12);  // same time: playback never reaches it, nor the next
  addEntry(table, 70000, 0);
  addEntry(table, 96000, 0);  // past the range
  plot.addLane(LaneKind::kSubmix, 128, "Sub 1", table);
  const auto& entries = plot.lanes()[0].entries;
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(std::vector<bool>({entries[0].reached, entries[1].reached, entries[2].reached}),
            (std::vector<bool>{true, false, false}));
  const std::string svg = plot.svg("song");
  EXPECT_EQ(count(svg, "never reached: "), 2u);
  EXPECT_NE(svg.find("3 entries, 2 never reached"), std::string::npos);
  EXPECT_NE(svg.find(">0:01.0<"), std::string::npos);  // the axis is in song time
  EXPECT_NE(svg.find(">0:02.0<"), std::string::npos);
  EXPECT_EQ(svg.find(">0:00.9<"), std::string::npos);
}

TEST(MixPlotTest, OutputEnvelopeAndOversInRed) {
  MixPlot plot(0, 400, 44100, 16, 4);
  std::vector<std::int64_t> left(400, 0), right(400, 0);
  for (std::size_t i = 0; i < 100; ++i) {  // column 0: a square wave of 1000 words
    left[i] = (i % 2 ? 1000 : -1000) * 65536LL;
    right[i] = -left[i];
  }
  left[150] = 32767 * 65536LL + 65535;  // the largest word: not over
  left[250] = -32768 * 65536LL;         // reaches full scale
  right[251] = 40000 * 65536LL;         // beyond it (the encoder limits it)
  plot.recordOutput(left.data(), right.data(), 0, 200);
  plot.recordOutput(left.data() + 200, right.data() + 200, 200, 200);
  const OutputEnvelope& out = plot.output();
  EXPECT_EQ(out.peak[0], 1000);
  EXPECT_DOUBLE_EQ(out.squares[0] / static_cast<double>(out.words[0]), 1e6);
  EXPECT_EQ(out.peak[1], 32767);
  EXPECT_EQ(out.overs, (std::vector<std::int64_t>{0, 0, 2, 0}));
  EXPECT_EQ(out.words[3], 200);
  const std::string svg = plot.svg("loud");
  EXPECT_EQ(count(svg, "<title>0:00.005 to 0:00.007: 2 frames over</title>"), 1u);
  EXPECT_NE(svg.find("<g fill=\"#d62728\""), std::string::npos);
  EXPECT_NE(svg.find("2 frames over"), std::string::npos);
}

TEST(MixPlotTest, NamesCannotBreakTheDocument) {
  MixPlot plot(0, 100, 48000, 24);
  FaderTable table;
  addEntry(table, 0, 0);
  plot.addLane(LaneKind::kChannel, 1, "Ch 1 a&b<c>\"d\"\x01\xff", table);
  const std::string svg = plot.svg("x</text><script>");
  EXPECT_NE(svg.find("Ch 1 a&amp;b&lt;c&gt;&quot;d&quot;\xEF\xBF\xBD\xEF\xBF\xBD"),
            std::string::npos);
  EXPECT_EQ(svg.find("<script"), std::string::npos);
  EXPECT_EQ(svg.find('\x01'), std::string::npos);
}

}  // namespace
}  // namespace sorvan
