// LIMITER, the strip processor of "lim" and the master limiter: a memoryless
// soft limiter, each side on its own.
#pragma once

#include <cstdint>

#include "dynamics/strip_table.h"

namespace sorvan {

// Read-only during the mix. A strip takes part only when its on flag is set.
struct LimiterSettings {
  StripTable<bool> on{};
  StripTable<std::int64_t> thresh = filledStripTable(kDefaultThreshold);  // strip's scale
};

// Stores the checked "lim" threshold of one strip and switches it on.
void setLimiter(LimiterSettings& settings, int channel, std::int64_t threshold);

// Processes left[0..n-1] and right[0..n-1] in place with strip `channel`'s
// threshold. Magnitudes above the knee (0.89125 of the threshold, about 1 dB
// below it) keep one eighth of their excess over the knee.
void LIMITER(const LimiterSettings& settings, int channel, long n, double* left, double* right);

}  // namespace sorvan
