// The passes of the mix script together: the order of their messages, and
// what one pass leaves for the next (master trim on track channels only,
// time entries counted across the whole section). Each rule on its own is in
// the routing, timeline and levels tests.
#include "script/script.h"

#include <gtest/gtest.h>

#include <tuple>

#include "base/messages.h"
#include "script_test_util.h"

namespace sorvan {
namespace {

constexpr const char* kFader =
    "\nEveningSong\nsub\t1\t1,2\nsub\t4\t6\nsubmu\t4\nVCA:\t2\t6,7,300\n"
    "t\t0\t0\t0\nv\t1\t0\nv\t2\t-6\nv\t6\t0\nv\t7\t-20\nv\tG\t1\t0\nv\tM\t0\n"
    "t\t0\t5\t0\nv\t1\t-12\nrmp\t2\nshape\t2\nv\tG\t1\t-6\nrmp\t1\n"
    "t\t0\t6\t500\nv\t7\t20\nt\t1\t0\t0\nv\tM\t-3\nrmp\t0.5\nofs\t0.25\n"
    "trim\t4\t30\nmtrim\t-1\np\t7\t150\nend\n";
constexpr const char* kPrefs = "\ntfields\t3\noffset\t0\t0\t0\nend\n";

TEST(MixScriptTest, ReadsAWholeSessionInItsOrderOfPasses) {
  ScriptInputs in = testing::makeInputs(kFader, kPrefs);
  in.songLength = 48000LL * 120;
  in.verbosity = 2;
  ChannelActive active;
  active.fill(1);
  MessageCapture cap;
  const MixScript s = readMixScript(in, active);
  EXPECT_EQ(cap.text(),
            "Channel assigned to VCA 2 is out of range!\n"
            "Automation offset by 0 samples.\n"
            "Using 3 time fields\n"
            "Reading volume and pan settings...\n"
            ">> Warning: fader 7 (entry 2) set above 12.02 dB\n"
            "Counted 4 time entries.\n"
            "Channel 4 volume trim set above 24 dB. Trim bypassed.\n"
            "Pan on channel 7 appears to be set wrong.  Setting to 0.\n");
  EXPECT_EQ(std::tuple(s.timeEntries, active[5], active[6]), std::tuple(4, 1, 0))
      << "6 fed only a muted submix";
  const LevelTables& t = s.levels;
  EXPECT_EQ(std::tuple(t.faders[1].level[1], t.faders[1].ramp[1], t.faders[1].shape[1]),
            std::tuple(30047605, 96000, 2.0f))
      << "-12 dB less the -1 dB master trim, a 2 s ramp at 48 kHz";
  EXPECT_EQ(std::tuple(t.faders[0].time[1], t.faders[0].level[1], t.faders[0].ramp[1]),
            std::tuple(2892000, 95018874, 24000))
      << "the master: offset by 0.25 s, no master trim";
  EXPECT_EQ(std::tuple(t.faders[128].level[1], t.faders[128].ramp[1]), std::tuple(67268211, 48000));
  EXPECT_EQ(std::tuple(s.routing.vcaAssignment[7], t.masterVolume, t.submixVolume[1]),
            std::tuple(2, true, true));
}

TEST(MixScriptTest, TempoModeAndQuietVerbosities) {
  MessageCapture cap;
  ScriptInputs tempo = testing::makeInputs("\ntmap\t120\t4\t8\nt\t2\t1\t0\nv\t1\t0\n", kPrefs);
  tempo.tempo = true;
  tempo.verbosity = 3;
  EXPECT_EQ(testing::readScript(tempo).levels.faders[1].time[0], 96000);
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
