// The mix script: everything the fader file says about routing, time and
// levels, read and checked once before the mix and read-only afterwards.
// Processor settings are read elsewhere.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "base/limits.h"
#include "script/levels.h"
#include "script/routing.h"
#include "script/timeline.h"

namespace sorvan {

struct ScriptInputs {
  std::string_view faderSection;  // fader file section, spaces already removed
  std::string_view prefsSection;  // preferences section ("tfields", "offset", "pan")
  double sampleRate = 44100.0;
  std::int64_t songLength = 0;
  std::int64_t renderStart = 0;  // first rendered sample
  bool preview = false;          // "offset xlink" follows the render start only in preview
  int trackCount = 0;            // number of track lines, at most 127
  int verbosity = 2;
  bool percent = false;                              // "v=percent"
  bool tempo = false;                                // "tempo"
  double dbps = 0.0;                                 // "dbps"; 0 or below means 192
  std::array<int, kMaxTracks + 1> sourceChannels{};  // 1 mono, 2 stereo, 0 no source
};

struct MixScript {
  Routing routing;
  LevelTables levels;
  TempoMap tempoMap;
  std::int64_t automationOffset = 0;
  int timeFields = 3;
  int timeEntries = 0;  // "t" entries read
};

// Reads the script in its fixed order of passes, printing every message.
// Channels left feeding no active bus are cleared in `channelActive`. Time
// errors print their message and throw Fatal{exit_status::kConfig}.
MixScript readMixScript(const ScriptInputs& in, ChannelActive& channelActive);

// The same into `into`, which must hold a default MixScript: one kept from an
// earlier reading is made default again by assigning a default one to it,
// which keeps its storage (as a fuzzer reading thousands of scripts wants).
void readMixScript(const ScriptInputs& in, ChannelActive& channelActive, MixScript& into);

}  // namespace sorvan
