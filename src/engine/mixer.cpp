#include "engine/mixer.h"

#include <algorithm>
#include <cmath>

#include "base/messages.h"
#include "base/numeric.h"
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

constexpr double kChannelDivisor = 524288.0;  // 2^19: channel scale x 256 at unity
constexpr double kBusDivisor = 134217728.0;   // 2^27: buses stay in bus scale

void addInto(Pair<std::int64_t>& into, const Pair<std::int64_t>& from, long n) {
  std::int64_t* l = into.left.data();
  std::int64_t* r = into.right.data();
  const std::int64_t* fl = from.left.data();
  const std::int64_t* fr = from.right.data();
  for (long i = 0; i < n; ++i) {
    l[i] += fl[i];
    r[i] += fr[i];
  }
}

// Adds a post-fader signal times g into a reverb send.
void addSend(Pair<double>& send, const Pair<std::int64_t>& from, double g, long n) {
  for (long i = 0; i < n; ++i) {
    send.left[i] += static_cast<double>(from.left[i]) * g;
    send.right[i] += static_cast<double>(from.right[i]) * g;
  }
}

void toDoubles(const Pair<std::int64_t>& from, Pair<double>& to, long n) {
  for (long i = 0; i < n; ++i) {
    to.left[i] = static_cast<double>(from.left[i]);
    to.right[i] = static_cast<double>(from.right[i]);
  }
}

// Back to integers, truncating; sets `clip` once a frame leaves +-fullScale.
void toIntegers(const Pair<double>& from, Pair<std::int64_t>& to, long n, double fullScale,
                int& clip) {
  long i = 0;
  for (; i < n && clip == 0; ++i) {
    const double l = from.left[i];
    const double r = from.right[i];
    if (l > fullScale || l < -fullScale || r > fullScale || r < -fullScale) clip = 1;
    to.left[i] = truncateTo<std::int64_t>(l);
    to.right[i] = truncateTo<std::int64_t>(r);
  }
  for (; i < n; ++i) {
    to.left[i] = truncateTo<std::int64_t>(from.left[i]);
    to.right[i] = truncateTo<std::int64_t>(from.right[i]);
  }
}

void scale(Pair<double>& pair, double gain, long n) {
  for (long i = 0; i < n; ++i) {
    pair.left[i] *= gain;
    pair.right[i] *= gain;
  }
}

template <typename T>
void meterPeaks(MixMeters& meters, int index, const T* left, const T* right, long n) {
  double peakL = meters.peakL[index];
  double peakR = meters.peakR[index];
  for (long i = 0; i < n; ++i) {
    peakL = std::max(peakL, std::fabs(static_cast<double>(left[i])));
    peakR = std::max(peakR, std::fabs(static_cast<double>(right[i])));
  }
  meters.peakL[index] = peakL;
  meters.peakR[index] = peakR;
}

// The three progress lines, when the render passes a quarter, a half and
// three quarters of its length.
class Progress {
 public:
  explicit Progress(const RenderPlan& plan)
      : m1_(plan.renderStart + plan.renderLength / 4),
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
    sayLine(text);
    sayFlush();
    flag_ = next;
  }
  std::int64_t m1_, m2_, m3_;
  bool enabled_;
  int flag_ = 1;
};

// One render's walk through its blocks: the session read-only, the state
// changed block by block.
class BlockLoop {
 public:
  BlockLoop(const RenderInputs& in, RenderState& state, const SourceTable& sources,
            const RenderOutputs& out)
      : plan_(in.plan),
        script_(in.script),
        levels_(in.script.levels),
        routing_(in.script.routing),
        strips_(in.effects.strips),
        reverbs_(in.effects.reverbs),
        s_(state),
        sources_(sources),
        out_(out) {}

  void mixBlock(std::int64_t pos, long n) {
    clearBlock(n);
    const double* vcaGains = s_.vcaGains.empty() ? nullptr : s_.vcaGains.data();
    fillVcas(pos, n);
    for (int ch = 1; ch <= plan_.trackCount; ++ch) {
      if (!s_.wanted[ch] || plan_.channels[ch].start >= pos + n) continue;
      mixChannel(ch, pos, n, vcaGains);
    }
    mixSubmixes(pos, n, vcaGains);
    if (!reverbs_.masterFed() && reverbs_.anyInUse()) {
      runReverbs(n, true);
      addInto(s_.masterPair, s_.reverb.returns, n);
    }
    masterStage(pos, n, vcaGains);
    s_.master.reduceBlock(s_.masterPair.left.data(), s_.masterPair.right.data(), pos, n);
    if (out_.plot)
      out_.plot->recordOutput(s_.master.encodedLeft(), s_.master.encodedRight(), pos, n);
    out_.mix.write(s_.master.wordsLeft(), s_.master.wordsRight(), n);
    if (out_.tap) writeTap(n);
  }

 private:
  void clearBlock(long n) {
    s_.masterPair.clear(n);
    for (int b = 0; b < kBusCount; ++b) {
      if (routing_.busActive[b]) s_.buses[b].clear(n);
    }
    ReverbRuntime& reverb = s_.reverb;
    if (reverb.returns.allocated()) {
      // This block's return starts with what the previous block spilled.
      std::swap(reverb.returns, reverb.spill);
      reverb.spill.clear(kBlockFrames);
    }
    if (reverb.recursiveSend.allocated()) reverb.recursiveSend.clear(n);
    if (reverb.tapSend.allocated()) reverb.tapSend.clear(n);
  }

  void fillVcas(std::int64_t pos, long n) {
    for (int v = 1; v < kVcaSlots; ++v) {
      if (!routing_.vcaActive[v]) continue;
      double* row = s_.vcaGains.data() + static_cast<std::size_t>(v) * kBlockFrames;
      FillVCA(pos, n, v, levels_, s_.automation, row);
      if (out_.plot) out_.plot->recordVca(v, pos, row, n);
    }
  }

  void mixChannel(int ch, std::int64_t pos, long n, const double* vcaGains) {
    Pair<std::int64_t>& channel = s_.channel;
    readChannel(ch, pos, n);
    if (s_.hasProcessor[ch]) runStrip(ch, n, channel, kChannelFullScale);
    applyFader(pos, n, ch, channel.left.data(), channel.right.data(), kChannelDivisor, vcaGains);
    meterPeaks(s_.meters, ch, channel.left.data(), channel.right.data(), n);
    for (int b = 0; b < kBusCount; ++b) {
      if (routing_.matrix[ch][b] && routing_.busActive[b]) addInto(s_.buses[b], channel, n);
    }
    addReverbSends(ch, channel, n);
  }

  void mixSubmixes(std::int64_t pos, long n, const double* vcaGains) {
    for (int k = 1; k <= kSubmixCount; ++k) {
      if (levels_.submixVolume[k] && routing_.busActive[k])
        applyFader(pos, n, kSubmixBase + k, s_.buses[k].left.data(), s_.buses[k].right.data(),
                   kBusDivisor, vcaGains);
    }
    for (int k = 1; k <= kSubmixCount; ++k) {
      if (routing_.busActive[k] && s_.hasProcessor[kSubmixBase + k])
        runStrip(kSubmixBase + k, n, s_.buses[k], kBusFullScale);
    }
    for (int b = 0; b < kBusCount; ++b) {
      if (!routing_.busActive[b]) continue;
      addInto(s_.masterPair, s_.buses[b], n);
      if (b >= 1)
        meterPeaks(s_.meters, kSubmixBase + b, s_.buses[b].left.data(), s_.buses[b].right.data(),
                   n);
    }
    for (int k = 1; k <= kSubmixCount; ++k) {
      if (routing_.busActive[k]) addReverbSends(kSubmixBase + k, s_.buses[k], n);
    }
  }

  // The fader stage. While the mix is plotted, a plotted fader runs in short
  // chunks and its played level is read after each; AUTOMATE gives the same
  // samples however a block is divided, so the mix itself does not change.
  void applyFader(std::int64_t pos, long n, int index, std::int64_t* left, std::int64_t* right,
                  double divisor, const double* vcaGains) {
    MixPlot* plot = out_.plot;
    if (!plot || !plot->recordsFader(index)) {
      AUTOMATE(pos, n, index, script_, s_.automation, left, right, divisor, vcaGains);
      return;
    }
    for (long done = 0; done < n;) {
      const long chunk = std::min(n - done, plot->chunkFrames());
      AUTOMATE(pos + done, chunk, index, script_, s_.automation, left + done, right + done,
               divisor, vcaGains ? vcaGains + done : nullptr);
      done += chunk;
      plot->recordFader(index, pos + done - 1,
                        playedLevelDb(s_.automation.faders[index], levels_.panGainL[index],
                                      levels_.panGainR[index]));
    }
  }

  // The channel strip (or a submix strip) on an integer pair, in place.
  void runStrip(int index, long n, Pair<std::int64_t>& pair, double fullScale) {
    Pair<double>& work = s_.work;
    toDoubles(pair, work, n);
    sorvan::runStrip(strips_.strip[index], s_.order[index], s_.strips[index], n,
                     work.left.data(), work.right.data(), true);
    const double gain = levels_.effectsGain[index];
    if (gain != 1.0) scale(work, gain, n);
    toIntegers(work, pair, n, fullScale, s_.meters.clip[index]);
  }

  void masterStage(std::int64_t pos, long n, const double* vcaGains) {
    Pair<std::int64_t>& master = s_.masterPair;
    Pair<double>& work = s_.work;
    if (levels_.masterVolume)
      applyFader(pos, n, 0, master.left.data(), master.right.data(), kBusDivisor, vcaGains);
    if (!s_.masterProcessing) return;
    toDoubles(master, work, n);
    sorvan::runStrip(strips_.strip[0], s_.order[0], s_.strips[0], n, work.left.data(),
                     work.right.data(), false);
    if (reverbs_.masterFed()) feedReverbsFromMaster(n);
    runMasterLimiter(strips_.strip[0], n, work.left.data(), work.right.data());
    const double gain = levels_.effectsGain[0];
    if (gain != 1.0) scale(work, gain, n);
    toIntegers(work, master, n, kBusFullScale, s_.meters.clip[0]);
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

  // Post-fader sends of channel (or submix) `index`, including the return level.
  void addReverbSends(int index, const Pair<std::int64_t>& from, long n) {
    if (reverbs_.masterFed()) return;
    ReverbRuntime& reverb = s_.reverb;
    if (reverbs_.recursiveInUse && reverbs_.recursiveSendOn[index])
      addSend(reverb.recursiveSend, from,
              static_cast<double>(reverbs_.recursiveReturn * reverbs_.recursiveSend[index]), n);
    if (reverbs_.tapInUse && reverbs_.tapSendOn[index])
      addSend(reverb.tapSend, from,
              static_cast<double>(reverbs_.tapReturn * reverbs_.tapSend[index]), n);
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
      RecurseReverb(*r.recursive, n, l, rt, spill.left.data(), spill.right.data(),
                    ret.left.data(), ret.right.data());
      if (meterSends) meterPeaks(s_.meters, kRecursiveSendPeak, l, rt, n);
    }
  }

  // The tap file holds the recursive reverb's send (return level divided out)
  // or the summed return of both reverbs, in channel scale.
  void writeTap(long n) {
    std::int64_t* l = s_.channel.left.data();
    std::int64_t* r = s_.channel.right.data();
    const ReverbRuntime& reverb = s_.reverb;
    if (plan_.tapMode == 1) {
      const double divisor = static_cast<double>(reverbs_.recursiveReturn) * 256.0;
      for (long i = 0; i < n; ++i) {
        l[i] = truncateTo<std::int64_t>(static_cast<float>(reverb.recursiveSend.left[i]) / divisor);
        r[i] = truncateTo<std::int64_t>(static_cast<float>(reverb.recursiveSend.right[i]) / divisor);
      }
    } else {
      for (long i = 0; i < n; ++i) {
        l[i] = truncateTo<std::int64_t>(static_cast<float>(reverb.returns.left[i]) * 0.00390625);
        r[i] = truncateTo<std::int64_t>(static_cast<float>(reverb.returns.right[i]) * 0.00390625);
      }
    }
    out_.tap->write(l, r, n);
  }

  // Reads and decodes one block of channel ch into the channel pair: silence
  // before the source starts and after it ends.
  void readChannel(int ch, std::int64_t pos, long n) {
    const SourceChannel& c = plan_.channels[ch];
    std::int64_t* left = s_.channel.left.data();
    std::int64_t* right = s_.channel.right.data();
    const long k = c.start > pos ? static_cast<long>(c.start - pos) : 0;
    const std::int64_t firstFrame = pos + k - c.start;
    const long wantedFrames =
        static_cast<long>(std::clamp<std::int64_t>(c.length - firstFrame, 0, n - k));
    const bool decodable = c.channels == 1 || c.channels == 2;
    std::fill(left, left + k, 0);
    std::fill(right, right + k, 0);
    SampleSource* source = sources_[ch];
    if (s_.delayPanned[ch]) {
      std::int64_t* mono = s_.mono.data();
      const long got = wantedFrames > 0 && decodable && source
                           ? source->read(firstFrame, wantedFrames, mono + k, nullptr)
                           : 0;
      std::fill(mono + k + got, mono + n, 0);
      const long saveFrom = n < 256 ? n : n - 256;
      DELAY_PAN(k, n, s_.delayPan[ch], mono, left, right, saveFrom);
      // Past the data end the channel is silent, delayed tail included.
      const std::int64_t endFrame = addSaturating(c.start, c.length);
      for (long i = k; i < n; ++i) {
        if (pos + i >= endFrame) left[i] = right[i] = 0;
      }
    } else {
      const long got = wantedFrames > 0 && decodable && source
                           ? source->read(firstFrame, wantedFrames, left + k, right + k)
                           : 0;
      std::fill(left + k + got, left + n, 0);
      std::fill(right + k + got, right + n, 0);
    }
    if (pos + n > addSaturating(c.start, c.length)) s_.wanted[ch] = false;
  }

  const RenderPlan& plan_;
  const MixScript& script_;
  const LevelTables& levels_;
  const Routing& routing_;
  const StripSettings& strips_;
  const ReverbSettings& reverbs_;
  RenderState& s_;
  const SourceTable& sources_;
  const RenderOutputs& out_;
};

}  // namespace

MixMeters renderMix(const RenderInputs& in, RenderState& state, const SourceTable& sources,
                    const RenderOutputs& out) {
  const RenderPlan& plan = in.plan;
  say("\n");
  if (plan.verbosity == 2) sayLine("Mixing...");
  BlockLoop loop(in, state, sources, out);
  Progress progress(plan);
  const std::int64_t end = addSaturating(plan.renderStart, plan.renderLength);
  for (std::int64_t pos = plan.renderStart; pos < end;) {
    const long n = static_cast<long>(std::min<std::int64_t>(end - pos, kBlockFrames));
    loop.mixBlock(pos, n);
    progress.after(pos);
    pos += n;
  }
  state.meters.output = state.master.meters();
  state.meters.loudness = state.master.loudnessReport();
  return state.meters;
}

}  // namespace sorvan
