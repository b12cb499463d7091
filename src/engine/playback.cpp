#include "engine/playback.h"

#include <algorithm>
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

void applySteady(const SteadyGains& g, long n, std::int64_t* left, std::int64_t* right) {
  if (g.vca) {
    for (long i = 0; i < n; ++i) {
      left[i] = truncateTo<std::int64_t>(g.left * g.vca[i] * static_cast<double>(left[i]));
      right[i] = truncateTo<std::int64_t>(static_cast<double>(right[i]) * g.vca[i] * g.right);
    }
  } else {
    for (long i = 0; i < n; ++i) {
      left[i] = truncateTo<std::int64_t>(g.left * static_cast<double>(left[i]));
      right[i] = truncateTo<std::int64_t>(static_cast<double>(right[i]) * g.right);
    }
  }
}

const double* vcaRowOf(const MixScript& script, int channelIndex, VcaRows vcas) {
  const int vca = script.routing.vcaAssignment[static_cast<std::size_t>(channelIndex)];
  return (vcas.rows != nullptr && vca >= 1 && vca < kVcaSlots) ? vcas.rows + vca * vcas.stride
                                                               : nullptr;
}

// The fixed parts of one fader's gain.
struct SideGains {
  double polarity;
  float panL, panR;
  double divisor;
};

// Sets the gain of each side that crossed zero from `level`.
void setGains(FaderPlayback& f, const SideGains& g, double level, bool crossL, bool crossR) {
  if (crossL) {
    f.ApplyLeft = sideGain(g.polarity, level, g.panL, g.divisor);
    f.playedLeft = level;
  }
  if (crossR) {
    f.ApplyRight = sideGain(g.polarity, level, g.panR, g.divisor);
    f.playedRight = level;
  }
}

// The sample-by-sample walk: entries, ramps and gains that change only where
// a side crosses zero.
void automateSamples(std::int64_t pos, long n, const FaderTable& table, FaderPlayback& f,
                     const SideGains& g, const double* vcaRow, std::int64_t* left,
                     std::int64_t* right) {
  FaderState& state = f.cursor;
  for (long i = 0; i < n; ++i) {
    const int newL = signOf(left[i]);
    const int newR = signOf(right[i]);
    const bool crossL = newL != f.OldPolarL;
    const bool crossR = newR != f.OldPolarR;
    if (entryDue(table, state, pos + i)) reachEntry(table, state);

    if (state.current == state.target) {
      if (crossL || crossR) setGains(f, g, static_cast<double>(state.target), crossL, crossR);
    } else if (crossL || crossR) {
      const double level = advanceRamp(state);
      state.current = truncateTo<std::int64_t>(level);
      setGains(f, g, level, crossL, crossR);
    } else if (state.step < state.rampLength) {
      ++state.step;  // the ramp runs on between crossings
    }

    const double l = static_cast<double>(left[i]);
    const double r = static_cast<double>(right[i]);
    if (vcaRow) {
      left[i] = truncateTo<std::int64_t>(f.ApplyLeft * vcaRow[i] * l);
      right[i] = truncateTo<std::int64_t>(r * vcaRow[i] * f.ApplyRight);
    } else {
      left[i] = truncateTo<std::int64_t>(f.ApplyLeft * l);
      right[i] = truncateTo<std::int64_t>(r * f.ApplyRight);
    }
    f.OldPolarL = newL;
    f.OldPolarR = newR;
  }
}

}  // namespace

double rampDb(const FaderState& state) {
  const double step = static_cast<double>(state.step);
  if (state.shape == 1.0f) return state.startDb + step * state.slope;
  const double fraction = step / static_cast<double>(state.rampLength);
  return state.startDb + std::pow(fraction, static_cast<double>(state.shape)) * state.diffDb;
}

void InterpretLevel(const FaderTable& table, FaderState& state, std::int64_t x) {
  const auto settle = [&] {
    state.current = table.level[0];
    state.target = table.level[0];
    state.startDb = levelToDb(table.level[0]);
  };
  if (x <= table.time[0]) {
    state.entryIndex = 0;
    settle();
    return;
  }
  int k = 0;
  if (table.count > 0) {
    k = 1;
    while (k < table.count && table.time[static_cast<std::size_t>(k)] < x) ++k;
  }
  state.entryIndex = k;
  if (k <= 1) {
    settle();
    return;
  }
  const auto j = static_cast<std::size_t>(k - 1);
  const std::int64_t elapsed = subtractSaturating(x, table.time[j]);
  state.step = elapsed;
  state.rampLength = std::max<std::int64_t>(table.ramp[j], 1);
  state.shape = table.shape[j];
  if (table.ramp[j] > elapsed) {
    state.startDb = levelToDb(table.level[j - 1]);
    state.diffDb = levelToDb(table.level[j]) - state.startDb;
    state.slope = state.diffDb / static_cast<double>(table.ramp[j]);
    state.current = truncateTo<std::int64_t>(std::pow(10.0, rampDb(state) / 20.0) * kUnity);
    state.start = table.level[j - 1];
    state.target = table.level[j];
  } else {
    state.current = table.level[j];
    state.target = table.level[j];
  }
}

void startAutomation(const LevelTables& tables, std::int64_t renderStart, int trackCount,
                     const std::array<std::int64_t, kMaxTracks + 1>& sourceStart,
                     AutomationState& state) {
  const auto reset = [](const FaderTable& table, FaderState& cursor) {
    cursor = FaderState{};
    cursor.current = table.level[0];
    cursor.target = table.level[0];
    cursor.startDb = levelToDb(table.level[0]);
  };
  state = AutomationState{};
  for (std::size_t c = 0; c < kLevelSlots; ++c) reset(tables.faders[c], state.faders[c].cursor);
  for (std::size_t v = 0; v < kVcaSlots; ++v) reset(tables.vcas[v], state.vcas[v]);

  trackCount = std::clamp(trackCount, 0, kMaxTracks);
  const auto interpret = [&](std::size_t c, std::int64_t at) {
    InterpretLevel(tables.faders[c], state.faders[c].cursor, at);
  };
  if (renderStart > 0) {
    for (int c = 0; c <= trackCount; ++c) interpret(static_cast<std::size_t>(c), renderStart);
    for (int c = kSubmixBase + 1; c < kLevelSlots; ++c)
      interpret(static_cast<std::size_t>(c), renderStart);
    for (std::size_t v = 0; v < kVcaSlots; ++v)
      InterpretLevel(tables.vcas[v], state.vcas[v], renderStart);
  }
  // A channel is first played where its source starts.
  for (int c = 1; c <= trackCount; ++c) {
    const auto slot = static_cast<std::size_t>(c);
    if (sourceStart[slot] != 0) interpret(slot, std::max(sourceStart[slot], renderStart));
  }
}

void FillVCA(std::int64_t pos, long n, int vca, const LevelTables& tables, AutomationState& state,
             double* gainRow) {
  if (vca < 0 || vca >= kVcaSlots) return;
  const FaderTable& table = tables.vcas[static_cast<std::size_t>(vca)];
  FaderState& cursor = state.vcas[static_cast<std::size_t>(vca)];
  for (long i = 0; i < n; ++i) {
    if (entryDue(table, cursor, pos + i)) reachEntry(table, cursor);
    const double level =
        cursor.current == cursor.target ? static_cast<double>(cursor.target) : advanceRamp(cursor);
    gainRow[i] = level * kInverseUnity;
    cursor.current = truncateTo<std::int64_t>(level);
  }
}

bool steadyFader(std::int64_t pos, long n, int channelIndex, const MixScript& script,
                 AutomationState& state, const std::int64_t* left, const std::int64_t* right,
                 double divisor, VcaRows vcas, SteadyGains& gains) {
  if (channelIndex < 0 || channelIndex >= kLevelSlots || n <= 0) return false;
  const auto c = static_cast<std::size_t>(channelIndex);
  const LevelTables& levels = script.levels;
  FaderPlayback& f = state.faders[c];
  const double polarity = static_cast<double>(levels.polarity[c]);
  const double target = static_cast<double>(f.cursor.target);
  if (!isSteady(levels.faders[c], f.cursor, pos, n) ||
      f.ApplyLeft != sideGain(polarity, target, levels.panGainL[c], divisor) ||
      f.ApplyRight != sideGain(polarity, target, levels.panGainR[c], divisor))
    return false;
  // Every zero crossing would recompute the gains it already has, so one
  // pass applies them; only the last sample's signs are carried on.
  f.OldPolarL = signOf(left[n - 1]);
  f.OldPolarR = signOf(right[n - 1]);
  gains = SteadyGains{f.ApplyLeft, f.ApplyRight, vcaRowOf(script, channelIndex, vcas)};
  return true;
}

void AUTOMATE(std::int64_t pos, long n, int channelIndex, const MixScript& script,
              AutomationState& state, std::int64_t* left, std::int64_t* right, double divisor,
              VcaRows vcas) {
  if (channelIndex < 0 || channelIndex >= kLevelSlots || n <= 0) return;
  const auto c = static_cast<std::size_t>(channelIndex);
  const LevelTables& levels = script.levels;
  FaderPlayback& f = state.faders[c];
  // At the song's first sample both gains must be set whatever the signal.
  if (pos == 0) {
    f.OldPolarL = -signOf(left[0]);
    f.OldPolarR = -signOf(right[0]);
  }
  SteadyGains steady;
  if (steadyFader(pos, n, channelIndex, script, state, left, right, divisor, vcas, steady)) {
    applySteady(steady, n, left, right);
    return;
  }
  const SideGains g{static_cast<double>(levels.polarity[c]), levels.panGainL[c], levels.panGainR[c],
                    divisor};
  automateSamples(pos, n, levels.faders[c], f, g, vcaRowOf(script, channelIndex, vcas), left,
                  right);
}

double playedLevelDb(const FaderPlayback& fader, float panGainL, float panGainR) {
  double level = 0.0;
  // A side panned away says nothing of the level.
  if (panGainL != 0.0f) level = std::max(level, std::fabs(fader.playedLeft));
  if (panGainR != 0.0f) level = std::max(level, std::fabs(fader.playedRight));
  const double gain = level / kUnity;
  return gain > 0 ? std::max(20.0 * std::log10(gain), kSilenceDb) : kSilenceDb;
}

}  // namespace sorvan
