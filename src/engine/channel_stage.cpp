#include "engine/channel_stage.h"

#include <omp.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>

#include "base/numeric.h"
#include "base/target.h"
#include "engine/block_math.h"
#include "engine/playback.h"
#include "engine/plot.h"
#include "engine/strip.h"
#include "script/effect_settings.h"
#include "script/script.h"

namespace sorvan {
namespace {

// Whether channel ch is read in the block of n frames at pos: its recording
// is still wanted and has started by the block's end.
bool readsInBlock(const RenderPlan& plan, const RenderState& state, int ch, std::int64_t pos,
                  long n) {
  return state.wanted[ch] && plan.channels[ch].start < pos + n;
}

constexpr double kChannelDivisor = 524288.0;  // 2^19: channel scale x 256 at unity

// A channel at a steady fader in one sweep: the gains (and its VCA's), the
// peak meter and the sum into one bus. The arithmetic is AUTOMATE's; its
// products cannot leave the 64-bit range, since decoded samples stay within
// 2^31 and a side's gain within 2^12.
SORVAN_ALSO_AVX2 void steadyIntoBus(const SteadyGains& g, const std::int64_t* left,
                                    const std::int64_t* right, long n, std::int64_t* busL,
                                    std::int64_t* busR, MixMeters& meters, int ch) {
  std::int64_t peakL = 0, peakR = 0;
  const auto magnitude = [](std::int64_t v) { return v < 0 ? -v : v; };
  if (g.vca == nullptr && g.left == 256.0 && g.right == 256.0) {
    // Unity, centre: an exact shift.
    for (long i = 0; i < n; ++i) {
      const std::int64_t l = left[i] * 256, r = right[i] * 256;
      peakL = std::max(peakL, magnitude(l));
      peakR = std::max(peakR, magnitude(r));
      busL[i] += l;
      busR[i] += r;
    }
  } else {
    for (long i = 0; i < n; ++i) {
      const double vca = g.vca ? g.vca[i] : 1.0;
      const auto l = static_cast<std::int64_t>(g.vca ? g.left * vca * static_cast<double>(left[i])
                                                     : g.left * static_cast<double>(left[i]));
      const auto r = static_cast<std::int64_t>(g.vca ? static_cast<double>(right[i]) * vca * g.right
                                                     : static_cast<double>(right[i]) * g.right);
      peakL = std::max(peakL, magnitude(l));
      peakR = std::max(peakR, magnitude(r));
      busL[i] += l;
      busR[i] += r;
    }
  }
  // The largest magnitude, converted once, is the largest of the converted.
  meters.peakL[ch] = std::max(meters.peakL[ch], static_cast<double>(peakL));
  meters.peakR[ch] = std::max(meters.peakR[ch], static_cast<double>(peakR));
}

class ChannelStage {
 public:
  ChannelStage(const RenderInputs& in, RenderState& state, const SourceTable& sources,
               MixPlot* plot, std::int64_t pos, long n)
      : in_(in), s_(state), sources_(sources), plot_(plot), pos_(pos), n_(n) {}

  void run() {
    for (int ch = 1; ch <= in_.plan.trackCount; ++ch) {
      if (reads(ch)) list_[count_++] = ch;
    }
    if (s_.workers.size() == 1) {
      const int units = formUnits(list_.data(), count_, units_.data());
      for (long from = 0; from < n_; from += kStretchFrames) {
        const long m = std::min(kStretchFrames, n_ - from);
        for (int u = 0; u < units; ++u) mixUnit(units_[u], from, m, s_.workers[0], true);
      }
    } else if (s_.sendChannels.empty()) {
      runGrouped();
    } else {
      runShared();
    }
  }

 private:
  // Channels mixed together: strips of one shape run side by side.
  struct ChannelUnit {
    std::array<int, kMaxStripGroup> channels{};
    int count = 0;
  };

  // A channel whose strip may run in a group: one with filters, whose
  // samples go nowhere but its buses (reverb sends add in channel order).
  bool groupable(int ch) const {
    return s_.hasProcessor[ch] && stripHasFilter(s_.order[ch]) && s_.sendSlot[ch] < 0 &&
           !hasSends(ch);
  }

  // Puts channels[0..count-1] into units in order: a strip that can run in a
  // group takes the later ones of its shape with it, as many as the workers
  // have lanes for; any other channel is a unit of its own. Strips with the
  // very same processors are taken first, so that their compressors walk
  // together too. Returns the count.
  int formUnits(const int* channels, int count, ChannelUnit* units) const {
    const int lanes = static_cast<int>(
        std::count_if(s_.workers[0].lanes.begin(), s_.workers[0].lanes.end(),
                      [](const ChannelLane& lane) { return lane.channel.allocated(); }));
    std::array<bool, kMaxTracks> taken{};
    int made = 0;
    for (int i = 0; i < count; ++i) {
      if (taken[i]) continue;
      ChannelUnit& unit = units[made++];
      unit.channels[0] = channels[i];
      unit.count = 1;
      if (!groupable(channels[i])) continue;
      const StripOrder& shape = s_.order[channels[i]];
      for (const bool exact : {true, false}) {
        for (int j = i + 1; j < count && unit.count < lanes; ++j) {
          const StripOrder& other = s_.order[channels[j]];
          if (taken[j] || !groupable(channels[j]) ||
              !(exact ? sameProcessors(shape, other) : sameStripShape(shape, other)))
            continue;
          taken[j] = true;
          unit.channels[unit.count++] = channels[j];
        }
      }
    }
    return made;
  }

  // Without reverb sends every thread mixes its own group of channels through
  // the whole block, stretch by stretch, and adds its bus sums of a stretch
  // into the block's buses under that stretch's lock: the threads never wait
  // for one another but there.
  void runGrouped() {
    const int threads = static_cast<int>(s_.workers.size());
    // Each thread's units, one after the other in units_.
    std::array<int, kMaxTracks + 1> firstUnit{};
    for (int t = 0; t < threads; ++t) {
      std::array<int, kMaxTracks> mine{};
      int read = 0;
      for (const int ch : s_.groups[static_cast<std::size_t>(t)])
        if (reads(ch)) mine[read++] = ch;
      firstUnit[t + 1] = firstUnit[t] + formUnits(mine.data(), read, units_.data() + firstUnit[t]);
    }
    for (int u = 0; u < firstUnit[threads]; ++u) {
      progress_[u].claimed.store(0, std::memory_order_relaxed);
      progress_[u].done.store(0, std::memory_order_relaxed);
    }
#pragma omp parallel num_threads(threads)
    {
      const int t = omp_get_thread_num();
      ChannelWorker& w = s_.workers[static_cast<std::size_t>(t)];
      for (long from = 0, stretch = 0; from < n_; from += kStretchFrames, ++stretch) {
        const long m = std::min(kStretchFrames, n_ - from);
        clearBuses(w, m);
        for (int u = firstUnit[t]; u < firstUnit[t + 1]; ++u) {
          if (!claimFree(u, stretch)) continue;  // a thread that had finished took it
          mixUnit(units_[u], from, m, w, false);
          progress_[u].done.store(stretch + 1, std::memory_order_release);
        }
        addStretch(w, from, m);
      }
      // Done with its own channels: help with the others' last units, from
      // their end, where their threads arrive last in every stretch.
      for (int v = 1; v < threads; ++v) {
        const int other = (t + v) % threads;
        for (int u = firstUnit[other + 1] - 1; u >= firstUnit[other]; --u) finishUnit(u, w);
      }
    }
  }

  // Pieces of the block, a unit's channels over one stretch, are claimed
  // before they are mixed, in stretch order per unit: each is mixed once, by
  // one thread, after the unit's piece before it. Without this a thread
  // preempted by the loudness or output thread would keep the other waiting
  // at the block's end.
  struct UnitProgress {
    std::atomic<long> claimed{0};  // pieces a thread has taken
    std::atomic<long> done{0};     // pieces mixed
  };

  // The unit's owner takes its piece of the stretch unless another thread
  // has it, or is still mixing the one before: then that thread goes on.
  bool claimFree(int u, long stretch) {
    UnitProgress& p = progress_[u];
    long expected = stretch;
    return p.done.load(std::memory_order_acquire) == stretch &&
           p.claimed.compare_exchange_strong(expected, stretch + 1, std::memory_order_acquire);
  }

  // Mixes what is left of unit u, piece by piece, adding each piece's bus
  // sums on its own.
  void finishUnit(int u, ChannelWorker& w) {
    UnitProgress& p = progress_[u];
    for (long c = p.claimed.load(std::memory_order_relaxed); c * kStretchFrames < n_;
         c = p.claimed.load(std::memory_order_relaxed)) {
      if (p.done.load(std::memory_order_acquire) != c) continue;  // its owner is mixing c - 1
      long expected = c;
      if (!p.claimed.compare_exchange_strong(expected, c + 1, std::memory_order_acquire)) continue;
      const long from = c * kStretchFrames;
      const long m = std::min(kStretchFrames, n_ - from);
      clearBuses(w, m);
      mixUnit(units_[u], from, m, w, false);
      p.done.store(c + 1, std::memory_order_release);
      addStretch(w, from, m);
    }
  }

  static void clearBuses(ChannelWorker& w, long m) {
    for (Pair<std::int64_t>& bus : w.buses)
      if (bus.allocated()) bus.clear(m);
  }

  // A thread's bus sums of the stretch at `from` into the block's buses.
  void addStretch(const ChannelWorker& w, long from, long m) {
    const Routing& routing = in_.script.routing;
    const std::lock_guard<std::mutex> lock(
        s_.stretchLocks[static_cast<std::size_t>(from / kStretchFrames)]);
    for (int b = 0; b < kBusCount; ++b) {
      if (!routing.busActive[b]) continue;
      addInto(s_.buses[b].left.data() + from, s_.buses[b].right.data() + from,
              w.buses[b].left.data(), w.buses[b].right.data(), m);
    }
  }

  bool reads(int ch) const { return readsInBlock(in_.plan, s_, ch, pos_, n_); }

  // With reverb sends the channels of each stretch are shared out among the
  // threads; once all are done, the threads' bus sums and the channels'
  // sends are added, each thread over its own share of the stretch's frames.
  void runShared() {
    const int threads = static_cast<int>(s_.workers.size());
    const int units = formUnits(list_.data(), count_, units_.data());
#pragma omp parallel num_threads(threads)
    {
      ChannelWorker& w = s_.workers[static_cast<std::size_t>(omp_get_thread_num())];
      for (long from = 0; from < n_; from += kStretchFrames) {
        const long m = std::min(kStretchFrames, n_ - from);
        clearBuses(w, m);
#pragma omp for schedule(dynamic, 1)
        for (int u = 0; u < units; ++u) mixUnit(units_[u], from, m, w, false);
#pragma omp for schedule(static)
        for (int part = 0; part < threads; ++part) {
          const long first = m * part / threads, last = m * (part + 1) / threads;
          gatherStretch(from, first, last - first);
        }
      }
    }
  }

  // Frames [first, first + count) of the stretch at `from`: every thread's bus
  // sums, then the sends of the channels in channel order.
  void gatherStretch(long from, long first, long count) {
    const Routing& routing = in_.script.routing;
    for (int b = 0; b < kBusCount; ++b) {
      if (!routing.busActive[b]) continue;
      std::int64_t* l = s_.buses[b].left.data() + from + first;
      std::int64_t* r = s_.buses[b].right.data() + from + first;
      for (const ChannelWorker& w : s_.workers)
        addInto(l, r, w.buses[b].left.data() + first, w.buses[b].right.data() + first, count);
    }
    ReverbRuntime& reverb = s_.reverb;
    for (std::size_t k = 0; k < s_.sendChannels.size(); ++k) {
      const int ch = s_.sendChannels[k];
      if (!reads(ch)) continue;
      const Pair<std::int64_t>& stretch = s_.sendStretches[k];
      addReverbSendsAt(reverb, ch, stretch.left.data() + first, stretch.right.data() + first,
                       from + first, count);
    }
  }

  void addReverbSendsAt(ReverbRuntime& reverb, int index, const std::int64_t* left,
                        const std::int64_t* right, long at, long count) {
    const ReverbSettings& r = in_.effects.reverbs;
    if (r.recursiveInUse && r.recursiveSendOn[index])
      addSend(reverb.recursiveSend.left.data() + at, reverb.recursiveSend.right.data() + at, left,
              right, static_cast<double>(r.recursiveReturn * r.recursiveSend[index]), count);
    if (r.tapInUse && r.tapSendOn[index])
      addSend(reverb.tapSend.left.data() + at, reverb.tapSend.right.data() + at, left, right,
              static_cast<double>(r.tapReturn * r.tapSend[index]), count);
  }

  // The channels of a unit over frames [from, from + m) of the block, each in
  // its own lane of the worker. `direct`: this is the only thread, so it adds
  // into the block's buses and sends itself.
  void mixUnit(const ChannelUnit& unit, long from, long m, ChannelWorker& w, bool direct) {
    StripLane strips[kMaxStripGroup];
    for (int c = 0; c < unit.count; ++c) {
      const int ch = unit.channels[c];
      ChannelLane& lane = w.lanes[c];
      read(ch, from, m, w, lane.channel);
      if (!s_.hasProcessor[ch]) continue;
      toDoubles(lane.channel.left.data(), lane.channel.right.data(), lane.work.left.data(),
                lane.work.right.data(), m);
      strips[c] = StripLane{&in_.effects.strips.strip[ch], &s_.order[ch], &s_.strips[ch],
                            lane.work.left.data(), lane.work.right.data()};
    }
    if (s_.hasProcessor[unit.channels[0]]) runStrips(strips, unit.count, m, true);
    for (int c = 0; c < unit.count; ++c) {
      const int ch = unit.channels[c];
      if (s_.hasProcessor[ch]) finishStrip(ch, m, w.lanes[c]);
      mixChannel(ch, from, m, w.lanes[c].channel, w, direct);
    }
  }

  // The strip's effects gain, and back to the channel's integers.
  void finishStrip(int ch, long m, ChannelLane& lane) {
    double* l = lane.work.left.data();
    double* r = lane.work.right.data();
    const double gain = in_.script.levels.effectsGain[ch];
    if (gain != 1.0) scale(l, r, gain, m);
    toIntegers(l, r, lane.channel.left.data(), lane.channel.right.data(), m, kChannelFullScale,
               s_.meters.clip[ch]);
  }

  // One channel's samples, after its strip, through its fader into its buses
  // and sends.
  void mixChannel(int ch, long from, long m, Pair<std::int64_t>& samples, ChannelWorker& w,
                  bool direct) {
    std::int64_t* left = samples.left.data();
    std::int64_t* right = samples.right.data();
    const bool plotted = plot_ && plot_->recordsFader(ch);
    const VcaRows vca = s_.vcaRows(from);
    const int bus = onlyBus(ch);
    SteadyGains steady;
    if (!plotted && bus >= 0 && s_.sendSlot[ch] < 0 && !(direct && hasSends(ch)) &&
        steadyFader(pos_ + from, m, ch, in_.script, s_.automation, left, right, kChannelDivisor,
                    vca, steady)) {
      Pair<std::int64_t>& target = direct ? s_.buses[bus] : w.buses[bus];
      const long at = direct ? from : 0;
      steadyIntoBus(steady, left, right, m, target.left.data() + at, target.right.data() + at,
                    s_.meters, ch);
      return;
    }
    applyFader(in_.script, s_, plot_, ch, pos_, from, m, n_, left, right, kChannelDivisor);
    meterPeaks(s_.meters, ch, left, right, m);
    const Routing& routing = in_.script.routing;
    for (int b = 0; b < kBusCount; ++b) {
      if (!routing.matrix[ch][b] || !routing.busActive[b]) continue;
      Pair<std::int64_t>& target = direct ? s_.buses[b] : w.buses[b];
      const long at = direct ? from : 0;
      addInto(target.left.data() + at, target.right.data() + at, left, right, m);
    }
    if (direct) {
      if (!in_.effects.reverbs.masterFed()) addReverbSendsAt(s_.reverb, ch, left, right, from, m);
    } else if (s_.sendSlot[ch] >= 0) {
      Pair<std::int64_t>& stretch = s_.sendStretches[static_cast<std::size_t>(s_.sendSlot[ch])];
      std::copy_n(left, m, stretch.left.begin());
      std::copy_n(right, m, stretch.right.begin());
    }
  }

  bool hasSends(int ch) const {
    const ReverbSettings& r = in_.effects.reverbs;
    return !r.masterFed() &&
           ((r.recursiveInUse && r.recursiveSendOn[ch]) || (r.tapInUse && r.tapSendOn[ch]));
  }

  // The one active bus a channel feeds, or -1 when it feeds several.
  int onlyBus(int ch) const {
    const Routing& routing = in_.script.routing;
    int only = -1;
    for (int b = 0; b < kBusCount; ++b) {
      if (!routing.matrix[ch][b] || !routing.busActive[b]) continue;
      if (only >= 0) return -1;
      only = b;
    }
    return only;
  }

  // Reads and decodes frames [from, from + m) of the block into `into`:
  // silence before the source starts and after it ends.
  void read(int ch, long from, long m, ChannelWorker& w, Pair<std::int64_t>& into) {
    const SourceChannel& c = in_.plan.channels[ch];
    const std::int64_t pos = pos_ + from;
    std::int64_t* left = into.left.data();
    std::int64_t* right = into.right.data();
    const long k = c.start > pos ? static_cast<long>(std::min<std::int64_t>(c.start - pos, m)) : 0;
    // (A start far before the song, e.g. at the most negative stamp, puts the
    // first frame beyond any recording rather than overflowing.)
    const std::int64_t firstFrame = subtractSaturating(pos + k, c.start);
    const long wanted =
        static_cast<long>(std::clamp<std::int64_t>(c.length - firstFrame, 0, m - k));
    const bool decodable = c.channels == 1 || c.channels == 2;
    SampleSource* source = sources_[ch];
    const bool reads = wanted > 0 && decodable && source;
    std::fill(left, left + k, 0);
    std::fill(right, right + k, 0);
    if (!s_.delayPanned[ch]) {
      const long got = reads ? source->read(firstFrame, wanted, left + k, right + k) : 0;
      if (got < wanted && reads) s_.readShort[ch] = true;
      std::fill(left + k + got, left + m, 0);
      std::fill(right + k + got, right + m, 0);
      return;
    }
    std::int64_t* mono = w.mono.data();
    std::fill(mono, mono + k, 0);
    const long got = reads ? source->read(firstFrame, wanted, mono + k, nullptr) : 0;
    if (got < wanted && reads) s_.readShort[ch] = true;
    std::fill(mono + k + got, mono + m, 0);
    DELAY_PAN(m, s_.delayPan[ch], mono, left, right);
    // Past the data end the channel is silent, delayed tail included.
    const std::int64_t endFrame = addSaturating(c.start, c.length);
    for (long i = 0; i < m; ++i) {
      if (pos + i >= endFrame) left[i] = right[i] = 0;
    }
  }

  const RenderInputs& in_;
  RenderState& s_;
  const SourceTable& sources_;
  MixPlot* plot_;
  std::int64_t pos_;
  long n_;
  std::array<int, kMaxTracks> list_{};  // the channels this block reads, in order
  int count_ = 0;
  std::array<ChannelUnit, kMaxTracks> units_{};
  std::array<UnitProgress, kMaxTracks> progress_{};  // by unit, for runGrouped
};

}  // namespace

void addReverbSends(const ReverbSettings& reverbs, ReverbRuntime& reverb, int index,
                    const std::int64_t* left, const std::int64_t* right, long n) {
  if (reverbs.masterFed()) return;
  if (reverbs.recursiveInUse && reverbs.recursiveSendOn[index])
    addSend(reverb.recursiveSend.left.data(), reverb.recursiveSend.right.data(), left, right,
            static_cast<double>(reverbs.recursiveReturn * reverbs.recursiveSend[index]), n);
  if (reverbs.tapInUse && reverbs.tapSendOn[index])
    addSend(reverb.tapSend.left.data(), reverb.tapSend.right.data(), left, right,
            static_cast<double>(reverbs.tapReturn * reverbs.tapSend[index]), n);
}

void applyFader(const MixScript& script, RenderState& state, MixPlot* plot, int index,
                std::int64_t pos, long from, long n, long blockFrames, std::int64_t* left,
                std::int64_t* right, double divisor) {
  if (!plot || !plot->recordsFader(index)) {
    AUTOMATE(pos + from, n, index, script, state.automation, left, right, divisor,
             state.vcaRows(from));
    return;
  }
  const long chunk = plot->chunkFrames();
  for (long done = 0; done < n;) {
    const long at = from + done;  // in the block
    const long boundary = std::min(blockFrames, (at / chunk + 1) * chunk);
    const long part = std::min(from + n, boundary) - at;
    AUTOMATE(pos + at, part, index, script, state.automation, left + done, right + done, divisor,
             state.vcaRows(at));
    done += part;
    if (at + part == boundary) {
      const LevelTables& levels = script.levels;
      plot->recordFader(index, pos + boundary - 1,
                        playedLevelDb(state.automation.faders[index], levels.panGainL[index],
                                      levels.panGainR[index]));
    }
  }
}

void mixChannels(const RenderInputs& in, RenderState& state, const SourceTable& sources,
                 MixPlot* plot, std::int64_t pos, long n) {
  ChannelStage(in, state, sources, plot, pos, n).run();
}

void finishChannels(const RenderInputs& in, RenderState& state, const SourceTable& sources,
                    std::int64_t pos, long n) {
  for (int ch = 1; ch <= in.plan.trackCount; ++ch) {
    if (!readsInBlock(in.plan, state, ch, pos, n)) continue;
    const SourceChannel& c = in.plan.channels[ch];
    if (state.readShort[ch]) sources[ch]->reportShortRead();
    state.readShort[ch] = false;
    if (pos + n > addSaturating(c.start, c.length)) state.wanted[ch] = false;
  }
}

}  // namespace sorvan
