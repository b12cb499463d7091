// The channel stage of a block: every channel the block reads, through its
// strip and fader into the buses and the reverb sends. The block is walked
// in stretches, all channels per stretch, so that the bus sums stay in the
// cache; the channels of a stretch are shared out among the render's threads.
// Every output is the same for any number of threads: bus sums are integers,
// and the reverb sends (floating point) are added in channel order.
#pragma once

#include <cstdint>

#include "engine/mixer.h"
#include "engine/render_state.h"

namespace sorvan {

class MixPlot;

void mixChannels(const RenderInputs& in, RenderState& state, const SourceTable& sources,
                 MixPlot* plot, std::int64_t pos, long n);

// After mixChannels: says, in channel order, which channels read short, and
// lets go of the channels whose recordings ended in this block. Apart, so
// that what a block says can wait until the block before it is written.
void finishChannels(const RenderInputs& in, RenderState& state, const SourceTable& sources,
                    std::int64_t pos, long n);

// Post-fader sends of channel (or submix) `index` over n frames, the return
// level included.
void addReverbSends(const ReverbSettings& reverbs, ReverbRuntime& reverb, int index,
                    const std::int64_t* left, const std::int64_t* right, long n);

// The fader of channel index `index` over frames [from, from + n) of the
// block at `pos` of length `blockFrames`. While the mix is plotted, a plotted
// fader runs in chunks counted from the block's start and its played level is
// read after each; AUTOMATE gives the same samples however it is divided.
void applyFader(const MixScript& script, RenderState& state, MixPlot* plot, int index,
                std::int64_t pos, long from, long n, long blockFrames, std::int64_t* left,
                std::int64_t* right, double divisor);

}  // namespace sorvan
