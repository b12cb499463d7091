#include "engine/mixer.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/limits.h"
#include "base/messages.h"
#include "base/numeric.h"
#include "engine/master.h"
#include "engine/plot.h"
#include "engine/strip.h"
#include "filters/reverb_eq.h"
#include "reverb/delay_pan.h"
#include "reverb/recursive_reverb.h"
#include "reverb/tap_reverb.h"
#include "script/effect_settings.h"
#include "script/playback.h"
#include "script/script.h"
#include "wave/samples.h"

namespace sorvan {
namespace {

constexpr double kChannelDivisor = 524288.0;  // 2^19: channel scale x 256 at unity
constexpr double kBusDivisor = 134217728.0;   // 2^27: buses stay in bus scale

std::int64_t addSaturating(std::int64_t a, std::int64_t b) {
  std::int64_t r;
  if (__builtin_add_overflow(a, b, &r)) return b > 0 ? INT64_MAX : INT64_MIN;
  return r;
}

// One source recording, read with one positioned read per block.
class SourceReader {
 public:
  SourceReader() = default;
  SourceReader(const SourceReader&) = delete;
  SourceReader& operator=(const SourceReader&) = delete;
  ~SourceReader() { close(); }

  // A file that vanished or was replaced by something other than a regular
  // file since its header was read gives silence.
  void open(const std::string& path) {
    path_ = path;
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat info {};
    if (fd_ >= 0 && (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode))) {
      ::close(fd_);
      fd_ = -1;
    }
  }

  // Reads up to `bytes` at `offset`; returns how many bytes arrived.
  std::size_t readAt(unsigned char* into, std::size_t bytes, std::int64_t offset) {
    if (fd_ < 0) return 0;
    std::size_t done = 0;
    while (done < bytes) {
      const ssize_t got =
          ::pread(fd_, into + done, bytes - done, static_cast<off_t>(offset) + static_cast<off_t>(done));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      done += static_cast<std::size_t>(got);
    }
    return done;
  }

  // Says once that the file holds fewer frames than its header promised.
  void warnShort() {
    if (warned_) return;
    warned_ = true;
    say(">> Warning: %s holds fewer frames than its header said; the missing frames are silent.\n",
        path_.c_str());
  }

  void close() {
    if (fd_ >= 0 && ::close(fd_) != 0) sayLine("Error closing audio file");
    fd_ = -1;
  }

 private:
  std::string path_;
  int fd_ = -1;
  bool warned_ = false;
};

template <typename T>
struct Pair {
  std::vector<T> left, right;
  Pair() = default;
  void allocate() {
    left.assign(kBlockFrames, T{});
    right.assign(kBlockFrames, T{});
  }
  void clear(long n) {
    std::fill_n(left.begin(), n, T{});
    std::fill_n(right.begin(), n, T{});
  }
};

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

class Mixer {
 public:
  Mixer(const RenderPlan& plan, MixScript& script, const EffectSettings& effects, MixPlot* plot)
      : plan_(plan),
        script_(script),
        levels_(script.levels),
        routing_(script.routing),
        fx_(effects),
        reverbs_(effects.reverbs),
        strips_(effects.strips),
        master_(plan),
        plot_(plot) {
    raw_.resize(static_cast<std::size_t>(kBlockFrames) * 8);
    channel_.allocate();
    work_.allocate();
    master_pair_.allocate();
    buses_.resize(kBusCount);
    for (int b = 0; b < kBusCount; ++b) {
      if (routing_.busActive[b]) buses_[b].allocate();
    }
    if (routing_.anyVcaActive)
      vcaGains_.assign(static_cast<std::size_t>(kVcaSlots) * kBlockFrames, 1.0);

    for (int ch = 1; ch <= plan_.trackCount; ++ch) {
      const SourceChannel& c = plan_.channels[ch];
      wanted_[ch] = c.wanted ? 1 : 0;
      if (!wanted_[ch]) continue;
      sources_[ch].open(c.path);
      delayPanned_[ch] = c.channels == 1 && levels_.delayPanned[ch];
      bypass_[ch] = !fx_.strips.hasProcessor(ch);
    }
    if (std::any_of(delayPanned_.begin(), delayPanned_.end(), [](bool d) { return d; })) {
      delayPan_ = std::make_unique<DelayPanState>();
      for (int ch = 1; ch <= kMaxTracks; ++ch) delayPan_->panPosition[ch] = levels_.panPosition[ch];
      setupDelayPan(*delayPan_, plan_.sampleRate);
      for (auto& bytes : scratch_) bytes.assign(kBlockFrames, 0);
    }
    masterProcessing_ = fx_.strips.hasProcessor(0) || fx_.strips.masterStripInUse ||
                        levels_.masterStripUsed || reverbs_.masterFed();
    reverbActive_ = reverbs_.anyInUse() || reverbs_.masterFed();
    if (reverbActive_) {
      returns_.allocate();
      spill_.allocate();
    }
    if (reverbs_.recursiveInUse || reverbs_.masterFedRecursive) {
      recursiveSend_.allocate();
      recursive_ = std::make_unique<RecurseReverbState>();
    }
    if (reverbs_.tapInUse || reverbs_.masterFedTap) tapSend_.allocate();
    taps_ = reverbs_.taps;
    meters_.recursiveReverb = reverbs_.recursiveInUse;
    meters_.tapReverb = reverbs_.tapInUse;
    meters_.masterFedRecursive = reverbs_.masterFedRecursive;
    meters_.masterFedTap = reverbs_.masterFedTap;
  }

  MixMeters run(OutputFile& output, OutputFile* tap) {
    const std::int64_t end = addSaturating(plan_.renderStart, plan_.renderLength);
    Progress progress(plan_);
    if (tap) tapBytes_.resize(static_cast<std::size_t>(kBlockFrames) * 6);
    for (std::int64_t pos = plan_.renderStart; pos < end;) {
      const long n = static_cast<long>(std::min<std::int64_t>(end - pos, kBlockFrames));
      mixBlock(pos, n, output, tap);
      progress.after(pos);
      pos += n;
    }
    for (auto& source : sources_) source.close();
    meters_.output = master_.meters();
    meters_.loudness = master_.loudnessReport();
    meters_.dither = plan_.ditherModulus != 0;
    meters_.ditherSeed = plan_.ditherSeed;
    return meters_;
  }

 private:
  struct Progress {
    explicit Progress(const RenderPlan& plan)
        : m1(plan.renderStart + plan.renderLength / 4),
          m2(plan.renderStart + plan.renderLength / 2),
          m3(plan.renderStart + (3 * (plan.renderLength / 4) + (3 * (plan.renderLength % 4)) / 4)),
          enabled(plan.verbosity == 2) {}
    void after(std::int64_t pos) {
      if (!enabled) return;
      if (m1 < pos && pos < m2 && flag == 1) {
        say1("1/4 done", 0);
      } else if (m2 < pos && pos < m3 && flag == 0) {
        say1("1/2 done", 1);
      } else if (pos > m3 && flag == 1) {
        say1("3/4 done", 0);
      }
    }
    void say1(const char* text, int next) {
      sayLine(text);
      sayFlush();
      flag = next;
    }
    std::int64_t m1, m2, m3;
    bool enabled;
    int flag = 1;
  };

  void mixBlock(std::int64_t pos, long n, OutputFile& output, OutputFile* tap) {
    master_pair_.clear(n);
    for (int b = 0; b < kBusCount; ++b) {
      if (routing_.busActive[b]) buses_[b].clear(n);
    }
    if (reverbActive_) {
      // This block's return starts with what the previous block spilled.
      std::swap(returns_, spill_);
      spill_.clear(kBlockFrames);
    }
    if (!recursiveSend_.left.empty()) recursiveSend_.clear(n);
    if (!tapSend_.left.empty()) tapSend_.clear(n);
    const double* vcaGains = vcaGains_.empty() ? nullptr : vcaGains_.data();
    for (int v = 1; v < kVcaSlots; ++v) {
      if (!routing_.vcaActive[v]) continue;
      double* row = vcaGains_.data() + static_cast<std::size_t>(v) * kBlockFrames;
      FillVCA(pos, n, v, script_, row);
      if (plot_) plot_->recordVca(v, pos, row, n);
    }

    for (int ch = 1; ch <= plan_.trackCount; ++ch) {
      if (!wanted_[ch] || plan_.channels[ch].start >= pos + n) continue;
      readChannel(ch, pos, n);
      if (!bypass_[ch]) runStrip(ch, n, channel_, kChannelFullScale);
      applyFader(pos, n, ch, channel_.left.data(), channel_.right.data(), kChannelDivisor,
                 vcaGains);
      meterPeaks(ch, channel_.left.data(), channel_.right.data(), n);
      for (int b = 0; b < kBusCount; ++b) {
        if (routing_.matrix[ch][b] && routing_.busActive[b]) addInto(buses_[b], channel_, n);
      }
      addReverbSends(ch, channel_, n);
    }

    for (int k = 1; k <= kSubmixCount; ++k) {
      if (levels_.submixVolume[k] && routing_.busActive[k])
        applyFader(pos, n, kSubmixBase + k, buses_[k].left.data(), buses_[k].right.data(),
                   kBusDivisor, vcaGains);
    }
    for (int k = 1; k <= kSubmixCount; ++k) {
      if (routing_.busActive[k] && fx_.strips.hasProcessor(kSubmixBase + k))
        runStrip(kSubmixBase + k, n, buses_[k], kBusFullScale);
    }
    for (int b = 0; b < kBusCount; ++b) {
      if (!routing_.busActive[b]) continue;
      addInto(master_pair_, buses_[b], n);
      if (b >= 1) meterPeaks(kSubmixBase + b, buses_[b].left.data(), buses_[b].right.data(), n);
    }
    for (int k = 1; k <= kSubmixCount; ++k) {
      if (routing_.busActive[k]) addReverbSends(kSubmixBase + k, buses_[k], n);
    }
    if (!reverbs_.masterFed() && reverbs_.anyInUse()) {
      runReverbs(n, reverbs_.tapInUse, reverbs_.recursiveInUse);
      addInto(master_pair_, returns_, n);
    }

    masterStage(pos, n, vcaGains);
    const auto& bytes =
        master_.encodeBlock(master_pair_.left.data(), master_pair_.right.data(), pos, n);
    if (plot_) plot_->recordOutput(master_.encodedLeft(), master_.encodedRight(), pos, n);
    output.write(bytes.data(), bytes.size());
    if (tap) writeTap(*tap, n);
  }

  // The fader stage. While the mix is plotted, a plotted fader runs in short
  // chunks and its played level is read after each; AUTOMATE gives the same
  // samples however a block is divided, so the mix itself does not change.
  void applyFader(std::int64_t pos, long n, int index, std::int64_t* left, std::int64_t* right,
                  double divisor, const double* vcaGains) {
    if (!plot_ || !plot_->recordsFader(index)) {
      AUTOMATE(pos, n, index, script_, left, right, divisor, vcaGains);
      return;
    }
    for (long done = 0; done < n;) {
      const long chunk = std::min(n - done, plot_->chunkFrames());
      AUTOMATE(pos + done, chunk, index, script_, left + done, right + done, divisor,
               vcaGains ? vcaGains + done : nullptr);
      done += chunk;
      plot_->recordFader(index, pos + done - 1, playedLevelDb(script_, index, divisor));
    }
  }

  // The channel strip (or a submix strip) on an integer pair, in place.
  void runStrip(int index, long n, Pair<std::int64_t>& pair, double fullScale) {
    toDoubles(pair, work_, n);
    strips_.run(index, n, work_.left.data(), work_.right.data(), true);
    const double gain = levels_.effectsGain[index];
    if (gain != 1.0) scale(work_, gain, n);
    toIntegers(work_, pair, n, fullScale, meters_.clip[index]);
  }

  void masterStage(std::int64_t pos, long n, const double* vcaGains) {
    if (levels_.masterVolume)
      applyFader(pos, n, 0, master_pair_.left.data(), master_pair_.right.data(), kBusDivisor,
                 vcaGains);
    if (!masterProcessing_) return;
    toDoubles(master_pair_, work_, n);
    strips_.run(0, n, work_.left.data(), work_.right.data(), false);
    if (reverbs_.masterFed()) {
      if (reverbs_.masterFedRecursive)
        feedFromMaster(recursiveSend_, reverbs_.recursiveReturn, reverbs_.recursiveSend[0],
                       kRecursiveSendPeak, n);
      if (reverbs_.masterFedTap)
        feedFromMaster(tapSend_, reverbs_.tapReturn, reverbs_.tapSend[0], kTapSendPeak, n);
      runReverbs(n, reverbs_.masterFedTap, reverbs_.masterFedRecursive, false);
      for (long i = 0; i < n; ++i) {
        work_.left[i] += static_cast<double>(returns_.left[i]);
        work_.right[i] += static_cast<double>(returns_.right[i]);
      }
    }
    strips_.limit(0, n, work_.left.data(), work_.right.data());
    const double gain = levels_.effectsGain[0];
    if (gain != 1.0) scale(work_, gain, n);
    toIntegers(work_, master_pair_, n, kBusFullScale, meters_.clip[0]);
  }

  void feedFromMaster(Pair<double>& send, float returnLevel, float sendLevel, int peak, long n) {
    const double g = static_cast<double>(returnLevel * sendLevel);
    double peakL = meters_.peakL[peak], peakR = meters_.peakR[peak];
    for (long i = 0; i < n; ++i) {
      send.left[i] = work_.left[i] * g;
      send.right[i] = work_.right[i] * g;
      peakL = std::max(peakL, std::fabs(send.left[i]));
      peakR = std::max(peakR, std::fabs(send.right[i]));
    }
    meters_.peakL[peak] = peakL;
    meters_.peakR[peak] = peakR;
  }

  // Post-fader sends of channel (or submix) `index`, including the return level.
  void addReverbSends(int index, const Pair<std::int64_t>& from, long n) {
    if (reverbs_.masterFed()) return;
    if (reverbs_.recursiveInUse && reverbs_.recursiveSendOn[index])
      addSend(recursiveSend_, from,
              static_cast<double>(reverbs_.recursiveReturn * reverbs_.recursiveSend[index]), n);
    if (reverbs_.tapInUse && reverbs_.tapSendOn[index])
      addSend(tapSend_, from, static_cast<double>(reverbs_.tapReturn * reverbs_.tapSend[index]), n);
  }

  void runReverbs(long n, bool tapOn, bool recursiveOn, bool meterSends = true) {
    const ReverbEqSettings& eq = reverbs_.eq;
    if (tapOn) {
      if (eq.highPassOn) Rev_EQ(eq, reverbEq_, kTapHighPassSlot, n, tapSend_.left.data(), tapSend_.right.data());
      if (eq.lowPassOn) Rev_EQ(eq, reverbEq_, kTapLowPassSlot, n, tapSend_.left.data(), tapSend_.right.data());
      DiscreteReverb(kBlockFrames, tap_, n, plan_.sampleRate, tapSend_.left.data(),
                     tapSend_.right.data(), reverbs_.tapRoom, spill_.left.data(),
                     spill_.right.data(), returns_.left.data(), returns_.right.data(), taps_,
                     reverbs_.p1, reverbs_.p2, reverbs_.p3);
      if (meterSends) meterPeaks(kTapSendPeak, tapSend_.left.data(), tapSend_.right.data(), n);
    }
    if (recursiveOn) {
      if (eq.highPassOn)
        Rev_EQ(eq, reverbEq_, kRecursiveHighPassSlot, n, recursiveSend_.left.data(), recursiveSend_.right.data());
      if (eq.lowPassOn)
        Rev_EQ(eq, reverbEq_, kRecursiveLowPassSlot, n, recursiveSend_.left.data(), recursiveSend_.right.data());
      RecurseReverb(*recursive_, n, plan_.sampleRate, recursiveSend_.left.data(),
                    recursiveSend_.right.data(), reverbs_.recursiveRoom, spill_.left.data(),
                    spill_.right.data(), returns_.left.data(), returns_.right.data(), reverbs_.p1,
                    reverbs_.p2, reverbs_.p3, reverbs_.width);
      if (meterSends)
        meterPeaks(kRecursiveSendPeak, recursiveSend_.left.data(), recursiveSend_.right.data(), n);
    }
  }

  // The tap file holds the recursive reverb's send (return level divided out)
  // or the summed return of both reverbs, in channel scale.
  void writeTap(OutputFile& tap, long n) {
    std::int64_t* l = channel_.left.data();
    std::int64_t* r = channel_.right.data();
    if (plan_.tapMode == 1) {
      const double divisor = static_cast<double>(reverbs_.recursiveReturn) * 256.0;
      for (long i = 0; i < n; ++i) {
        l[i] = truncateTo<std::int64_t>(static_cast<float>(recursiveSend_.left[i]) / divisor);
        r[i] = truncateTo<std::int64_t>(static_cast<float>(recursiveSend_.right[i]) / divisor);
      }
    } else {
      for (long i = 0; i < n; ++i) {
        l[i] = truncateTo<std::int64_t>(static_cast<float>(returns_.left[i]) * 0.00390625);
        r[i] = truncateTo<std::int64_t>(static_cast<float>(returns_.right[i]) * 0.00390625);
      }
    }
    NUM24STER_TO_CHAR(l, r, tapBytes_.data(), n);
    tap.write(tapBytes_.data(), static_cast<std::size_t>(n) * 6);
  }

  // Positions, reads and decodes one block of channel ch into channel_.
  void readChannel(int ch, std::int64_t pos, long n) {
    const SourceChannel& c = plan_.channels[ch];
    std::int64_t* left = channel_.left.data();
    std::int64_t* right = channel_.right.data();
    const long k = c.start > pos ? static_cast<long>(c.start - pos) : 0;
    const std::int64_t firstFrame = pos + k - c.start;
    const long wantedFrames =
        static_cast<long>(std::clamp<std::int64_t>(c.length - firstFrame, 0, n - k));
    const int frameBytes = c.bytesPerSample * c.channels;
    long got = 0;
    const bool decodable = c.channels == 1 || c.channels == 2;
    if (wantedFrames > 0 && decodable) {
      const std::size_t bytes = static_cast<std::size_t>(wantedFrames) * frameBytes;
      const std::size_t arrived =
          sources_[ch].readAt(raw_.data(), bytes, c.dataOffset + firstFrame * frameBytes);
      got = static_cast<long>(arrived / static_cast<std::size_t>(frameBytes));
      if (got < wantedFrames) sources_[ch].warnShort();
    }
    std::fill(left, left + k, 0);
    std::fill(right, right + k, 0);
    if (delayPanned_[ch]) {
      spreadBytes(c.bytesPerSample, k, got, n);
      const long saveFrom = n < 256 ? n : n - 256;
      DELAY_PAN(k, n, ch, *delayPan_, scratch_[0].data(), scratch_[1].data(), scratch_[2].data(),
                scratch_[3].data(), left, right, 256, 65536, saveFrom, c.bytesPerSample);
      // Past the data end the channel is silent, delayed tail included.
      const std::int64_t endFrame = addSaturating(c.start, c.length);
      for (long i = k; i < n; ++i) {
        if (pos + i >= endFrame) left[i] = right[i] = 0;
      }
    } else {
      if (c.channels == 2) {
        decodeStereo(raw_.data(), c.bytesPerSample, left + k, right + k, got);
      } else if (c.channels == 1) {
        decodeMono(raw_.data(), c.bytesPerSample, left + k, got);
        std::copy_n(left + k, got, right + k);
      }
      std::fill(left + k + got, left + n, 0);
      std::fill(right + k + got, right + n, 0);
    }
    if (pos + n > addSaturating(c.start, c.length)) wanted_[ch] = 0;
  }

  // Unpacks mono frames into the byte scratch the delay panner assembles from:
  // PCM as b0 + 256 b1 + 65536 b2 (b2 signed), floats as their four bytes.
  void spreadBytes(int bytesPerSample, long k, long got, long n) {
    const unsigned char* raw = raw_.data();
    int* b0 = scratch_[0].data();
    int* b1 = scratch_[1].data();
    int* b2 = scratch_[2].data();
    int* b3 = scratch_[3].data();
    for (long i = 0; i < got; ++i) {
      const unsigned char* s = raw + static_cast<std::size_t>(i) * bytesPerSample;
      const long f = k + i;
      if (bytesPerSample == 2) {
        b0[f] = 0;
        b1[f] = s[0];
        b2[f] = static_cast<signed char>(s[1]);
        b3[f] = 0;
      } else if (bytesPerSample == 3) {
        b0[f] = s[0];
        b1[f] = s[1];
        b2[f] = static_cast<signed char>(s[2]);
        b3[f] = 0;
      } else {
        b0[f] = s[0];
        b1[f] = s[1];
        b2[f] = s[2];
        b3[f] = s[3];
      }
    }
    for (long f = k + got; f < n; ++f) b0[f] = b1[f] = b2[f] = b3[f] = 0;
  }

  void meterPeaks(int index, const std::int64_t* left, const std::int64_t* right, long n) {
    double peakL = meters_.peakL[index];
    double peakR = meters_.peakR[index];
    for (long i = 0; i < n; ++i) {
      peakL = std::max(peakL, std::fabs(static_cast<double>(left[i])));
      peakR = std::max(peakR, std::fabs(static_cast<double>(right[i])));
    }
    meters_.peakL[index] = peakL;
    meters_.peakR[index] = peakR;
  }

  void meterPeaks(int index, const double* left, const double* right, long n) {
    double peakL = meters_.peakL[index];
    double peakR = meters_.peakR[index];
    for (long i = 0; i < n; ++i) {
      peakL = std::max(peakL, std::fabs(left[i]));
      peakR = std::max(peakR, std::fabs(right[i]));
    }
    meters_.peakL[index] = peakL;
    meters_.peakR[index] = peakR;
  }

  const RenderPlan& plan_;
  MixScript& script_;
  const LevelTables& levels_;
  const Routing& routing_;
  const EffectSettings& fx_;
  const ReverbSettings& reverbs_;
  StripRunner strips_;
  MasterOutput master_;
  MixPlot* plot_;  // null unless the mix is plotted
  MixMeters meters_;
  bool masterProcessing_ = false;
  bool reverbActive_ = false;
  std::array<int, kMaxTracks + 1> wanted_{};
  std::array<bool, kMaxTracks + 1> bypass_{};
  std::array<bool, kMaxTracks + 1> delayPanned_{};
  std::array<SourceReader, kMaxTracks + 1> sources_;
  std::vector<unsigned char> raw_;
  std::array<std::vector<int>, 4> scratch_;
  std::unique_ptr<DelayPanState> delayPan_;
  Pair<std::int64_t> channel_;
  Pair<double> work_;
  Pair<std::int64_t> master_pair_;
  std::vector<Pair<std::int64_t>> buses_;
  std::vector<double> vcaGains_;
  Pair<double> recursiveSend_;
  Pair<double> tapSend_;
  Pair<std::int64_t> returns_;
  Pair<std::int64_t> spill_;
  ReverbEqState reverbEq_{};
  TapReverbState tap_{};
  std::unique_ptr<RecurseReverbState> recursive_;
  int taps_ = 1;
  std::vector<unsigned char> tapBytes_;
};

}  // namespace

MixMeters renderMix(const RenderPlan& plan, MixScript& script, const EffectSettings& effects,
                    OutputFile& output, OutputFile* tap, MixPlot* plot) {
  say("\n");
  if (plan.verbosity == 2) sayLine("Mixing...");
  auto mixer = std::make_unique<Mixer>(plan, script, effects, plot);
  return mixer->run(output, tap);
}

}  // namespace sorvan
