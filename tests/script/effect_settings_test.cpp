#include "script/effect_settings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <tuple>

#include "base/messages.h"

namespace sorvan {
namespace {

constexpr double kRate = 48000.0;
const std::string kComp = "\t-20\t10\t100\t4\n";

// The settings are large; keep them off the test's stack.
std::unique_ptr<EffectSettings> read(const std::string& section, bool percent = false,
                                     int verbosity = 0) {
  auto out = std::make_unique<EffectSettings>();
  readEffectSettings(EffectInputs{section, kRate, percent, verbosity}, *out);
  return out;
}

TEST(EffectSettingsTest, CompressorValuesInEachStripsScale) {
  const auto fx = read("\nsong\ncomp\t3" + kComp + "comp\tM" + kComp + "comp\tG\t2" + kComp +
                       "rms\t4\t-20\t10\t100\t4\nnlc\t5\t-6\t100.9\t3\nlim\tG\t1\t0\n");
  const StripSettings& s = fx->strips;
  EXPECT_EQ(std::tuple(s.strip[3].comp.thresh, s.strip[3].comp.attackSamples, s.strip[3].comp.releaseSamples, s.strip[3].comp.ratio),
            std::tuple(838860, 480, 4800, 4.0));
  EXPECT_EQ(std::tuple(s.strip[4].rms.thresh, s.strip[4].rms.attackSamples, s.strip[4].rms.releaseSamples),
            std::tuple(838860, 480, 4800));
  EXPECT_EQ(s.strip[0].comp.thresh, 214748159) << "the master works in bus scale";
  EXPECT_EQ(s.strip[129].comp.thresh, 214748159) << "so do the submixes";
  EXPECT_EQ(std::tuple(s.strip[5].nlc.thresh, s.strip[5].nlc.windowSamples, s.strip[5].nlc.ratio),
            std::tuple(4204263, 100, 3.0));
  EXPECT_EQ(s.strip[128].lim.thresh, 8388608LL * 256 - 1);
  EXPECT_EQ(s.strip[4].comp.thresh, 8388608) << "a strip without an entry keeps full scale";
  for (int index : {0, 3, 129}) EXPECT_EQ(s.strip[index].enabled[kPeakComp], 1) << index;
  EXPECT_EQ(s.strip[4].enabled[kPeakComp], 0);
  EXPECT_TRUE(s.hasProcessor(0) && s.hasProcessor(4) && s.hasProcessor(5) && s.hasProcessor(128));
  EXPECT_FALSE(s.hasProcessor(6));
  EXPECT_TRUE(s.masterStripInUse);

  // Channel field 0, or one that is no number, addresses row 0 too; only an
  // entry written "M" makes the master run the processor.
  const auto row0 = read("\ncomp\t0" + kComp + "lim\tx\t-3\n");
  EXPECT_EQ(row0->strips.strip[0].comp.thresh, 214748159);
  EXPECT_FALSE(row0->strips.hasProcessor(0));
  EXPECT_FALSE(row0->strips.masterStripInUse);
  EXPECT_EQ(read("\nlim\tM\t-3\n")->strips.strip[0].enabled[kLimiter], 1);
}

TEST(EffectSettingsTest, FieldsAreClamped) {
  const auto fx = read(
      "\ncomp\t1\t-20\t5000\t0.1\t100\n"  // 5 s attack, 4.8-sample release, ratio 100
      "comp\t2\t3\t0\t60000\t0.5\n"       // threshold above 0 dB, attack 0, release 60 s
      "rms\t3\t-200\t-5\t-5\t-1\n"        // threshold below -144 dB, negative times
      "hp\t1\t30000\nhp\t2\t0\n"
      "band2\t3\t30000\t20\t1000\nband4\t3\t1000\t-40\t0\n"
      "hshelf\t4\t8000\t6\t0.7\nlshelf\t4\t100\t-6\t0.7\n");
  const StripSettings& s = fx->strips;
  EXPECT_EQ(std::tuple(s.strip[1].comp.attackSamples, s.strip[1].comp.releaseSamples, s.strip[1].comp.ratio),
            std::tuple(96000, 10, 50.0));
  EXPECT_EQ(std::tuple(s.strip[2].comp.thresh, s.strip[2].comp.attackSamples, s.strip[2].comp.releaseSamples, s.strip[2].comp.ratio),
            std::tuple(8388608, 1, 240000, 1.0));
  EXPECT_EQ(std::tuple(s.strip[3].rms.thresh, s.strip[3].rms.attackSamples, s.strip[3].rms.releaseSamples, s.strip[3].rms.ratio),
            std::tuple(0, 1, 10, 1.0));

  // Frequency, gain and Q are clamped before the coefficients are formed.
  for (auto [index, hz] : {std::pair{1, 24000.0}, {2, 1.0}}) {
    const HpfCoefficients k = highPassCoefficients(hz, kRate);
    EXPECT_EQ(std::tuple(s.strip[index].hpf.a, s.strip[index].hpf.b), std::tuple(k.a, k.b)) << index;
  }
  const std::tuple<int, int, BiquadCoefficients> expected[] = {
      {2, 3, eqSection(2, 24000.0, 15.0, 100.0, kRate)},
      {4, 3, eqSection(4, 1000.0, -15.0, 0.01, kRate)},
      {5, 4, eqSection(5, 8000.0, 6.0, 0.7, kRate)},
      {6, 4, eqSection(6, 100.0, -6.0, 0.7, kRate)}};
  for (const auto& [section, index, w] : expected) {
    const BiquadCoefficients& g = s.strip[index].eq[section];
    EXPECT_EQ(std::tie(g.b0, g.b1, g.b2, g.a1, g.a2), std::tie(w.b0, w.b1, w.b2, w.a1, w.a2))
        << section;
  }
  EXPECT_EQ(s.strip[3].enabled[kBand2] + s.strip[3].enabled[kBand4] + s.strip[4].enabled[kHighShelf] +
                s.strip[4].enabled[kLowShelf],
            4);
  EXPECT_EQ(s.strip[3].enabled[kBand1], 0);
}

TEST(EffectSettingsTest, PercentThresholdsSendsAndMasterFedReverbs) {
  auto fx =
      read("\nlim\t1\t50\nlim\t2\t150\nlim\tM\t50\nrev\t1\t50\nrev\t2\t400\ntrev\t3\t-10\n", true);
  EXPECT_EQ(fx->strips.strip[1].lim.thresh, 4194304);
  EXPECT_EQ(fx->strips.strip[2].lim.thresh, 8388608) << "limited to 100 percent";
  EXPECT_EQ(fx->strips.strip[0].lim.thresh, 4194304LL * 256 - 1);
  EXPECT_EQ(fx->reverbs.recursiveSend[1], 0.5f);
  EXPECT_EQ(fx->reverbs.recursiveSend[2], 1.0f) << "a send never exceeds unity";
  EXPECT_EQ(fx->reverbs.tapSend[3], 0.0f);
  EXPECT_EQ(fx->reverbs.tapSendOn[3], 1);

  fx = read("\nrev\t1\t6\nrev\t2\t-6\ntrev\tG\t1\t0\nrev\t0\t-3\n");
  const ReverbSettings& r = fx->reverbs;
  EXPECT_EQ(r.recursiveSend[1], 1.0f) << "+6 dB sends at unity";
  EXPECT_EQ(r.recursiveSend[2], static_cast<float>(std::pow(10.0, -6.0 / 20.0)));
  EXPECT_EQ(r.recursiveSendOn[3], 0);
  EXPECT_EQ(r.tapSend[128], 1.0f);
  EXPECT_FALSE(r.masterFed()) << "channel field 0 is not a send from the master";
  EXPECT_FALSE(fx->strips.masterStripInUse);

  fx = read("\ntrev\tM\t-3\n");
  EXPECT_TRUE(fx->reverbs.masterFedTap);
  EXPECT_FALSE(fx->reverbs.masterFedRecursive);
  EXPECT_TRUE(fx->strips.masterStripInUse);
}

TEST(EffectSettingsTest, ReverbLimitsAndLastEntry) {
  MessageCapture quiet;
  EXPECT_FALSE(read("\nsong\n")->reverbs.anyInUse());
  const auto fx = read(
      "\nrtn\t0\t60\nrtn\t-6\t50.5\ntrtn\t6\t30\t5\npos\t150\t-5\t42.5\nwidth\t180\nrhp\t10\n");
  const ReverbSettings& r = fx->reverbs;
  EXPECT_TRUE(r.recursiveInUse && r.tapInUse);
  EXPECT_EQ(r.recursiveReturn, static_cast<float>(std::pow(10.0, -6.0 / 20.0))) << "last wins";
  EXPECT_EQ(r.recursiveRoom, 50.5f);
  EXPECT_EQ(std::tuple(r.tapReturn, r.tapRoom, r.taps), std::tuple(1.f, 30.f, 5))
      << "a return is limited to unity";
  EXPECT_EQ(std::tuple(r.p1, r.p2, r.p3), std::tuple(100.f, 0.f, 42.5f));
  EXPECT_EQ(r.width, 180.0f) << "width is not checked here";
  EXPECT_EQ(std::tuple(r.eq.highPassOn, r.eq.highPassHz), std::tuple(1, 20.0));
}

TEST(EffectSettingsTest, SendFiltersAtOrAboveHalfTheRateSayWhatHappens) {
  MessageCapture cap;
  EffectSettings fx;
  readEffectSettings(EffectInputs{"\nrlp\t16000\nrhp\t12000\n", 22050.0, false, 0}, fx);
  EXPECT_EQ(cap.text(),
            ">> Warning: reverb high pass at 12000 Hz is not below half the sample rate; "
            "the reverb sends are silenced\n"
            ">> Warning: reverb low pass at 16000 Hz is not below half the sample rate; "
            "the reverb sends pass unfiltered\n");
}

TEST(EffectSettingsTest, OrderEntriesSetOnlyPositions) {
  MessageCapture cap;
  const auto fx = read("\ncomp\t2" + kComp +
                       "order\tcomp\t2\t1\n"
                       "order:\tlim\tM\t3\n"
                       "o\thp\tG\t3\t7\n"
                       "order\tband1\t136\t2\n"  // the spare slot runs no strip
                       "order\tband2\t137\t2\n"  // beyond the table: ignored
                       "order\tband3\t-1\t2\n"   // ditto
                       "order\tband4\tG\t99999999999999999999\t2\n"
                       "order\tdelay\t2\t4\n"                    // not a processor
                       "order\trms\t4\t12\n"                     // stored unchecked
                       "order\tnlc\t5\t1\norder\tnlc\t5\t9\n");  // last wins
  const StripSettings& s = fx->strips;
  const std::tuple<int, int, int> set[] = {{kPeakComp, 2, 1},
                                           {kLimiter, 0, 3},
                                           {kHighPass, 130, 7},
                                           {kRmsComp, 4, 12},
                                           {kNonLinComp, 5, 9}};
  for (int p = 0; p < kProcessorCount; ++p) {
    for (int index = 0; index < kStripCount; ++index) {
      int want = kDefaultPosition;
      for (auto [sp, si, pos] : set)
        if (sp == p && si == index) want = pos;
      ASSERT_EQ(s.strip[index].position[p], want) << p << " " << index;
    }
  }
  EXPECT_EQ(std::tuple(s.strip[2].comp.thresh, s.strip[2].comp.ratio), std::tuple(838860, 4.0))
      << "the named processor's settings stay";
  EXPECT_FALSE(s.hasProcessor(0) || s.hasProcessor(4) || s.hasProcessor(130))
      << "an order entry is not also read as the processor it names";
  EXPECT_EQ(cap.text(), "");
  EXPECT_EQ(read("\nend\norder\tcomp\t2\t1\n")->strips.strip[2].position[kPeakComp], kDefaultPosition)
      << "the pass ends at end";
}

TEST(EffectSettingsTest, WordsStartingWithOOrEDoNotSwallowEntries) {
  // An "ofs" entry, and a mix name starting with o, start order entries that
  // hold no processor name; the entries after them stay intact.
  auto fx = read("\noverdub\norder\tcomp\t2\t1\nt\t0\t1\t0\nv\t1\t0\nofs\t0.5\norder\tlim\t3\t2\n");
  EXPECT_EQ(fx->strips.strip[2].position[kPeakComp], 1);
  EXPECT_EQ(fx->strips.strip[3].position[kLimiter], 2);

  // A mix name starting with o right above a processor line: the processor
  // line stays a setting and does not become that order entry's fields.
  fx = read("\noutro\ncomp\t3" + kComp);
  EXPECT_EQ(fx->strips.strip[3].position[kPeakComp], kDefaultPosition);
  EXPECT_EQ(fx->strips.strip[3].comp.ratio, 4.0);

  // A mix name starting with e no longer ends the reading of every strip keyword.
  fx = read("\necho\ncomp\t3" + kComp + "rev\t2\t-6\nlim\tG\t1\t-1\nend\nhp\t4\t80\n");
  EXPECT_EQ(fx->strips.strip[3].comp.thresh, 838860);
  EXPECT_EQ(fx->strips.strip[128].enabled[kLimiter], 1);
  EXPECT_EQ(fx->reverbs.recursiveSendOn[2], 1);
  EXPECT_EQ(fx->strips.strip[4].enabled[kHighPass], 0) << "end still ends the reading";
}

TEST(EffectSettingsTest, HeadingsFollowTheVerbosity) {
  auto messages = [](int verbosity) {
    MessageCapture cap;
    read("\ncomp\t1" + kComp, false, verbosity);
    return cap.text();
  };
  EXPECT_EQ(messages(3),
            "Reading effect settings...\n"
            "\tReading peak compressor settings...\n"
            "\tReading NLC compressor settings...\n"
            "\tReading high pass filter settings...\n"
            "\tReading band 1-4 EQ settings...\n"
            "\tReading high and low shelf EQ settings...\n"
            "\tReading reverb settings...\n");
  EXPECT_EQ(messages(2), "Reading effect settings...\n");
  EXPECT_EQ(messages(4), "Reading effect settings...\n");
  EXPECT_EQ(messages(1), "");
}

}  // namespace
}  // namespace sorvan
