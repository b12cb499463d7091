// The processors of every strip, run in each strip's own order with their
// state carried from block to block.
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

class StripRunner {
 public:
  explicit StripRunner(const StripSettings& settings);

  // Runs strip `index`'s processors in position order (1..11, the check order
  // within a position) on the double pair; the limiter only when asked, since
  // the master runs its limiter after the reverbs.
  void run(int index, long n, double* left, double* right, bool withLimiter);
  // The master limiter on its own.
  void limit(int index, long n, double* left, double* right);

 private:
  void runProcessor(int processor, int index, long n, double* left, double* right);

  const StripSettings& settings_;
  // Each strip's processors, sorted once by position and check order.
  std::array<std::array<std::uint8_t, kProcessorCount>, kStripCount> order_{};
  std::array<std::uint8_t, kStripCount> count_{};
  HpfState hpf_{};
  EqState eq_{};
  RmsCompressorState rms_{};
  NonLinCompState nlc_{};
  PeakCompressorState comp_{};
};

}  // namespace sorvan
