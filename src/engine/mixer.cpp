#include "engine/mixer.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "base/messages.h"
#include "base/numeric.h"
#include "base/output_file.h"
#include "engine/block_math.h"
#include "engine/channel_stage.h"
#include "engine/plot.h"
#include "engine/strip.h"
#include "filters/reverb_eq.h"
#include "reverb/delay_pan.h"
#include "reverb/recursive_reverb.h"
#include "reverb/tap_reverb.h"
#include "script/effect_settings.h"
#include "script/script.h"

namespace sorvan {
namespace {

constexpr double kBusDivisor = 134217728.0;  // 2^27: buses stay in bus scale

// The three progress lines, when the render passes a quarter, a half and
// three quarters of its length.
class Progress {
 public:
  Progress(const RenderPlan& plan, RenderProgress* follower)
      : follower_(follower),
        m1_(plan.renderStart + plan.renderLength / 4),
        m2_(plan.renderStart + plan.renderLength / 2),
        m3_(plan.renderStart + (3 * (plan.renderLength / 4) + (3 * (plan.renderLength % 4)) / 4)),
        enabled_(plan.verbosity == 2) {}

  void after(std::int64_t pos) {
    if (!enabled_) return;
    if (m1_ < pos && pos < m2_ && flag_ == 1) {
      print("1/4 done", 0);
    } else if (m2_ < pos && pos < m3_ && flag_ == 0) {
      print("1/2 done", 1);
    } else if (pos > m3_ && flag_ == 1) {
      print("3/4 done", 0);
    }
  }

 private:
  void print(const char* text, int next) {
    if (follower_) follower_->beforeMessage();
    sayLine(text);
    sayFlush();
    flag_ = next;
  }
  RenderProgress* follower_;
  std::int64_t m1_, m2_, m3_;
  bool enabled_;
  int flag_ = 1;
};

// The output side of the mix (the master's words, meters and loudness, and
// the mix file) on a thread of its own, one block behind: block k is reduced
// and written while block k + 1 mixes. What the thread says is held back and
// said by the render's thread when it collects the block, where the block's
// output would have said it, so the console reads as it does without the
// thread; a failure is rethrown there too.
class OutputThread {
 public:
  OutputThread(MasterOutput& master, SampleSink& mix, long blockFrames)
      : master_(master), mix_(mix) {
    spare_.allocate(blockFrames, false);
    const CleanupSignalsHeld held;  // only the main thread cleans up after a signal
    thread_ = std::thread([this] { work(); });
  }
  ~OutputThread() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  OutputThread(const OutputThread&) = delete;
  OutputThread& operator=(const OutputThread&) = delete;

  // Takes the block at pos (n frames) from `master`, which gets the spare
  // pair in exchange. The block before must have been collected.
  void hand(Pair<std::int64_t>& master, std::int64_t pos, long n) {
    std::swap(master, spare_);
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      pos_ = pos;
      n_ = n;
      pending_ = true;
    }
    changed_.notify_all();
  }

  // Waits for the block in hand, says what its output said, and rethrows
  // its failure.
  void collect() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return !pending_; });
    if (!said_.empty()) say("%s", std::exchange(said_, {}).c_str());
    if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
  }

 private:
  void work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] { return pending_ || stop_; });
      if (!pending_) return;
      lock.unlock();
      std::exception_ptr failure;
      std::string said;
      {
        MessageHold hold;
        try {
          master_.reduceBlock(spare_.left.data(), spare_.right.data(), pos_, n_);
          mix_.write(master_.wordsLeft(), master_.wordsRight(), n_);
        } catch (...) {
          failure = std::current_exception();
        }
        said = hold.release();
      }
      lock.lock();
      failure_ = failure;
      said_ = std::move(said);
      pending_ = false;
      changed_.notify_all();
    }
  }

  MasterOutput& master_;
  SampleSink& mix_;
  Pair<std::int64_t> spare_;  // the block in hand, or the next one's master pair
  std::mutex mutex_;
  std::condition_variable changed_;
  std::int64_t pos_ = 0;
  long n_ = 0;
  bool pending_ = false;  // a block is in hand
  bool stop_ = false;
  std::exception_ptr failure_;
  std::string said_;
  std::thread thread_;
};

// One render's walk through its blocks: the session read-only, the state
// changed block by block.
class BlockLoop {
 public:
  BlockLoop(const RenderInputs& in, RenderState& state, const SourceTable& sources,
            const RenderOutputs& out)
      : in_(in),
        plan_(in.plan),
        script_(in.script),
        levels_(in.script.levels),
        routing_(in.script.routing),
        strips_(in.effects.strips),
        reverbs_(in.effects.reverbs),
        s_(state),
        sources_(sources),
        out_(out),
        directIsMaster_(routing_.busActive[0] && !state.stems[0]) {}

  // Mixes the block at pos. `settle` runs once the channels are mixed and
  // before the block says anything; with an output thread the block's output
  // is handed to it, otherwise written here.
  template <typename Settle>
  void mixBlock(std::int64_t pos, long n, OutputThread* output, Settle&& settle) {
    clearBlock(n);
    fillVcas(pos, n);
    mixChannels(in_, s_, sources_, out_.plot, pos, n);
    settle();
    finishChannels(in_, s_, sources_, pos, n);
    mixSubmixes(pos, n);
    if (!reverbs_.masterFed() && reverbs_.anyInUse()) {
      runReverbs(n, true);
      addPairs(s_.masterPair, s_.reverb.returns, n);
    }
    masterStage(pos, n);
    Pair<std::int64_t>& master = s_.masterPair;
    if (plan_.measuring) {
      s_.master.measureBlock(master.left.data(), master.right.data(), n);
      return;
    }
    if (plan_.outputGain != 1.0) applyOutputGain(n);
    if (output) {
      output->hand(master, pos, n);
      return;
    }
    s_.master.reduceBlock(master.left.data(), master.right.data(), pos, n);
    if (out_.plot)
      out_.plot->recordOutput(s_.master.encodedLeft(), s_.master.encodedRight(), pos, n);
    out_.mix.write(s_.master.wordsLeft(), s_.master.wordsRight(), n);
    if (out_.tap) writeTap(n);
    writeStems(n);
  }

 private:
  void clearBlock(long n) {
    if (!directIsMaster_) s_.masterPair.clear(n);
    for (int b = 0; b < kBusCount; ++b) {
      if (routing_.busActive[b]) s_.buses[b].clear(n);
    }
    ReverbRuntime& reverb = s_.reverb;
    if (reverb.returns.allocated()) {
      // This block's return starts with what the previous block spilled.
      std::swap(reverb.returns, reverb.spill);
      if (reverb.spillWritten) reverb.spill.clear(kBlockFrames);
      reverb.spillWritten = true;
    }
    if (reverb.recursiveSend.allocated()) reverb.recursiveSend.clear(n);
    if (reverb.tapSend.allocated()) reverb.tapSend.clear(n);
  }

  void fillVcas(std::int64_t pos, long n) {
    for (int v = 1; v < kVcaSlots; ++v) {
      if (!routing_.vcaActive[v]) continue;
      double* row = s_.vcaGains.data() + static_cast<std::size_t>(v) * s_.blockFrames;
      FillVCA(pos, n, v, levels_, s_.automation, row);
      if (out_.plot) out_.plot->recordVca(v, pos, row, n);
    }
  }

  void mixSubmixes(std::int64_t pos, long n) {
    for (int k = 1; k <= kSubmixCount; ++k) {
      if (levels_.submixVolume[k] && routing_.busActive[k])
        applyFader(script_, s_, out_.plot, kSubmixBase + k, pos, 0, n, n, s_.buses[k].left.data(),
                   s_.buses[k].right.data(), kBusDivisor);
    }
    for (int k = 1; k <= kSubmixCount; ++k) {
      if (routing_.busActive[k] && s_.hasProcessor[kSubmixBase + k])
        runStrip(kSubmixBase + k, n, s_.buses[k], kBusFullScale);
    }
    for (int b = 0; b < kBusCount; ++b) {
      if (!routing_.busActive[b]) continue;
      if (b == 0 && directIsMaster_) {
        std::swap(s_.masterPair, s_.buses[0]);  // cleared with the buses next block
        continue;
      }
      addPairs(s_.masterPair, s_.buses[b], n);
      if (b >= 1)
        meterPeaks(s_.meters, kSubmixBase + b, s_.buses[b].left.data(), s_.buses[b].right.data(),
                   n);
    }
    for (int k = 1; k <= kSubmixCount; ++k) {
      if (routing_.busActive[k])
        addReverbSends(reverbs_, s_.reverb, kSubmixBase + k, s_.buses[k].left.data(),
                       s_.buses[k].right.data(), n);
    }
  }

  static void addPairs(Pair<std::int64_t>& into, const Pair<std::int64_t>& from, long n) {
    addInto(into.left.data(), into.right.data(), from.left.data(), from.right.data(), n);
  }

  // The channel strip (or a submix strip) on an integer pair, in place.
  void runStrip(int index, long n, Pair<std::int64_t>& pair, double fullScale) {
    double* l = s_.work.left.data();
    double* r = s_.work.right.data();
    toDoubles(pair.left.data(), pair.right.data(), l, r, n);
    sorvan::runStrip(strips_.strip[index], s_.order[index], s_.strips[index], n, l, r, true);
    const double gain = levels_.effectsGain[index];
    if (gain != 1.0) scale(l, r, gain, n);
    toIntegers(l, r, pair.left.data(), pair.right.data(), n, fullScale, s_.meters.clip[index]);
  }

  void masterStage(std::int64_t pos, long n) {
    Pair<std::int64_t>& master = s_.masterPair;
    double* l = s_.work.left.data();
    double* r = s_.work.right.data();
    if (levels_.masterVolume)
      applyFader(script_, s_, out_.plot, 0, pos, 0, n, n, master.left.data(), master.right.data(),
                 kBusDivisor);
    if (!s_.masterProcessing) return;
    toDoubles(master.left.data(), master.right.data(), l, r, n);
    sorvan::runStrip(strips_.strip[0], s_.order[0], s_.strips[0], n, l, r, false);
    if (reverbs_.masterFed()) feedReverbsFromMaster(n);
    runMasterLimiter(strips_.strip[0], n, l, r);
    const double gain = levels_.effectsGain[0];
    if (gain != 1.0) scale(l, r, gain, n);
    toIntegers(l, r, master.left.data(), master.right.data(), n, kBusFullScale, s_.meters.clip[0]);
  }

  void feedReverbsFromMaster(long n) {
    ReverbRuntime& reverb = s_.reverb;
    if (reverbs_.masterFedRecursive)
      feedFromMaster(reverb.recursiveSend, reverbs_.recursiveReturn, reverbs_.recursiveSend[0],
                     kRecursiveSendPeak, n);
    if (reverbs_.masterFedTap)
      feedFromMaster(reverb.tapSend, reverbs_.tapReturn, reverbs_.tapSend[0], kTapSendPeak, n);
    runReverbs(n, false);
    Pair<double>& work = s_.work;
    for (long i = 0; i < n; ++i) {
      work.left[i] += static_cast<double>(reverb.returns.left[i]);
      work.right[i] += static_cast<double>(reverb.returns.right[i]);
    }
  }

  void feedFromMaster(Pair<double>& send, float returnLevel, float sendLevel, int peak, long n) {
    const double g = static_cast<double>(returnLevel * sendLevel);
    const Pair<double>& work = s_.work;
    double peakL = s_.meters.peakL[peak], peakR = s_.meters.peakR[peak];
    for (long i = 0; i < n; ++i) {
      send.left[i] = work.left[i] * g;
      send.right[i] = work.right[i] * g;
      peakL = std::max(peakL, std::fabs(send.left[i]));
      peakR = std::max(peakR, std::fabs(send.right[i]));
    }
    s_.meters.peakL[peak] = peakL;
    s_.meters.peakR[peak] = peakR;
  }

  // Both reverbs over their sends into the return and spill pairs; the sends
  // are metered when channels feed them.
  void runReverbs(long n, bool meterSends) {
    ReverbRuntime& r = s_.reverb;
    const ReverbEqSettings& eq = reverbs_.eq;
    Pair<std::int64_t>& ret = r.returns;
    Pair<std::int64_t>& spill = r.spill;
    if (r.tapRuns) {
      double* l = r.tapSend.left.data();
      double* rt = r.tapSend.right.data();
      if (eq.highPassOn) Rev_EQ(eq, r.eq, kTapHighPassSlot, n, l, rt);
      if (eq.lowPassOn) Rev_EQ(eq, r.eq, kTapLowPassSlot, n, l, rt);
      DiscreteReverb(r.tap, n, l, rt, spill.left.data(), spill.right.data(), ret.left.data(),
                     ret.right.data());
      if (meterSends) meterPeaks(s_.meters, kTapSendPeak, l, rt, n);
    }
    if (r.recursiveRuns) {
      double* l = r.recursiveSend.left.data();
      double* rt = r.recursiveSend.right.data();
      if (eq.highPassOn) Rev_EQ(eq, r.eq, kRecursiveHighPassSlot, n, l, rt);
      if (eq.lowPassOn) Rev_EQ(eq, r.eq, kRecursiveLowPassSlot, n, l, rt);
      RecurseReverb(*r.recursive, n, l, rt, spill.left.data(), spill.right.data(), ret.left.data(),
                    ret.right.data());
      if (meterSends) meterPeaks(s_.meters, kRecursiveSendPeak, l, rt, n);
    }
  }

  // A loudness target's gain: one static factor on the master before dither.
  void applyOutputGain(long n) {
    const double gain = plan_.outputGain;
    std::int64_t* l = s_.masterPair.left.data();
    std::int64_t* r = s_.masterPair.right.data();
    for (long i = 0; i < n; ++i) {
      l[i] = truncateTo<std::int64_t>(static_cast<double>(l[i]) * gain);
      r[i] = truncateTo<std::int64_t>(static_cast<double>(r[i]) * gain);
    }
  }

  // Each bus as it entered the master sum, and the reverb returns as they
  // were added to the master; all still hold this block.
  void writeStems(long n) {
    for (int slot = 0; slot < kStemSlots; ++slot) {
      StemOutput* stem = s_.stems[slot].get();
      if (!stem || !out_.stems[slot]) continue;
      const Pair<std::int64_t>& bus = slot == kReverbStem ? s_.reverb.returns : s_.buses[slot];
      stem->reduceBlock(bus.left.data(), bus.right.data(), n, plan_.outputGain);
      out_.stems[slot]->write(stem->wordsLeft(), stem->wordsRight(), n);
    }
  }

  // The tap file holds the recursive reverb's send (return level divided out)
  // or the summed return of both reverbs, in channel scale.
  void writeTap(long n) {
    std::int64_t* l = s_.tapWords.left.data();
    std::int64_t* r = s_.tapWords.right.data();
    const ReverbRuntime& reverb = s_.reverb;
    if (plan_.tapMode == 1) {
      const double divisor = static_cast<double>(reverbs_.recursiveReturn) * 256.0;
      for (long i = 0; i < n; ++i) {
        l[i] = truncateTo<std::int64_t>(static_cast<float>(reverb.recursiveSend.left[i]) / divisor);
        r[i] =
            truncateTo<std::int64_t>(static_cast<float>(reverb.recursiveSend.right[i]) / divisor);
      }
    } else {
      for (long i = 0; i < n; ++i) {
        l[i] = truncateTo<std::int64_t>(static_cast<float>(reverb.returns.left[i]) * 0.00390625);
        r[i] = truncateTo<std::int64_t>(static_cast<float>(reverb.returns.right[i]) * 0.00390625);
      }
    }
    out_.tap->write(l, r, n);
  }

  const RenderInputs& in_;
  const RenderPlan& plan_;
  const MixScript& script_;
  const LevelTables& levels_;
  const Routing& routing_;
  const StripSettings& strips_;
  const ReverbSettings& reverbs_;
  RenderState& s_;
  const SourceTable& sources_;
  const RenderOutputs& out_;
  // The channels that feed the master directly are its first part: their bus
  // becomes the master pair, unless a stem of them still reads it.
  const bool directIsMaster_;
};

}  // namespace

MixMeters renderMix(const RenderInputs& in, RenderState& state, const SourceTable& sources,
                    const RenderOutputs& out) {
  const RenderPlan& plan = in.plan;
  say("\n");
  if (plan.verbosity == 2) sayLine("Mixing...");
  BlockLoop loop(in, state, sources, out);
  Progress progress(plan, out.progress);
  const auto written = [&](std::int64_t pos, long n) {
    progress.after(pos);
    if (out.progress) out.progress->rendered(pos + n - plan.renderStart, plan.renderLength);
  };
  // The output thread pays where the mix file is the only output of a block:
  // taps, stems and the picture read the block's other buses as well.
  const bool stems = std::any_of(state.stems.begin(), state.stems.end(),
                                 [](const auto& stem) { return stem != nullptr; });
  std::optional<OutputThread> output;
  if (plan.threads > 1 && !out.tap && !out.plot && !stems)
    output.emplace(state.master, out.mix, state.blockFrames);
  // The block whose output is in the thread's hands.
  std::int64_t handedPos = 0;
  long handedN = 0;
  const auto settle = [&] {
    if (handedN == 0) return;
    output->collect();
    written(handedPos, std::exchange(handedN, 0));
  };
  const std::int64_t end = addSaturating(plan.renderStart, plan.renderLength);
  for (std::int64_t pos = plan.renderStart; pos < end;) {
    const long n = static_cast<long>(std::min<std::int64_t>(end - pos, kBlockFrames));
    loop.mixBlock(pos, n, output ? &*output : nullptr, settle);
    if (output) {
      handedPos = pos;
      handedN = n;
    } else {
      written(pos, n);
    }
    pos += n;
  }
  settle();
  state.meters.output = state.master.meters();
  state.meters.loudness = state.master.loudness();
  return state.meters;
}

LoudnessResult measureMix(const RenderInputs& in, RenderState& state, const SourceTable& sources) {
  const RenderPlan& plan = in.plan;
  MemorySink nowhere(WaveFormat{});
  const RenderOutputs out{nowhere};
  BlockLoop loop(in, state, sources, out);
  const std::int64_t end = addSaturating(plan.renderStart, plan.renderLength);
  for (std::int64_t pos = plan.renderStart; pos < end;) {
    const long n = static_cast<long>(std::min<std::int64_t>(end - pos, kBlockFrames));
    loop.mixBlock(pos, n, nullptr, [] {});
    pos += n;
  }
  return state.master.loudness();
}

}  // namespace sorvan
