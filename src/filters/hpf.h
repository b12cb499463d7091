// First-order high-pass filter of the channel strip, and the guard against
// denormal arithmetic that every filter of this module runs first.
#pragma once

#include <array>

#include "base/limits.h"

namespace sorvan {

// Coefficients of one strip's high-pass, fixed for the whole song.
struct HpfCoefficients {
  double a = 0.0;  // feedback on the previous output
  double b = 0.0;  // gain on the input difference
};

// Per-strip settings, indexed by channel index; filled once by the effect
// settings and read-only during the mix.
struct HpfSettings {
  std::array<int, kStripCount> on{};  // 1 when the strip has an "hp" entry
  std::array<double, kStripCount> hpfA{};
  std::array<double, kStripCount> hpfB{};
};

// Filter memory carried from block to block, indexed by channel index. The
// first-call flag (hpfFirst) is 0 until the strip's first block, then 1.
struct HpfState {
  std::array<double, kStripCount> OldXL{}, OldXR{};  // previous input
  std::array<double, kStripCount> OldYL{}, OldYR{};  // previous output
  std::array<int, kStripCount> first{};
};

// Replaces every sample strictly between -0.0001 and +0.0001 (zeros included)
// by -0.0001 or +0.0001 of the same sign, in place, so that the recursive
// filters never decay into denormal numbers. NaN and larger values are kept.
void Denormal(double* left, double* right, long n);

// The guard Denormal applies to one sample; the filters apply it inside their
// own loops so that a block is walked once.
inline double denormalGuard(double x) {
  constexpr double kGuard = 0.0001;
  // -0.0 compares equal to 0.0, so it takes the positive branch.
  const double up = (x >= 0.0 && x < kGuard) ? kGuard : x;
  return (x < 0.0 && x > -kGuard) ? -kGuard : up;
}

// Coefficients for a cutoff in Hz (already limited to 1 .. sampleRate / 2).
HpfCoefficients highPassCoefficients(double cutoffHz, double sampleRate);

// Stores the coefficients for one channel index and switches its filter on.
void setHighPass(HpfSettings& settings, int channel, double cutoffHz, double sampleRate);

// Filters one block of one strip in place. The first sample a strip ever
// receives seeds the memory and passes unchanged.
void HPF(const HpfSettings& settings, HpfState& state, int channel, long n, double* left,
         double* right);

}  // namespace sorvan
