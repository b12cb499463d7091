// LIMITER, the strip processor of "lim" and the master limiter: a memoryless
// soft limiter, each side on its own.
#pragma once

#include <cstdint>

#include "dynamics/strip_table.h"

namespace sorvan {

// Read-only during the mix.
struct LimiterSettings {
  std::int64_t thresh = kDefaultThreshold;  // strip's scale
};

// Processes left[0..n-1] and right[0..n-1] in place. Magnitudes above the knee
// (0.89125 of the threshold, about 1 dB below it) keep one eighth of their
// excess over the knee.
void LIMITER(const LimiterSettings& settings, long n, double* left, double* right);

}  // namespace sorvan
