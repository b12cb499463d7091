// Where the mix writes its output words: a WAVE file (the canonical header,
// then the data, renamed into place only when complete), a FLAC file, or
// memory, for tests and fuzzing. The WAVE file and memory hold exactly the
// same bytes for the same words.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/buffer.h"
#include "base/output_file.h"

namespace sorvan {

// Integer PCM WAVE; IEEE 32-bit float WAVE; FLAC of the word size.
enum class SampleEncoding { kPcm, kFloat, kFlac };

struct WaveFormat {
  std::uint32_t sampleRate = 0;
  int bits = 24;            // 16 or 24: the word size (float is always 32-bit)
  int channels = 2;         // 1 or 2
  std::int64_t frames = 0;  // what the header announces
  SampleEncoding encoding = SampleEncoding::kPcm;
};

// Bytes of a float WAVE header: RIFF, an 18-byte format chunk with its
// extension size, the fact chunk that non-PCM data needs, the data chunk.
inline constexpr std::int64_t kFloatWaveHeaderBytes = 58;

class SampleSink {
 public:
  virtual ~SampleSink() = default;

  // One block of output words, each within the word range of the format;
  // `right` is not read for mono. For float the words are bus values (full
  // scale 2^31), written as value / 2^31 and not limited.
  virtual void write(const std::int64_t* left, const std::int64_t* right, long n) = 0;
};

// A sink that is a file, completed and renamed into place in two steps, so
// that several files can be completed before any replaces an earlier one.
// Failures print "Error: cannot write <path>: <reason>" and throw Fatal
// (status 3), and leave any earlier file of the name as it was.
class FileSink : public SampleSink {
 public:
  // Every write, the flush and the close, under the temporary name.
  virtual void finish() = 0;
  // Renames into place, finishing first when that has not been done.
  virtual void commit() = 0;
  virtual const std::string& path() const = 0;
};

// Creates the temporary file and writes the header.
class WaveFileSink final : public FileSink {
 public:
  WaveFileSink(const std::string& path, const WaveFormat& format, std::size_t bufferBytes);

  void write(const std::int64_t* left, const std::int64_t* right, long n) override;
  void finish() override { file_.finish(); }
  void commit() override { file_.commit(); }
  const std::string& path() const override { return file_.path(); }

 private:
  WaveFormat format_;
  OutputFile file_;
  Buffer<unsigned char> bytes_;  // one encoded block, allocated once
};

// FLAC through libsndfile, which writes into the same kind of temporary file
// and rewrites the stream header when it is closed.
class FlacFileSink final : public FileSink {
 public:
  FlacFileSink(const std::string& path, const WaveFormat& format, std::size_t bufferBytes);
  ~FlacFileSink() override;
  FlacFileSink(const FlacFileSink&) = delete;
  FlacFileSink& operator=(const FlacFileSink&) = delete;

  void write(const std::int64_t* left, const std::int64_t* right, long n) override;
  void finish() override;
  void commit() override;
  const std::string& path() const override { return file_.path(); }

 private:
  struct Library;  // the library's handle and its callbacks
  [[noreturn]] void fail();

  WaveFormat format_;
  OutputFile file_;
  std::unique_ptr<Library> library_;
  std::vector<int> frames_;  // one block, interleaved, allocated once
};

// The file sink of the format's encoding.
std::unique_ptr<FileSink> openFileSink(const std::string& path, const WaveFormat& format,
                                       std::size_t bufferBytes);

class MemorySink final : public SampleSink {
 public:
  explicit MemorySink(const WaveFormat& format);

  void write(const std::int64_t* left, const std::int64_t* right, long n) override;
  // The whole file as a WAVE file sink would have written it (FLAC is kept
  // as integer PCM WAVE).
  const std::vector<unsigned char>& bytes() const { return bytes_; }

 private:
  WaveFormat format_;
  std::vector<unsigned char> bytes_;
};

}  // namespace sorvan
