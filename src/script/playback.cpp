#include "script/playback.h"

#include <cmath>

#include "base/numeric.h"

namespace sorvan {
namespace {

constexpr double kUnity = static_cast<double>(kUnityLevel);
constexpr double kInverseUnity = 7.450580596923828e-09;  // 2^-27

// Called at the sample whose position is the time of the next entry.
void reachEntry(const FaderTable& table, FaderState& state) {
  const auto e = static_cast<std::size_t>(state.entryIndex);
  state.start = table.level[e > 0 ? e - 1 : 0];
  state.target = table.level[e];
  state.startDb = levelToDb(state.start);
  const double targetDb = levelToDb(state.target);
  state.rampLength = table.ramp[e] > 0 ? table.ramp[e] : 1;
  state.shape = table.shape[e];
  if (state.shape == 1.0f) {
    state.slope = (targetDb - state.startDb) / static_cast<double>(state.rampLength);
  } else {
    state.diffDb = targetDb - state.startDb;
  }
  state.step = 0;
  if (state.entryIndex < table.count) ++state.entryIndex;
}

bool entryDue(const FaderTable& table, const FaderState& state, std::int64_t position) {
  return state.entryIndex < table.count &&
         table.time[static_cast<std::size_t>(state.entryIndex)] == position;
}

// One more sample into the running ramp; the level it gives, untruncated.
// The last step lands exactly on the target.
double advanceRamp(FaderState& state) {
  if (state.step < state.rampLength) ++state.step;
  if (state.step >= state.rampLength) return static_cast<double>(state.target);
  return std::pow(10.0, rampDb(state) / 20.0) * kUnity;
}

// The side's multiplier: polarity x level and the pan gain meet in single
// precision.
double sideGain(double polarity, double level, float panGain, double divisor) {
  const float gain = toSingle(polarity * level) * panGain;
  return static_cast<double>(gain) / divisor;
}

int signOf(std::int64_t sample) { return sample < 0 ? -1 : 1; }

// No ramp runs and no entry is reached within the block.
bool isSteady(const FaderTable& table, const FaderState& state, std::int64_t pos, long n) {
  if (state.current != state.target) return false;
  if (state.entryIndex >= table.count) return true;
  const std::int64_t next = table.time[static_cast<std::size_t>(state.entryIndex)];
  return next < pos || next >= pos + n;
}

void applySteady(double applyL, double applyR, const double* vcaRow, long n, std::int64_t* left,
                 std::int64_t* right) {
  if (vcaRow) {
    for (long i = 0; i < n; ++i) {
      left[i] = truncateTo<std::int64_t>(applyL * vcaRow[i] * static_cast<double>(left[i]));
      right[i] = truncateTo<std::int64_t>(static_cast<double>(right[i]) * vcaRow[i] * applyR);
    }
  } else {
    for (long i = 0; i < n; ++i) {
      left[i] = truncateTo<std::int64_t>(applyL * static_cast<double>(left[i]));
      right[i] = truncateTo<std::int64_t>(static_cast<double>(right[i]) * applyR);
    }
  }
}

}  // namespace

void FillVCA(std::int64_t pos, long n, int vca, MixScript& script, double* gainRow) {
  if (vca < 0 || vca >= kVcaSlots) return;
  const FaderTable& table = script.levels.vcas[static_cast<std::size_t>(vca)];
  FaderState& state = script.levels.vcaState[static_cast<std::size_t>(vca)];
  for (long i = 0; i < n; ++i) {
    if (entryDue(table, state, pos + i)) reachEntry(table, state);
    const double level = state.current == state.target ? static_cast<double>(state.target)
                                                        : advanceRamp(state);
    gainRow[i] = level * kInverseUnity;
    state.current = truncateTo<std::int64_t>(level);
  }
}

void AUTOMATE(std::int64_t pos, long n, int channelIndex, MixScript& script, std::int64_t* left,
              std::int64_t* right, double divisor, const double* vcaGains) {
  if (channelIndex < 0 || channelIndex >= kLevelSlots || n <= 0) return;
  const auto c = static_cast<std::size_t>(channelIndex);
  const FaderTable& table = script.levels.faders[c];
  FaderState& state = script.levels.faderState[c];
  FaderPlaybackState& playback = script.playback;
  const double polarity = static_cast<double>(script.levels.polarity[c]);
  const float panL = script.levels.panGainL[c];
  const float panR = script.levels.panGainR[c];
  const int vca = script.routing.vcaAssignment[c];
  const double* vcaRow =
      (vcaGains != nullptr && vca >= 1 && vca < kVcaSlots) ? vcaGains + vca * kBlockFrames : nullptr;

  double applyL = playback.ApplyLeft[c];
  double applyR = playback.ApplyRight[c];
  int oldL = playback.OldPolarL[c];
  int oldR = playback.OldPolarR[c];
  // At the song's first sample both gains must be set whatever the signal.
  if (pos == 0) {
    oldL = -signOf(left[0]);
    oldR = -signOf(right[0]);
  }

  if (isSteady(table, state, pos, n) &&
      applyL == sideGain(polarity, static_cast<double>(state.target), panL, divisor) &&
      applyR == sideGain(polarity, static_cast<double>(state.target), panR, divisor)) {
    // Every zero crossing would recompute the gains it already has, so one
    // pass applies them; only the last sample's signs are carried on.
    playback.OldPolarL[c] = signOf(left[n - 1]);
    playback.OldPolarR[c] = signOf(right[n - 1]);
    applySteady(applyL, applyR, vcaRow, n, left, right);
    return;
  }

  for (long i = 0; i < n; ++i) {
    const int newL = signOf(left[i]);
    const int newR = signOf(right[i]);
    const bool crossL = newL != oldL;
    const bool crossR = newR != oldR;
    if (entryDue(table, state, pos + i)) reachEntry(table, state);

    if (state.current == state.target) {
      if (crossL || crossR) {
        const double level = static_cast<double>(state.target);
        if (crossL) applyL = sideGain(polarity, level, panL, divisor);
        if (crossR) applyR = sideGain(polarity, level, panR, divisor);
      }
    } else if (crossL || crossR) {
      const double level = advanceRamp(state);
      state.current = truncateTo<std::int64_t>(level);
      if (crossL) applyL = sideGain(polarity, level, panL, divisor);
      if (crossR) applyR = sideGain(polarity, level, panR, divisor);
    } else if (state.step < state.rampLength) {
      ++state.step;  // the ramp runs on between crossings
    }

    const double l = static_cast<double>(left[i]);
    const double r = static_cast<double>(right[i]);
    if (vcaRow) {
      left[i] = truncateTo<std::int64_t>(applyL * vcaRow[i] * l);
      right[i] = truncateTo<std::int64_t>(r * vcaRow[i] * applyR);
    } else {
      left[i] = truncateTo<std::int64_t>(applyL * l);
      right[i] = truncateTo<std::int64_t>(r * applyR);
    }
    oldL = newL;
    oldR = newR;
  }

  playback.ApplyLeft[c] = applyL;
  playback.ApplyRight[c] = applyR;
  playback.OldPolarL[c] = oldL;
  playback.OldPolarR[c] = oldR;
}

}  // namespace sorvan
