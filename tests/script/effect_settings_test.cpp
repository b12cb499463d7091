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
std::unique_ptr<EffectSettings> read(const std::string& section, bool percent = false) {
  auto out = std::make_unique<EffectSettings>();
  MessageCapture quiet;
  readEffectSettings(EffectInputs{section, kRate, percent, 0}, *out);
  return out;
}

TEST(EffectSettingsTest, ThresholdsTimesAndRatiosInEachStripsScale) {
  const auto fx = read("\nsong\ncomp\t3" + kComp + "comp\tM" + kComp + "comp\tG\t2" + kComp +
                       "rms\t4\t-200\t-5\t60000\t0.5\nnlc\t5\t-6\t100.9\t3\nlim\tG\t1\t0\n"
                       "comp\t6\t3\t5000\t0.1\t100\n");
  const auto& s = fx->strips.strip;
  const auto comp = [](const SwitchedCompressorSettings& c) {
    return std::tuple(c.thresh, c.attackSamples, c.releaseSamples, c.ratio);
  };
  EXPECT_EQ(comp(s[3].comp), std::tuple(838860, 480, 4800, 4.0));
  EXPECT_EQ(s[0].comp.thresh, 214748159) << "the master works in bus scale";
  EXPECT_EQ(s[129].comp.thresh, 214748159) << "so do the submixes";
  EXPECT_EQ(s[128].lim.thresh, 8388608LL * 256 - 1);
  EXPECT_EQ(std::tuple(s[5].nlc.thresh, s[5].nlc.windowSamples, s[5].nlc.ratio),
            std::tuple(4204263, 100, 3.0));
  // Clamped: -144 dB, attack 1 sample, release 5 s, ratio 1; above 0 dB,
  // attack 2 s, release 10 samples, ratio 50.
  EXPECT_EQ(comp(s[4].rms), std::tuple(0, 1, 240000, 1.0));
  EXPECT_EQ(comp(s[6].comp), std::tuple(8388608, 96000, 10, 50.0));
  EXPECT_EQ(s[4].comp.thresh, 8388608) << "a strip without an entry keeps full scale";
  for (int index : {0, 3, 129}) EXPECT_EQ(s[index].enabled[kPeakComp], 1) << index;
  EXPECT_TRUE(fx->strips.hasProcessor(4) && fx->strips.masterStripInUse);
  EXPECT_FALSE(fx->strips.hasProcessor(7));

  // Channel field 0, or one that is no number, addresses row 0 too; only an
  // entry written "M" makes the master run the processor.
  const auto row0 = read("\ncomp\t0" + kComp + "lim\tx\t-3\n");
  EXPECT_EQ(row0->strips.strip[0].comp.thresh, 214748159);
  EXPECT_FALSE(row0->strips.hasProcessor(0) || row0->strips.masterStripInUse);
}

TEST(EffectSettingsTest, FilterFieldsAreClampedBeforeTheCoefficientsAreFormed) {
  const auto fx = read("\nhp\t1\t30000\nband2\t3\t30000\t20\t1000\nband4\t3\t1000\t-40\t0\n");
  const auto& s = fx->strips.strip;
  const HpfCoefficients hp = highPassCoefficients(24000.0, kRate);
  EXPECT_EQ(std::tuple(s[1].hpf.a, s[1].hpf.b), std::tuple(hp.a, hp.b));
  for (const auto& [section, w] : {std::pair{2, eqSection(2, 24000.0, 15.0, 100.0, kRate)},
                                   {4, eqSection(4, 1000.0, -15.0, 0.01, kRate)}}) {
    const BiquadCoefficients& g = s[3].eq[section];
    EXPECT_EQ(std::tie(g.b0, g.b1, g.b2, g.a1, g.a2), std::tie(w.b0, w.b1, w.b2, w.a1, w.a2));
  }
  EXPECT_EQ(s[3].enabled[kBand2] + s[3].enabled[kBand4] - s[3].enabled[kBand1], 2);
}

TEST(EffectSettingsTest, PercentLevelsSendsAndMasterFedReverbs) {
  auto fx = read("\nlim\t1\t50\nlim\t2\t150\nlim\tM\t50\nrev\t1\t50\nrev\t2\t400\n", true);
  EXPECT_EQ(fx->strips.strip[1].lim.thresh, 4194304);
  EXPECT_EQ(fx->strips.strip[2].lim.thresh, 8388608) << "limited to 100 percent";
  EXPECT_EQ(fx->strips.strip[0].lim.thresh, 4194304LL * 256 - 1);
  EXPECT_EQ(fx->reverbs.recursiveSend[1], 0.5f);
  EXPECT_EQ(fx->reverbs.recursiveSend[2], 1.0f) << "a send never exceeds unity";

  fx = read("\nrev\t1\t6\nrev\t2\t-6\ntrev\tG\t1\t0\nrev\t0\t-3\n");
  const ReverbSettings& r = fx->reverbs;
  EXPECT_EQ(r.recursiveSend[1], 1.0f);
  EXPECT_EQ(r.recursiveSend[2], static_cast<float>(std::pow(10.0, -6.0 / 20.0)));
  EXPECT_EQ(std::tuple(r.recursiveSendOn[3], r.tapSendOn[128]), std::tuple(0, 1));
  EXPECT_FALSE(r.masterFed()) << "channel field 0 is not a send from the master";
  fx = read("\ntrev\tM\t-3\n");
  EXPECT_TRUE(fx->reverbs.masterFedTap && fx->strips.masterStripInUse);
  EXPECT_FALSE(fx->reverbs.masterFedRecursive);
}

TEST(EffectSettingsTest, ReverbRoomsReturnsAndSendFilterLimits) {
  EXPECT_FALSE(read("\nsong\n")->reverbs.anyInUse());
  MessageCapture cap;
  EffectSettings fx;
  readEffectSettings(EffectInputs{"\nrtn\t0\t60\nrtn\t-6\t50.5\ntrtn\t6\t30\t5\n"
                                  "pos\t150\t-5\t42.5\nwidth\t180\nrhp\t10\nrlp\t16000\n",
                                  22050.0, false, 0},
                     fx);
  const ReverbSettings& r = fx.reverbs;
  EXPECT_EQ(std::tuple(r.recursiveReturn, r.recursiveRoom),
            std::tuple(static_cast<float>(std::pow(10.0, -6.0 / 20.0)), 50.5f))
      << "the last entry wins";
  EXPECT_EQ(std::tuple(r.tapReturn, r.tapRoom, r.taps), std::tuple(1.f, 30.f, 5))
      << "a return is limited to unity";
  EXPECT_EQ(std::tuple(r.p1, r.p2, r.p3, r.width), std::tuple(100.f, 0.f, 42.5f, 180.f));
  EXPECT_EQ(std::tuple(r.eq.highPassOn, r.eq.highPassHz, r.eq.lowPassHz),
            std::tuple(1, 20.0, 16000.0));
  EXPECT_EQ(cap.text(),
            "Resetting reverb high pass to 20 Hz\n"
            ">> Warning: reverb low pass at 16000 Hz is not below half the sample rate; "
            "the reverb sends pass unfiltered\n");
}

TEST(EffectSettingsTest, OrderEntriesSetOnlyPositions) {
  const auto fx = read("\noverdub\ncomp\t2" + kComp +
                       "order\tcomp\t2\t1\n"
                       "order:\tlim\tM\t3\n"
                       "o\thp\tG\t3\t7\n"
                       "order\tband2\t137\t2\n"  // beyond the table: ignored
                       "order\tband3\t-1\t2\n"   // ditto
                       "order\tdelay\t2\t4\n"    // not a processor
                       "ofs\t0.5\n"              // starts with o, holds no processor
                       "order\trms\t4\t12\n"     // stored unchecked
                       "order\tnlc\t5\t1\norder\tnlc\t5\t9\nend\norder\tlim\t2\t1\n");
  const StripSettings& s = fx->strips;
  const std::tuple<int, int, int> set[] = {
      {kPeakComp, 2, 1}, {kLimiter, 0, 3}, {kHighPass, 130, 7}, {kRmsComp, 4, 12}, {kNonLinComp, 5, 9}};
  for (int p = 0; p < kProcessorCount; ++p) {
    for (int index = 0; index < kStripCount; ++index) {
      int want = kDefaultPosition;
      for (auto [sp, si, pos] : set)
        if (sp == p && si == index) want = pos;
      ASSERT_EQ(s.strip[index].position[p], want) << p << " " << index;
    }
  }
  EXPECT_EQ(std::tuple(s.strip[2].comp.thresh, s.strip[2].comp.ratio), std::tuple(838860, 4.0));
  EXPECT_FALSE(s.hasProcessor(0) || s.hasProcessor(4) || s.hasProcessor(130))
      << "an order entry is not also read as the processor it names";
  // A mix name starting with o or e right above a processor line takes
  // nothing from it.
  const auto named = read("\noutro\ncomp\t3" + kComp + "rev\t2\t-6\n");
  EXPECT_EQ(std::tuple(named->strips.strip[3].position[kPeakComp], named->strips.strip[3].comp.ratio,
                       named->reverbs.recursiveSendOn[2]),
            std::tuple(kDefaultPosition, 4.0, 1));
  EXPECT_EQ(read("\necho\nlim\tG\t1\t-1\n")->strips.strip[128].enabled[kLimiter], 1);
}

}  // namespace
}  // namespace sorvan
