#include "engine/mixer.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "base/limits.h"
#include "base/messages.h"
#include "engine/master.h"
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

  void open(const std::string& path) {
    path_ = path;
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  }

  // Reads up to `bytes` at `offset`; returns how many bytes arrived.
  std::size_t readAt(unsigned char* into, std::size_t bytes, std::int64_t offset) {
    if (fd_ < 0) return 0;
    std::size_t done = 0;
    while (done < bytes) {
      const ssize_t got = ::pread(fd_, into + done, bytes - done, offset + static_cast<off_t>(done));
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

// A stereo pair of one block.
template <typename T>
struct Pair {
  std::vector<T> left, right;
  Pair() : left(kBlockFrames), right(kBlockFrames) {}
};

class Mixer {
 public:
  Mixer(const RenderPlan& plan, MixScript& script)
      : plan_(plan), script_(script), master_(plan), buses_(kBusCount) {
    raw_.resize(static_cast<std::size_t>(kBlockFrames) * 8);
    if (script_.routing.anyVcaActive)
      vcaGains_.assign(static_cast<std::size_t>(kVcaSlots) * kBlockFrames, 1.0);
    for (int ch = 1; ch <= plan_.trackCount; ++ch) {
      wanted_[ch] = plan_.channels[ch].wanted ? 1 : 0;
      if (wanted_[ch]) sources_[ch].open(plan_.channels[ch].path);
    }
  }

  MixMeters run(OutputFile& output) {
    const std::int64_t end = addSaturating(plan_.renderStart, plan_.renderLength);
    Progress progress(plan_);
    for (std::int64_t pos = plan_.renderStart; pos < end;) {
      const long n = static_cast<long>(std::min<std::int64_t>(end - pos, kBlockFrames));
      mixBlock(pos, n, output);
      progress.after(pos);
      pos += n;
    }
    for (auto& source : sources_) source.close();
    meters_.output = master_.meters();
    return meters_;
  }

 private:
  struct Progress {
    explicit Progress(const RenderPlan& plan)
        : m1(plan.renderStart + plan.renderLength / 4),
          m2(plan.renderStart + plan.renderLength / 2),
          m3(plan.renderStart + (3 * plan.renderLength) / 4),
          enabled(plan.verbosity == 2) {}
    void after(std::int64_t pos) {
      if (!enabled) return;
      if (m1 < pos && pos < m2 && flag == 1) {
        sayLine("1/4 done");
        sayFlush();
        flag = 0;
      } else if (m2 < pos && pos < m3 && flag == 0) {
        sayLine("1/2 done");
        sayFlush();
        flag = 1;
      } else if (pos > m3 && flag == 1) {
        sayLine("3/4 done");
        sayFlush();
        flag = 0;
      }
    }
    std::int64_t m1, m2, m3;
    bool enabled;
    int flag = 1;
  };

  void mixBlock(std::int64_t pos, long n, OutputFile& output) {
    const auto count = static_cast<std::size_t>(n);
    std::fill_n(master_pair_.left.begin(), count, 0);
    std::fill_n(master_pair_.right.begin(), count, 0);
    for (int b = 0; b < kBusCount; ++b) {
      if (!script_.routing.busActive[b]) continue;
      std::fill_n(buses_[b].left.begin(), count, 0);
      std::fill_n(buses_[b].right.begin(), count, 0);
    }
    const double* vcaGains = vcaGains_.empty() ? nullptr : vcaGains_.data();
    for (int v = 1; v < kVcaSlots; ++v) {
      if (script_.routing.vcaActive[v])
        FillVCA(pos, n, v, script_, vcaGains_.data() + static_cast<std::size_t>(v) * kBlockFrames);
    }

    for (int ch = 1; ch <= plan_.trackCount; ++ch) {
      if (!wanted_[ch] || plan_.channels[ch].start >= pos + n) continue;
      readChannel(ch, pos, n);
      // The channel strip joins here.
      AUTOMATE(pos, n, ch, script_, channel_.left.data(), channel_.right.data(), kChannelDivisor,
               vcaGains);
      meterPeaks(ch, channel_.left.data(), channel_.right.data(), n);
      for (int b = 0; b < kBusCount; ++b) {
        if (script_.routing.matrix[ch][b] && script_.routing.busActive[b])
          addInto(buses_[b], channel_, n);
      }
      // Channel reverb sends join here.
    }

    for (int k = 1; k <= kSubmixCount; ++k) {
      if (script_.submixVolume[k] && script_.routing.busActive[k])
        AUTOMATE(pos, n, kSubmixBase + k, script_, buses_[k].left.data(), buses_[k].right.data(),
                 kBusDivisor, vcaGains);
    }
    // Submix strips join here.
    for (int b = 0; b < kBusCount; ++b) {
      if (!script_.routing.busActive[b]) continue;
      addInto(master_pair_, buses_[b], n);
      if (b >= 1) meterPeaks(kSubmixBase + b, buses_[b].left.data(), buses_[b].right.data(), n);
    }
    // Reverbs join here.

    if (script_.masterVolume)
      AUTOMATE(pos, n, 0, script_, master_pair_.left.data(), master_pair_.right.data(),
               kBusDivisor, vcaGains);
    // Master processing joins here.
    const auto& bytes =
        master_.encodeBlock(master_pair_.left.data(), master_pair_.right.data(), pos, n);
    output.write(bytes.data(), bytes.size());
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
    if (wantedFrames > 0 && (c.channels == 1 || c.channels == 2)) {
      const std::size_t bytes = static_cast<std::size_t>(wantedFrames) * frameBytes;
      const std::size_t arrived =
          sources_[ch].readAt(raw_.data(), bytes, c.dataOffset + firstFrame * frameBytes);
      got = static_cast<long>(arrived / static_cast<std::size_t>(frameBytes));
      if (got < wantedFrames) sources_[ch].warnShort();
      if (c.channels == 2) {
        decodeStereo(raw_.data(), c.bytesPerSample, left + k, right + k, got);
      } else {
        decodeMono(raw_.data(), c.bytesPerSample, left + k, got);
        std::copy_n(left + k, got, right + k);
      }
    }
    std::fill(left, left + k, 0);
    std::fill(right, right + k, 0);
    std::fill(left + k + got, left + n, 0);
    std::fill(right + k + got, right + n, 0);
    if (pos + n > addSaturating(c.start, c.length)) wanted_[ch] = 0;
  }

  template <typename T>
  static void addInto(Pair<std::int64_t>& into, const Pair<T>& from, long n) {
    std::int64_t* l = into.left.data();
    std::int64_t* r = into.right.data();
    const T* fl = from.left.data();
    const T* fr = from.right.data();
    for (long i = 0; i < n; ++i) {
      l[i] += fl[i];
      r[i] += fr[i];
    }
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

  const RenderPlan& plan_;
  MixScript& script_;
  MasterOutput master_;
  MixMeters meters_;
  std::array<int, kMaxTracks + 1> wanted_{};
  std::array<SourceReader, kMaxTracks + 1> sources_;
  std::vector<unsigned char> raw_;
  Pair<std::int64_t> channel_;
  Pair<std::int64_t> master_pair_;
  std::vector<Pair<std::int64_t>> buses_;
  std::vector<double> vcaGains_;
};

}  // namespace

MixMeters renderMix(const RenderPlan& plan, MixScript& script, OutputFile& output,
                    OutputFile* /*tap*/) {
  auto mixer = std::make_unique<Mixer>(plan, script);
  return mixer->run(output);
}

}  // namespace sorvan
