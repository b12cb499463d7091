// The true-peak interpolator's inner walk, W consecutive outputs of one phase
// side by side: each lane adds its taps in the same order as a single output
// would. Included by the files that build it for a processor family; all of it
// has internal linkage.
#pragma once

#include <algorithm>

// The vectors are passed only between inlined functions of this file.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace sorvan {
namespace {

template <int W>
struct PeakLanes {
  typedef double type __attribute__((vector_size(W * sizeof(double))));
  typedef float single __attribute__((vector_size(W * sizeof(float))));
};

// The largest |(float) sum| of one phase over n outputs (n a multiple of W),
// at least `peak`.
template <int W>
inline __attribute__((always_inline)) double phasePeakLanes(const double* x, long n,
                                                            const double* coeff, const int* back,
                                                            int taps, double peak) {
  using Lanes = typename PeakLanes<W>::type;
  using SingleLanes = typename PeakLanes<W>::single;
  Lanes most = Lanes{} + peak;
  for (long i = 0; i < n; i += W) {
    Lanes sum = {};
    for (int t = 0; t < taps; ++t) {
      Lanes in;
      __builtin_memcpy(&in, x + i - back[t], sizeof in);
      sum += in * coeff[t];
    }
    const Lanes rounded = __builtin_convertvector(__builtin_convertvector(sum, SingleLanes), Lanes);
    const Lanes magnitude = rounded < 0.0 ? -rounded : rounded;
    most = magnitude > most ? magnitude : most;
  }
  double largest = most[0];
  for (int k = 1; k < W; ++k) largest = std::max(largest, most[k]);
  return largest;
}

}  // namespace
}  // namespace sorvan
