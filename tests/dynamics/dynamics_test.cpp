// The dynamics processors: the limiter's knee, the nonlinear compressor's
// ratio law and window, and the switched compressors' sine-shaped attack and
// release with what triggers each. Their block-split invariance is checked
// on whole strips, where all of them run in reordered strips (engine).
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "dynamics/limiter.h"
#include "dynamics/nonlinear_compressor.h"
#include "dynamics/peak_compressor.h"
#include "dynamics/rms_compressor.h"

namespace sorvan {
namespace {

using Samples = std::vector<double>;

// Alternating signs: every frame closes a half-wave, whose RMS and peak are
// then that frame's magnitude.
Samples alternating(Samples magnitudes) {
  for (std::size_t i = 1; i < magnitudes.size(); i += 2) magnitudes[i] = -magnitudes[i];
  return magnitudes;
}

TEST(LimiterTest, OneEighthOfTheExcessAboveTheKneeSurvivesOnEachSide) {
  Samples l{891.25, 1000.0, -2000.0, 0.0, -0.00001, 123.0}, r(6, 500.0);
  LIMITER(LimiterSettings{1000}, 6, l.data(), r.data());  // knee 891.25
  EXPECT_EQ(l, (Samples{891.25, 904.84375, -(1108.75 / 8 + 891.25), 0.0001, -0.0001, 123.0}));
  EXPECT_EQ(r, Samples(6, 500.0));
}

// Threshold 1000, ratio 4; window 0 measures every frame of an alternating
// signal as one sample.
Samples nonLinear(long window, Samples l, Samples& r) {
  NonLinChannelState state;
  NonLinCOMP(nonLinComp(1000, window, 4.0), state, static_cast<long>(l.size()), l.data(), r.data());
  return l;
}

TEST(NonLinCompTest, SettlesAtTheRatioAboveThresholdLinksTheSidesAndHoldsPerWindow) {
  // The smoothed level goes S/2, 5S/6, then S, where the gain (1 - T/S)/ratio
  // + T/S = 0.4375 leaves T + (S - T)/ratio. The right side is measured after
  // the left, so its link sees this frame's left gain, the left the previous right.
  Samples r = alternating(Samples(50, 4000));
  Samples l = nonLinear(0, alternating(Samples(50, 4000)), r);
  EXPECT_DOUBLE_EQ(r[0], 4000 * (0.5 / 4 + 0.5));
  EXPECT_DOUBLE_EQ(l[0], 4000 * (0.5 * 1.0 + 0.5 * 0.625));
  for (std::size_t i = 3; i < l.size(); ++i)
    ASSERT_EQ(std::tuple(std::fabs(l[i]), r[i]), std::tuple(1750.0, l[i])) << i;
  // Unequal sides average their gains (0.4375 and 1.1875 to 0.8125); a gain
  // above unity is capped; below the threshold only the floor changes.
  r = alternating(Samples(20, 800));
  l = nonLinear(0, alternating(Samples(20, 4000)), r);
  EXPECT_EQ(std::tuple(r[0], std::fabs(l[19]), std::fabs(r[19])), std::tuple(800.0, 3250.0, 650.0));
  r = {3.0, -0.00005, 0.0, 700.0};
  EXPECT_EQ(nonLinear(0, r, r), (Samples{3.0, -0.0001, 0.0001, 700.0}));
  // Window 3: frame 3 closes the first stretch of four samples, frame 7 the next.
  r = alternating(Samples(12, 4000));
  nonLinear(3, r, r);
  EXPECT_EQ(std::fabs(r[2]), 4000.0);
  for (int i = 3; i < 7; ++i) EXPECT_DOUBLE_EQ(std::fabs(r[i]), 2500.0) << i;
  EXPECT_NEAR(std::fabs(r[7]), 4000 * ((1 - 0.3) / 4 + 0.3), 1e-4);
}

template <typename State, auto Process>
State switched(long attack, long release, double ratio, Samples& l, Samples& r) {
  State state;
  Process(switchedCompressor(1000, attack, release, ratio), state, static_cast<long>(l.size()),
          l.data(), r.data());
  return state;
}

// Attack over 3 frames and release over 10, on sine quarter curves, to 1/2:
// compressed until both sides have had four quiet half-waves in a row; a
// half-wave at the threshold during the release walks it back a step.
template <typename State, auto Process>
void checkFullCycle() {
  Samples l = alternating({100, 1200, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100,
                           100, 1000, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 1001});
  Samples r(l.size());
  for (std::size_t i = 0; i < r.size(); ++i) r[i] = l[i] < 0 ? 100.0 : -100.0;
  r[7] = 600.0;  // at or above half the threshold: restarts the right side's quiet count
  const Samples inL = l, inR = r;
  const State state = switched<State, Process>(3, 10, 2.0, l, r);
  auto gain = [&](std::size_t i) { return l[i] / inL[i]; };
  EXPECT_EQ(l[0], inL[0]);
  for (int c = 1; c <= 3; ++c)
    EXPECT_NEAR(gain(c), 1 - 0.5 * std::sin(c * std::numbers::pi / 6), 1e-12) << c;
  for (std::size_t i = 4; i <= 11; ++i) EXPECT_EQ(gain(i), 0.5) << i;
  const int steps[] = {1, 2, 3, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  for (std::size_t k = 0; k < std::size(steps); ++k)
    EXPECT_NEAR(gain(12 + k), 0.5 + 0.5 * std::sin(steps[k] * std::numbers::pi / 20), 1e-12) << k;
  for (std::size_t i = 0; i < 24; ++i) EXPECT_NEAR(r[i] / inR[i], gain(i), 1e-15) << "linked " << i;
  EXPECT_EQ(l[24], inL[24]);
  EXPECT_EQ(state.phase.phase, compressor_phase::kAttack) << "idle after step 10, then triggered";
  // A loud signal during the release holds full reduction without overshoot.
  l = alternating({2000, 100, 100, 100, 100, 100, 1500, 1500, 1500, 1500, 1500, 1500, 1500});
  r = l;
  EXPECT_EQ((switched<State, Process>(1, 10, 4.0, l, r).phase.phase), compressor_phase::kRelease);
  for (std::size_t i = 8; i < l.size(); ++i) EXPECT_EQ(std::fabs(l[i]), 375.0) << i;
}

TEST(SwitchedCompressorTest, AttackHoldReleaseAndWalkBack) {
  checkFullCycle<RmsChannelState, RMSCOMPRESSOR>();
  checkFullCycle<PeakChannelState, PEAKCOMPRESSOR>();
}

// The RMS compressor triggers at the crossing after a loud half-wave, the
// peak compressor at the first sample above the threshold on either side.
TEST(SwitchedCompressorTest, WhatTriggersEach) {
  Samples l{1, 2000, 2000, 2000, 2000, -1, -1}, r(7, 0.0);
  switched<RmsChannelState, RMSCOMPRESSOR>(1, 100, 4.0, l, r);
  EXPECT_EQ(l, (Samples{1, 2000, 2000, 2000, 2000, -0.25, -0.25}));
  EXPECT_DOUBLE_EQ(r[5], 0.0001 / 4.0) << "silence carries the floor times the gain";
  for (int side : {0, 1}) {
    Samples pair[2] = {{10, 1000, -1000, 1001, 5}, Samples(5, 0.0)};
    if (side == 1) std::swap(pair[0], pair[1]);
    switched<PeakChannelState, PEAKCOMPRESSOR>(1, 100, 4.0, pair[0], pair[1]);
    EXPECT_EQ(pair[side], (Samples{10, 1000, -1000, 250.25, 1.25}));
    EXPECT_EQ(pair[1 - side][2], 0.0) << "idle: not even floored";
  }
}

}  // namespace
}  // namespace sorvan
