// Where the mix writes its output words: a WAVE file (the canonical header,
// then the data, renamed into place only when complete) or memory, for tests
// and fuzzing. Both hold exactly the same bytes for the same words.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/buffer.h"
#include "base/output_file.h"

namespace sorvan {

struct WaveFormat {
  std::uint32_t sampleRate = 0;
  int bits = 24;      // 16 or 24
  int channels = 2;   // 1 or 2
  std::int64_t frames = 0;  // what the header announces
};

class SampleSink {
 public:
  virtual ~SampleSink() = default;

  // One block of output words, each within the word range of the format;
  // `right` is not read for mono.
  virtual void write(const std::int64_t* left, const std::int64_t* right, long n) = 0;
};

// Creates the temporary file and writes the header; failures print
// "Error: cannot write <path>: <reason>" and throw Fatal (status 3).
class WaveFileSink final : public SampleSink {
 public:
  WaveFileSink(const std::string& path, const WaveFormat& format, std::size_t bufferBytes);

  void write(const std::int64_t* left, const std::int64_t* right, long n) override;
  // Flushes, closes and renames the file into place.
  void commit();
  const std::string& path() const { return file_.path(); }

 private:
  WaveFormat format_;
  OutputFile file_;
  Buffer<unsigned char> bytes_;  // one encoded block, allocated once
};

class MemorySink final : public SampleSink {
 public:
  explicit MemorySink(const WaveFormat& format);

  void write(const std::int64_t* left, const std::int64_t* right, long n) override;
  // The whole file as a WAVE file sink would have written it.
  const std::vector<unsigned char>& bytes() const { return bytes_; }

 private:
  WaveFormat format_;
  std::vector<unsigned char> bytes_;
};

}  // namespace sorvan
