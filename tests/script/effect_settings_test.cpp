#include "script/effect_settings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <utility>

#include "base/messages.h"

namespace sorvan {
namespace {

constexpr double kRate = 48000.0;

// The settings are large; keep them off the test's stack.
std::unique_ptr<EffectSettings> read(const std::string& section, bool percent = false,
                                     int verbosity = 0) {
  auto out = std::make_unique<EffectSettings>();
  readEffectSettings(EffectInputs{section, kRate, percent, verbosity}, *out);
  return out;
}

constexpr const char* kComp = "\t-20\t10\t100\t4\n";

TEST(EffectSettingsTest, CompressorValuesInEachStripsScale) {
  const auto fx = read("\nsong\ncomp\t3" + std::string(kComp) + "comp\tM" + kComp + "comp\tG\t2" +
                       kComp + "rms\t4\t-20\t10\t100\t4\nnlc\t5\t-6\t100.9\t3\nlim\tG\t1\t0\n");
  const StripSettings& s = fx->strips;
  EXPECT_EQ(s.comp.thresh[3], 838860) << "truncate(0.1 x 2^23)";
  EXPECT_EQ(s.comp.attack[3], 480);
  EXPECT_EQ(s.comp.release[3], 4800);
  EXPECT_EQ(s.comp.ratio[3], 4.0);
  EXPECT_EQ(s.comp.thresh[0], 214748159) << "the master works in bus scale";
  EXPECT_EQ(s.comp.thresh[129], 214748159) << "so do the submixes";
  EXPECT_EQ(s.rms.thresh[4], 838860);
  EXPECT_EQ(s.rms.attack[4], 480);
  EXPECT_EQ(s.rms.release[4], 4800);
  EXPECT_EQ(s.nlc.thresh[5], 4204263);
  EXPECT_EQ(s.nlc.window[5], 100) << "window truncated, in samples";
  EXPECT_EQ(s.nlc.ratio[5], 3.0);
  EXPECT_EQ(s.lim.thresh[128], 8388608LL * 256 - 1);
  EXPECT_EQ(s.comp.thresh[4], 8388608) << "a strip without an entry keeps full scale";

  for (int index : {0, 3, 129}) EXPECT_EQ(s.enabled[kPeakComp][index], 1) << index;
  EXPECT_EQ(s.enabled[kRmsComp][4], 1);
  EXPECT_EQ(s.enabled[kNonLinComp][5], 1);
  EXPECT_EQ(s.enabled[kLimiter][128], 1);
  EXPECT_EQ(s.enabled[kPeakComp][4], 0);
  EXPECT_TRUE(s.hasProcessor(0) && s.hasProcessor(3) && s.hasProcessor(128));
  EXPECT_FALSE(s.hasProcessor(6));
  EXPECT_TRUE(s.masterStripInUse);
  EXPECT_FALSE(read("\ncomp\t3" + std::string(kComp))->strips.masterStripInUse);
}

TEST(EffectSettingsTest, OnlyAnEntryWrittenMGivesTheMasterAProcessor) {
  // A channel field of 0, or one that is no number, addresses row 0 as well;
  // its values are stored but the master does not run the processor.
  const auto fx = read("\ncomp\t0" + std::string(kComp) + "lim\tx\t-3\n");
  EXPECT_EQ(fx->strips.comp.thresh[0], 214748159);
  EXPECT_EQ(fx->strips.enabled[kPeakComp][0], 0);
  EXPECT_EQ(fx->strips.enabled[kLimiter][0], 0);
  EXPECT_FALSE(fx->strips.hasProcessor(0));
  EXPECT_FALSE(fx->strips.masterStripInUse);
  EXPECT_EQ(read("\nlim\tM\t-3\n")->strips.enabled[kLimiter][0], 1);
}

TEST(EffectSettingsTest, TimesRatiosAndThresholdsAreClamped) {
  const auto fx = read(
      "\ncomp\t1\t-20\t5000\t0.1\t100\n"  // 5 s attack, 4.8-sample release, ratio 100
      "comp\t2\t3\t0\t60000\t0.5\n"       // threshold above 0 dB, attack 0, release 60 s
      "rms\t3\t-200\t-5\t-5\t-1\n");      // threshold below -144 dB, negative times
  const StripSettings& s = fx->strips;
  EXPECT_EQ(s.comp.attack[1], 96000) << "at most two seconds";
  EXPECT_EQ(s.comp.release[1], 10) << "at least ten samples";
  EXPECT_EQ(s.comp.ratio[1], 50.0);
  EXPECT_EQ(s.comp.thresh[2], 8388608) << "0 dB";
  EXPECT_EQ(s.comp.attack[2], 1);
  EXPECT_EQ(s.comp.release[2], 240000) << "at most five seconds";
  EXPECT_EQ(s.comp.ratio[2], 1.0);
  EXPECT_EQ(s.rms.thresh[3], 0) << "-144 dB is below one sample";
  EXPECT_EQ(s.rms.attack[3], 1);
  EXPECT_EQ(s.rms.release[3], 10);
  EXPECT_EQ(s.rms.ratio[3], 1.0);
}

TEST(EffectSettingsTest, FilterFieldsAreClampedBeforeTheCoefficients) {
  const auto fx = read(
      "\nhp\t1\t30000\nhp\t2\t0\n"
      "band2\t3\t30000\t20\t1000\nband4\t3\t1000\t-40\t0\n"
      "hshelf\t4\t8000\t6\t0.7\nlshelf\t4\t100\t-6\t0.7\n");
  const StripSettings& s = fx->strips;
  const HpfCoefficients nyquist = highPassCoefficients(24000.0, kRate);
  EXPECT_EQ(s.hpf.hpfA[1], nyquist.a);
  EXPECT_EQ(s.hpf.hpfB[1], nyquist.b);
  const HpfCoefficients oneHz = highPassCoefficients(1.0, kRate);
  EXPECT_EQ(s.hpf.hpfA[2], oneHz.a);
  EXPECT_EQ(s.hpf.hpfB[2], oneHz.b);

  auto expected = std::make_unique<EqSettings>();
  setEqSection(*expected, 2, 3, 24000.0, 15.0, 100.0, kRate);
  setEqSection(*expected, 4, 3, 1000.0, -15.0, 0.01, kRate);
  setEqSection(*expected, 5, 4, 8000.0, 6.0, 0.7, kRate);
  setEqSection(*expected, 6, 4, 100.0, -6.0, 0.7, kRate);
  for (auto [section, index] : {std::pair{2, 3}, {4, 3}, {5, 4}, {6, 4}}) {
    const BiquadCoefficients& got = s.eq.coef[section][index];
    const BiquadCoefficients& want = expected->coef[section][index];
    EXPECT_EQ(got.b0, want.b0) << section;
    EXPECT_EQ(got.b1, want.b1) << section;
    EXPECT_EQ(got.b2, want.b2) << section;
    EXPECT_EQ(got.a1, want.a1) << section;
    EXPECT_EQ(got.a2, want.a2) << section;
  }
  EXPECT_EQ(s.enabled[kBand2][3], 1);
  EXPECT_EQ(s.enabled[kBand4][3], 1);
  EXPECT_EQ(s.enabled[kBand1][3], 0);
  EXPECT_EQ(s.enabled[kHighShelf][4], 1);
  EXPECT_EQ(s.enabled[kLowShelf][4], 1);
  EXPECT_EQ(s.eq.on[kEqBand1 + 1][3], 1) << "band2 is section 2";
}

TEST(EffectSettingsTest, PercentThresholdsAndSends) {
  const auto fx = read(
      "\nlim\t1\t50\nlim\t2\t150\nlim\tM\t50\n"
      "rev\t1\t50\nrev\t2\t400\ntrev\t3\t-10\nrtn\t50\t40\n",
      true);
  EXPECT_EQ(fx->strips.lim.thresh[1], 4194304);
  EXPECT_EQ(fx->strips.lim.thresh[2], 8388608) << "limited to 100 percent";
  EXPECT_EQ(fx->strips.lim.thresh[0], 4194304LL * 256 - 1);
  EXPECT_EQ(fx->reverbs.recursiveSend[1], 0.5f);
  EXPECT_EQ(fx->reverbs.recursiveSend[2], 1.0f) << "a send never exceeds unity";
  EXPECT_EQ(fx->reverbs.tapSend[3], 0.0f);
  EXPECT_EQ(fx->reverbs.tapSendOn[3], 1);
  EXPECT_EQ(fx->reverbs.recursiveReturn, 0.5f);
}

TEST(EffectSettingsTest, SendsAndMasterFedReverbs) {
  auto fx = read("\nrev\t1\t6\nrev\t2\t-6\ntrev\tG\t1\t0\nrev\t0\t-3\n");
  const ReverbSettings& r = fx->reverbs;
  EXPECT_EQ(r.recursiveSend[1], 1.0f) << "+6 dB sends at unity";
  EXPECT_NEAR(r.recursiveSend[2], 0.501, 0.0005);
  EXPECT_EQ(r.recursiveSend[2], static_cast<float>(std::pow(10.0, -6.0 / 20.0)));
  EXPECT_EQ(r.recursiveSendOn[2], 1);
  EXPECT_EQ(r.recursiveSendOn[3], 0);
  EXPECT_EQ(r.tapSendOn[128], 1);
  EXPECT_EQ(r.tapSend[128], 1.0f);
  EXPECT_FALSE(r.masterFed()) << "channel field 0 is not a send from the master";
  EXPECT_FALSE(fx->strips.masterStripInUse);

  fx = read("\ntrev\tM\t-3\n");
  EXPECT_TRUE(fx->reverbs.masterFedTap);
  EXPECT_FALSE(fx->reverbs.masterFedRecursive);
  EXPECT_TRUE(fx->strips.masterStripInUse);
  EXPECT_EQ(fx->reverbs.tapSendOn[0], 1);
}

TEST(EffectSettingsTest, ReverbEntriesDefaultsLimitsAndLastEntry) {
  MessageCapture cap;
  auto fx = read("\nsong\n");
  const ReverbSettings& d = fx->reverbs;
  EXPECT_FALSE(d.anyInUse());
  EXPECT_EQ(d.recursiveRoom, 75.0f);
  EXPECT_EQ(d.tapRoom, 75.0f);
  EXPECT_EQ(d.taps, 1);
  EXPECT_EQ(d.p1, 37.0f);
  EXPECT_EQ(d.p2, 39.0f);
  EXPECT_EQ(d.p3, 43.0f);
  EXPECT_EQ(d.width, 50.0f);
  EXPECT_EQ(d.eq.highPassOn, 0);
  EXPECT_EQ(d.eq.lowPassOn, 0);
  EXPECT_EQ(cap.text(), "");

  fx = read(
      "\nrtn\t0\t60\nrtn\t-6\t50.5\ntrtn\t6\t30\t5\npos\t150\t-5\t42.5\nwidth\t180\n"
      "rhp\t10\nrlp\t20000\n");
  const ReverbSettings& r = fx->reverbs;
  EXPECT_TRUE(r.recursiveInUse);
  EXPECT_TRUE(r.tapInUse);
  EXPECT_EQ(r.recursiveReturn, static_cast<float>(std::pow(10.0, -6.0 / 20.0))) << "last wins";
  EXPECT_EQ(r.recursiveRoom, 50.5f);
  EXPECT_EQ(r.tapReturn, 1.0f) << "a return is limited to unity";
  EXPECT_EQ(r.tapRoom, 30.0f);
  EXPECT_EQ(r.taps, 5);
  EXPECT_EQ(r.p1, 100.0f);
  EXPECT_EQ(r.p2, 0.0f);
  EXPECT_EQ(r.p3, 42.5f);
  EXPECT_EQ(r.width, 180.0f) << "width is not checked here";
  EXPECT_EQ(r.eq.highPassOn, 1);
  EXPECT_EQ(r.eq.highPassHz, 20.0);
  EXPECT_EQ(r.eq.lowPassOn, 1);
  EXPECT_EQ(r.eq.lowPassHz, 16000.0);
  EXPECT_EQ(cap.text(),
            "Resetting reverb high pass to 20 Hz\nResetting reverb low pass to 16000 Hz\n");

  cap.clear();
  fx = read("\nrhp\t20000\nrlp\t100\n");
  EXPECT_EQ(fx->reverbs.eq.highPassHz, 12000.0);
  EXPECT_EQ(fx->reverbs.eq.lowPassHz, 500.0);
  EXPECT_EQ(cap.text(),
            "Resetting reverb high pass to 12000 Hz\nResetting reverb low pass to 500 Hz\n");
}

TEST(EffectSettingsTest, OrderEntriesSetPositions) {
  MessageCapture cap;
  const auto fx = read(
      "\norder\tcomp\t2\t1\n"
      "order:\tlim\tM\t3\n"
      "o\thp\tG\t3\t7\n"
      "order\tband1\t136\t2\n"  // the spare slot exists
      "order\tband2\t137\t2\n"  // beyond the table: ignored
      "order\tband3\t-1\t2\n"   // ditto
      "order\tband4\tG\t99999999999999999999\t2\n"
      "order\tdelay\t2\t4\n"                    // not a processor
      "order\trms\t4\t12\n"                     // stored unchecked
      "order\tnlc\t5\t1\norder\tnlc\t5\t9\n");  // last wins
  const StripSettings& s = fx->strips;
  EXPECT_EQ(s.position[kPeakComp][2], 1);
  EXPECT_EQ(s.position[kLimiter][0], 3);
  EXPECT_EQ(s.position[kHighPass][130], 7);
  EXPECT_EQ(s.position[kBand1][136], 2);
  for (int p = 0; p < kProcessorCount; ++p) {
    for (int index = 0; index < kLevelSlots; ++index) {
      const bool set = (p == kPeakComp && index == 2) || (p == kLimiter && index == 0) ||
                       (p == kHighPass && index == 130) || (p == kBand1 && index == 136) ||
                       (p == kRmsComp && index == 4) || (p == kNonLinComp && index == 5);
      if (!set) {
        ASSERT_EQ(s.position[p][index], kDefaultPosition) << p << " " << index;
      }
    }
  }
  EXPECT_FALSE(s.hasProcessor(2) || s.hasProcessor(0) || s.hasProcessor(136 - 1))
      << "an order entry is not also read as the processor it names";
  EXPECT_EQ(cap.text(), "");
  EXPECT_EQ(s.position[kRmsComp][4], 12);
  EXPECT_EQ(s.position[kNonLinComp][5], 9);
  EXPECT_EQ(read("\nend\norder\tcomp\t2\t1\n")->strips.position[kPeakComp][2], kDefaultPosition)
      << "the pass ends at end";
}

TEST(EffectSettingsTest, OrderEntriesLeaveTheNamedProcessorsSettingsAlone) {
  const auto fx = read("\ncomp\t2" + std::string(kComp) + "order\tcomp\t2\t1\nlim\t3\t-6\n" +
                       "order\tlim\tG\t1\t2\n");
  const StripSettings& s = fx->strips;
  EXPECT_EQ(s.comp.thresh[2], 838860);
  EXPECT_EQ(s.comp.attack[2], 480);
  EXPECT_EQ(s.comp.release[2], 4800);
  EXPECT_EQ(s.comp.ratio[2], 4.0);
  EXPECT_EQ(s.lim.thresh[3], 4204263);
  EXPECT_EQ(s.enabled[kLimiter][128], 0);
  EXPECT_EQ(s.position[kPeakComp][2], 1);
  EXPECT_EQ(s.position[kLimiter][128], 2);
}

TEST(EffectSettingsTest, WordsStartingWithOOrEDoNotSwallowEntries) {
  // An "ofs" entry, and a mix name starting with o, start order entries that
  // hold no processor name; the entries after them stay intact.
  auto fx = read(
      "\noverdub\norder\tcomp\t2\t1\n"
      "t\t0\t1\t0\nv\t1\t0\nofs\t0.5\norder\tlim\t3\t2\n");
  EXPECT_EQ(fx->strips.position[kPeakComp][2], 1);
  EXPECT_EQ(fx->strips.position[kLimiter][3], 2);

  // A mix name starting with o right above a processor line: the processor
  // line stays a setting and does not become that order entry's fields.
  fx = read("\noutro\ncomp\t3" + std::string(kComp));
  EXPECT_EQ(fx->strips.position[kPeakComp][3], kDefaultPosition);
  EXPECT_EQ(fx->strips.enabled[kPeakComp][3], 1);
  EXPECT_EQ(fx->strips.comp.ratio[3], 4.0);

  // A mix name starting with e no longer ends the reading of every strip keyword.
  fx = read("\necho\ncomp\t3" + std::string(kComp) + "rev\t2\t-6\nlim\tG\t1\t-1\nend\nhp\t4\t80\n");
  EXPECT_EQ(fx->strips.comp.thresh[3], 838860);
  EXPECT_EQ(fx->strips.enabled[kLimiter][128], 1);
  EXPECT_EQ(fx->reverbs.recursiveSendOn[2], 1);
  EXPECT_EQ(fx->strips.enabled[kHighPass][4], 0) << "end still ends the reading";
}

TEST(EffectSettingsTest, HeadingsFollowTheVerbosity) {
  const std::string section = "\ncomp\t1" + std::string(kComp);
  auto messages = [&](int verbosity) {
    MessageCapture cap;
    read(section, false, verbosity);
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
  EXPECT_EQ(messages(0), "");
}

}  // namespace
}  // namespace sorvan
