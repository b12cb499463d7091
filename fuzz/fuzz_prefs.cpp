// The preferences pre-scan and check on arbitrary text, for a ten-second song
// at 48 kHz. Either the check ends in its configuration error (status 2, with
// a message), or the settings it returns are ones the render can use.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/fatal.h"
#include "base/messages.h"
#include "driver/prefs.h"
#include "driver/text_file.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sorvan;
  const TextFile file = makeTextFile(std::string(reinterpret_cast<const char*>(data), size));
  const std::string_view section = file.section();
  MessageCapture cap;
  warnPreferencesLines(file);
  const PreScan pre = preScanPreferences(section);
  FUZZ_CHECK(pre.trackListMode >= 0 && pre.trackListMode <= 2);
  const int tap = readTapMode(section);
  FUZZ_CHECK(tap >= 0 && tap <= 2);

  SongFacts song;
  song.faderSection = "\nsong\nt\t0\t0\t0\nend\n";
  song.sampleRate = 48000.0;
  song.songLength = 480000;
  Preferences p;
  try {
    p = checkPreferences(section, pre, song);
  } catch (const Fatal& fatal) {
    FUZZ_CHECK(fatal.status == exit_status::kConfig);
    FUZZ_CHECK(cap.text().find("Error") != std::string::npos ||
               cap.text().find("Head or tail") != std::string::npos);
    return 0;
  }
  FUZZ_CHECK(p.renderStart >= 0 && p.renderLength >= 0);
  if (p.preview) {
    FUZZ_CHECK(p.renderStart <= song.songLength);
  } else {
    FUZZ_CHECK(p.renderStart < song.songLength);
  }
  FUZZ_CHECK(p.outputBits == 16 || p.outputBits == 24);
  FUZZ_CHECK(p.ditherLevel >= 0 && p.ditherLevel <= 8);
  if (p.ditherLevel == 0) {
    FUZZ_CHECK(p.ditherHalfWidth == 0 && p.ditherModulus == 0);
  } else {
    FUZZ_CHECK(p.ditherHalfWidth == 1 << (p.ditherLevel - 1));
    FUZZ_CHECK(p.ditherModulus == (1 << p.ditherLevel) + 1);
  }
  if (p.mono) {
    FUZZ_CHECK(p.monoFactor >= 0.125 && p.monoFactor <= 1.0);
  } else {
    FUZZ_CHECK(p.monoFactor == 1.0);
  }
  FUZZ_CHECK(p.outputPath.size() >= 4 &&
             p.outputPath.compare(p.outputPath.size() - 4, 4, ".wav") == 0);
  return 0;
}
