#include "reverb/room_geometry.h"

#include <cmath>

#include "base/numeric.h"

namespace sorvan {

namespace {
// Width and height of the room relative to its length.
constexpr double kWidthRatio = 0.83116;
constexpr double kHeightRatio = 0.64935;
constexpr double kFeetPerSecond = 1130.0;
}  // namespace

float samplesPerFoot(double SR) { return toSingle(SR / kFeetPerSecond); }

bool positionInsideRoom(float p1, float p2, float p3) {
  auto inside = [](float p) { return p >= 0.0f && p <= 100.0f; };
  return inside(p1) && inside(p2) && inside(p3);
}

SurfaceDistances surfaceDistances(double SR, float room, float p1, float p2, float p3) {
  const float spf = samplesPerFoot(SR);
  // The room in samples is formed in double from the single-precision inputs.
  const double Ls = static_cast<double>(spf) * room;
  const double Ws = kWidthRatio * spf * room;
  const double Hs = kHeightRatio * spf * room;
  // The fractions and their complements stay single precision.
  const float f1 = toSingle(p1 * 0.01);
  const float f2 = toSingle(p2 * 0.01);
  const float f3 = toSingle(p3 * 0.01);

  SurfaceDistances d;
  d.front = truncateTo<std::int64_t>((1.0f - f1) * Ls);
  d.rear = truncateTo<std::int64_t>(f1 * Ls);
  d.left = truncateTo<std::int64_t>(f3 * Ws);
  d.right = truncateTo<std::int64_t>((1.0f - f3) * Ws);
  d.floor = truncateTo<std::int64_t>(f2 * Hs);
  d.ceiling = truncateTo<std::int64_t>((1.0f - f2) * Hs);
  return d;
}

double crossDistance(std::int64_t a, std::int64_t b) {
  const std::int64_t squares = a * a + b * b;
  return std::sqrt(static_cast<double>(squares));
}

}  // namespace sorvan
