#include "wave/sndfile_source.h"

#include <sys/stat.h>

#include <algorithm>

#include "base/messages.h"
#include "wave/samples.h"

namespace sorvan {
namespace {

// Frames decoded per library call: the buffers stay small while the calls
// cost little.
constexpr long kChunkFrames = 4096;

// Only a regular file can be a recording (a FIFO or a device would block or
// never end), as for WAVE files.
bool isRegularFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

using File = std::unique_ptr<SNDFILE, SndfileSource::Closer>;

File openFile(const std::string& path, SF_INFO& info) {
  info = SF_INFO{};
  if (!isRegularFile(path)) return nullptr;
  return File(sf_open(path.c_str(), SFM_READ, &info));
}

// Encodings that decode to floating-point values; every other one decodes
// to integer words.
bool decodesAsFloat(int format) {
  switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
    case SF_FORMAT_VORBIS:
    case SF_FORMAT_OPUS:
    case SF_FORMAT_MPEG_LAYER_I:
    case SF_FORMAT_MPEG_LAYER_II:
    case SF_FORMAT_MPEG_LAYER_III:
      return true;
    default:
      return false;
  }
}

int bitsOf(int format) {
  switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW:
      return 8;
    case SF_FORMAT_PCM_16:
      return 16;
    case SF_FORMAT_PCM_24:
      return 24;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
      return 32;
    case SF_FORMAT_DOUBLE:
      return 64;
    default:
      return 0;
  }
}

std::string libraryName(int format, int command) {
  SF_FORMAT_INFO info{};
  info.format = format;
  if (sf_command(nullptr, command, &info, sizeof info) != 0 || !info.name) return "";
  return info.name;
}

std::string containerName(int format) {
  switch (format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX:
      return "a WAVE file";
    case SF_FORMAT_RF64:
      return "an RF64 file";
    case SF_FORMAT_AIFF:
      return "an AIFF file";
    case SF_FORMAT_W64:
      return "a W64 file";
    case SF_FORMAT_CAF:
      return "a CAF file";
    case SF_FORMAT_FLAC:
      return "a FLAC file";
    case SF_FORMAT_OGG:
      return "an Ogg file";
    case SF_FORMAT_MPEG:
      return "an MPEG audio file";
    default: {
      const std::string name = libraryName(format & SF_FORMAT_TYPEMASK, SFC_GET_FORMAT_INFO);
      return "a file of the kind " + (name.empty() ? std::string("unknown") : name);
    }
  }
}

std::string encodingName(int format) {
  const int bits = bitsOf(format);
  switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32:
      return std::to_string(bits) + "-bit integer PCM";
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
      return std::to_string(bits) + "-bit floating point";
    case SF_FORMAT_ULAW:
      return "mu-law";
    case SF_FORMAT_ALAW:
      return "A-law";
    default: {
      const std::string name = libraryName(format & SF_FORMAT_SUBMASK, SFC_GET_FORMAT_INFO);
      return name.empty() ? "an unnamed encoding" : name;
    }
  }
}

}  // namespace

bool probeSndfile(const std::string& path, SourceAttributes& out) {
  SF_INFO info;
  const File file = openFile(path, info);
  if (!file) return false;
  SourceAttributes a;
  a.reader = SourceReader::kSndfile;
  a.channels = info.channels;
  a.sampleRate = static_cast<std::uint32_t>(std::max(info.samplerate, 0));
  // A stream of unknown length reports the largest count; it cannot be
  // placed in a song.
  a.frames = info.frames > 0 && info.frames < SF_COUNT_MAX ? info.frames : 0;
  a.bits = bitsOf(info.format);
  a.description = containerName(info.format) + " of " + encodingName(info.format);
  out = a;
  return true;
}

std::string sndfileRefusal(const std::string& path) {
  if (!isRegularFile(path)) return "not a regular file";
  SF_INFO info;
  const File file = openFile(path, info);
  return file ? "" : sf_strerror(nullptr);
}

void SndfileSource::Closer::operator()(SNDFILE* file) const { sf_close(file); }

SndfileSource::SndfileSource(std::string path, const SourceAttributes& attributes)
    : path_(std::move(path)), channels_(attributes.channels) {
  SF_INFO info;
  File file = openFile(path_, info);
  // The file must still be the one whose header was read.
  if (!file || info.channels != channels_ || channels_ < 1 || channels_ > 2) return;
  file_.reset(file.release());
  floating_ = decodesAsFloat(info.format);
  const auto samples = static_cast<std::size_t>(kChunkFrames) * static_cast<std::size_t>(channels_);
  if (floating_) {
    values_.resize(samples);
  } else {
    words_.resize(samples);
  }
}

SndfileSource::~SndfileSource() = default;

void SndfileSource::close() {
  if (file_ && sf_close(file_.release()) != 0) sayLine("Error closing audio file");
}

bool SndfileSource::seekTo(std::int64_t frame) {
  if (sf_seek(file_.get(), frame, SEEK_SET) == frame) {
    position_ = frame;
    return true;
  }
  // Some streams cannot seek; forward they can still decode and drop.
  if (frame < position_) return false;
  while (position_ < frame) {
    const long want = static_cast<long>(std::min<std::int64_t>(frame - position_, kChunkFrames));
    const sf_count_t got = floating_ ? sf_readf_double(file_.get(), values_.data(), want)
                                     : sf_readf_int(file_.get(), words_.data(), want);
    if (got <= 0) return false;
    position_ += got;
  }
  return true;
}

namespace {

// Interleaved frames to the left and right arrays (a mono file fills both
// when right is given).
template <typename Sample, std::int64_t (*Convert)(Sample)>
void spread(const Sample* from, int channels, long frames, std::int64_t* left,
            std::int64_t* right) {
  if (channels == 2) {
    for (long i = 0; i < frames; ++i) {
      left[i] = Convert(from[2 * i]);
      if (right) right[i] = Convert(from[2 * i + 1]);
    }
    return;
  }
  for (long i = 0; i < frames; ++i) left[i] = Convert(from[i]);
  if (right) std::copy_n(left, frames, right);
}

}  // namespace

long SndfileSource::decode(long frames, std::int64_t* left, std::int64_t* right) {
  const sf_count_t result = floating_ ? sf_readf_double(file_.get(), values_.data(), frames)
                                      : sf_readf_int(file_.get(), words_.data(), frames);
  const long got = result > 0 ? static_cast<long>(std::min<sf_count_t>(result, frames)) : 0;
  if (floating_) {
    spread<double, channelFromDouble>(values_.data(), channels_, got, left, right);
  } else {
    spread<std::int32_t, channelFromWord>(words_.data(), channels_, got, left, right);
  }
  return got;
}

long SndfileSource::read(std::int64_t first, long count, std::int64_t* left, std::int64_t* right) {
  if (!file_ || count <= 0 || first < 0 || first >= end_) return 0;
  if (first != position_ && !seekTo(first)) {
    end_ = first;
    return 0;
  }
  long done = 0;
  while (done < count) {
    const long want = std::min(count - done, kChunkFrames);
    const long got = decode(want, left + done, right ? right + done : nullptr);
    done += got;
    position_ += got;
    if (got < want) {
      end_ = position_;
      break;
    }
  }
  return done;
}

void SndfileSource::reportShortRead() {
  if (warned_) return;
  warned_ = true;
  say(">> Warning: %s holds fewer frames than its header said; the missing frames are silent.\n",
      path_.c_str());
}

}  // namespace sorvan
