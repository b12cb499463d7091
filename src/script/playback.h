// Playback of the fader and VCA automation during the mix, one block at a
// time. A VCA follows its ramp sample by sample; a channel or bus fader
// changes a side's gain only where that side's signal changes sign.
#pragma once

#include <cstdint>

#include "script/script.h"

namespace sorvan {

// Gains of VCA `vca` (1..8) for the n samples from song position pos, into
// gainRow[0..n-1]; advances the VCA's automation state.
void FillVCA(std::int64_t pos, long n, int vca, MixScript& script, double* gainRow);

// Applies fader `channelIndex` (level, polarity, pan gains and, when assigned,
// its VCA gain) in place to the n samples of a block starting at song position
// pos. `divisor` brings the fader's unity level to the output scale (2^19 for
// track channels, 2^27 for buses). `vcaGains` holds 9 rows of kBlockFrames
// (row v at v * kBlockFrames), or is nullptr when no VCA is active.
void AUTOMATE(std::int64_t pos, long n, int channelIndex, MixScript& script, std::int64_t* left,
              std::int64_t* right, double divisor, const double* vcaGains);

}  // namespace sorvan
