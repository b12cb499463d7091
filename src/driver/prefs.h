// The preferences file: the early keywords every later stage needs (verbosity,
// directories, track-list form), and the check that settles the output, the
// render range and the output format once the song length is known.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/session.h"

namespace sorvan {

inline constexpr const char* kDefaultPreferencesText =
    "begin\npre\toff\nstart\t0\t0\t0\nlength\t0\noutbits\t24\n\nend\n";

struct PreScan {
  int verbosity = 2;
  std::optional<std::string> mixDir;
  std::optional<std::string> previewDir;
  std::optional<std::string> backupDir;
  std::optional<std::string> sourceDir;
  int trackListMode = 2;
  bool tabSeparatedTracks = false;
};

PreScan preScanPreferences(std::string_view section);

// Whether the token `keyword` stands in the section before "end".
bool hasKeyword(std::string_view section, const char* keyword);
// A field-count setting ("sfields", "xfields"): its last value when 1..3, else 3.
int fieldCount(std::string_view section, const char* keyword);

// "target": the integrated loudness the output is brought to, and the true
// peak it must stay under.
struct LoudnessTarget {
  double lufs = -14.0;
  double ceiling = -1.0;  // dBTP
};
inline constexpr double kTargetLowest = -70.0;   // LUFS: the meter's own floor
inline constexpr double kCeilingLowest = -20.0;  // dBTP

struct Preferences {
  std::string outputName;
  std::string outputPath;
  bool preview = false;
  std::int64_t renderStart = 0;
  std::int64_t renderLength = 0;
  bool percent = false;
  bool tempo = false;
  std::optional<std::string> launch;
  bool mono = false;
  double monoFactor = 1.0;
  double dbps = 0.0;
  int ditherLevel = 1;
  int ditherHalfWidth = 1;
  int ditherModulus = 3;
  int outputBits = 24;
  std::optional<std::uint32_t> seed;          // fixed dither seed ("seed")
  bool plot = false;                          // a line "plot": draw mix_<name>.svg
  int threads = 0;                            // "threads": how many the render may use; 0 all cores
  OutputFormat format = OutputFormat::kWave;  // "outformat": wav, float or flac
  bool stems = false;                         // "stems on": a file per bus beside the mix
  std::optional<LoudnessTarget> target;
  bool json = false;  // "json on": stats_<name>.json beside the statistics
};

// Everything the check needs from earlier stages.
struct SongFacts {
  std::string_view faderSection;
  double sampleRate = 44100.0;
  std::int64_t songLength = 0;
};

// Runs the preferences check with its messages; fatal range errors end the
// run with status 2. Does not write anything.
Preferences checkPreferences(std::string_view section, const PreScan& pre, const SongFacts& song);

// The fields of a "target" line (the text after the keyword): the target and
// the ceiling when both are numbers in range (the ceiling may be left out),
// else nothing.
std::optional<LoudnessTarget> parseTarget(std::string_view value);

// Tap file selection: 0 none, 1 reverb send ("rev"), 2 reverb return ("rtn").
int readTapMode(std::string_view section);

}  // namespace sorvan
