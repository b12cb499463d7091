#include "engine/render_state.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>

#include "base/fatal.h"
#include "base/messages.h"
#include "base/output_file.h"
#include "script/effect_settings.h"
#include "script/script.h"

namespace sorvan {
namespace {

[[noreturn]] void refuse(const std::string& message) {
  say("%s", message.c_str());
  throw Fatal(exit_status::kUser);
}

// Which reverbs run, and their geometry; an impossible room refuses the run.
void prepareReverbs(const ReverbSettings& r, double rate, ReverbRuntime& reverb) {
  reverb.tapRuns = r.tapRuns();
  reverb.recursiveRuns = r.recursiveRuns();
  if (reverb.tapRuns) {
    if (auto problem = setupDiscreteReverb(reverb.tap, kBlockFrames, rate, r.tapRoom, r.taps, r.p1,
                                           r.p2, r.p3))
      refuse(*problem);
    reverb.tapSend.allocate(kBlockFrames, false);  // cleared before every block
  }
  if (reverb.recursiveRuns) {
    reverb.recursive = std::make_unique<RecurseReverbState>();
    if (auto problem =
            setupRecurseReverb(*reverb.recursive, rate, r.recursiveRoom, r.p1, r.p2, r.p3, r.width))
      refuse(*problem);
    reverb.recursiveSend.allocate(kBlockFrames, false);
  }
  if (r.anyInUse() || r.masterFed()) {
    reverb.returns.allocate();
    reverb.spill.allocate();
  }
}

void prepareChannels(const RenderInputs& in, RenderState& s) {
  const LevelTables& levels = in.script.levels;
  bool anyDelayPanned = false;
  for (int ch = 1; ch <= in.plan.trackCount; ++ch) {
    const SourceChannel& c = in.plan.channels[ch];
    if (!c.wanted) continue;
    s.wanted[ch] = true;
    s.delayPanned[ch] = c.channels == 1 && levels.delayPanned[ch];
    anyDelayPanned = anyDelayPanned || s.delayPanned[ch];
  }
  if (!anyDelayPanned) return;
  // Two kilobytes of history a channel: only the song's channels get one.
  s.delayPan.resize(static_cast<std::size_t>(in.plan.trackCount) + 1);
  for (int ch = 1; ch <= in.plan.trackCount; ++ch)
    s.delayPan[ch] = delayPanChannel(levels.panPosition[ch], in.plan.sampleRate);
}

// Channels whose sends are added once every thread has done the stretch: in
// channel order, as one thread would have added them.
void prepareSends(const RenderInputs& in, RenderState& s) {
  const ReverbSettings& r = in.effects.reverbs;
  s.sendSlot.fill(-1);
  if (r.masterFed() || s.workers.size() < 2) return;
  for (int ch = 1; ch <= in.plan.trackCount; ++ch) {
    const bool sends =
        (r.recursiveInUse && r.recursiveSendOn[ch]) || (r.tapInUse && r.tapSendOn[ch]);
    if (!s.wanted[ch] || !sends) continue;
    s.sendSlot[ch] = static_cast<int>(s.sendChannels.size());
    s.sendChannels.push_back(ch);
  }
  s.sendStretches.resize(s.sendChannels.size());
  for (auto& stretch : s.sendStretches) stretch.allocate(kStretchFrames, false);
}

// What a channel costs to mix, roughly, in units of a plain channel.
double channelCost(const RenderInputs& in, const RenderState& s, int ch) {
  const StripChannelSettings& strip = in.effects.strips.strip[static_cast<std::size_t>(ch)];
  double cost = 1.0;
  for (const int on : strip.enabled) cost += on ? 1.5 : 0.0;
  return s.delayPanned[ch] ? cost + 0.5 : cost;
}

// The channels shared out among the workers, the costliest first, each to the
// least loaded worker.
void groupChannels(const RenderInputs& in, RenderState& s, int threads) {
  std::vector<std::pair<double, int>> channels;
  for (int ch = 1; ch <= in.plan.trackCount; ++ch)
    if (s.wanted[ch]) channels.emplace_back(-channelCost(in, s, ch), ch);
  std::sort(channels.begin(), channels.end());
  std::vector<double> load(static_cast<std::size_t>(threads), 0.0);
  s.groups.assign(static_cast<std::size_t>(threads), {});
  for (const auto& [negativeCost, ch] : channels) {
    const auto least =
        static_cast<std::size_t>(std::min_element(load.begin(), load.end()) - load.begin());
    load[least] -= negativeCost;
    s.groups[least].push_back(ch);
  }
  for (auto& group : s.groups) std::sort(group.begin(), group.end());
  s.stretchLocks = std::make_unique<std::mutex[]>(kBlockFrames / kStretchFrames);
}

// The threads start here, with the signals that remove temporary files held
// back for good: only the main thread cleans up after a signal. A function of
// its own, so that a one-thread render never wakes the OpenMP runtime (which
// wants a shared-memory file of its own at start).
void startThreads(int threads) {
  const CleanupSignalsHeld held;
#pragma omp parallel num_threads(threads)
  {}
}

// How many threads share the channels. Sharing costs a barrier per stretch
// and a helper that spins between stretches; on a small machine that helper
// takes its core from the loudness thread. Measured on two cores: 8 plain
// channels mix a third faster on one thread beside the loudness thread, 32
// a little slower; a strip on every channel pays for a second thread from
// two channels. So unless the user chose the count, a thread is added per
// kWorkPerThread plain channels' worth of work.
int channelThreads(const RenderInputs& in, const RenderState& s) {
  constexpr double kWorkPerThread = 24.0;
  int channels = 0;
  double work = 0.0;
  for (int ch = 1; ch <= in.plan.trackCount; ++ch) {
    if (!s.wanted[ch]) continue;
    ++channels;
    work += channelCost(in, s, ch);
  }
  int threads = std::max(1, std::min(in.plan.threads, channels));
  if (in.plan.threadsFromCores)
    threads = std::min(threads, static_cast<int>(std::ceil(work / kWorkPerThread)));
  return std::max(1, threads);
}

void prepareWorkers(const RenderInputs& in, RenderState& s) {
  const int threads = channelThreads(in, s);
  s.workers.resize(static_cast<std::size_t>(threads));
  if (threads > 1) {
    groupChannels(in, s, threads);
    startThreads(threads);
  }
  int grouped = 0;  // strips that may run in a group
  for (int ch = 1; ch <= in.plan.trackCount; ++ch)
    if (s.hasProcessor[ch] && stripHasFilter(s.order[ch])) ++grouped;
  const int lanes = std::min(kMaxStripGroup, std::max(1, grouped));
  for (ChannelWorker& w : s.workers) {
    for (int k = 0; k < lanes; ++k) {
      w.lanes[k].channel.allocate(kStretchFrames, false);
      w.lanes[k].work.allocate(kStretchFrames, false);
    }
    if (!s.delayPan.empty()) w.mono.assign(kStretchFrames, 0);
    if (threads == 1) continue;
    w.buses.resize(kBusCount);
    for (int b = 0; b < kBusCount; ++b)
      if (in.script.routing.busActive[b]) w.buses[b].allocate(kStretchFrames, false);
  }
}

// The compressors' sine curves, worked out once per length, as long as they
// take little room; beyond that a compressor computes its values as it goes.
void prepareCurves(const StripSettings& strips, RenderState& s) {
  constexpr std::size_t kBudgetBytes = 16u << 20;
  std::size_t bytes = 0;
  const auto table = [&](long length) -> const double* {
    auto found = s.curves.find(length);
    if (found != s.curves.end()) return found->second.data();
    const std::size_t size = (static_cast<std::size_t>(length) + 1) * sizeof(double);
    if (bytes + size > kBudgetBytes) return nullptr;
    bytes += size;
    return s.curves.emplace(length, curveTable(length)).first->second.data();
  };
  for (std::size_t index = 0; index < kStripCount; ++index) {
    const StripChannelSettings& strip = strips.strip[index];
    StripMemory& memory = s.strips[index];
    if (strip.enabled[kRmsComp])
      memory.rms.curves = {table(strip.rms.attackSamples), table(strip.rms.releaseSamples)};
    if (strip.enabled[kPeakComp])
      memory.comp.curves = {table(strip.comp.attackSamples), table(strip.comp.releaseSamples)};
  }
}

void allocateBuffers(const RenderInputs& in, RenderState& s) {
  const Routing& routing = in.script.routing;
  // All of these are written before they are read in every block.
  const long frames = s.blockFrames;
  if (in.plan.tapMode != 0) s.tapWords.allocate(frames, false);
  s.work.allocate(frames, false);
  s.masterPair.allocate(frames, false);
  for (int b = 0; b < kBusCount; ++b) {
    if (routing.busActive[b]) s.buses[b].allocate(frames, false);
  }
  if (routing.anyVcaActive)
    s.vcaGains.allocate(static_cast<std::size_t>(kVcaSlots) * static_cast<std::size_t>(frames),
                        false);
}

// A stem for every bus that reaches the master and for the reverb returns
// when a reverb runs, each with its own dither stream.
void prepareStems(const RenderInputs& in, RenderState& s) {
  if (!in.plan.stems || in.plan.measuring) return;
  for (int slot = 0; slot < kStemSlots; ++slot) {
    const bool sounds = slot == kReverbStem ? s.reverb.tapRuns || s.reverb.recursiveRuns
                                            : in.script.routing.busActive[slot] != 0;
    if (sounds) s.stems[slot] = std::make_unique<StemOutput>(in.plan, slot + 1);
  }
}

}  // namespace

std::unique_ptr<RenderState> prepareRender(const RenderInputs& in) {
  const RenderPlan& plan = in.plan;
  const ReverbSettings& reverbs = in.effects.reverbs;
  auto state = std::make_unique<RenderState>(plan);
  RenderState& s = *state;
  prepareReverbs(reverbs, plan.sampleRate, s.reverb);

  std::array<std::int64_t, kMaxTracks + 1> sourceStart{};
  for (int ch = 1; ch <= plan.trackCount; ++ch) sourceStart[ch] = plan.channels[ch].start;
  startAutomation(in.script.levels, plan.renderStart, plan.trackCount, sourceStart, s.automation);

  const StripSettings& strips = in.effects.strips;
  for (std::size_t index = 0; index < kStripCount; ++index) {
    s.order[index] = stripOrder(strips.strip[index]);
    s.hasProcessor[index] = strips.hasProcessor(static_cast<int>(index));
  }
  prepareCurves(strips, s);
  prepareChannels(in, s);
  prepareWorkers(in, s);
  prepareSends(in, s);
  s.masterProcessing = strips.hasProcessor(0) || strips.masterStripInUse ||
                       in.script.levels.masterStripUsed || reverbs.masterFed();
  allocateBuffers(in, s);
  prepareStems(in, s);

  s.meters.recursiveReverb = reverbs.recursiveInUse;
  s.meters.tapReverb = reverbs.tapInUse;
  s.meters.masterFedRecursive = reverbs.masterFedRecursive;
  s.meters.masterFedTap = reverbs.masterFedTap;
  s.meters.dither = plan.ditherModulus != 0 && plan.format != OutputFormat::kFloat;
  s.meters.ditherSeed = plan.ditherSeed;
  s.meters.floatOutput = plan.format == OutputFormat::kFloat;
  return state;
}

}  // namespace sorvan
