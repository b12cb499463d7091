// The end of the chain on plain data: the master's dither and reduction of
// bus values to words with their meters, block-split invariant; every line
// the statistics can hold (including ones a short render cannot easily reach)
// with the full-scale boundary of the "Over" texts; and a picture that names
// cannot break. Both reports, for whole sessions, are fixed by the golden
// sessions; the statistics of a known signal are checked end to end.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <map>
#include <random>
#include <tuple>
#include <utility>

#include "base/limits.h"
#include "engine/master.h"
#include "engine/plot.h"
#include "engine/report.h"
#include "script/levels.h"

namespace sorvan {
namespace {

using Words = std::vector<std::int64_t>;

RenderPlan planFor(int bits, bool mono, int dither, unsigned seed = 9) {
  RenderPlan plan;
  plan.sampleRate = 48000.0;
  plan.outputBits = bits;
  plan.mono = mono;
  plan.monoFactor = 0.5;
  plan.ditherHalfWidth = dither ? 1 << (dither - 1) : 0;
  plan.ditherModulus = dither ? (1 << dither) + 1 : 0;
  plan.ditherSeed = seed;
  plan.renderLength = kBlockFrames;  // blocks up to the full size
  return plan;
}

// Both sides' words of a block, interleaved (one word a frame for mono).
Words words(MasterOutput& master, Words l, Words r, std::int64_t pos = 0) {
  master.reduceBlock(l.data(), r.data(), pos, static_cast<long>(l.size()));
  Words out;
  for (std::size_t i = 0; i < l.size(); ++i) {
    out.push_back(master.wordsLeft()[i]);
    if (master.wordsRight() != master.wordsLeft()) out.push_back(master.wordsRight()[i]);
  }
  return out;
}

// Bus values (2^31 full scale) to words toward zero, held at the word range.
TEST(MasterOutputTest, ReductionToWordsTowardZero) {
  MasterOutput m16(planFor(16, false, 0));
  EXPECT_EQ(words(m16, {-65535, -65536, 65537, 1LL << 40}, {0, 0, 0, -(1LL << 40)}),
            (Words{0, 0, -1, 0, 1, 0, 32767, -32768}));
  EXPECT_EQ(std::tuple(m16.meters().peakL, m16.meters().peakPosL), std::tuple(16777216.0, 3))
      << "the meter sees the word before it is held";
}

// Rectangular dither of 2^(level-1) output steps either way: every value in
// the range occurs, centred on zero, drawn for each side; a seed repeats.
TEST(MasterOutputTest, DitherStaysWithinItsLevelAndRepeatsWithItsSeed) {
  for (const auto& [bits, mono, level] :
       {std::tuple{24, false, 1}, {16, false, 8}, {24, true, 2}}) {
    MasterOutput m(planFor(bits, mono, level)), again(planFor(bits, mono, level));
    const Words out = words(m, Words(24000, 0), Words(24000, 0));
    std::map<std::int64_t, int> seen;
    double sum = 0, equalSides = 0;
    for (std::size_t i = 0; i < out.size(); ++i) ++seen[out[i]], sum += out[i];
    for (std::size_t i = 0; !mono && i < out.size(); i += 2) equalSides += out[i] == out[i + 1];
    const int half = 1 << (level - 1);
    EXPECT_EQ(std::tuple(seen.begin()->first, seen.rbegin()->first, seen.size()),
              std::tuple(-half, half, 2u * half + 1))
        << bits << " " << level;
    EXPECT_LT(std::fabs(sum / out.size()), 0.05 * half + 0.02);
    EXPECT_LT(equalSides, out.size() / 4.0);
    EXPECT_EQ(words(again, Words(24000, 0), Words(24000, 0)), out);
  }
  MasterOutput a(planFor(24, false, 2)), b(planFor(24, false, 2, 10));
  EXPECT_NE(words(a, Words(100, 0), Words(100, 0)), words(b, Words(100, 0), Words(100, 0)));
}

TEST(MasterOutputTest, BlockSizesDoNotChangeTheOutputOrTheMeters) {
  std::mt19937 rng(3);
  std::uniform_int_distribution<std::int64_t> value(-300000000, 300000000);
  const long n = 60000;
  Words l(n), r(n);
  for (long i = 0; i < n; ++i) {
    // A slow square under noise, so the RMS meter measures across blocks.
    const std::int64_t base = (i / 7000) % 2 ? -600000000 : 600000000;
    l[i] = base + value(rng), r[i] = -base / 2 + value(rng);
  }
  for (const bool mono : {false, true}) {
    MasterOutput whole(planFor(24, mono, 3)), split(planFor(24, mono, 3));
    const Words expected = words(whole, l, r);
    Words got;
    for (long at = 0, k = 0; at < n; at += k) {
      k = std::min(std::uniform_int_distribution<long>(1, 9000)(rng), n - at);
      const Words part = words(split, {l.begin() + at, l.begin() + at + k},
                               {r.begin() + at, r.begin() + at + k}, at);
      got.insert(got.end(), part.begin(), part.end());
    }
    EXPECT_TRUE(got == expected) << "mono " << mono;
    const OutputMeters &a = whole.meters(), &b = split.meters();
    EXPECT_GT(a.rmsCountL, 5.0f);
    EXPECT_EQ(std::tie(a.peakL, a.peakPosR, a.rmsCountL, a.rmsSumL, a.rmsSumR),
              std::tie(b.peakL, b.peakPosR, b.rmsCountL, b.rmsSumL, b.rmsSumR));
  }
}

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

// Float output keeps the bus values as they are and meters them in 24-bit units.
TEST(MasterOutputTest, FloatIsNeitherDitheredNorReducedNorHeld) {
  RenderPlan plan = planFor(16, false, 3);
  plan.format = OutputFormat::kFloat;
  MasterOutput m(plan);
  const Words values = {-257, 3LL << 31, -(5LL << 30), 255};
  const Words out = words(m, values, values);
  for (std::size_t i = 0; i < values.size(); ++i) EXPECT_EQ(out[2 * i], values[i]) << i;
  EXPECT_EQ(std::tuple(m.meters().peakL, m.meters().peakPosL), std::tuple(3.0 * 8388608.0, 1));
}

// A stem reduces like the master; its dither is a stream of the one seed of
// its own: never the mix's, never another stem's, and the same every render.
TEST(StemOutputTest, ReducesLikeTheMasterWithADitherStreamOfItsOwn) {
  std::mt19937 rng(5);
  std::uniform_int_distribution<std::int64_t> value(-3000000000LL, 3000000000LL);
  const long n = 5000;
  Words l(n), r(n);
  for (long i = 0; i < n; ++i) l[i] = value(rng), r[i] = value(rng);
  for (const bool mono : {false, true}) {
    for (const int bits : {16, 24}) {
      MasterOutput master(planFor(bits, mono, 0));
      StemOutput stem(planFor(bits, mono, 0), 3);
      const Words expected = words(master, l, r);
      Words sl = l, sr = r;
      stem.reduceBlock(sl.data(), sr.data(), n, 1.0);
      Words got;
      for (long i = 0; i < n; ++i) {
        got.push_back(stem.wordsLeft()[i]);
        if (!mono) got.push_back(stem.wordsRight()[i]);
      }
      EXPECT_TRUE(got == expected) << bits << (mono ? " mono" : " stereo");
    }
  }
  const Words silence(n, 0);
  const auto ditherOf = [&](std::uint64_t stream) {
    StemOutput stem(planFor(24, false, 8), stream);
    Words sl = silence, sr = silence;
    stem.reduceBlock(sl.data(), sr.data(), n, 1.0);
    return Words(stem.wordsLeft(), stem.wordsLeft() + n);
  };
  MasterOutput master(planFor(24, false, 8));
  Words mix = words(master, silence, silence);
  for (long i = 0; i < n; ++i) mix[i] = mix[2 * i];
  mix.resize(n);
  EXPECT_TRUE(ditherOf(0) == mix) << "stream 0 is the mix's";
  EXPECT_TRUE(ditherOf(1) == ditherOf(1));
  for (const auto& [a, b] : {std::pair(0, 1), std::pair(1, 2), std::pair(2, 10)}) {
    const Words x = ditherOf(a), y = ditherOf(b);
    long same = 0;
    for (long i = 0; i < n; ++i) same += x[i] == y[i];
    EXPECT_LT(same, n / 50) << a << " and " << b;  // 257 values: about n / 257 by chance
  }
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

  // Exactly full scale reads 0.00 and is not over; no RMS value at all reads
  // as silence.
  MixMeters full;
  full.peakL[1] = full.peakR[1] = kBusFullScale;
  full.output.peakL = full.output.peakR = 32768;
  const std::string fullText = statistics(full, 48000, {"full"});
  EXPECT_EQ(fullText.rfind("Peaks (dB):\n\nCh 1\tL  0.00\tR  0.00\tfull\n", 0), 0u) << fullText;
  EXPECT_NE(fullText.find("\nRMS\tL  -144.00\tR  -144.00\t(average)\n"
                          "\nPeak Out L = 0.00 dB at 0 min : 0.000 sec\n"
                          "Peak Out R = 0.00 dB at 0 min : 0.000 sec\n"),
            std::string::npos)
      << fullText;
}

// A name can hold anything; the picture stays one well-formed document.
TEST(MixPlotTest, NamesCannotBreakTheDocument) {
  MixPlot plot(0, 100, 48000, 24);
  FaderTable table;
  table.append(134217728, 0);
  plot.addLane(LaneKind::kChannel, 1, "Ch 1 a&b<c>\"d\"\x01\xff", table);
  const std::string svg = plot.svg("x</text><script>");
  EXPECT_NE(svg.find("Ch 1 a&amp;b&lt;c&gt;&quot;d&quot;\xEF\xBF\xBD\xEF\xBF\xBD"),
            std::string::npos);
  EXPECT_EQ(svg.find("<script"), std::string::npos);
  EXPECT_EQ(svg.find('\x01'), std::string::npos);
}

// The picture's channel lane follows its recording, not the blocks around it.
TEST(MixPlotTest, AChannelLaneIsTracedOnlyWhereItsRecordingPlays) {
  MixPlot plot(0, 1000, 48000, 24, 10);
  FaderTable table;
  table.append(134217728, 0);
  plot.addLane(LaneKind::kChannel, 1, "Ch 1", table);
  plot.heardOnlyBetween(300, 600);
  for (std::int64_t at : {99, 299, 300, 599, 600, 999}) plot.recordFader(1, at, -6.0);
  std::vector<int> traced;
  for (int c = 0; c < 10; ++c)
    if (plot.lanes()[0].trace.has(c)) traced.push_back(c);
  EXPECT_EQ(traced, (std::vector<int>{3, 5}));
}

}  // namespace
}  // namespace sorvan
