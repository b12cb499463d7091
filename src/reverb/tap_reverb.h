// The tap reverb: early reflections of a rectangular room, up to eleven orders
// deep. Each send sample becomes a set of delayed copies, halved per order,
// added into the return pair (this block) or the spill pair (the next block).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace sorvan {

inline constexpr int kMaxTapOrders = 11;

// Geometry worked out once before the mix and fixed for the run. The reverb
// holds no audio of its own: pending output lives in the caller's spill pair.
struct TapReverbState {
  int taps = 1;  // the limited tap count (reflection orders in use)
  // Delay in samples of the order-t reflection off each surface.
  std::array<std::int64_t, kMaxTapOrders> Rleft{};
  std::array<std::int64_t, kMaxTapOrders> Rright{};
  std::array<std::int64_t, kMaxTapOrders> Rfrntwall{};
  std::array<std::int64_t, kMaxTapOrders> Rrearwall{};
  std::array<std::int64_t, kMaxTapOrders> Rceil{};
  std::array<std::int64_t, kMaxTapOrders> Rfloor{};
  std::array<double, kMaxTapOrders> atten{};  // gain of order t: 1 / 2^(t+1)
};

// Works out the delays and gains; taps is limited to 1..11. Returns the
// message that refuses the room, or nothing: a position outside 0..100
// percent, a negative room, a surface more than 32768 samples away, or a
// last-order delay that reaches bufferLength.
[[nodiscard]] std::optional<std::string> setupDiscreteReverb(TapReverbState& state,
                                                             long bufferLength, double SR,
                                                             float room, int taps, float p1,
                                                             float p2, float p3);

// One block. sendL/sendR hold n samples (bus scale); the return and spill
// pairs hold bufferLength samples each, and n must not exceed the
// bufferLength the geometry was set up for. Every tap lands in the return pair
// when it falls inside the block, otherwise in the spill pair at its position
// less n.
void DiscreteReverb(const TapReverbState& state, long n, const double* sendL, const double* sendR,
                    std::int64_t* spillL, std::int64_t* spillR, std::int64_t* returnL,
                    std::int64_t* returnR);

}  // namespace sorvan
