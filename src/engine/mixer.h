// The block loop: reads every wanted channel block by block, runs it through
// its strip and fader into the buses, processes the submixes and the master,
// and hands each block of output words to the sinks.
#pragma once

#include <array>
#include <cstdint>

#include "base/limits.h"
#include "engine/render_state.h"
#include "engine/report.h"
#include "wave/sink.h"
#include "wave/source.h"

namespace sorvan {

class MixPlot;

// The recording of each track channel by channel number; null where none is read.
using SourceTable = std::array<SampleSource*, kMaxTracks + 1>;

// Told after every block how far the render has come.
class RenderProgress {
 public:
  virtual ~RenderProgress() = default;
  virtual void rendered(std::int64_t frames, std::int64_t total) = 0;
  // The render is about to print a line of its own.
  virtual void beforeMessage() {}
};

struct RenderOutputs {
  SampleSink& mix;
  SampleSink* tap = nullptr;           // the tap file, when the plan asks for one
  MixPlot* plot = nullptr;             // records the played levels and the output, when given
  RenderProgress* progress = nullptr;  // follows the render, when given
  // One sink for each stem the state has (RenderState::stems), by slot.
  std::array<SampleSink*, kStemSlots> stems{};
};

// Renders the plan's range with a state from prepareRender and returns the
// meters for the reports. Fails only where a sink cannot write.
MixMeters renderMix(const RenderInputs& in, RenderState& state, const SourceTable& sources,
                    const RenderOutputs& out);

// The first pass of a loudness target: renders the plan's range with a state
// prepared for a measuring plan, prints nothing and writes nothing, and
// returns the loudness and true peak of the master before dither.
LoudnessResult measureMix(const RenderInputs& in, RenderState& state, const SourceTable& sources);

}  // namespace sorvan
