// The files a render writes beside the mix, and the checks that keep a run
// from overwriting its own inputs or writing a WAVE file its header cannot
// describe.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "driver/diagnostics.h"
#include "driver/prefs.h"
#include "driver/session_files.h"
#include "driver/text_file.h"

namespace sorvan {

struct OutputPaths {
  std::string mix;
  std::string stats;
  std::string faderReport;
  std::string plot;  // written only with "plot"
  std::string json;  // written only with "json on"
};

// A stem's file beside the mix: the mix path with "_direct", "_sub<k>" or
// "_reverb" before its extension (stem slots as RenderState::stems).
std::string stemPath(const std::string& mixPath, int slot);

// The report names (in the backup folder when one is set). Ends the run with
// status 2 when an output would overwrite one of `inputs`.
OutputPaths planOutputs(const Preferences& prefs, const PreScan& pre,
                        const std::vector<std::string>& inputs);

// Before anything is rendered: a folder setting that names an existing folder
// but lacks its '/' draws a warning with the path that results; an output
// folder that does not exist or cannot be written ends the run with status 3,
// as the write itself would, only earlier.
void checkOutputFolders(const OutputPaths& paths, const Preferences& prefs, const PreScan& pre,
                        const TextFile& prefsFile, const SessionPaths& names, Diagnostics& diag);

// Status 2 when `output` names the same file as one of `inputs`.
void refuseOutputOverInput(const std::string& output, const std::vector<std::string>& inputs);

// Status 2 when `frames` frames of `frameBytes` do not fit a WAVE file whose
// header (and so its RIFF size) takes `headerBytes`.
void refuseTooLongForWave(std::int64_t frames, int frameBytes, int headerBytes = 44);

}  // namespace sorvan
