// The true-peak walk built for AVX-512 (see CMakeLists.txt): eight outputs
// side by side, the last four of a stretch four at a time.
#include "engine/true_peak.h"
#include "engine/true_peak_lanes.h"

namespace sorvan {

double phasePeakAvx512(const double* x, long n, const double* coeff, const int* back, int taps,
                       double peak) {
  const long eights = n / 8 * 8;
  peak = phasePeakLanes<8>(x, eights, coeff, back, taps, peak);
  return phasePeakLanes<4>(x + eights, n - eights, coeff, back, taps, peak);
}

}  // namespace sorvan
