// The line-level reading of the three text files: every line their keyword
// readers would pass over or misread without a word draws a warning that
// names the file and line, says what was read and how to fix it. The readers
// themselves read the files exactly as before.
#pragma once

#include "driver/diagnostics.h"
#include "driver/session_files.h"

namespace sorvan {

// Preferences, tracks and fader file, in that order.
void checkSessionText(const SessionFiles& files, const SessionPaths& names, Diagnostics& diag);

}  // namespace sorvan
