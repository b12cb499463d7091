// PEAKCOMPRESSOR, the strip processor of "comp": a stereo-linked switch
// between unity gain and 1/ratio, triggered by a single sample above the
// threshold and released on the peaks of completed half-waves.
#pragma once

#include "dynamics/switched_compressor.h"

namespace sorvan {

// One strip's detector and phase, carried from block to block and never reset.
// The peaks are cleared when compression starts.
struct PeakChannelState {
  SwitchedPhase phase;
  SwitchedCurves curves;                // set up before the mix, when it has room for them
  double newpeakL = 0, newpeakR = 0;    // largest magnitude of the current half-wave
  double oldpeakL = 0, oldpeakR = 0;    // of the last completed half-wave
  double oldpolarL = 0, oldpolarR = 0;  // last frame of the previous block; 0.0 before
};

// Processes left[0..n-1] and right[0..n-1] of one strip in place.
void PEAKCOMPRESSOR(const SwitchedCompressorSettings& settings, PeakChannelState& state, long n,
                    double* left, double* right);

// Several strips' compressors of this kind at once (count at most
// kMaxCompressorJobs), each as the function above would run it.
using PeakJob = CompressorJob<PeakChannelState>;
void PEAKCOMPRESSORS(const PeakJob* jobs, int count, long n);

}  // namespace sorvan
