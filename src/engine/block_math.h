// The small loops the block loop is built from, on plain arrays of a block or
// of a stretch.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "base/numeric.h"
#include "engine/report.h"

namespace sorvan {

inline void addInto(std::int64_t* l, std::int64_t* r, const std::int64_t* fromL,
                    const std::int64_t* fromR, long n) {
  for (long i = 0; i < n; ++i) {
    l[i] += fromL[i];
    r[i] += fromR[i];
  }
}

// Adds a post-fader signal times g into a reverb send.
inline void addSend(double* sendL, double* sendR, const std::int64_t* l, const std::int64_t* r,
                    double g, long n) {
  for (long i = 0; i < n; ++i) {
    sendL[i] += static_cast<double>(l[i]) * g;
    sendR[i] += static_cast<double>(r[i]) * g;
  }
}

// A strip's way into double precision and back. Out of line, so that they
// are built for the widest vectors the processor has: its conversions between
// 64-bit integers and doubles take one instruction per vector there.
void toDoubles(const std::int64_t* l, const std::int64_t* r, double* toL, double* toR, long n);

// Back to integers, truncating; sets `clip` once a frame leaves +-fullScale.
void toIntegers(const double* l, const double* r, std::int64_t* toL, std::int64_t* toR, long n,
                double fullScale, int& clip);

inline void scale(double* l, double* r, double gain, long n) {
  for (long i = 0; i < n; ++i) {
    l[i] *= gain;
    r[i] *= gain;
  }
}

template <typename T>
void meterPeaks(MixMeters& meters, int index, const T* left, const T* right, long n) {
  double peakL = meters.peakL[index];
  double peakR = meters.peakR[index];
  for (long i = 0; i < n; ++i) {
    peakL = std::max(peakL, std::fabs(static_cast<double>(left[i])));
    peakR = std::max(peakR, std::fabs(static_cast<double>(right[i])));
  }
  meters.peakL[index] = peakL;
  meters.peakR[index] = peakR;
}

}  // namespace sorvan
