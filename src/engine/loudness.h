// Integrated loudness, loudness range and true peak of the words written to
// the output, measured block by block in constant memory.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sorvan {

class LoudnessMeter {
 public:
  // channels: 1 (mono output) or 2; bits: 16 or 24 (the word scale).
  LoudnessMeter(int channels, unsigned long sampleRate, int bits);
  ~LoudnessMeter();
  LoudnessMeter(const LoudnessMeter&) = delete;
  LoudnessMeter& operator=(const LoudnessMeter&) = delete;

  void addStereo(const std::int64_t* left, const std::int64_t* right, long n);
  void addMono(const std::int64_t* words, long n);

  // The statistics lines: loudness and range (or "too short"), true peak.
  std::string report() const;

 private:
  void add(const std::int64_t* left, const std::int64_t* right, long n);

  struct Library;  // the measurement state of the library
  int channels_;
  double scale_;                 // 1 / full scale of a word
  std::vector<double> frames_;   // interleaved block, allocated once
  std::unique_ptr<Library> library_;
};

}  // namespace sorvan
