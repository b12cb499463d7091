// The reports from given meters and tables: every line the statistics can
// hold (including ones a short render cannot easily reach) with the
// full-scale boundary of the "Over" texts, and a picture that names cannot
// break. Both, for whole sessions, are fixed by the golden sessions.
#include "engine/report.h"
#include "script/levels.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "base/limits.h"
#include "engine/plot.h"

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

// A name can hold anything; the picture stays one well-formed document.
TEST(MixPlotTest, NamesCannotBreakTheDocument) {
  MixPlot plot(0, 100, 48000, 24);
  FaderTable table;
  table.count = 1;
  table.level[0] = 134217728;
  plot.addLane(LaneKind::kChannel, 1, "Ch 1 a&b<c>\"d\"\x01\xff", table);
  const std::string svg = plot.svg("x</text><script>");
  EXPECT_NE(svg.find("Ch 1 a&amp;b&lt;c&gt;&quot;d&quot;\xEF\xBF\xBD\xEF\xBF\xBD"),
            std::string::npos);
  EXPECT_EQ(svg.find("<script"), std::string::npos);
  EXPECT_EQ(svg.find('\x01'), std::string::npos);
}

}  // namespace
}  // namespace sorvan
