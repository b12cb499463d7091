#include "script/routing.h"

#include <algorithm>
#include <string>

#include "base/messages.h"
#include "textcfg/tokenizer.h"

namespace sorvan {
namespace {

// One number field followed by a channel list that runs to the line end; the
// last entry for each number wins. Returns the lists by number; out-of-range
// numbers print `rangeMessage` and are dropped.
template <std::size_t N>
void readNumberedLists(std::string_view section, const char* keyword, int low,
                       const char* rangeMessage, std::array<std::string, N>& lists,
                       std::array<int, N>& given) {
  Tokenizer tok(section);
  for (const char* token = tok.next(Tokenizer::kWords); token && !isEndToken(token);
       token = tok.next(Tokenizer::kWords)) {
    if (!tokenIs(token, keyword)) continue;
    const std::int64_t number = nextInteger(tok, Tokenizer::kField);
    const char* list = tok.next(Tokenizer::kLine);
    if (number < low || number >= static_cast<std::int64_t>(N)) {
      sayLine(rangeMessage);
      continue;
    }
    given[static_cast<std::size_t>(number)] = 1;
    lists[static_cast<std::size_t>(number)] = list ? list : "";
  }
}

// Calls `apply` with each submix number 1..8 given after `keyword`; other
// numbers are ignored without a message.
template <typename Apply>
void forEachSubmixEntry(std::string_view section, const char* keyword, Apply apply) {
  Tokenizer tok(section);
  for (const char* token = tok.next(Tokenizer::kWords); token && !isEndToken(token);
       token = tok.next(Tokenizer::kWords)) {
    if (!tokenIs(token, keyword)) continue;
    const std::int64_t submix = nextInteger(tok, Tokenizer::kWords);
    if (submix >= 1 && submix <= kSubmixCount) apply(static_cast<std::size_t>(submix));
  }
}

}  // namespace

void CheckFeederMutes(const std::array<int, kBusCount>& busActive, const RoutingMatrix& matrix,
                      ChannelActive& channelActive, int busCount, int slotCount) {
  busCount = std::clamp(busCount, 0, kBusCount);
  slotCount = std::min(slotCount, kMaxTracks + 1);
  for (int c = 1; c < slotCount; ++c) {
    bool feeds = false;
    for (int b = 0; b < busCount; ++b) {
      if (busActive[static_cast<std::size_t>(b)] &&
          matrix[static_cast<std::size_t>(c)][static_cast<std::size_t>(b)]) {
        feeds = true;
      }
    }
    if (!feeds) channelActive[static_cast<std::size_t>(c)] = 0;
  }
}

void readRouting(std::string_view faderSection, int trackCount, ChannelActive& channelActive,
                 Routing& routing) {
  std::array<std::string, kBusCount> busLists;
  readNumberedLists(faderSection, "sub", 0, "Submix number out of range!", busLists,
                    routing.busActive);
  for (int b = 0; b < kBusCount; ++b) {
    if (routing.busActive[static_cast<std::size_t>(b)]) {
      RouteChannel(busLists[static_cast<std::size_t>(b)], b, routing.matrix);
    }
  }

  // A channel named in no list goes straight to the main bus.
  for (auto& row : routing.matrix) {
    if (std::none_of(row.begin(), row.end(), [](int flag) { return flag != 0; })) row[0] = 1;
  }
  routing.busActive[0] = 1;

  forEachSubmixEntry(faderSection, "submu", [&](std::size_t s) { routing.busActive[s] = 0; });
  forEachSubmixEntry(faderSection, "subso", [&](std::size_t s) { routing.solo[s] = 1; });
  const bool anySolo =
      std::any_of(routing.solo.begin(), routing.solo.end(), [](int flag) { return flag != 0; });
  if (anySolo) {
    for (std::size_t s = 1; s <= kSubmixCount; ++s) {
      if (!routing.solo[s]) routing.busActive[s] = 0;
    }
  }

  CheckFeederMutes(routing.busActive, routing.matrix, channelActive, kBusCount,
                   std::clamp(trackCount, 0, kMaxTracks) + 1);

  std::array<std::string, kVcaSlots> vcaLists;
  readNumberedLists(faderSection, "VCA:", 1, "VCA fader out of range!", vcaLists,
                    routing.vcaActive);
  for (int v = 1; v < kVcaSlots; ++v) {
    if (!routing.vcaActive[static_cast<std::size_t>(v)]) continue;
    routing.anyVcaActive = true;
    // Ascending order: a channel under several VCAs keeps the highest.
    RouteVCA(vcaLists[static_cast<std::size_t>(v)], v, routing.vcaAssignment);
  }
}

}  // namespace sorvan
