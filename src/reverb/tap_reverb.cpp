#include "reverb/tap_reverb.h"

#include <algorithm>
#include <cstdio>

#include "base/numeric.h"
#include "reverb/room_geometry.h"

namespace sorvan {

namespace {

// A reflection point further than this from the listener is refused: the
// order delays built from it would soon outgrow any accumulator.
constexpr std::int64_t kMaxSurfaceDistance = 32768;

// Surfaces in the cyclic order the higher-order paths are built in.
enum Surface { kLeft, kRight, kFront, kRear, kCeiling, kFloor, kSurfaceCount };

// Adds one tap into the accumulator cell at pos; the sum is formed in double
// and truncated back, so a tap smaller than 1 may vanish.
inline void addTap(std::int64_t* ret, std::int64_t* spill, long n, std::int64_t pos, double tap) {
  std::int64_t& cell = pos < n ? ret[pos] : spill[pos - n];
  cell = truncateTo<std::int64_t>(static_cast<double>(cell) + tap);
}

}  // namespace

std::optional<std::string> setupDiscreteReverb(TapReverbState& state, long bufferLength, double SR,
                                               float room, int taps, float p1, float p2, float p3) {
  taps = std::clamp(taps, 1, kMaxTapOrders);
  state.taps = taps;

  if (!positionInsideRoom(p1, p2, p3))
    return ">>> Error:  Illegal value for reverb position parameter\n";
  if (!(room >= 0.0f)) return ">>> Error:  Illegal value for tap reverb room size\n";

  const SurfaceDistances sd = surfaceDistances(SR, room, p1, p2, p3);
  std::array<std::int64_t, kSurfaceCount> dist{};
  dist[kLeft] = sd.left;
  dist[kRight] = sd.right;
  dist[kFront] = sd.front;
  dist[kRear] = sd.rear;
  dist[kCeiling] = sd.ceiling;
  dist[kFloor] = sd.floor;
  for (std::int64_t d : dist) {
    if (d > kMaxSurfaceDistance)
      return ">>> Error: A tap reverb dimension has exceeded the limit\n";
  }

  // Cross distances between the reflection points, kept in single precision.
  std::array<std::array<float, kSurfaceCount>, kSurfaceCount> cross{};
  for (int a = 0; a < kSurfaceCount; ++a) {
    for (int b = 0; b < kSurfaceCount; ++b) cross[a][b] = toSingle(crossDistance(dist[a], dist[b]));
  }

  const std::array<std::array<std::int64_t, kMaxTapOrders>*, kSurfaceCount> delay = {
      &state.Rleft, &state.Rright, &state.Rfrntwall, &state.Rrearwall, &state.Rceil, &state.Rfloor};
  for (auto* d : delay) d->fill(0);
  for (int j = 0; j < kSurfaceCount; ++j) (*delay[j])[0] = 2 * dist[j];
  // Each order continues the previous order's path of another surface; the
  // step through the cyclic order rotates so that every order pairs the
  // surfaces differently.
  for (int t = 1; t < taps; ++t) {
    const int k = (t - 1) % 5 + 1;
    for (int j = 0; j < kSurfaceCount; ++j) {
      const int m = (j + k) % kSurfaceCount;
      const float path = static_cast<float>((*delay[m])[t - 1] + dist[j]);
      const float sum = path + cross[j][m];
      (*delay[j])[t] = truncateTo<std::int64_t>(sum);
    }
  }

  // Delays only grow with the order, so the last order holds the largest.
  std::int64_t largest = 0;
  for (auto* d : delay) largest = std::max(largest, (*d)[taps - 1]);
  if (largest >= bufferLength) {
    const float q = static_cast<float>(bufferLength) / static_cast<float>(largest);
    const float suggestedTaps = static_cast<float>(taps) * q - 1.0f;
    const float suggestedRoom = room * q - 1.0f;
    char message[160];
    std::snprintf(message, sizeof message,
                  ">>> Error:  Please decrease reverb tap number to %i or room length to %.0f "
                  "feet\n",
                  truncateTo<int>(suggestedTaps), static_cast<double>(suggestedRoom));
    return message;
  }

  state.atten.fill(0.0);
  double gain = 0.5;
  for (int t = 0; t < taps; ++t, gain *= 0.5) state.atten[t] = gain;
  return std::nullopt;
}

void DiscreteReverb(const TapReverbState& state, long n, const double* sendL, const double* sendR,
                    std::int64_t* spillL, std::int64_t* spillR, std::int64_t* returnL,
                    std::int64_t* returnR) {
  const int orders = state.taps;
  std::array<double, kMaxTapOrders> tapoutL{};
  std::array<double, kMaxTapOrders> tapoutR{};
  // The two walls beside the listener reach one side only; floor, ceiling,
  // front and rear reach both. The order of additions is fixed because each
  // addition truncates.
  const std::array<const std::array<std::int64_t, kMaxTapOrders>*, 4> bothSides = {
      &state.Rfloor, &state.Rceil, &state.Rfrntwall, &state.Rrearwall};

  for (long i = 0; i < n; ++i) {
    for (int t = 0; t < orders; ++t) {
      tapoutL[t] = sendL[i] * state.atten[t];
      tapoutR[t] = sendR[i] * state.atten[t];
    }
    for (int t = 0; t < orders; ++t) addTap(returnL, spillL, n, i + state.Rleft[t], tapoutL[t]);
    for (int t = 0; t < orders; ++t) addTap(returnR, spillR, n, i + state.Rright[t], tapoutR[t]);
    for (const auto* d : bothSides) {
      for (int t = 0; t < orders; ++t) {
        addTap(returnL, spillL, n, i + (*d)[t], tapoutL[t]);
        addTap(returnR, spillR, n, i + (*d)[t], tapoutR[t]);
      }
    }
  }
}

}  // namespace sorvan
