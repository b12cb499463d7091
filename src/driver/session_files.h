// The first stages of a run: the three text files, loaded (or created with
// default settings), their line warnings, the preferences pre-scan and the
// track count.
#pragma once

#include <string>

#include "driver/prefs.h"
#include "driver/text_file.h"

namespace sorvan {

struct SessionPaths {
  std::string tracks = "tracks.txt";
  std::string faders = "faders.txt";
  std::string prefs = "prefs.txt";
};

struct SessionFiles {
  TextFile prefs;
  PreScan pre;
  TextFile tracks;
  int trackCount = 0;
  TextFile faders;  // spaces already removed from its section
  TextFile fadersAsWritten;
};

// Stages 2 to 4: preferences (with the banner once the verbosity is known),
// tracks, fader file. A check creates nothing and asks nothing; it says which
// default files a render would create.
SessionFiles loadSessionFiles(const SessionPaths& paths, bool check);

}  // namespace sorvan
