// First-order high-pass filter of the channel strip, and the guard against
// denormal arithmetic that every filter of this module applies to its input.
#pragma once

namespace sorvan {

// Coefficients of one strip's high-pass, fixed for the whole song.
struct HpfCoefficients {
  double a = 0.0;  // feedback on the previous output
  double b = 0.0;  // gain on the input difference
};

// One strip's filter memory, carried from block to block.
struct HpfMemory {
  double OldXL = 0, OldXR = 0;  // previous input
  double OldYL = 0, OldYR = 0;  // previous output
  bool seeded = false;          // false until the strip's first sample
};

// Replaces every sample strictly between -0.0001 and +0.0001 (zeros included)
// by -0.0001 or +0.0001 of the same sign, so that the recursive filters never
// decay into denormal numbers. NaN and larger values are kept.
inline double denormalGuard(double x) {
  constexpr double kGuard = 0.0001;
  // -0.0 compares equal to 0.0, so it takes the positive branch.
  const double up = (x >= 0.0 && x < kGuard) ? kGuard : x;
  return (x < 0.0 && x > -kGuard) ? -kGuard : up;
}

// Coefficients for a cutoff in Hz (already limited to 1 .. sampleRate / 2).
HpfCoefficients highPassCoefficients(double cutoffHz, double sampleRate);

// Filters one block of one strip in place. The first sample a strip ever
// receives seeds the memory and passes unchanged.
void HPF(const HpfCoefficients& k, HpfMemory& m, long n, double* left, double* right);

}  // namespace sorvan
