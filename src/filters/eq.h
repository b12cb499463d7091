// The six second-order sections of the channel strip's EQ: four peaking bands
// ("band1".."band4"), a high shelf ("hshelf") and a low shelf ("lshelf"), and
// the seeded direct-form biquad they share with the reverb send filters.
#pragma once

namespace sorvan {

// Section numbers as the strip knows them.
inline constexpr int kEqBand1 = 1;
inline constexpr int kEqBand4 = 4;
inline constexpr int kEqHighShelf = 5;
inline constexpr int kEqLowShelf = 6;
inline constexpr int kEqSections = 7;  // 1..6 used, so a section number indexes directly

// Normalised coefficients (already divided by a0).
struct BiquadCoefficients {
  double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
};

// Memory of one biquad on a stereo pair. first counts the samples seen while
// seeding: 0 nothing yet, 1 one sample, 2 running.
struct BiquadMemory {
  double in1L = 0.0, in1R = 0.0;    // previous input
  double in2L = 0.0, in2R = 0.0;    // input before that
  double out1L = 0.0, out1R = 0.0;  // previous output
  double out2L = 0.0, out2R = 0.0;  // output before that
  int first = 0;
};

// The three quantities every section type is built from: A = 10^(gain/40),
// w0 = f * 2pi / SR and alpha = sin(w0) / (2Q).
void EQSetA(double gainDb, double freqHz, double sampleRate, double q, double& A, double& w0,
            double& alpha);

// Normalised coefficients of a section (1..4 peaking, 5 high shelf, 6 low shelf).
BiquadCoefficients eqSectionCoefficients(int section, double A, double w0, double alpha);

// A section's coefficients from checked frequency, gain and Q.
BiquadCoefficients eqSection(int section, double freqHz, double gainDb, double q,
                             double sampleRate);

// Runs the denormal guard, then the biquad over one block in place. The first
// two samples the memory ever receives seed it (as both input and output) and
// pass unchanged, so the filter starts as if it had always passed its input.
void runBiquad(const BiquadCoefficients& k, BiquadMemory& m, long n, double* left, double* right);

// One EQ section of one strip over one block, in place.
inline void EQ(const BiquadCoefficients& k, BiquadMemory& m, long n, double* left, double* right) {
  runBiquad(k, m, n, left, right);
}

}  // namespace sorvan
