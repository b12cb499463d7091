// Playback of the fader and VCA automation during the mix, one block at a
// time. A VCA follows its ramp sample by sample; a channel or bus fader
// changes a side's gain only where that side's signal changes sign. The
// tables are the mix script's, read-only; where playback stands lives here.
#pragma once

#include <array>
#include <cstdint>

#include "base/limits.h"
#include "script/script.h"

namespace sorvan {

// Where one fader's automation stands. `entryIndex` is the next entry to
// reach; a ramp runs while `current` differs from `target`. The ramp's length
// and shape are those of the entry reached last (a zero length counts as 1).
struct FaderState {
  int entryIndex = 0;
  std::int64_t current = 0;
  std::int64_t target = 0;
  std::int64_t start = 0;
  std::int64_t step = 0;  // samples into the running ramp
  double slope = 0.0;     // dB per sample, linear ramps
  double startDb = 0.0;
  double diffDb = 0.0;  // target dB - start dB, shaped ramps
  std::int64_t rampLength = 1;
  float shape = 1.0f;
};

// One channel, submix or master fader in play: its automation and the gain
// each side carries from one block to the next. Zero signs make the first
// rendered sample set both gains.
struct FaderPlayback {
  FaderState cursor;
  double ApplyLeft = 0.0, ApplyRight = 0.0;
  int OldPolarL = 0, OldPolarR = 0;
  // The level (x 2^27, before truncation) each side's gain was last set from.
  double playedLeft = 0.0, playedRight = 0.0;
};

struct AutomationState {
  std::array<FaderPlayback, kLevelSlots> faders{};  // by channel index
  std::array<FaderState, kVcaSlots> vcas{};         // by VCA number
};

// Level in dB of a running ramp at its current step.
double rampDb(const FaderState& state);

// The automation state of one fader at song position x: the next entry to
// reach, and the level (mid-ramp when a ramp is running at x).
void InterpretLevel(const FaderTable& table, FaderState& state, std::int64_t x);

// Every fader at the first rendered sample; a track channel whose source
// starts later is set at its own start.
void startAutomation(const LevelTables& tables, std::int64_t renderStart, int trackCount,
                     const std::array<std::int64_t, kMaxTracks + 1>& sourceStart,
                     AutomationState& state);

// The gains of VCAs 1..8 over a stretch: VCA v's start at rows + v * stride.
struct VcaRows {
  const double* rows = nullptr;  // nullptr when no VCA is active
  long stride = 0;
};

// Gains of VCA `vca` (1..8) for the n samples from song position pos, into
// gainRow[0..n-1].
void FillVCA(std::int64_t pos, long n, int vca, const LevelTables& tables, AutomationState& state,
             double* gainRow);

// Applies fader `channelIndex` (level, polarity, pan gains and, when assigned,
// its VCA gain) in place to the n samples of a block starting at song position
// pos. `divisor` brings the fader's unity level to the output scale (2^19 for
// track channels, 2^27 for buses). `vcas` holds the VCAs' gains over the n
// samples, or no rows when no VCA is active.
void AUTOMATE(std::int64_t pos, long n, int channelIndex, const MixScript& script,
              AutomationState& state, std::int64_t* left, std::int64_t* right, double divisor,
              VcaRows vcas);

// The gains a fader holds over a stretch in which it does not move.
struct SteadyGains {
  double left = 0.0, right = 0.0;
  const double* vca = nullptr;  // the VCA's gains over the stretch, when assigned
};

// Whether fader `channelIndex` holds still over the n samples from pos: no
// ramp runs, no entry is reached, and a zero crossing would recompute the
// gains it already has. Then every sample gets the same gains (and those of
// its VCA): they are given in `gains`, and the signs the fader carries on are
// taken from the last samples, as AUTOMATE would leave them. Arguments as for
// AUTOMATE.
bool steadyFader(std::int64_t pos, long n, int channelIndex, const MixScript& script,
                 AutomationState& state, const std::int64_t* left, const std::int64_t* right,
                 double divisor, VcaRows vcas, SteadyGains& gains);

// The level in dB a fader played at its last sample: the louder of the sides
// that its pan lets through.
double playedLevelDb(const FaderPlayback& fader, float panGainL, float panGainR);

}  // namespace sorvan
