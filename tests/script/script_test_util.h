// Shared set-up for the mix script tests: inputs at 48 kHz, a ten-minute song
// and eight stereo tracks, quiet unless a test asks for messages.
#pragma once

#include <string_view>

#include "script/script.h"

namespace sorvan::testing {

inline ScriptInputs makeInputs(std::string_view fader, std::string_view prefs = "\nend\n") {
  ScriptInputs in;
  in.faderSection = fader;
  in.prefsSection = prefs;
  in.sampleRate = 48000.0;
  in.songLength = 48000LL * 600;
  in.trackCount = 8;
  in.verbosity = 0;
  in.sourceChannels.fill(2);
  return in;
}

inline MixScript readScript(const ScriptInputs& in) {
  ChannelActive active;
  active.fill(1);
  return readMixScript(in, active);
}

inline MixScript readScript(std::string_view fader, std::string_view prefs = "\nend\n") {
  return readScript(makeInputs(fader, prefs));
}

}  // namespace sorvan::testing
