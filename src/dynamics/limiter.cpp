#include "dynamics/limiter.h"

#include <cmath>
#include <cstddef>

namespace sorvan {

void setLimiter(LimiterSettings& settings, int channel, std::int64_t threshold) {
  const auto ch = static_cast<std::size_t>(channel);
  settings.on[ch] = true;
  settings.thresh[ch] = threshold;
}

namespace {

inline double limitSample(double sample, double knee) {
  const double p = sample >= 0.0 ? 1.0 : -1.0;
  double x = std::fabs(sample);
  if (x < kMagnitudeFloor) x = kMagnitudeFloor;
  if (x > knee) x = (x - knee) * 0.125 + knee;
  return p * x;
}

}  // namespace

void LIMITER(const LimiterSettings& settings, int channel, long n, double* left, double* right) {
  const double knee =
      static_cast<double>(settings.thresh[static_cast<std::size_t>(channel)]) * 0.89125;
  for (long i = 0; i < n; ++i) {
    left[i] = limitSample(left[i], knee);
    right[i] = limitSample(right[i], knee);
  }
}

}  // namespace sorvan
