// Recordings our WAVE reader refuses, read through libsndfile: FLAC, AIFF,
// W64, CAF, Ogg Vorbis and Opus, MP3, and WAVE encodings such as 8-bit and
// 32-bit integer, 64-bit float, A-law and mu-law. They land on the channel
// scale as every source does: integer encodings by exact shifts (a 32-bit
// sample loses its low 8 bits toward zero), floating-point and lossy ones by
// the rule of 32-bit float WAVE sources.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "wave/header.h"
#include "wave/source.h"

namespace sorvan {

// Whether libsndfile reads the file; on success fills `out` (reader
// kSndfile, channels, rate, frames, bits where the encoding has them, and a
// description). Prints nothing.
bool probeSndfile(const std::string& path, SourceAttributes& out);

// libsndfile's own reason for refusing the file, for messages.
std::string sndfileRefusal(const std::string& path);

// One recording opened through libsndfile. Reads are positioned: a read that
// continues the previous one only decodes on, any other seeks first. A file
// that ends before the frame count its header gave says so once.
class SndfileSource final : public SampleSource {
 public:
  SndfileSource(std::string path, const SourceAttributes& attributes);
  ~SndfileSource() override;
  SndfileSource(const SndfileSource&) = delete;
  SndfileSource& operator=(const SndfileSource&) = delete;

  long read(std::int64_t first, long count, std::int64_t* left, std::int64_t* right) override;
  void reportShortRead() override;
  void close() override;

  // Closes a libsndfile handle (RAII for every handle we open).
  struct Closer {
    void operator()(SNDFILE* file) const;
  };

 private:
  bool seekTo(std::int64_t frame);
  long decode(long frames, std::int64_t* left, std::int64_t* right);

  std::string path_;
  std::unique_ptr<SNDFILE, Closer> file_;
  int channels_ = 0;
  bool floating_ = false;         // decoded as doubles rather than integer words
  std::int64_t position_ = 0;     // the frame the next decode delivers
  std::int64_t end_ = INT64_MAX;  // where a read came up short: nothing follows
  bool warned_ = false;
  std::vector<std::int32_t> words_;  // one chunk of interleaved frames, allocated once
  std::vector<double> values_;
};

}  // namespace sorvan
