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

// One strip of a group run together, and the samples it works on.
struct StripLane {
  const StripChannelSettings* settings = nullptr;
  const StripOrder* order = nullptr;
  StripMemory* memory = nullptr;
  double* left = nullptr;
  double* right = nullptr;
};

// At most this many strips run as one group.
inline constexpr int kMaxStripGroup = 4;

// Whether two strips can run as one group: filters at the same places, a
// high-pass where the other has one. What else they run may differ.
bool sameStripShape(const StripOrder& a, const StripOrder& b);

// Whether two strips run the same processors in the same order.
bool sameProcessors(const StripOrder& a, const StripOrder& b);

// Whether a strip has a filter, so that grouping it pays.
bool stripHasFilter(const StripOrder& order);

// Runs the strips of lanes[0..count-1] (count at most kMaxStripGroup, all of
// one shape) as runStrip runs each: their filter chains side by side, their
// other processors one strip after the other.
void runStrips(const StripLane* lanes, int count, long n, bool withLimiter);

// The master limiter on its own, when the master has one.
void runMasterLimiter(const StripChannelSettings& settings, long n, double* left, double* right);

}  // namespace sorvan
