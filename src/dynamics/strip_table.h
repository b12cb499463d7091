// Per-strip tables of the dynamics processors: one entry per channel index
// (0 master, 1..127 tracks, 128..135 submixes).
#pragma once

#include <array>
#include <cmath>
#include <cstdint>

#include "base/limits.h"

namespace sorvan {

template <typename T>
using StripTable = std::array<T, kStripCount>;

template <typename T>
constexpr StripTable<T> filledStripTable(T value) {
  StripTable<T> table{};
  table.fill(value);
  return table;
}

// A strip without a threshold entry keeps full channel scale.
inline constexpr std::int64_t kDefaultThreshold = 8388608;

// Magnitudes below this are raised to it by every dynamics processor, so a
// rewritten sample is never exactly zero; the square of the floor is taken as
// the exact constant rather than computed.
inline constexpr double kMagnitudeFloor = 0.0001;
inline constexpr double kFloorSquare = 1e-08;

struct FlooredMagnitude {
  double x;       // |sample|, at least the floor
  double square;  // x * x, or the floor's square
};

inline FlooredMagnitude flooredMagnitude(double sample) {
  const double x = std::fabs(sample);
  if (x < kMagnitudeFloor) return {kMagnitudeFloor, kFloorSquare};
  return {x, x * x};
}

}  // namespace sorvan
