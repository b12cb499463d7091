// Integrated loudness and loudness range of a stream of frames, with the
// loudness library's own arithmetic: the same K-weighting filter, the same
// 400 ms and 3 s block energies summed in the same order, and the same
// histograms of block energies, so both agree to the bit. The library works
// one channel after the other, each sample waiting for the one before; here
// the two channels of a stereo stream run side by side in one register, and
// the state can be used for one stream only (no reset, as in the library).
#pragma once

#include <array>
#include <cstddef>

#include "base/buffer.h"

namespace sorvan {

class GatedLoudness {
 public:
  // channels: 1 or 2; sampleRate > 0.
  GatedLoudness(int channels, unsigned long sampleRate);

  // Interleaved frames, full scale 1.0.
  void add(const double* frames, std::size_t n);
  // LUFS; -HUGE_VAL when no block passed the gates.
  double integrated() const;
  // LU; 0 when too short.
  double range() const;
  // The loudness of the last 400 ms and of the last 3 s, in LUFS.
  double momentary() const { return loudnessOfBlock(hop_ * 4); }
  double shortTerm() const { return loudnessOfBlock(hop_ * 30); }

 private:
  static constexpr int kBins = 1000;

  void filter(const double* frames, std::size_t n);
  double blockEnergy(std::size_t blockFrames) const;
  double loudnessOfBlock(std::size_t blockFrames) const;

  int channels_;
  double a_[5]{}, b_[5]{};  // the filter, both stages in one
  double v_[2][5]{};        // its memory, by channel
  Buffer<double> window_;   // the last 3 s of filtered frames, a ring
  std::size_t windowFrames_ = 0;
  std::size_t at_ = 0;      // where the next frame goes in the ring, in samples
  std::size_t hop_ = 0;     // frames in 100 ms
  std::size_t needed_ = 0;  // frames until the next 400 ms block ends
  std::size_t shortTermFrames_ = 0;
  std::array<unsigned long, kBins> blocks_{};     // 400 ms block energies
  std::array<unsigned long, kBins> shortTerm_{};  // 3 s block energies
};

}  // namespace sorvan
