// When each volume and VCA entry of the fader file happens, worked out the way
// the volume pass works it out, to name the entries that playback never
// reaches: those out of time order on their fader (with the entries they
// hide), and those that "inc" or "ofs" moved outside the song.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "driver/diagnostics.h"
#include "driver/prefs.h"
#include "driver/session_files.h"
#include "driver/tracks.h"

namespace sorvan {

// A time entry outside the song, which ends the script stage.
struct TimeEntryFault {
  int entry = 0;  // counted from 1, as the error message counts
  int line = 0;   // in the fader file
  std::string written;
  std::int64_t position = 0;
  std::int64_t offset = 0;  // the automation offset included in the position
};

// Warns about the entries playback never reaches, and returns the time entry
// that will stop the script stage, if one will.
std::optional<TimeEntryFault> checkFaderTiming(const SessionFiles& files, const SessionPaths& names,
                                               const Sources& sources, const Preferences& prefs,
                                               Diagnostics& diag);

// The line added to the script stage's "Error:  Time entry N ..." message.
void explainTimeEntryFault(const TimeEntryFault& fault, const Sources& sources,
                           const SessionPaths& names, Diagnostics& diag);

}  // namespace sorvan
