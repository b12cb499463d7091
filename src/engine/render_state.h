// Everything a render changes as it goes, owned in one place: where the
// automation stands, the memory of every strip, the reverb lines, the delay
// pan histories, the dither generator and the meters, and the block buffers.
// prepareRender builds it from the const session before any output exists;
// the block loop then only reads the session and works on this state.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "base/buffer.h"
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

// Channels are mixed in stretches of this many frames, all channels per
// stretch, so that what a stretch sums stays in the cache.
inline constexpr long kStretchFrames = 4096;

// A stereo pair: two separate arrays, left and right, of one block (or of
// one stretch).
template <typename T>
struct Pair {
  Buffer<T> left, right;
  // Zeroed unless the buffer is always written before it is read.
  void allocate(long frames = kBlockFrames, bool zeroed = true) {
    left.allocate(static_cast<std::size_t>(frames), zeroed);
    right.allocate(static_cast<std::size_t>(frames), zeroed);
  }
  void clear(long n) {
    std::fill_n(left.begin(), n, T{});
    std::fill_n(right.begin(), n, T{});
  }
  bool allocated() const { return !left.empty(); }
};

// A stretch of one channel: its samples, and the same in double precision
// while its strip runs.
struct ChannelLane {
  Pair<std::int64_t> channel;
  Pair<double> work;
};

// What one thread of the channel stage works in: a stretch of each channel of
// a group run together (the first lane alone when no strips can be grouped),
// and its own share of the bus sums (integer, so the shares add up exactly
// in any order).
struct ChannelWorker {
  std::array<ChannelLane, kMaxStripGroup> lanes;
  std::vector<std::int64_t> mono;         // a delay-panned channel's samples
  std::vector<Pair<std::int64_t>> buses;  // by bus, one stretch each, when shared
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
  // Both pairs start zero; the spill pair needs clearing only once a block
  // has written into the pair that becomes it.
  bool spillWritten = false;
};

// Stems by slot: 0..8 the buses as they enter the master sum (0 the channels
// that feed the master directly, 1..8 the submixes), then the reverb returns.
inline constexpr int kReverbStem = kBusCount;
inline constexpr int kStemSlots = kBusCount + 1;

struct RenderState {
  explicit RenderState(const RenderPlan& plan) : master(plan), blockFrames(plan.blockFrames()) {}

  AutomationState automation;
  std::vector<StripMemory> strips = std::vector<StripMemory>(kStripCount);  // by channel index
  std::array<StripOrder, kStripCount> order{};
  std::map<long, std::vector<double>> curves;    // compressor curves by length
  std::array<bool, kMaxTracks + 1> wanted{};     // still to be read
  std::array<bool, kStripCount> hasProcessor{};  // by channel index
  std::array<bool, kMaxTracks + 1> delayPanned{};
  std::vector<DelayPanChannel> delayPan;       // by track channel, when any is delay-panned
  std::array<int, kMaxTracks + 1> sendSlot{};  // index into sendStretches, -1 none
  bool masterProcessing = false;               // strip, reverbs or effects gain on the master
  ReverbRuntime reverb;
  MasterOutput master;
  std::array<std::unique_ptr<StemOutput>, kStemSlots> stems;  // null: no such stem
  MixMeters meters;

  // The channel stage: one worker per thread; the channels that feed a
  // reverb send, in channel order, with the stretch each leaves for the sends
  // (added in channel order once every thread is done); which channels read
  // short in the current block.
  std::vector<ChannelWorker> workers;
  std::vector<std::vector<int>> groups;        // each worker's channels, in order
  std::unique_ptr<std::mutex[]> stretchLocks;  // one per stretch of a block
  std::vector<int> sendChannels;
  std::vector<Pair<std::int64_t>> sendStretches;
  std::array<bool, kMaxTracks + 1> readShort{};

  // Block buffers, of blockFrames frames.
  long blockFrames;
  Pair<std::int64_t> tapWords;
  Pair<double> work;
  Pair<std::int64_t> masterPair;
  std::vector<Pair<std::int64_t>> buses = std::vector<Pair<std::int64_t>>(kBusCount);
  // kVcaSlots rows of one block, when a VCA is active; the rows of the active
  // VCAs are filled before each block, and only those are ever read.
  Buffer<double> vcaGains;

  // The VCAs' gains from frame `from` of the block on.
  VcaRows vcaRows(long from) const {
    return vcaGains.empty() ? VcaRows{} : VcaRows{vcaGains.data() + from, blockFrames};
  }
};

// Builds the state of one render and makes every check that can refuse it
// (reverb rooms and distances), printing the refusal and throwing
// Fatal{exit_status::kUser}. Nothing else in a render can fail but I/O.
std::unique_ptr<RenderState> prepareRender(const RenderInputs& in);

}  // namespace sorvan
