// The rectangular room both reverbs model. Its width and height follow from
// its length in fixed proportions; source and listener share one point, given
// in percent of each dimension. All distances are in samples.
#pragma once

#include <cstdint>

namespace sorvan {

// Samples per foot at a sample rate (sound travels 1130 feet per second), kept
// in single precision because every distance below is formed from it.
float samplesPerFoot(double SR);

// Distances from the listening point to the six surfaces, truncated to whole
// samples.
struct SurfaceDistances {
  std::int64_t left = 0;
  std::int64_t right = 0;
  std::int64_t front = 0;
  std::int64_t rear = 0;
  std::int64_t ceiling = 0;
  std::int64_t floor = 0;
};

// p1: percent of the length from the rear wall, p2: percent of the height
// above the floor, p3: percent of the width from the left wall. The room
// length is in feet and must not be negative.
SurfaceDistances surfaceDistances(double SR, float room, float p1, float p2, float p3);

// True when each position lies within the room, 0 to 100 percent. A position
// outside would put the point behind a wall and give a negative distance,
// which no delay line can hold; NaN is outside as well.
bool positionInsideRoom(float p1, float p2, float p3);

// The straight distance between the reflection points of two surfaces,
// sqrt(a^2 + b^2), with the squares summed exactly. Both distances must be at
// most a few million samples so that the squares fit 64 bits.
double crossDistance(std::int64_t a, std::int64_t b);

}  // namespace sorvan
