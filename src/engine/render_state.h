// Everything a render changes as it goes, owned in one place: where the
// automation stands, the memory of every strip, the reverb lines, the delay
// pan histories, the dither generator and the meters, and the block buffers.
// prepareRender builds it from the const session before any output exists;
// the block loop then only reads the session and works on this state.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/limits.h"
#include "engine/master.h"
#include "engine/playback.h"
#include "engine/report.h"
#include "engine/session.h"
#include "engine/strip.h"
#include "filters/reverb_eq.h"
#include "reverb/delay_pan.h"
#include "reverb/recursive_reverb.h"
#include "reverb/tap_reverb.h"

namespace sorvan {

struct MixScript;
struct EffectSettings;

// The session a render reads, never writes.
struct RenderInputs {
  const RenderPlan& plan;
  const MixScript& script;
  const EffectSettings& effects;
};

// A stereo pair of one block: two separate arrays, left and right.
template <typename T>
struct Pair {
  std::vector<T> left, right;
  void allocate() {
    left.assign(kBlockFrames, T{});
    right.assign(kBlockFrames, T{});
  }
  void clear(long n) {
    std::fill_n(left.begin(), n, T{});
    std::fill_n(right.begin(), n, T{});
  }
  bool allocated() const { return !left.empty(); }
};

// The two reverbs: which run, their fixed geometry, their lines, the send
// filters' memory, and the return pair with the spill of the next block.
struct ReverbRuntime {
  bool tapRuns = false;
  bool recursiveRuns = false;
  TapReverbState tap;
  std::unique_ptr<RecurseReverbState> recursive;
  ReverbEqState eq{};
  Pair<double> tapSend, recursiveSend;
  Pair<std::int64_t> returns, spill;
};

struct RenderState {
  explicit RenderState(const RenderPlan& plan) : master(plan) {}

  AutomationState automation;
  std::vector<StripMemory> strips = std::vector<StripMemory>(kStripCount);  // by channel index
  std::array<StripOrder, kStripCount> order{};
  std::array<bool, kMaxTracks + 1> wanted{};       // still to be read
  std::array<bool, kStripCount> hasProcessor{};    // by channel index
  std::array<bool, kMaxTracks + 1> delayPanned{};
  std::vector<DelayPanChannel> delayPan;           // by track channel, when any is delay-panned
  bool masterProcessing = false;                   // strip, reverbs or effects gain on the master
  ReverbRuntime reverb;
  MasterOutput master;
  MixMeters meters;

  // Block buffers.
  Pair<std::int64_t> channel;
  Pair<double> work;
  Pair<std::int64_t> masterPair;
  std::vector<Pair<std::int64_t>> buses = std::vector<Pair<std::int64_t>>(kBusCount);
  std::vector<double> vcaGains;       // kVcaSlots rows of one block, when a VCA is active
  std::vector<std::int64_t> mono;     // a delay-panned channel's decoded samples
};

// Builds the state of one render and makes every check that can refuse it
// (reverb rooms and distances), printing the refusal and throwing
// Fatal{exit_status::kUser}. Nothing else in a render can fail but I/O.
std::unique_ptr<RenderState> prepareRender(const RenderInputs& in);

}  // namespace sorvan
