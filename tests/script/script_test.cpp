// The fader file's readers as tables of input and result: routing, time
// entries and the tempo map, the level tables, and the processor and reverb
// settings. Whole sessions, with the order of every message, are fixed by
// the golden sessions.
#include "script/script.h"

#include <gtest/gtest.h>

#include <cmath>

#include "base/fatal.h"
#include "base/messages.h"
#include "script/effect_settings.h"

namespace sorvan {
namespace {

using Values = std::vector<std::int64_t>;

// Inputs at 48 kHz, a ten-minute song and eight stereo tracks, quiet.
ScriptInputs inputs(std::string_view fader, std::string_view prefs = "\nend\n") {
  ScriptInputs in;
  in.faderSection = fader;
  in.prefsSection = prefs;
  in.sampleRate = 48000.0;
  in.songLength = 48000LL * 600;
  in.trackCount = 8;
  in.verbosity = 0;
  in.sourceChannels.fill(2);
  return in;
}

LevelTables levels(const ScriptInputs& in) {
  ChannelActive active;
  active.fill(1);
  return readMixScript(in, active).levels;
}

Routing route(std::string_view fader, ChannelActive& active, int tracks = 8) {
  active.fill(1);
  Routing routing;
  readRouting(fader, tracks, active, routing);
  return routing;
}

TEST(RoutingTest, ListsMutesSolosVcasAndOutOfRangeNumbers) {
  ChannelActive active;
  // 1 is listed under bus 0 as well; 2 reaches the master only through
  // submix 3; the later list for bus 3 replaces the earlier; 7 is in no list
  // read (none after end) and so on the main bus alone.
  Routing r = route("\nsub\t3\t1,2\nsub\t0\t1\nsub\t3\t1,2,4 trailing\nend\nsub\t5\t7\n", active);
  EXPECT_EQ(std::vector<int>({r.matrix[1][0], r.matrix[1][3], r.matrix[2][0], r.matrix[2][3],
                              r.matrix[4][3], r.matrix[7][0], r.matrix[7][5], r.busActive[0],
                              r.busActive[3], r.busActive[5], r.anyVcaActive}),
            (std::vector<int>{1, 1, 0, 1, 1, 1, 0, 1, 1, 0, 0}));
  // 1 fed only a muted submix; 2 is still on bus 0; 4 and 9 lie beyond the tracks.
  route("\nsub\t3\t1,2\nsub\t0\t2\nsub\t2\t4,9\nsubmu\t3\nsubmu\t2\n", active, 3);
  EXPECT_EQ(std::vector<int>(active.begin() + 1, active.begin() + 10),
            (std::vector<int>{0, 1, 1, 1, 1, 1, 1, 1, 1}));
  // Bus 1 is not soloed; a soloed submix that was muted stays muted.
  r = route("\nsub\t1\t5\nsub\t2\t6\nsub\t3\t7\nsubso\t2\nsubmu\t3\nsubso\t3\n", active);
  EXPECT_EQ(std::vector<int>({r.busActive[1], r.busActive[2], r.busActive[3], active[5], active[6],
                              active[7], active[8]}),
            (std::vector<int>{0, 1, 0, 0, 1, 0, 1}));
  MessageCapture cap;
  r = route(
      "\nsub\t9\t1,2\nsub\t1\t3,128\nVCA:\t0\t1\nVCA:\t9\t1\nVCA:\t5\t4\n"
      "VCA:\t2\t4,0,128,137\nVCA:\t1\t136\n",
      active);
  EXPECT_EQ(cap.text(),
            "Submix number out of range!\nChannel assigned to sub 1 is out of range!\n"
            "VCA fader out of range!\nVCA fader out of range!\n"
            "Channel assigned to VCA 2 is out of range!\n");
  EXPECT_EQ(std::vector<int>({r.matrix[1][0], r.matrix[3][1], r.vcaActive[1], r.vcaActive[2],
                              r.vcaActive[3], r.vcaActive[5]}),
            (std::vector<int>{1, 1, 1, 1, 0, 1}));
  // Channel indexes: 0 the master, 128 submix 1; the highest VCA wins.
  EXPECT_EQ(std::vector<int>({r.vcaAssignment[4], r.vcaAssignment[0], r.vcaAssignment[128],
                              r.vcaAssignment[136], r.vcaAssignment[1]}),
            (std::vector<int>{5, 2, 2, 1, 0}));
}

std::int64_t readTime(const char* fields, TimeCursor& cursor) {
  Tokenizer tok(fields);
  readTimeEntry(tok, cursor);
  return cursor.position;
}

TimeCursor clock(std::int64_t songLength = 48000LL * 600) {
  TimeCursor cursor;
  cursor.sampleRate = 48000.0;
  cursor.songLength = songLength;
  return cursor;
}

// Clock times are offset; "inc" moves the cursor unchecked, saturating. Bars,
// beats and ticks count in each segment's tempo. The messages of times
// outside the song and of bad tempo maps are rows of the bad-input suite
// (e2e); here the edges they lie beyond.
TEST(TimelineTest, ClockAndTempoTimesAndTheirEdges) {
  TimeCursor cursor = clock(), late = clock(96000), beat = clock();
  cursor.offset = 100;
  EXPECT_EQ(std::tuple(readTime("1\t30\t500\n", cursor), cursor.entryCount),
            std::tuple(4344100, 1));
  Tokenizer tok("1.5\n1e308\n");
  readTimeIncrement(tok, cursor);
  EXPECT_EQ(cursor.position, 4344100 + 72000);
  readTimeIncrement(tok, cursor);
  EXPECT_EQ(cursor.position, INT64_MAX);
  TempoMap map;
  buildTempoMap("\ntmap\t120\t4\t8\ntmap\t60\t3\t2\nend\ntmap\t1\t1\t1\n", 48000.0, 0, map);
  const auto at = [&](float bar, float beat, float tick) {
    return tempoToSamples(map, TimeFields{bar, beat, tick}, 0);
  };
  EXPECT_EQ(std::tuple(map.count, map.segments[0].length), std::tuple(2, 768000));
  EXPECT_EQ(Values({at(2, 1, 0), at(1, 2, 240), at(2, -1, 0), at(12, 1, 0)}),
            Values({96000, 36000, 72000, 768000 + 3 * 144000}))
      << "a negative beat counts back from the bar; past the map the last tempo goes on";
  EXPECT_EQ(readTime("0\t2\t0\n", late), 96000) << "the song's last position is inside";
  EXPECT_THROW(readTime("0\t2\t0.1\n", late), Fatal);
  beat.tempo = true;
  beat.tempoMap = &map;
  beat.fieldCount = 1;  // the bar is then 0: a whole bar before the map
  MessageCapture cap;
  EXPECT_THROW(readTime("2\n", beat), Fatal);
  EXPECT_EQ(cap.text(), "Error:  Time entry 1 is less than zero\n");
}

TEST(LevelsTest, StoredLevelsRangesAndTheTableLimit) {
  MessageCapture cap;
  LevelTables t = levels(inputs(
      "\nv\t1\t-6\nt\t0\t1\t0\nv\t1\t0\nv\tG\t3\t-6\nv\t0\t0\nv\t7\t-200\nv\t1\t0\nv\t2\t20\n"
      "v\t1\t15\nvca\t4\t13\nvca\t12\t0\n"));
  // Entries before the first t take time 0; -144 dB at the least; a bad VCA
  // number goes to VCA 0; channel field 0 stores but is not played back.
  EXPECT_EQ(
      Values({t.faders[1].time[0], t.faders[1].level[0], t.faders[1].time[1], t.faders[1].level[1],
              t.faders[130].level[0], t.faders[7].level[0], t.vcas[0].count, t.faders[0].count}),
      Values({0, 67268211, 48000, 134217728, 67268211, 8, 1, 1}));
  EXPECT_EQ(std::tuple(t.submixVolume[3], t.masterVolume), std::tuple(true, false));
  EXPECT_EQ(cap.text(),
            ">> Warning: fader 2 (entry 1) set above 12.02 dB\n"
            ">> Warning: fader 1 (entry 4) set above 12.02 dB\n"
            ">> Warning: fader 4 (entry 1) set above 12.02 dB\n");
  EXPECT_TRUE(levels(inputs("\nv\tM\t0\n")).masterVolume);
  std::string text = "\nt\t0\t0\t0\n";
  for (int i = 0; i < 515; ++i) text += "v\t1\t-6\n";
  text += "rmp\t1\nshape\t2\nofs\t1\n";
  for (int i = 0; i < 513; ++i) text += "vca\t3\t0\n";
  cap.clear();
  t = levels(inputs(text));
  EXPECT_EQ(cap.text(),
            ">> Warning: fader 1 has more than 512 entries; the extra entries are ignored.\n"
            ">> Warning: vca 3 has more than 512 entries; the extra entries are ignored.\n");
  EXPECT_EQ(std::tuple(t.faders[1].count, t.faders[1].ramp[511], t.faders[1].shape[511],
                       t.faders[1].time[511], t.vcas[3].count),
            std::tuple(512, 0, 1.0f, 0, 512))
      << "rmp, shape and ofs after ignored entries touch nothing";
}

TEST(LevelsTest, RampsAreCorrectedOrMadeAutomatically) {
  ScriptInputs in = inputs(
      "\nt\t0\t0\t0\nv\t1\t0\nrmp\t1\nv\t2\t0\nv\t2\t-6\nrmp\t1\n"
      "t\t0\t1\t0\nv\t1\t-6\nrmp\t-1\n"
      "t\t0\t9\t0\nv\t1\t0\nrmp\t2\nvca\t2\t0\nvca\t2\t-6\nrmp\t1\n"
      "inc\t5\nv\t3\t0\nrmp\t1\n");  // "inc" is unchecked: past the song
  in.songLength = 480000;
  MessageCapture cap;
  LevelTables t = levels(in);
  const std::string initial = "Error:  A ramp was found under an initial volume entry (channel ";
  const std::string only = ").\nThis is for initial volume only.\n";
  const std::string negative =
      "Error:  Time entry for volume ramp is less than zero. Ramp reset to 0.\n";
  const std::string adjusted = "Adjusted volume ramp that exceeded song length (channel ";
  EXPECT_EQ(cap.text(), initial + "1" + only + initial + "2" + only + negative + adjusted + "1)\n" +
                            initial + "3" + only + adjusted + "3)\n" + negative);
  EXPECT_EQ(
      Values({t.faders[1].ramp[0], t.faders[1].ramp[2], t.vcas[2].ramp[1], t.faders[3].ramp[0]}),
      Values({0, 48000, 48000, 0}))
      << "cut at the song's end; ending exactly there is kept";
  // Automatic ramps: 192 dB/s (or "dbps"), cut at the next entry of the same
  // fader, never for VCAs.
  const char* text =
      "\nt\t0\t0\t0\nv\t1\t0\nv\t2\t0\nvca\t1\t0\n"
      "t\t0\t1\t0\nv\t1\t-12\nv\t2\t-6\nrmp\t3\nvca\t1\t-6\nrmp\t3\nv\t4\t0\n"
      "t\t0\t2\t0\nv\t2\t0\nrmp\t0.5\nvca\t1\t0\nv\t4\t-6\nrmp\t0.5\nt\t0\t0\t500\nv\t4\t0\n";
  t = levels(inputs(text));
  EXPECT_EQ(Values({t.faders[1].ramp[1], t.faders[2].ramp[1], t.vcas[1].ramp[1], t.vcas[1].ramp[2],
                    t.faders[4].ramp[1]}),
            Values({3000, 48000, 48000, 0, 24000}));
  in = inputs(text);
  in.dbps = 96.0;
  EXPECT_EQ(levels(in).faders[1].ramp[1], 6000);
}

TEST(LevelsTest, ShapesOffsetsPolarityTrimsScaleAndEffectsGains) {
  MessageCapture cap;
  const LevelTables t = levels(inputs(
      "\nt\t0\t1\t0\nv\t1\t0\nshape\t10\nv\t2\t0\nshape\t0.125\nofs\t-0.5\nvca\t1\t0\nshape\t8\n"
      "ofs\t0.25\npol\t3\t2\npol\t4\t-1\npol\tG\t1\t-1\nv\t3\t12\nv\tM\t0\nv\tG\t1\t0\n"
      "trim\t1\t30\ntrim\t2\t-6\nscale\t2\nscale\t10\nmtrim\t30\nmtrim\t-1\n"
      "fxg\tM\t6\nfxg\t3\t30\nfxg\t5\t-6\tx\n"));
  EXPECT_EQ(std::tuple(t.faders[1].shape[0], t.faders[2].shape[0], t.faders[2].time[0],
                       t.vcas[1].shape[0], t.vcas[1].time[0]),
            std::tuple(1.0f, 0.125f, 24000, 8.0f, 60000))
      << "a shape of 10 is ignored";
  EXPECT_EQ(std::tuple(t.polarity[3], t.polarity[4], t.polarity[128]), std::tuple(1, -1, -1));
  EXPECT_EQ(cap.text(),
            "Channel 1 volume trim set above 24 dB. Trim bypassed.\n"
            "Scale function value is set above 8.  Scale bypassed\n"
            "Master Trim is set above allowed value of 24 dB\n Master trim bypassed\n"
            ">> Warning! Volume entry 1 on channel 3 is above +12 dB.  \nEntry reset to -144 dB\n");
  // The bypassed scale of 10 is not applied: 2, then -1 dB (and the -6 dB
  // trim); the master trim spares the master and the submixes.
  EXPECT_EQ(Values({t.faders[1].level[0], t.faders[2].level[0], t.faders[3].level[0],
                    t.faders[0].level[0], t.faders[128].level[0]}),
            Values({239243351, 119905712, 0, 134217728, 134217728}));
  EXPECT_EQ(std::tuple(t.trimOn[1], t.trimOn[2], t.masterStripUsed), std::tuple(false, true, true));
  EXPECT_EQ(std::tuple(t.effectsGain[0], t.effectsGain[3], t.effectsGain[5]),
            std::tuple(std::pow(10.0, 6.0 / 20.0), 1.0, std::pow(10.0, -6.0 / 20.0)))
      << "above 15.9 an effects gain falls back to unity";
  // Trims in percent are bypassed above 24 dB, then held at 400 percent.
  ScriptInputs percent = inputs("\nv\t1\t100\nv\t2\t100\ntrim\t1\t1580\ntrim\t2\t1590\n");
  percent.percent = true;
  cap.clear();
  EXPECT_EQ(levels(percent).faders[1].level[0], 4 * 134217728);
  EXPECT_EQ(cap.text(),
            ">> Warning: fader 1 (entry 1) set above 400 percent\n"
            "Channel 2 volume trim set above 24 dB. Trim bypassed.\n");
}

TEST(LevelsTest, PanGainsFollowTheLawAndSourceType) {
  ScriptInputs in = inputs(
      "\np\t1\t50\np\t2\t50\np\t3\t-50\np\tG\t1\t50\np\t5\t20\ndp\t5\t-40\ndp\t6\t150\n"
      "dp\t200\t10\np\t7\t150\np\tM\t-101\n",
      "\npan\t3\npan\t5\n");
  for (int c : {2, 3, 4, 5}) in.sourceChannels[c] = 1;
  MessageCapture cap;
  LevelTables t = levels(in);
  EXPECT_EQ(cap.text(),
            ">> Warning: delay pan channel 200 is out of range and is ignored.\n"
            "Pan on channel 0 appears to be set wrong.  Setting to 0.\n"
            "Pan on channel 7 appears to be set wrong.  Setting to 0.\n");
  // The first law counts; stereo channels and buses balance; mono channels
  // follow the law, 3 dB down at the centre; "dp" places a mono channel by
  // delay at full level.
  EXPECT_EQ(std::tuple(t.panLaw, t.panGainL[1], t.panGainR[1], t.panGainL[128], t.panGainL[4]),
            std::tuple(3.0f, 0.5f, 1.0f, 0.5f, 0.70794576f));
  EXPECT_EQ(Values({std::lround(t.panGainL[2] * 1000), std::lround(t.panGainR[2] * 1000),
                    std::lround(t.panGainL[3] * 1000)}),
            Values({354, 841, 841}));
  EXPECT_EQ(std::tuple(t.panPosition[5], t.panGainL[5], t.panGainR[5], t.delayPanned[5],
                       t.delayPanned[2], t.delayPanPosition[6], t.panPosition[7]),
            std::tuple(-40, 1.0f, 1.0f, true, false, 0, 0));
  in.prefsSection = "\npan\t0\n";
  t = levels(in);
  EXPECT_EQ(std::tuple(t.panGainL[2], t.delayPanned[2], t.delayPanned[1], t.panPosition[5]),
            std::tuple(1.0f, true, false, 20))
      << "with a 0 dB law every mono channel is placed by delay";
  for (const auto& [law, centre] : {std::pair{"\npan\t0.5\n", std::pow(10.0, -0.5 / 20)},
                                    {"\npan\t6.02\n", 0.5},
                                    {"\npan\t6.03\n", 0.70794576}}) {
    in.prefsSection = law;
    EXPECT_NEAR(levels(in).panGainL[4], centre, 1e-4) << law << " (above 6.02: 3)";
  }
}

constexpr const char* kComp = "\t-20\t10\t100\t4\n";

std::unique_ptr<EffectSettings> effects(const std::string& section, bool percent = false,
                                        double rate = 48000.0) {
  auto out = std::make_unique<EffectSettings>();
  readEffectSettings(EffectInputs{section, rate, percent, 0}, *out);
  return out;
}

TEST(EffectSettingsTest, ThresholdsTimesAndRatiosInEachStripsScale) {
  MessageCapture quiet;
  auto fx =
      effects(std::string("\nsong\ncomp\t3") + kComp + "comp\tM" + kComp + "comp\tG\t2" + kComp +
              "rms\t4\t-200\t-5\t60000\t0.5\nnlc\t5\t-6\t100.9\t3\nlim\tG\t1\t0\n"
              "comp\t6\t3\t5000\t0.1\t100\n");
  const auto& s = fx->strips.strip;
  const auto comp = [](const SwitchedCompressorSettings& c) {
    return std::tuple(c.thresh, c.attackSamples, c.releaseSamples, c.ratio);
  };
  EXPECT_EQ(comp(s[3].comp), std::tuple(838860, 480, 4800, 4.0));
  // The master and submixes work in bus scale; clamped: -144 dB, 1 sample,
  // 5 s, ratio 1; 0 dB, 2 s, 10 samples, ratio 50.
  EXPECT_EQ(Values({s[0].comp.thresh, s[129].comp.thresh, s[128].lim.thresh, s[5].nlc.thresh,
                    s[5].nlc.windowSamples, s[4].comp.thresh}),
            Values({214748159, 214748159, 8388608LL * 256 - 1, 4204263, 100, 8388608}));
  EXPECT_EQ(comp(s[4].rms), std::tuple(0, 1, 240000, 1.0));
  EXPECT_EQ(comp(s[6].comp), std::tuple(8388608, 96000, 10, 50.0));
  EXPECT_TRUE(s[0].enabled[kPeakComp] && s[129].enabled[kPeakComp] && fx->strips.masterStripInUse &&
              fx->strips.hasProcessor(4) && !fx->strips.hasProcessor(7));
  // Channel field 0, or one that is no number, addresses row 0 too; only an
  // entry written "M" makes the master run the processor.
  fx = effects(std::string("\ncomp\t0") + kComp + "lim\tx\t-3\n");
  EXPECT_EQ(fx->strips.strip[0].comp.thresh, 214748159);
  EXPECT_FALSE(fx->strips.hasProcessor(0) || fx->strips.masterStripInUse);
}

TEST(EffectSettingsTest, PercentSendsReturnsRoomsAndSendFilters) {
  auto fx = effects("\nlim\t1\t50\nlim\t2\t150\nlim\tM\t50\nrev\t1\t50\nrev\t2\t400\n", true);
  EXPECT_EQ(Values({fx->strips.strip[1].lim.thresh, fx->strips.strip[2].lim.thresh,
                    fx->strips.strip[0].lim.thresh}),
            Values({4194304, 8388608, 4194304LL * 256 - 1}))
      << "limited to 100 percent";
  EXPECT_EQ(std::tuple(fx->reverbs.recursiveSend[1], fx->reverbs.recursiveSend[2]),
            std::tuple(0.5f, 1.0f))
      << "a send never exceeds unity";
  fx = effects("\nrev\t1\t6\nrev\t2\t-6\ntrev\tG\t1\t0\nrev\t0\t-3\n");
  const ReverbSettings& r = fx->reverbs;
  EXPECT_EQ(
      std::tuple(r.recursiveSend[1], r.recursiveSend[2], r.recursiveSendOn[3], r.tapSendOn[128]),
      std::tuple(1.0f, static_cast<float>(std::pow(10.0, -6.0 / 20.0)), 0, 1));
  EXPECT_FALSE(r.masterFed() || r.anyInUse()) << "channel field 0 is not a send from the master";
  MessageCapture cap;
  fx = effects(
      "\nrtn\t0\t60\nrtn\t-6\t50.5\ntrtn\t6\t30\t5\npos\t150\t-5\t42.5\nwidth\t180\nrhp\t10\n"
      "rlp\t16000\n",
      false, 22050.0);
  const ReverbSettings& q = fx->reverbs;
  EXPECT_EQ(std::tuple(q.recursiveReturn, q.recursiveRoom, q.tapReturn, q.tapRoom, q.taps),
            std::tuple(static_cast<float>(std::pow(10.0, -6.0 / 20.0)), 50.5f, 1.f, 30.f, 5))
      << "the last entry wins; a return is limited to unity";
  EXPECT_EQ(std::tuple(q.p1, q.p2, q.p3, q.width, q.eq.highPassOn, q.eq.highPassHz, q.eq.lowPassHz),
            std::tuple(100.f, 0.f, 42.5f, 180.f, 1, 20.0, 16000.0));
  EXPECT_EQ(cap.text(),
            "Resetting reverb high pass to 20 Hz\n"
            ">> Warning: reverb low pass at 16000 Hz is not below half the sample rate; "
            "the reverb sends pass unfiltered\n");
}

TEST(EffectSettingsTest, OrderEntriesSetOnlyPositions) {
  MessageCapture quiet;
  const auto fx =
      effects(std::string("\noverdub\ncomp\t2") + kComp +
              "order\tcomp\t2\t1\norder:\tlim\tM\t3\no\thp\tG\t3\t7\n"
              "order\tband2\t137\t2\norder\tband3\t-1\t2\norder\tcomp\t99999999999\t1\n"  // ignored
              "order\tdelay\t2\t4\n"  // not a processor
              "ofs\t0.5\n"            // starts with o, holds none
              "order\trms\t4\t12\n"   // stored unchecked
              "order\tnlc\t5\t1\norder\tnlc\t5\t9\nend\norder\tlim\t2\t1\n");
  const StripSettings& s = fx->strips;
  const std::tuple<int, int, int> set[] = {{kPeakComp, 2, 1},
                                           {kLimiter, 0, 3},
                                           {kHighPass, 130, 7},
                                           {kRmsComp, 4, 12},
                                           {kNonLinComp, 5, 9}};
  for (int p = 0; p < kProcessorCount; ++p)
    for (int index = 0; index < kStripCount; ++index) {
      int want = kDefaultPosition;
      for (auto [sp, si, pos] : set)
        if (sp == p && si == index) want = pos;
      ASSERT_EQ(s.strip[index].position[p], want) << p << " " << index;
    }
  EXPECT_EQ(std::tuple(s.strip[2].comp.thresh, s.strip[2].comp.ratio), std::tuple(838860, 4.0));
  EXPECT_FALSE(s.hasProcessor(0) || s.hasProcessor(4) || s.hasProcessor(130))
      << "an order entry is not also read as the processor it names";
  // A mix name starting with o or e right above a processor line takes nothing from it.
  const auto named = effects(std::string("\noutro\ncomp\t3") + kComp + "rev\t2\t-6\n");
  EXPECT_EQ(std::tuple(named->strips.strip[3].position[kPeakComp],
                       named->strips.strip[3].comp.ratio, named->reverbs.recursiveSendOn[2]),
            std::tuple(kDefaultPosition, 4.0, 1));
  EXPECT_EQ(effects("\necho\nlim\tG\t1\t-1\n")->strips.strip[128].enabled[kLimiter], 1);
}

}  // namespace
}  // namespace sorvan
