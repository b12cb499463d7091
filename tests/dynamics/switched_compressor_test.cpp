// The RMS and the peak compressor share their four phases and gain curves;
// they differ in what triggers them.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "dynamics/peak_compressor.h"
#include "dynamics/rms_compressor.h"

namespace sorvan {
namespace {

using namespace compressor_phase;

template <typename State, auto Process>
struct Rig {
  SwitchedCompressorSettings settings;
  State state;
  Rig(long attack, long release, double ratio)
      : settings(switchedCompressor(1000, attack, release, ratio)) {}
  void run(std::vector<double>& l, std::vector<double>& r) {
    Process(settings, state, static_cast<long>(l.size()), l.data(), r.data());
  }
};
using RmsRig = Rig<RmsChannelState, RMSCOMPRESSOR>;
using PeakRig = Rig<PeakChannelState, PEAKCOMPRESSOR>;

// Alternating signs: every frame closes a half-wave, whose RMS and peak are
// then that frame's magnitude.
std::vector<double> alternating(std::vector<double> magnitudes) {
  for (std::size_t i = 1; i < magnitudes.size(); i += 2) magnitudes[i] = -magnitudes[i];
  return magnitudes;
}

// Attack over 3 frames and release over 10 on sine quarter curves, to 1/2.
template <typename R>
void checkFullCycle() {
  R rig(3, 10, 2.0);
  std::vector<double> l = alternating({100, 1200, 100, 100, 100, 100, 100, 100, 100,
                                       100, 100, 100, 100, 100, 1000, 100, 100, 100,
                                       100, 100, 100, 100, 100, 100, 100, 1001});
  std::vector<double> r(l.size());
  for (std::size_t i = 0; i < r.size(); ++i) r[i] = l[i] < 0 ? 100.0 : -100.0;
  r[7] = 600.0;  // at or above half the threshold: restarts the right side's quiet count
  const std::vector<double> inL = l, inR = r;
  rig.run(l, r);
  auto gain = [&](std::size_t i) { return l[i] / inL[i]; };
  EXPECT_EQ(l[0], inL[0]);
  for (int c = 1; c <= 3; ++c)
    EXPECT_NEAR(gain(c), 1 - 0.5 * std::sin(c * std::numbers::pi / 6), 1e-12) << c;
  // Compressed until both sides have had four quiet half-waves in a row.
  for (std::size_t i = 4; i <= 11; ++i) EXPECT_EQ(l[i], inL[i] / 2.0) << i;
  // Release; the half-wave at the threshold (frame 14) walks it back a step.
  const int steps[] = {1, 2, 3, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  for (std::size_t k = 0; k < std::size(steps); ++k)
    EXPECT_NEAR(gain(12 + k), 0.5 + 0.5 * std::sin(steps[k] * std::numbers::pi / 20), 1e-12)
        << 12 + k;
  for (std::size_t i = 0; i < 24; ++i) EXPECT_NEAR(r[i] / inR[i], gain(i), 1e-15) << "linked " << i;
  EXPECT_EQ(l[24], inL[24]);
  EXPECT_EQ(rig.state.phase.phase, kAttack) << "idle after step 10, then triggered again";
}

// A loud signal during the release holds full reduction without overshoot.
template <typename R>
void checkHoldsAtFullReduction() {
  R rig(1, 10, 4.0);
  std::vector<double> l = alternating({2000, 100, 100, 100, 100, 100, 1500, 1500, 1500, 1500,
                                       1500, 1500, 1500, 1500, 1500, 1500, 1500, 1500});
  std::vector<double> r = l;
  rig.run(l, r);
  EXPECT_EQ(rig.state.phase.phase, kRelease);
  for (std::size_t i = 8; i < l.size(); ++i) EXPECT_EQ(std::fabs(l[i]), 375.0) << i;
}

TEST(SwitchedCompressorTest, AttackHoldReleaseAndWalkBack) {
  checkFullCycle<RmsRig>();
  checkFullCycle<PeakRig>();
  checkHoldsAtFullReduction<RmsRig>();
  checkHoldsAtFullReduction<PeakRig>();
}

TEST(SwitchedCompressorTest, RmsTriggersAtTheCrossingAfterALoudHalfWavePeakAtTheFirstLoudSample) {
  RmsRig rms(1, 100, 4.0);
  std::vector<double> l{1, 2000, 2000, 2000, 2000, -1, -1}, r(7, 0.0);
  rms.run(l, r);
  for (int i = 1; i <= 4; ++i) EXPECT_EQ(l[i], 2000.0);
  EXPECT_EQ(l[5], -0.25);                // attack 1: full reduction at once
  EXPECT_DOUBLE_EQ(r[5], 0.0001 / 4.0);  // silence carries the floor times the gain
  for (int side : {0, 1}) {
    PeakRig peak(1, 100, 4.0);
    std::vector<double> pair[2] = {{10, 1000, -1000, 1001, 5}, std::vector<double>(5, 0.0)};
    if (side == 1) std::swap(pair[0], pair[1]);
    peak.run(pair[0], pair[1]);
    EXPECT_EQ(pair[side], (std::vector<double>{10, 1000, -1000, 250.25, 1.25}));
    EXPECT_EQ(pair[1 - side][2], 0.0);  // idle: not even floored
    EXPECT_DOUBLE_EQ(pair[1 - side][3], 0.0001 / 4.0);
  }
}

}  // namespace
}  // namespace sorvan
