#include "script/script.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

#include "base/messages.h"
#include "script_test_util.h"

namespace sorvan {
namespace {

// A small session: three submixes (one muted), two VCAs, automation over a
// minute and a half, trims and effects gains.
constexpr const char* kFader =
    "\nEveningSong\n"
    "sub\t1\t1,2,3\n"
    "sub\t2\t4,5\n"
    "sub\t0\t5\n"
    "sub\t4\t6\n"
    "submu\t4\n"
    "VCA:\t1\t1,2,128\n"
    "VCA:\t2\t6,7,300\n"
    "t\t0\t0\t0\n"
    "v\t1\t0\nv\t2\t-6\nv\t3\t-3\nv\t4\t-10\nv\t5\t0\nv\t6\t0\nv\t7\t-20\nv\t8\t0\n"
    "v\tG\t1\t0\nv\tG\t2\t-3\nv\tM\t0\n"
    "vca\t1\t0\nvca\t2\t-6\n"
    "p\t1\t-30\np\t2\t30\np\t7\t150\npol\t3\t-1\n"
    "t\t0\t5\t0\n"
    "v\t1\t-12\nrmp\t2\nshape\t2\n"
    "v\t2\t-6\n"
    "v\tG\t1\t-6\nrmp\t1\n"
    "vca\t1\t-10\nrmp\t3\n"
    "t\t0\t6\t500\n"
    "v\t1\t-20\nv\t7\t20\n"
    "t\t1\t0\t0\n"
    "v\tM\t-3\nrmp\t0.5\nofs\t0.25\n"
    "inc\t10\n"
    "v\t3\t0\n"
    "dp\t8\t40\n"
    "trim\t2\t-6\ntrim\t4\t30\n"
    "scale\t1\nmtrim\t-1\n"
    "fxg\t3\t3\nfxg\tM\t-2\n"
    "comp\t3\t-20\t10\t100\t4\n"
    "end\n";

constexpr const char* kPrefs = "\ntfields\t3\noffset\t0\t0\t0\npan\t3\nend\n";

ScriptInputs sessionInputs() {
  ScriptInputs in = testing::makeInputs(kFader, kPrefs);
  in.songLength = 48000LL * 120;
  in.verbosity = 2;
  in.sourceChannels[7] = 1;
  in.sourceChannels[8] = 1;
  return in;
}

void expectEntries(const FaderTable& t, std::initializer_list<std::array<std::int64_t, 3>> rows) {
  ASSERT_EQ(t.count, static_cast<int>(rows.size()));
  int k = 0;
  for (const auto& row : rows) {
    EXPECT_EQ(t.time[k], row[0]) << "entry " << k;
    EXPECT_EQ(t.level[k], row[1]) << "entry " << k;
    EXPECT_EQ(t.ramp[k], row[2]) << "entry " << k;
    ++k;
  }
}

TEST(MixScriptTest, ReadsAWholeSession) {
  ChannelActive active;
  active.fill(1);
  MessageCapture cap;
  const MixScript s = readMixScript(sessionInputs(), active);
  EXPECT_EQ(cap.text(),
            "Channel assigned to VCA 2 is out of range!\n"
            "Automation offset by 0 samples.\n"
            "Using 3 time fields\n"
            "Reading volume and pan settings...\n"
            ">> Warning: fader 7 (entry 2) set above 12.02 dB\n"
            "Counted 4 time entries.\n"
            "Channel 4 volume trim set above 24 dB. Trim bypassed.\n"
            "Pan on channel 7 appears to be set wrong.  Setting to 0.\n");

  // Routing (each rule on its own in routing_test)
  const Routing& r = s.routing;
  EXPECT_EQ(r.busActive, (std::array<int, kBusCount>{1, 1, 1, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(std::tuple(r.matrix[1][1], r.matrix[1][0], r.matrix[5][0], r.matrix[5][2]),
            std::tuple(1, 0, 1, 1));
  EXPECT_EQ(std::tuple(active[5], active[6]), std::tuple(1, 0)) << "6 fed only a muted submix";
  EXPECT_EQ(std::vector<int>(
                {r.vcaAssignment[1], r.vcaAssignment[128], r.vcaAssignment[7], r.vcaAssignment[3]}),
            (std::vector<int>{1, 1, 2, 0}));

  // Automation: track channels carry the -1 dB master trim, buses do not.
  const LevelTables& t = s.levels;
  EXPECT_EQ(s.timeEntries, 4);
  expectEntries(t.faders[1],
                {{0, 119621675, 0}, {240000, 30047605, 72000}, {312000, 11962166, 2000}});
  EXPECT_EQ(t.faders[1].shape[1], 2.0f);
  expectEntries(t.faders[2], {{0, 30047605, 0}, {240000, 30047605, 0}});
  expectEntries(t.faders[3], {{0, 84685660, 0}, {3360000, 119621675, 750}});
  expectEntries(t.faders[7], {{0, 11962166, 0}, {312000, 477320275, 8005}});
  expectEntries(t.faders[8], {{0, 119621675, 0}});
  expectEntries(t.faders[0], {{0, 134217728, 0}, {2892000, 95018874, 24000}});
  expectEntries(t.faders[128], {{0, 134217728, 0}, {240000, 67268211, 48000}});
  expectEntries(t.vcas[1], {{0, 134217728, 0}, {240000, 42443372, 144000}});
  expectEntries(t.vcas[2], {{0, 67268211, 0}});
  EXPECT_TRUE(t.masterVolume);
  EXPECT_TRUE(t.submixVolume[1]);
  EXPECT_TRUE(t.submixVolume[2]);
  EXPECT_FALSE(t.submixVolume[3]);

  // Static values around the faders
  EXPECT_EQ(t.polarity[3], -1);
  EXPECT_EQ(std::tuple(t.trimOn[2], t.trimOn[4]), std::tuple(true, false));
  EXPECT_DOUBLE_EQ(t.effectsGain[3], 1.4125375446227544);
  EXPECT_DOUBLE_EQ(t.effectsGain[0], 0.7943282347242815);
  EXPECT_TRUE(t.masterStripUsed);
  EXPECT_EQ(t.panGainL[1], 1.0f);
  EXPECT_FLOAT_EQ(t.panGainR[1], 0.7f);
  EXPECT_FLOAT_EQ(t.panGainR[7], 0.70794576f);
  EXPECT_EQ(std::tuple(t.panPosition[8], t.panGainL[8], t.delayPanned[8], t.delayPanned[7]),
            std::tuple(40, 1.0f, true, false));
}

TEST(MixScriptTest, TempoModeAndQuietVerbosities) {
  MessageCapture cap;
  ScriptInputs tempo = testing::makeInputs("\ntmap\t120\t4\t8\nt\t2\t1\t0\nv\t1\t0\n", kPrefs);
  tempo.tempo = true;
  tempo.verbosity = 3;
  const MixScript s = testing::readScript(tempo);
  EXPECT_EQ(s.levels.faders[1].time[0], 96000);
  EXPECT_EQ(cap.text(), "Automation offset by 0 samples.\n");

  cap.clear();
  tempo.verbosity = 2;
  tempo.faderSection = "\ntmap\t120\t4\t8\nend\n";
  testing::readScript(tempo);
  EXPECT_EQ(cap.text(),
            "Automation offset by 0 samples.\nConstructing tempo map...\nUsing 3 time fields\n"
            "Reading volume and pan settings...\nNo time entries found!\n");
}

}  // namespace
}  // namespace sorvan
