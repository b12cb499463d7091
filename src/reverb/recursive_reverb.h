// The recursive reverb: a diffuse room tail from a network of six nodes, one
// per surface of the room the tap reverb also models. Every sample on a node
// passes a sixth of itself to each other node after the travel time between
// the two surfaces, and a quarter of it reaches the listener after the travel
// time from that surface.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/buffer.h"

namespace sorvan {

// Nodes by surface: 1 front wall, 2 left wall, 3 right wall, 4 rear wall,
// 5 floor, 6 ceiling. Arrays below are indexed by node number; entry 0 is
// unused.
inline constexpr int kReverbNodes = 6;

struct RecurseReverbState {
  // Allocates the node lines, each one block long; the spill lines are
  // allocated (zeroed) by setupRecurseReverb.
  RecurseReverbState();

  // d[j]: distance in samples from the listening point to node j (d1..d6).
  std::array<std::int64_t, kReverbNodes + 1> d{};
  // travel[j][m] == travel[m][j]: travel time in samples between nodes j and
  // m (d12..d56).
  std::array<std::array<std::int64_t, kReverbNodes + 1>, kReverbNodes + 1> travel{};
  float Width = 0.0f;  // share of the front, rear, floor and ceiling nodes on the far side
  // surf[j][i]: node j's signal at sample i of the current block (surf1..surf6).
  std::array<Buffer<std::int64_t>, kReverbNodes + 1> surf;
  // spill[j][i]: what node j receives at sample i of the next block
  // (spill1..spill6); between calls it holds the whole tail still to come.
  std::array<Buffer<std::int64_t>, kReverbNodes + 1> spill;
};

// Works out the distances and Width once before the mix. Returns the message
// that refuses the room, or nothing: a position outside 0..100 percent, a
// negative room, or a distance or travel time that does not fit a block line
// (131072 samples).
[[nodiscard]] std::optional<std::string> setupRecurseReverb(RecurseReverbState& state, double SR,
                                                            float room, float p1, float p2,
                                                            float p3, float width);

// One block of n samples (at most 131072) through the geometry set up before.
// The return and spill pairs hold 131072 samples each; output inside the
// block goes to the return pair, output past its end to the spill pair at its
// position less n.
void RecurseReverb(RecurseReverbState& state, long n, const double* sendL, const double* sendR,
                   std::int64_t* spillL, std::int64_t* spillR, std::int64_t* returnL,
                   std::int64_t* returnR);

}  // namespace sorvan
