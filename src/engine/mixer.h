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
class MixPlot;

// Renders the plan's range into `output` (whose header is already written)
// and, when given, the tap file. Returns the meters for the reports. When
// `plot` is given, the played fader levels and the output are recorded in it.
MixMeters renderMix(const RenderPlan& plan, MixScript& script, const EffectSettings& effects,
                    OutputFile& output, OutputFile* tap, MixPlot* plot = nullptr);

}  // namespace sorvan
