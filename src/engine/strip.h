// The processors of every strip, run in each strip's own order with their
// memory carried from block to block.
#pragma once

#include <array>
#include <cstdint>

#include "base/limits.h"
#include "dynamics/nonlinear_compressor.h"
#include "dynamics/peak_compressor.h"
#include "dynamics/rms_compressor.h"
#include "filters/eq.h"
#include "filters/hpf.h"
#include "script/effect_settings.h"

namespace sorvan {

// What one strip's processors remember between blocks.
struct StripMemory {
  HpfMemory hpf;
  std::array<BiquadMemory, kEqSections> eq{};  // by section number 1..6
  RmsChannelState rms;
  NonLinChannelState nlc;
  PeakChannelState comp;
};

// One strip's processors in running order: by position 1..11, and within a
// position in the order of the Processor enum.
struct StripOrder {
  std::array<std::uint8_t, kProcessorCount> processor{};
  int count = 0;
};

StripOrder stripOrder(const StripChannelSettings& settings);

// Runs the strip's processors in order on the double pair; the limiter only
// when asked, since the master runs its limiter after the reverbs.
void runStrip(const StripChannelSettings& settings, const StripOrder& order, StripMemory& memory,
              long n, double* left, double* right, bool withLimiter);

// The master limiter on its own, when the master has one.
void runMasterLimiter(const StripChannelSettings& settings, long n, double* left, double* right);

}  // namespace sorvan
