#include "engine/block_math.h"

#include <algorithm>
#include <limits>

#include "base/target.h"

namespace sorvan {
namespace {

// truncateTo<std::int64_t> written as selections instead of branches, so that
// a loop of it runs as vectors: NaN gives 0, values beyond the range its
// nearest bound, everything else its truncation.
inline std::int64_t truncateSelecting(double v) {
  constexpr double kLow = -9223372036854775808.0;       // -2^63
  constexpr double kHigh = 9223372036854775808.0;       // 2^63
  constexpr double kBelowHigh = 9223372036854774784.0;  // the largest double below 2^63
  const double inRange = v != v ? 0.0 : std::clamp(v, kLow, kBelowHigh);
  const auto t = static_cast<std::int64_t>(inRange);
  return v >= kHigh ? std::numeric_limits<std::int64_t>::max() : t;
}

}  // namespace

SORVAN_ALSO_AVX512 void toDoubles(const std::int64_t* l, const std::int64_t* r, double* toL,
                                  double* toR, long n) {
  for (long i = 0; i < n; ++i) {
    toL[i] = static_cast<double>(l[i]);
    toR[i] = static_cast<double>(r[i]);
  }
}

SORVAN_ALSO_AVX512 void toIntegers(const double* l, const double* r, std::int64_t* toL,
                                   std::int64_t* toR, long n, double fullScale, int& clip) {
  // The range test joins the conversion as a flag, so that the loop has no
  // exit and runs as vectors.
  int outside = 0;
  for (long i = 0; i < n; ++i) {
    outside |= (l[i] > fullScale) | (l[i] < -fullScale) | (r[i] > fullScale) | (r[i] < -fullScale);
    toL[i] = truncateSelecting(l[i]);
    toR[i] = truncateSelecting(r[i]);
  }
  if (outside) clip = 1;
}

}  // namespace sorvan
