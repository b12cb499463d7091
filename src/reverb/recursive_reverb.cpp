#include "reverb/recursive_reverb.h"

#include <algorithm>
#include <cassert>

#include "base/limits.h"
#include "base/numeric.h"
#include "reverb/room_geometry.h"

namespace sorvan {

namespace {

constexpr int kFront = 1;
constexpr int kLeft = 2;
constexpr int kRight = 3;
constexpr int kRear = 4;
constexpr int kFloor = 5;
constexpr int kCeiling = 6;

// Each node passes this share of its signal to each of the five others, so
// the network loses a sixth of its energy per bounce.
constexpr double kShare = 0.16666666666666666;
constexpr double kQuarter = 0.25;

inline void addOutput(std::int64_t* ret, std::int64_t* spill, long n, std::int64_t pos,
                      double value) {
  std::int64_t& cell = pos < n ? ret[pos] : spill[pos - n];
  cell = truncateTo<std::int64_t>(static_cast<double>(cell) + value);
}

}  // namespace

RecurseReverbState::RecurseReverbState() {
  // Every block writes its nodes' first n samples before reading any.
  for (int j = 1; j <= kReverbNodes; ++j) surf[j].allocate(kBlockFrames, false);
}

std::optional<std::string> setupRecurseReverb(RecurseReverbState& state, double SR, float room,
                                              float p1, float p2, float p3, float width) {
  constexpr const char* kTooLarge = "Please reduce room size in reverb!\n";
  if (!positionInsideRoom(p1, p2, p3)) return "Illegal value for reverb position parameter\n";
  if (!(room >= 0.0f)) return "Illegal value for reverb room size\n";

  // Every distance must stay below the length of the node and spill lines
  // (and of the caller's accumulators), whatever the length of the block, so
  // that no share or output can be written past them.
  constexpr std::int64_t kLimit = kBlockFrames;
  const SurfaceDistances sd = surfaceDistances(SR, room, p1, p2, p3);
  auto& d = state.d;
  d = {};
  d[kFront] = sd.front;
  d[kLeft] = sd.left;
  d[kRight] = sd.right;
  d[kRear] = sd.rear;
  d[kFloor] = sd.floor;
  d[kCeiling] = sd.ceiling;
  // A travel time is never shorter than either of its distances, so a
  // surface already out of reach is refused before its square could overflow.
  const bool surfaceTooFar =
      std::any_of(d.begin() + 1, d.end(), [](std::int64_t v) { return v >= kLimit; });
  if (surfaceTooFar) return kTooLarge;

  std::int64_t largest = 0;
  state.travel = {};
  for (int a = 1; a <= kReverbNodes; ++a) {
    for (int b = a + 1; b <= kReverbNodes; ++b) {
      const std::int64_t t = truncateTo<std::int64_t>(crossDistance(d[a], d[b]));
      state.travel[a][b] = t;
      state.travel[b][a] = t;
      largest = std::max(largest, t);
    }
  }
  if (largest >= kLimit) return kTooLarge;

  if (width > 100.0f) {
    state.Width = 0.0f;
  } else if (!(width >= 0.0f)) {  // negative (or not a number)
    state.Width = 1.0f;
  } else {
    state.Width = toSingle((100.0 - width) / 100.0);
  }
  // The tail starts empty, even if the geometry is ever set up again: fresh
  // lines, which the system gives zeroed without their being written.
  for (int j = 1; j <= kReverbNodes; ++j) state.spill[j].allocate(kBlockFrames, true);
  return std::nullopt;
}

void RecurseReverb(RecurseReverbState& state, long n, const double* sendL, const double* sendR,
                   std::int64_t* spillL, std::int64_t* spillR, std::int64_t* returnL,
                   std::int64_t* returnR) {
  assert(n <= kBlockFrames);

  std::array<std::int64_t*, kReverbNodes + 1> node{};
  std::array<std::int64_t*, kReverbNodes + 1> next{};
  for (int j = 1; j <= kReverbNodes; ++j) {
    node[j] = state.surf[j].data();
    next[j] = state.spill[j].data();
  }

  // Input: the tail carried over from the last block plus this block's send.
  // The front wall, left wall and floor hear the left send; the others the right.
  const std::array<const double*, kReverbNodes + 1> send = {nullptr, sendL, sendL, sendR,
                                                            sendR,   sendL, sendR};
  for (int j = 1; j <= kReverbNodes; ++j) {
    for (long i = 0; i < n; ++i) {
      node[j][i] = truncateTo<std::int64_t>(static_cast<double>(next[j][i]) + send[j][i]);
      next[j][i] = 0;
    }
  }

  // Recursion: every travel time is at least one sample unless both surfaces
  // touch the listening point, so a share written ahead is picked up again
  // when the walk reaches it; what falls past the block waits in the spill
  // lines. The shares of one sample are all taken before any is passed on.
  const auto& travel = state.travel;
  for (long i = 0; i < n; ++i) {
    std::array<std::int64_t, kReverbNodes + 1> share{};
    for (int m = 1; m <= kReverbNodes; ++m) {
      share[m] = static_cast<std::int64_t>(static_cast<double>(node[m][i]) * kShare);
    }
    for (int j = 1; j <= kReverbNodes; ++j) {
      for (int m = 1; m <= kReverbNodes; ++m) {
        if (m == j) continue;
        const std::int64_t at = i + travel[j][m];
        if (at < n) {
          node[j][at] += share[m];
        } else {
          next[j][at - n] += share[m];
        }
      }
    }
  }

  // Output: a quarter of each node after its distance. Front wall and floor
  // reach the right side fully and the left by Width; rear wall and ceiling
  // the reverse; the side walls reach their own side only.
  const auto& d = state.d;
  const double W = state.Width;
  for (long i = 0; i < n; ++i) {
    const double front = kQuarter * static_cast<double>(node[kFront][i]);
    const double rear = kQuarter * static_cast<double>(node[kRear][i]);
    const double floor = kQuarter * static_cast<double>(node[kFloor][i]);
    const double ceiling = kQuarter * static_cast<double>(node[kCeiling][i]);
    const double left = kQuarter * static_cast<double>(node[kLeft][i]);
    const double right = kQuarter * static_cast<double>(node[kRight][i]);
    addOutput(returnL, spillL, n, i + d[kFront], W * front);
    addOutput(returnR, spillR, n, i + d[kFront], front);
    addOutput(returnL, spillL, n, i + d[kRear], rear);
    addOutput(returnR, spillR, n, i + d[kRear], W * rear);
    addOutput(returnL, spillL, n, i + d[kFloor], W * floor);
    addOutput(returnR, spillR, n, i + d[kFloor], floor);
    addOutput(returnL, spillL, n, i + d[kCeiling], ceiling);
    addOutput(returnR, spillR, n, i + d[kCeiling], W * ceiling);
    addOutput(returnL, spillL, n, i + d[kLeft], left);
    addOutput(returnR, spillR, n, i + d[kRight], right);
  }
}

}  // namespace sorvan
