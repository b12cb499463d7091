// Where each track channel's signal goes: the buses it feeds, which submixes
// are muted or soloed, which channels end up feeding nothing at all, and which
// faders sit under each VCA.
#pragma once

#include <array>
#include <string_view>

#include "base/limits.h"
#include "textcfg/keywords.h"

namespace sorvan {

// Per track channel 1..127 (slot 0 unused): 1 while the channel is read and
// mixed. Routing may clear flags; it never sets one.
using ChannelActive = std::array<int, kMaxTracks + 1>;

struct Routing {
  RoutingMatrix matrix{};                  // [channel 0..127][bus 0..8], 1 = feeds
  std::array<int, kBusCount> busActive{};  // bus 0 always 1 after routing
  std::array<int, kBusCount> solo{};       // submixes 1..8
  VcaAssignment vcaAssignment{};           // VCA number per channel index, 0 = none
  std::array<int, kVcaSlots> vcaActive{};  // VCAs 1..8
  bool anyVcaActive = false;
};

// Reads "sub", applies the default routing, "submu", "subso", switches off the
// channels whose every bus is silent, then reads "VCA:". `trackCount` is the
// number of track lines (at most 127).
void readRouting(std::string_view faderSection, int trackCount, ChannelActive& channelActive,
                 Routing& routing);

// Clears the active flag of each track channel 1..slotCount-1 that feeds no
// active bus among the first `busCount`. Fewer than two slots: nothing to do.
void CheckFeederMutes(const std::array<int, kBusCount>& busActive, const RoutingMatrix& matrix,
                      ChannelActive& channelActive, int busCount, int slotCount);

}  // namespace sorvan
