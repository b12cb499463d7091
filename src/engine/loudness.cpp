#include "engine/loudness.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <ebur128.h>

#include "base/limits.h"

namespace sorvan {

struct LoudnessMeter::Library {
  ebur128_state* state = nullptr;
  ~Library() {
    if (state) ebur128_destroy(&state);
  }
};

LoudnessMeter::LoudnessMeter(int channels, unsigned long sampleRate, int bits)
    : channels_(channels == 1 ? 1 : 2),
      scale_(bits == 16 ? 1.0 / 32768.0 : 1.0 / 8388608.0),
      frames_(static_cast<std::size_t>(kBlockFrames) * (channels == 1 ? 1 : 2)),
      library_(std::make_unique<Library>()) {
  // Histogram mode keeps the gating data in fixed-size tables, so memory does
  // not grow with the song. A rate of 0 (no usable source) measures nothing.
  if (sampleRate > 0)
    library_->state = ebur128_init(static_cast<unsigned>(channels_), sampleRate,
                          EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_TRUE_PEAK |
                              EBUR128_MODE_HISTOGRAM);
}

LoudnessMeter::~LoudnessMeter() = default;

void LoudnessMeter::add(const std::int64_t* left, const std::int64_t* right, long n) {
  if (!library_->state || n <= 0) return;
  double* f = frames_.data();
  if (channels_ == 1) {
    for (long i = 0; i < n; ++i) f[i] = static_cast<double>(left[i]) * scale_;
  } else {
    for (long i = 0; i < n; ++i) {
      f[2 * i] = static_cast<double>(left[i]) * scale_;
      f[2 * i + 1] = static_cast<double>(right[i]) * scale_;
    }
  }
  ebur128_add_frames_double(library_->state, f, static_cast<std::size_t>(n));
}

void LoudnessMeter::addStereo(const std::int64_t* left, const std::int64_t* right, long n) {
  add(left, right, n);
}
void LoudnessMeter::addMono(const std::int64_t* words, long n) { add(words, words, n); }

std::string LoudnessMeter::report() const {
  char line[160];
  std::string text;
  double integrated = -HUGE_VAL;
  double range = 0.0;
  if (library_->state) {
    ebur128_loudness_global(library_->state, &integrated);
    ebur128_loudness_range(library_->state, &range);
  }
  if (!std::isfinite(integrated)) {
    text += "Loudness: too short to measure\n";
  } else {
    std::snprintf(line, sizeof line, "Loudness: %.1f LUFS integrated, range %.1f LU\n", integrated,
                  range);
    text += line;
  }
  double peak = 0.0;
  for (int c = 0; library_->state && c < channels_; ++c) {
    double p = 0.0;
    if (ebur128_true_peak(library_->state, static_cast<unsigned>(c), &p) == EBUR128_SUCCESS)
      peak = std::max(peak, p);
  }
  const double dbtp = peak > 0.0 ? 20.0 * std::log10(peak) : kSilenceDb;
  std::snprintf(line, sizeof line, "True peak: %.1f dBTP\n", dbtp);
  return text + line;
}

}  // namespace sorvan
