// The track list in its three modes (space- and tab-separated) and the time
// stamps of the fader file, on arbitrary text. The channel tables must come
// out consistent: one name per counted track, flags only for channels
// 1..count, solo replacing the plain marks.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/messages.h"
#include "driver/text_file.h"
#include "driver/tracks.h"
#include "fuzz_support.h"

namespace {

void checkTrackList(const sorvan::TrackList& list, int count, int mode) {
  FUZZ_CHECK(list.count == count);
  FUZZ_CHECK(static_cast<int>(list.names.size()) == count);
  FUZZ_CHECK(list.wanted[0] == 0 && list.solo[0] == 0);
  bool anySolo = false;
  for (int ch = 1; ch <= sorvan::kMaxTracks; ++ch) {
    FUZZ_CHECK(list.wanted[ch] == 0 || list.wanted[ch] == 1);
    FUZZ_CHECK(list.solo[ch] == 0 || list.solo[ch] == 1);
    if (ch > count) FUZZ_CHECK(list.wanted[ch] == 0 && list.solo[ch] == 0);
    if (mode == 0 && ch <= count) FUZZ_CHECK(list.wanted[ch] == 1);
    anySolo = anySolo || list.solo[ch];
  }
  if (anySolo) FUZZ_CHECK(list.wanted == list.solo);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sorvan;
  const std::string text(reinterpret_cast<const char*>(data), size);
  MessageCapture cap;

  const TextFile tracks = makeTextFile(text);
  const int count = countTracks(tracks.section());
  FUZZ_CHECK(count >= 1 && count <= kMaxTracks);
  for (bool tab : {false, true}) {
    warnTracksLines(tracks, tab);
    for (int mode : {0, 1, 2})
      checkTrackList(readTrackList(tracks.section(), count, mode, tab), count, mode);
  }

  // The same bytes as a fader file, prepared as the run prepares it.
  TextFile faders = makeTextFile(text);
  removeSectionSpaces(faders);
  std::array<std::int64_t, kMaxTracks + 1> offsets;
  offsets.fill(-1);
  readTimeStamps(faders.section(), 44100.0, offsets);
  FUZZ_CHECK(offsets[0] == 0);
  return 0;
}
