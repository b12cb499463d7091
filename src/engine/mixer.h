// The block loop: reads every wanted channel block by block, runs it through
// its strip and fader into the buses, processes the submixes and the master,
// and appends each block to the output.
#pragma once

#include "base/output_file.h"
#include "engine/report.h"
#include "engine/session.h"

namespace sorvan {

struct MixScript;
struct EffectSettings;

// Renders the plan's range into `output` (whose header is already written)
// and, when given, the tap file. Returns the meters for the reports.
MixMeters renderMix(const RenderPlan& plan, MixScript& script, const EffectSettings& effects,
                    OutputFile& output, OutputFile* tap);

}  // namespace sorvan
