// GET_ATTRIBUTES on arbitrary file contents: whatever the bytes, the reader
// either rejects the source with a message or returns attributes the mix can
// use safely (a known sample size, at least one channel, and no more frames
// than the file holds past the data offset).
#include <cstddef>
#include <cstdint>

#include "base/messages.h"
#include "fuzz_support.h"
#include "wave/header.h"

namespace {

sorvan::fuzz::ScratchFolder& folder() {
  static sorvan::fuzz::ScratchFolder f;
  return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sorvan;
  const std::string path = folder().path("source.wav");
  folder().write("source.wav", data, size);

  SourceAttributes sentinel;
  sentinel.channels = -7;
  sentinel.dataOffset = -7;
  sentinel.frames = -7;
  SourceAttributes a = sentinel;
  MessageCapture cap;
  const bool usable = GET_ATTRIBUTES(path, a);

  if (!usable) {
    // Rejected: said why, and left the caller's attributes alone.
    FUZZ_CHECK(!cap.text().empty());
    FUZZ_CHECK(a.channels == sentinel.channels && a.dataOffset == sentinel.dataOffset &&
               a.frames == sentinel.frames);
    return 0;
  }
  FUZZ_CHECK(a.bytesPerSample == 2 || a.bytesPerSample == 3 || a.bytesPerSample == 4);
  FUZZ_CHECK(a.bits == 8 * a.bytesPerSample);
  FUZZ_CHECK(a.channels >= 1 && a.channels <= 65535);
  // "data" is searched at positions 2 .. 131072; samples start 8 bytes later.
  FUZZ_CHECK(a.dataOffset >= 10 && a.dataOffset <= 131080);
  FUZZ_CHECK(a.frames >= 0);
  const std::int64_t fileSize = static_cast<std::int64_t>(size);
  const std::int64_t room = fileSize > a.dataOffset ? fileSize - a.dataOffset : 0;
  FUZZ_CHECK(a.frames * a.bytesPerSample * a.channels <= room);
  return 0;
}
