// The reports from given meters and tables: every line the statistics can
// hold (including ones a short render cannot easily reach) with the
// full-scale boundary of the "Over" texts, and the picture's lanes, entry
// marks, output overs and escaping. Their bytes for whole sessions are fixed
// by the golden sessions.
#include "engine/report.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "base/limits.h"
#include "engine/plot.h"
#include "engine/session.h"
#include "script/script.h"

namespace sorvan {
namespace {

std::string statistics(const MixMeters& m, double rate, const std::vector<std::string>& names) {
  static std::array<int, kMaxTracks + 1> active{};
  active[1] = active[3] = 1;
  ReportInputs in;
  in.meters = &m;
  in.sampleRate = rate;
  in.trackCount = static_cast<int>(names.size());
  in.sourceNames = &names;
  in.channelActive = &active;
  in.busActive[0] = in.busActive[2] = 1;
  in.outputBits = 16;
  return statisticsText(in);
}

TEST(StatisticsTextTest, EveryKindOfLine) {
  MixMeters m;
  m.peakL[1] = kBusFullScale / 2;
  m.peakR[1] = kBusFullScale / 4;
  m.peakR[3] = kBusFullScale + 1;
  m.peakL[kRecursiveSendPeak] = m.peakR[kRecursiveSendPeak] = kBusFullScale / 4;
  m.peakL[kTapSendPeak] = kBusFullScale * 2;
  m.peakL[kSubmixBase + 2] = m.peakR[kSubmixBase + 2] = kBusFullScale / 8;
  m.recursiveReverb = m.masterFedTap = true;
  m.clip[5] = m.clip[kSubmixBase + 3] = m.clip[0] = 1;  // 5: beyond the track list, still reported
  m.output.peakL = 16384;
  m.output.peakR = 40000;
  m.output.peakPosL = 2646000;
  m.output.peakPosR = 2646000 + 44100 / 2;
  m.output.rmsSumL = 3.0f * 4194304.0f;
  m.output.rmsCountL = 3;  // no value on the right: 0/0 must not print
  const std::string expected =
      "Peaks (dB):\n\n"
      "Ch 1\tL  -6.02\tR  -12.04\tkick\n"
      "\n"
      "Ch 3\tL  -144.00\tR  0.00\tbassChannel Over!"
      "\nRev\tL  -12.04\tR  -12.04\t(send)\n"
      "\nTrev\tL  6.02\tR  -144.00\t(send)Tap Reverb Over!"
      "\nSub 2\tL  -18.06\tR  -18.06\n"
      "\nRMS\tL  -6.02\tR  -144.00\t(average)\n"
      "\nPeak Out L = -6.02 dB at 1 min : 0.000 sec\n"
      "Peak Out R = 1.73 dB at 1 min : 0.500 secMain Out Right Over"
      "Channel 5 is clipping after effects processing!\n"
      "Submix 3 is clipping after effects processing!\n"
      "Master channel is clipping after effects processing!\n\n";
  const std::string text = statistics(m, 44100, {"kick.wav", "off.wav", "..bass.take2.wav"});
  EXPECT_EQ(text.substr(0, expected.size()), expected);
  EXPECT_EQ(text.find("Processing time"), std::string::npos) << "added when the files are written";

  // Exactly full scale reads 0.00 and is not over.
  MixMeters full;
  full.peakL[1] = full.peakR[1] = kBusFullScale;
  full.output.peakL = full.output.peakR = 32768;
  const std::string fullText = statistics(full, 48000, {"full"});
  EXPECT_EQ(fullText.rfind("Peaks (dB):\n\nCh 1\tL  0.00\tR  0.00\tfull\n", 0), 0u) << fullText;
  EXPECT_NE(fullText.find("\nPeak Out L = 0.00 dB at 0 min : 0.000 sec\n"
                          "Peak Out R = 0.00 dB at 0 min : 0.000 sec\n"),
            std::string::npos)
      << fullText;
}

void addEntry(FaderTable& table, std::int64_t time, double db) {
  const auto k = static_cast<std::size_t>(table.count++);
  table.time[k] = time;
  table.level[k] = static_cast<std::int64_t>(std::pow(10.0, db / 20.0) * 134217728.0);
}

bool has(const std::string& svg, const std::string& what) {
  return svg.find(what) != std::string::npos;
}

TEST(MixPlotTest, LanesOnlyForFadersThatArePlayedAndHaveEntries) {
  RenderPlan plan;
  plan.trackCount = 4;
  plan.renderLength = plan.sampleRate = 48000;
  for (int ch : {1, 2, 4}) plan.channels[static_cast<std::size_t>(ch)].wanted = true;
  MixScript script;
  LevelTables& levels = script.levels;
  for (int index : {1, 3, 4, 128, 129, 0}) addEntry(levels.faders[index], 0, 0);  // 3: not wanted
  levels.submixVolume[1] = levels.submixVolume[2] = true;
  script.routing.busActive[1] = 1;  // submix 2 is not active
  addEntry(levels.vcas[2], 0, -3);
  addEntry(levels.vcas[3], 0, -3);  // VCA 3 runs nothing
  script.routing.vcaActive[2] = 1;
  const std::vector<std::string> names = {"kick.wav", "snare.wav", "x.wav", ".hidden.take2.wav"};
  auto labels = [&] {
    std::vector<std::string> out;
    const MixPlot plot = makeMixPlot(plan, script, names);
    for (const PlotLane& lane : plot.lanes()) out.push_back(lane.label);
    return out;
  };
  EXPECT_EQ(labels(), (std::vector<std::string>{"Ch 1 kick", "Ch 4 hidden", "Sub 1", "VCA 2"}));
  levels.masterVolume = true;
  EXPECT_EQ(labels().back(), "Master") << "only entries written with M are the master's";
  // An absurd range must neither overflow nor leave the columns.
  const MixPlot huge(0, INT64_MAX, 48000, 24);
  EXPECT_NEAR(huge.column(INT64_MAX / 2), kPlotColumns / 2, 1);
  EXPECT_EQ(huge.column(INT64_MAX), kPlotColumns - 1);
}

TEST(MixPlotTest, EntriesNeverReachedAndOutputOversAreMarked) {
  MixPlot plot(48000, 48000, 48000, 24);
  FaderTable table;
  addEntry(table, 0, 0);  // before the range
  addEntry(table, 60000, -6);
  addEntry(table, 60000, -12);  // same time: playback never reaches it, nor the next
  addEntry(table, 70000, 0);
  addEntry(table, 96000, 0);  // past the range
  plot.addLane(LaneKind::kSubmix, 128, "Sub 1", table);
  ASSERT_EQ(plot.lanes()[0].entries.size(), 3u);
  EXPECT_EQ(plot.lanes()[0].entries[1].reached, false);
  std::string svg = plot.svg("song");
  EXPECT_TRUE(has(svg, "3 entries, 2 never reached") && has(svg, ">0:01.0<") &&
              !has(svg, ">0:00.9<"))
      << "the axis is in song time";

  MixPlot loud(0, 400, 44100, 16, 4);
  std::vector<std::int64_t> left(400, 0), right(400, 0);
  for (std::size_t i = 0; i < 100; ++i) left[i] = -(right[i] = (i % 2 ? 1000 : -1000) * 65536LL);
  left[150] = 32767 * 65536LL + 65535;  // the largest word: not over
  left[250] = -32768 * 65536LL;         // reaches full scale
  right[251] = 40000 * 65536LL;         // beyond it
  loud.recordOutput(left.data(), right.data(), 0, 200);
  loud.recordOutput(left.data() + 200, right.data() + 200, 200, 200);
  const OutputEnvelope& out = loud.output();
  EXPECT_EQ(std::tuple(out.peak[0], out.peak[1], out.words[3]), std::tuple(1000, 32767, 200));
  EXPECT_DOUBLE_EQ(out.squares[0] / static_cast<double>(out.words[0]), 1e6);
  EXPECT_EQ(out.overs, (std::vector<std::int64_t>{0, 0, 2, 0}));
  svg = loud.svg("loud");
  EXPECT_TRUE(has(svg, "<title>0:00.005 to 0:00.007: 2 frames over</title>") &&
              has(svg, "<g fill=\"#d62728\""));
}

TEST(MixPlotTest, NamesCannotBreakTheDocument) {
  MixPlot plot(0, 100, 48000, 24);
  FaderTable table;
  addEntry(table, 0, 0);
  plot.addLane(LaneKind::kChannel, 1, "Ch 1 a&b<c>\"d\"\x01\xff", table);
  const std::string svg = plot.svg("x</text><script>");
  EXPECT_TRUE(has(svg, "Ch 1 a&amp;b&lt;c&gt;&quot;d&quot;\xEF\xBF\xBD\xEF\xBF\xBD"));
  EXPECT_FALSE(has(svg, "<script") || has(svg, "\x01"));
}

}  // namespace
}  // namespace sorvan
