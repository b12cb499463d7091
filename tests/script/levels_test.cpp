#include "script/levels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>

#include "base/messages.h"
#include "script_test_util.h"

namespace sorvan {
namespace {

using testing::makeInputs;
using testing::readScript;

const FaderTable& fader(const MixScript& s, int c) { return s.levels.faders[c]; }

TEST(LevelsTest, StoredLevelsAndFaderFlags) {
  MessageCapture cap;
  MixScript s = readScript(
      "\nv\t1\t-6\nt\t0\t1\t0\nv\t1\t0\nv\tG\t3\t-6\nv\t0\t0\nv\t7\t-200\nv\t1\t0\nv\t2\t20\n"
      "v\t1\t15\nvca\t4\t13\nvca\t12\t0\n");
  EXPECT_EQ(std::tuple(fader(s, 1).time[0], fader(s, 1).level[0]), std::tuple(0, 67268211))
      << "entries before the first t take time 0";
  EXPECT_EQ(std::tuple(fader(s, 1).time[1], fader(s, 1).level[1]), std::tuple(48000, 134217728));
  EXPECT_EQ(std::tuple(fader(s, 130).level[0], s.levels.submixVolume[3], fader(s, 0).count),
            std::tuple(67268211, true, 1));
  EXPECT_FALSE(s.levels.masterVolume) << "channel field 0 stores but is not played back";
  EXPECT_EQ(fader(s, 7).level[0], 8) << "clamped to -144 dB";
  EXPECT_EQ(s.levels.vcas[0].count, 1) << "a bad VCA number goes to VCA 0";
  EXPECT_EQ(cap.text(),
            ">> Warning: fader 2 (entry 1) set above 12.02 dB\n"
            ">> Warning: fader 1 (entry 4) set above 12.02 dB\n"
            ">> Warning: fader 4 (entry 1) set above 12.02 dB\n");
  EXPECT_TRUE(readScript("\nv\tM\t0\n").levels.masterVolume);
  ScriptInputs percent = makeInputs("\nv\t1\t50\nv\t2\t100\n");
  percent.percent = true;
  MixScript p = readScript(percent);
  EXPECT_EQ(std::tuple(fader(p, 1).level[0], fader(p, 2).level[0]),
            std::tuple(67108864, 134217728));
}

TEST(LevelsTest, RampsOnInitialEntriesAndPastTheSongAreCorrected) {
  ScriptInputs in = makeInputs(
      "\nt\t0\t0\t0\nv\t1\t0\nrmp\t1\nv\t2\t0\nv\t2\t-6\nrmp\t1\n"
      "t\t0\t1\t0\nv\t1\t-6\nrmp\t-1\n"
      "t\t0\t9\t0\nv\t1\t0\nrmp\t2\nvca\t2\t0\nvca\t2\t-6\nrmp\t1\n"
      "inc\t5\nv\t3\t0\nrmp\t1\n");  // "inc" is unchecked: past the song
  in.songLength = 480000;
  MessageCapture cap;
  MixScript s = readScript(in);
  EXPECT_EQ(cap.text(),
            "Error:  A ramp was found under an initial volume entry (channel 1).\n"
            "This is for initial volume only.\n"
            "Error:  A ramp was found under an initial volume entry (channel 2).\n"
            "This is for initial volume only.\n"
            "Error:  Time entry for volume ramp is less than zero. Ramp reset to 0.\n"
            "Adjusted volume ramp that exceeded song length (channel 1)\n"
            "Error:  A ramp was found under an initial volume entry (channel 3).\n"
            "This is for initial volume only.\n"
            "Adjusted volume ramp that exceeded song length (channel 3)\n"
            "Error:  Time entry for volume ramp is less than zero. Ramp reset to 0.\n");
  EXPECT_EQ(fader(s, 1).ramp[0], 0);
  EXPECT_EQ(fader(s, 1).ramp[2], 48000) << "cut to end at the song's end";
  EXPECT_EQ(s.levels.vcas[2].ramp[1], 48000) << "ending exactly at the song's end is kept";
  EXPECT_EQ(fader(s, 3).ramp[0], 0);
}

TEST(LevelsTest, AutomaticRampsAndRampLimits) {
  const char* text =
      "\nt\t0\t0\t0\nv\t1\t0\nv\t2\t0\nvca\t1\t0\n"
      "t\t0\t1\t0\nv\t1\t-12\nv\t2\t-6\nrmp\t3\nvca\t1\t-6\nrmp\t3\nv\t4\t0\n"
      "t\t0\t2\t0\nv\t2\t0\nrmp\t0.5\nvca\t1\t0\nv\t4\t-6\nrmp\t0.5\nt\t0\t0\t500\nv\t4\t0\n";
  MixScript s = readScript(text);
  EXPECT_EQ(fader(s, 1).ramp[1], 3000) << "12 dB at 192 dB/s and 48 kHz";
  EXPECT_EQ(fader(s, 2).ramp[1], 48000) << "cut at the next entry";
  EXPECT_EQ(s.levels.vcas[1].ramp[1], 48000);
  EXPECT_EQ(s.levels.vcas[1].ramp[2], 0) << "VCAs get no automatic ramps";
  EXPECT_EQ(fader(s, 4).ramp[1], 24000) << "an earlier next entry does not cut the ramp";
  ScriptInputs slow = makeInputs(text);
  slow.dbps = 96.0;
  EXPECT_EQ(readScript(slow).levels.faders[1].ramp[1], 6000);
}

TEST(LevelsTest, ShapesOffsetsTrimsScaleAndEffectsGains) {
  MessageCapture cap;
  MixScript s = readScript(
      "\nt\t0\t1\t0\nv\t1\t0\nshape\t10\nv\t2\t0\nshape\t0.125\nofs\t-0.5\nvca\t1\t0\nshape\t8\n"
      "ofs\t0.25\npol\t3\t2\npol\t4\t-1\npol\tG\t1\t-1\nv\t3\t12\nv\tM\t0\nv\tG\t1\t0\n"
      "trim\t1\t30\ntrim\t2\t-6\nscale\t2\nscale\t10\nmtrim\t30\nmtrim\t-1\n"
      "fxg\tM\t6\nfxg\t3\t30\nfxg\t5\t-6\tx\n");
  EXPECT_EQ(fader(s, 1).shape[0], 1.0f) << "10 is ignored";
  EXPECT_EQ(std::tuple(fader(s, 2).shape[0], fader(s, 2).time[0]), std::tuple(0.125f, 24000));
  EXPECT_EQ(std::tuple(s.levels.vcas[1].shape[0], s.levels.vcas[1].time[0]),
            std::tuple(8.0f, 60000));
  EXPECT_EQ(std::tuple(s.levels.polarity[3], s.levels.polarity[4], s.levels.polarity[128]),
            std::tuple(1, -1, -1));
  EXPECT_EQ(cap.text(),
            "Channel 1 volume trim set above 24 dB. Trim bypassed.\n"
            "Scale function value is set above 8.  Scale bypassed\n"
            "Master Trim is set above allowed value of 24 dB\n Master trim bypassed\n"
            ">> Warning! Volume entry 1 on channel 3 is above +12 dB.  \n"
            "Entry reset to -144 dB\n");
  EXPECT_EQ(std::tuple(s.levels.trimOn[1], s.levels.trimOn[2]), std::tuple(false, true));
  // The bypassed scale of 10 is not applied: 2, then -1 dB (and -6 dB trim).
  EXPECT_EQ(fader(s, 1).level[0], 239243351);
  EXPECT_EQ(fader(s, 2).level[0], 119905712);
  EXPECT_EQ(fader(s, 3).level[0], 0);
  EXPECT_EQ(fader(s, 0).level[0], 134217728) << "master trim spares the master";
  EXPECT_EQ(fader(s, 128).level[0], 134217728) << "and the submixes";
  EXPECT_TRUE(s.levels.masterStripUsed);
  EXPECT_DOUBLE_EQ(s.levels.effectsGain[0], std::pow(10.0, 0.3));
  EXPECT_EQ(s.levels.effectsGain[3], 1.0) << "above 15.9 falls back to unity";
  EXPECT_DOUBLE_EQ(s.levels.effectsGain[5], std::pow(10.0, -0.3));
  // Trims in percent are bypassed above 24 dB, then held at 400 percent.
  ScriptInputs percent = makeInputs("\nv\t1\t100\nv\t2\t100\ntrim\t1\t1580\ntrim\t2\t1590\n");
  percent.percent = true;
  cap.clear();
  EXPECT_EQ(readScript(percent).levels.faders[1].level[0], 4 * 134217728);
  EXPECT_EQ(cap.text(),
            ">> Warning: fader 1 (entry 1) set above 400 percent\n"
            "Channel 2 volume trim set above 24 dB. Trim bypassed.\n");
}

TEST(LevelsTest, PanPositionsAndGainsFollowTheLawAndSourceType) {
  ScriptInputs in = makeInputs(
      "\np\t1\t50\np\t2\t50\np\t3\t-50\np\tG\t1\t50\np\t5\t20\ndp\t5\t-40\ndp\t6\t150\n"
      "dp\t200\t10\np\t7\t150\np\tM\t-101\n",
      "\npan\t3\npan\t5\n");
  for (int c : {2, 3, 4, 5}) in.sourceChannels[c] = 1;
  MessageCapture cap;
  const LevelTables t = readScript(in).levels;
  EXPECT_EQ(cap.text(),
            ">> Warning: delay pan channel 200 is out of range and is ignored.\n"
            "Pan on channel 0 appears to be set wrong.  Setting to 0.\n"
            "Pan on channel 7 appears to be set wrong.  Setting to 0.\n");
  EXPECT_EQ(t.panLaw, 3.0f) << "the first pan entry counts";
  EXPECT_EQ(std::tuple(t.panGainL[1], t.panGainR[1], t.panGainL[128]),
            std::tuple(0.5f, 1.0f, 0.5f)) << "stereo channels and buses: balance";
  EXPECT_NEAR(t.panGainL[2], 0.354, 5e-4);
  EXPECT_NEAR(t.panGainR[2], 0.841, 5e-4);
  EXPECT_NEAR(t.panGainL[3], 0.841, 5e-4);
  EXPECT_FLOAT_EQ(t.panGainL[4], 0.70794576f) << "3 dB down at the centre";
  EXPECT_EQ(std::tuple(t.panPosition[5], t.panGainL[5], t.panGainR[5], t.delayPanned[5]),
            std::tuple(-40, 1.0f, 1.0f, true));
  EXPECT_FALSE(t.delayPanned[2]);
  EXPECT_EQ(std::tuple(t.delayPanPosition[6], t.panPosition[7]), std::tuple(0, 0));

  in.prefsSection = "\npan\t0\n";
  const LevelTables zero = readScript(in).levels;
  EXPECT_EQ(std::tuple(zero.panGainL[2], zero.delayPanned[2], zero.delayPanned[1]),
            std::tuple(1.0f, true, false)) << "every mono channel is placed by delay";
  EXPECT_EQ(zero.panPosition[5], 20) << "dp values are not used with a 0 dB law";
  in.prefsSection = "\npan\t0.5\n";
  EXPECT_NEAR(readScript(in).levels.panGainL[4], std::pow(10.0, -0.5 / 20), 1e-6);
  in.prefsSection = "\npan\t6.03\n";
  EXPECT_EQ(readScript(in).levels.panLaw, 3.0f);
  in.prefsSection = "\npan\t6.02\n";
  EXPECT_NEAR(readScript(in).levels.panGainL[4], 0.5, 1e-4);
}

TEST(LevelsTest, ExtraEntriesBeyondTheTableAreIgnored) {
  std::string text = "\nt\t0\t0\t0\n";
  for (int i = 0; i < 515; ++i) text += "v\t1\t-6\n";
  text += "rmp\t1\nshape\t2\nofs\t1\n";
  for (int i = 0; i < 513; ++i) text += "vca\t3\t0\n";
  MessageCapture cap;
  const MixScript s = readScript(text);
  EXPECT_EQ(cap.text(),
            ">> Warning: fader 1 has more than 512 entries; the extra entries are ignored.\n"
            ">> Warning: vca 3 has more than 512 entries; the extra entries are ignored.\n");
  const FaderTable& last = fader(s, 1);
  EXPECT_EQ(std::tuple(last.count, last.ramp[511], last.shape[511], last.time[511]),
            std::tuple(512, 0, 1.0f, 0)) << "rmp, shape and ofs after ignored entries touch nothing";
  EXPECT_EQ(s.levels.vcas[3].count, 512);
}

}  // namespace
}  // namespace sorvan
