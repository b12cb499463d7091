// RMSCOMPRESSOR, the strip processor of "rms": a stereo-linked switch between
// unity gain and 1/ratio, triggered by the RMS of a completed half-wave.
#pragma once

#include "dynamics/switched_compressor.h"

namespace sorvan {

// One strip's detector and phase, carried from block to block and never reset.
struct RmsChannelState {
  SwitchedPhase phase;
  SwitchedCurves curves;                // set up before the mix, when it has room for them
  float rmsL = 0, rmsR = 0;             // RMS of the last completed half-wave
  float squaresL = 0, squaresR = 0;     // sum of squares of the current half-wave
  float intervalL = 0, intervalR = 0;   // samples in the current half-wave
  double oldpolarL = 0, oldpolarR = 0;  // +1.0 or -1.0; 0.0 before the first sample
};

// Processes left[0..n-1] and right[0..n-1] of one strip in place.
void RMSCOMPRESSOR(const SwitchedCompressorSettings& settings, RmsChannelState& state, long n,
                   double* left, double* right);

// Several strips' compressors of this kind at once (count at most
// kMaxCompressorJobs), each as the function above would run it.
using RmsJob = CompressorJob<RmsChannelState>;
void RMSCOMPRESSORS(const RmsJob* jobs, int count, long n);

}  // namespace sorvan
