// Integrated loudness, loudness range and true peak of the words written to
// the output, measured block by block in constant memory. The measurement is
// an independent consumer of the output: with `ownThread` it runs on a thread
// of its own, one block behind the mix, and only the hand-over of each block
// is on the mix's path.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/buffer.h"
#include "engine/gated_loudness.h"
#include "engine/true_peak.h"

namespace sorvan {

struct LoudnessResult {
  bool measured = false;  // long enough, and not silent, for an integrated loudness
  double integrated = 0;  // LUFS, when measured
  double range = 0;       // LU
  double truePeak = 0;    // linear, full scale 1.0
  double truePeakDb = 0;  // dBTP; the silence floor when the peak is 0
};

// The statistics lines: loudness and range (or "too short"), true peak.
std::string loudnessText(const LoudnessResult& result);

class LoudnessMeter {
 public:
  // channels: 1 (mono output) or 2; fullScale: the value that is 1.0 (0 dBFS).
  // Blocks of up to `blockFrames` frames are measured.
  LoudnessMeter(int channels, unsigned long sampleRate, double fullScale, long blockFrames,
                bool ownThread);
  ~LoudnessMeter();
  LoudnessMeter(const LoudnessMeter&) = delete;
  LoudnessMeter& operator=(const LoudnessMeter&) = delete;

  void addStereo(const std::int64_t* left, const std::int64_t* right, long n);
  void addMono(const std::int64_t* words, long n);

  // Waits for every block handed over so far.
  LoudnessResult result();

 private:
  // One block of interleaved frames on its way to the measurement.
  struct Slot {
    Buffer<double> frames;  // written before it is measured
    long count = 0;         // frames in it; 0 while it is free
  };

  void add(const std::int64_t* left, const std::int64_t* right, long n);
  void measure(const Slot& slot);
  void work();
  void finish();

  int channels_;
  double scale_;                        // 1 / full scale of a word
  std::optional<GatedLoudness> gated_;  // none without a rate to measure at
  TruePeakMeter truePeak_;
  Slot slots_[2];  // allocated once; the mix fills one while the other is measured
  int next_ = 0;   // the slot the mix fills next
  bool threaded_;
  bool closing_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::thread worker_;
};

}  // namespace sorvan
