// Signals and the block-split check shared by the dynamics tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <memory>
#include <random>
#include <vector>

namespace sorvan::dyntest {

// A sine whose amplitude steps through quiet, loud and silent stretches
// (multiples of `level`, each with its length), so that a compressor with a
// threshold near `level` and a release of about 3000 samples triggers,
// releases, walks its release back, goes idle and triggers again.
inline std::vector<double> steppedTone(double level, double period, double phase) {
  const struct {
    double gain;
    int length;
  } steps[] = {{0.1, 3000},  {2.0, 3000}, {0.05, 3000}, {1.2, 1000},
               {0.05, 6000}, {0.0, 2000}, {3.0, 3000},  {0.01, 4000}};
  std::vector<double> out;
  for (const auto& step : steps) {
    for (int k = 0; k < step.length; ++k) {
      const double t = static_cast<double>(out.size());
      out.push_back(
          std::round(step.gain * level * std::sin(6.283185307179586 * t / period + phase)));
    }
  }
  return out;
}

// Samples alternating in sign, so that every frame closes a half-wave of its own.
inline std::vector<double> alternating(std::initializer_list<double> magnitudes) {
  std::vector<double> out;
  double sign = 1.0;
  for (double m : magnitudes) {
    out.push_back(sign * m);
    sign = -sign;
  }
  return out;
}

// Runs the signal as one block on channel 3, and with fresh state in blocks of
// random sizes on channels 3 and 130 interleaved; all three outputs must agree
// to the bit. `process(state, channel, n, left, right)`.
template <typename State, typename Process>
void expectBlockSplitInvariant(const std::vector<double>& left, const std::vector<double>& right,
                               Process process) {
  const long total = static_cast<long>(left.size());
  std::vector<double> wholeL = left, wholeR = right;
  auto whole = std::make_unique<State>();
  process(*whole, 3, total, wholeL.data(), wholeR.data());
  EXPECT_NE(wholeL, left) << "the signal should exercise the processor";

  std::vector<double> aL = left, aR = right, bL = left, bR = right;
  auto split = std::make_unique<State>();
  std::mt19937 rng(20240611);
  std::uniform_int_distribution<long> size(1, 2500);
  for (long pos = 0; pos < total;) {
    const long n = std::min(size(rng), total - pos);
    process(*split, 3, n, aL.data() + pos, aR.data() + pos);
    process(*split, 130, n, bL.data() + pos, bR.data() + pos);
    pos += n;
  }
  EXPECT_EQ(aL, wholeL);
  EXPECT_EQ(aR, wholeR);
  EXPECT_EQ(bL, wholeL);
  EXPECT_EQ(bR, wholeR);
}

}  // namespace sorvan::dyntest
