// Where the mix reads its channels from: a source gives frames of one
// recording as channel-scale integers (full scale 2^23). The WAVE file source
// reads and decodes a file block by block; the memory source serves samples
// held in memory, for tests and fuzzing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/buffer.h"
#include "wave/header.h"

namespace sorvan {

class SampleSource {
 public:
  virtual ~SampleSource() = default;

  // Frames first .. first+count-1. A stereo source fills left and right; a
  // mono source fills left, and right with the same samples when it is given.
  // Returns the frames delivered: fewer only where the recording ends early.
  // Safe to call from any one thread at a time.
  virtual long read(std::int64_t first, long count, std::int64_t* left, std::int64_t* right) = 0;

  // Says (once) that a read delivered fewer frames than asked for. Reads do
  // not print, so that the mix can say it in channel order.
  virtual void reportShortRead() {}

  // Lets go of the recording after the mix; a failing close says so.
  virtual void close() {}
};

// A WAVE recording whose header has been read, with one positioned read per
// stretch of frames. A file that vanished or was replaced by something other
// than a regular file since its header was read gives silence; a file that
// holds fewer frames than its header promised says so.
class WaveFileSource final : public SampleSource {
 public:
  WaveFileSource(std::string path, const SourceAttributes& attributes);
  ~WaveFileSource() override;
  WaveFileSource(const WaveFileSource&) = delete;
  WaveFileSource& operator=(const WaveFileSource&) = delete;

  long read(std::int64_t first, long count, std::int64_t* left, std::int64_t* right) override;
  void reportShortRead() override;

  // Closes the file; a failing close says so and the run goes on.
  void close() override;

 private:
  std::size_t readAt(unsigned char* into, std::size_t bytes, std::int64_t offset);

  std::string path_;
  int fd_ = -1;
  int channels_;
  int bytesPerSample_;
  std::int64_t dataOffset_;
  bool warned_ = false;
  Buffer<unsigned char> chunk_;  // raw bytes of one stretch, allocated once
};

// Interleaved channel-scale samples in memory (left first for stereo).
class MemorySource final : public SampleSource {
 public:
  MemorySource(int channels, std::vector<std::int64_t> interleaved);

  long read(std::int64_t first, long count, std::int64_t* left, std::int64_t* right) override;
  std::int64_t frames() const;

 private:
  int channels_;
  std::vector<std::int64_t> samples_;
};

}  // namespace sorvan
