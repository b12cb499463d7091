#include "dynamics/limiter.h"

#include <cmath>

namespace sorvan {
namespace {

inline double limitSample(double sample, double knee) {
  const double p = sample >= 0.0 ? 1.0 : -1.0;
  double x = std::fabs(sample);
  if (x < kMagnitudeFloor) x = kMagnitudeFloor;
  if (x > knee) x = (x - knee) * 0.125 + knee;
  return p * x;
}

}  // namespace

void LIMITER(const LimiterSettings& settings, long n, double* left, double* right) {
  const double knee = static_cast<double>(settings.thresh) * 0.89125;
  for (long i = 0; i < n; ++i) {
    left[i] = limitSample(left[i], knee);
    right[i] = limitSample(right[i], knee);
  }
}

}  // namespace sorvan
