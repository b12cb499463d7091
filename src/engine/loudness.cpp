#include "engine/loudness.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdio>

#include "base/limits.h"
#include "base/output_file.h"

namespace sorvan {

LoudnessMeter::LoudnessMeter(int channels, unsigned long sampleRate, double fullScale,
                             long blockFrames, bool ownThread)
    : channels_(channels == 1 ? 1 : 2),
      scale_(1.0 / fullScale),
      truePeak_(channels_, sampleRate),
      threaded_(ownThread) {
  // The gating data stays in fixed-size tables, so memory does not grow with
  // the song. A rate of 0 (no usable source) measures nothing.
  if (sampleRate == 0) return;
  gated_.emplace(channels_, sampleRate);
  for (Slot& slot : slots_)
    slot.frames.allocate(
        static_cast<std::size_t>(blockFrames) * static_cast<std::size_t>(channels_), false);
  if (threaded_) {
    const CleanupSignalsHeld held;  // the measuring thread never takes them
    worker_ = std::thread([this] { work(); });
  }
}

LoudnessMeter::~LoudnessMeter() { finish(); }

void LoudnessMeter::finish() {
  if (!worker_.joinable()) return;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
  worker_.join();
}

void LoudnessMeter::measure(const Slot& slot) {
  gated_->add(slot.frames.data(), static_cast<std::size_t>(slot.count));
  truePeak_.add(slot.frames.data(), slot.count);
}

// The measuring thread takes the slots in turn, as the mix fills them.
void LoudnessMeter::work() {
  for (int k = 0;; k ^= 1) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return slots_[k].count > 0 || closing_; });
    if (slots_[k].count == 0) return;  // closing, and everything is measured
    lock.unlock();
    measure(slots_[k]);
    lock.lock();
    slots_[k].count = 0;
    lock.unlock();
    changed_.notify_all();
  }
}

void LoudnessMeter::add(const std::int64_t* left, const std::int64_t* right, long n) {
  if (!gated_ || n <= 0) return;
  Slot& slot = slots_[next_];
  assert(static_cast<std::size_t>(n * channels_) <= slot.frames.size());
  if (threaded_) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return slot.count == 0; });
  }
  double* f = slot.frames.data();
  if (channels_ == 1) {
    for (long i = 0; i < n; ++i) f[i] = static_cast<double>(left[i]) * scale_;
  } else {
    for (long i = 0; i < n; ++i) {
      f[2 * i] = static_cast<double>(left[i]) * scale_;
      f[2 * i + 1] = static_cast<double>(right[i]) * scale_;
    }
  }
  if (!threaded_) {
    slot.count = n;
    measure(slot);
    slot.count = 0;
    return;
  }
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    slot.count = n;
  }
  changed_.notify_all();
  next_ ^= 1;
}

void LoudnessMeter::addStereo(const std::int64_t* left, const std::int64_t* right, long n) {
  add(left, right, n);
}
void LoudnessMeter::addMono(const std::int64_t* words, long n) { add(words, words, n); }

LoudnessResult LoudnessMeter::result() {
  finish();
  LoudnessResult r;
  double integrated = -HUGE_VAL;
  if (gated_) {
    integrated = gated_->integrated();
    r.range = gated_->range();
  }
  r.measured = std::isfinite(integrated);
  r.integrated = r.measured ? integrated : 0.0;
  for (int c = 0; gated_ && c < channels_; ++c)
    r.truePeak = std::max(r.truePeak, truePeak_.peak(c));
  r.truePeakDb = r.truePeak > 0.0 ? 20.0 * std::log10(r.truePeak) : kSilenceDb;
  return r;
}

std::string loudnessText(const LoudnessResult& r) {
  char line[160];
  std::string text;
  if (!r.measured) {
    text += "Loudness: too short to measure\n";
  } else {
    std::snprintf(line, sizeof line, "Loudness: %.1f LUFS integrated, range %.1f LU\n",
                  r.integrated, r.range);
    text += line;
  }
  std::snprintf(line, sizeof line, "True peak: %.1f dBTP\n", r.truePeakDb);
  return text + line;
}

}  // namespace sorvan
