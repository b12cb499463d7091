#include "driver/session_files.h"

#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "base/fatal.h"
#include "base/limits.h"
#include "base/messages.h"
#include "base/numeric.h"
#include "base/output_file.h"
#include "driver/tracks.h"
#include "driver/version.h"

namespace sorvan {
namespace {

bool pathExists(const char* path) {
  struct stat info {};
  return ::lstat(path, &info) == 0;
}

// Creates a default file under its fixed name unless a file of that name
// exists already; either way the run goes on with `text`. A check only says
// so. Returns whether the file was written.
bool createDefaultFile(const char* name, const std::string& text, bool check) {
  if (check) {
    say("Check: would create %s with default settings.\n", name);
    return false;
  }
  if (pathExists(name)) {
    say("%s already exists and was left unchanged; using the default text for this run.\n", name);
    return false;
  }
  writeWholeFile(name, text);
  return true;
}

TextFile loadPreferences(const std::string& path, bool check) {
  if (auto file = loadTextFile(path)) return std::move(*file);
  say("\nWarning: prefs.txt file was not found...");
  if (check || pathExists("prefs.txt")) say("\n");
  if (createDefaultFile("prefs.txt", kDefaultPreferencesText, check))
    sayLine("...created one for you.");
  return makeTextFile(kDefaultPreferencesText);
}

TextFile loadTracks(const std::string& path) {
  if (auto file = loadTextFile(path)) return std::move(*file);
  sayLine("tracks.txt file was not found.");
  sayLine("Create the file and run again.");
  sayLine("Exiting...");
  throw Fatal(exit_status::kConfig);
}

// The answer to the default-level question: the first word of standard input,
// which must be a number as the fader file itself writes numbers.
bool readDefaultLevel(double& level) {
  char word[64];
  if (std::scanf("%63s", word) != 1) return false;
  return parseReal(word, level);
}

std::string defaultFaderText(int trackCount, double level) {
  std::string text = "begin\ntest_mix\n\nt\t0\t0\t0\n";
  const int channels = trackCount < kMaxTracks ? trackCount : kMaxTracks;
  for (int ch = 1; ch <= channels; ++ch) {
    char line[400];
    std::snprintf(line, sizeof line, "v\t%i\t%.1f\n", ch, level);
    text += line;
  }
  return text + "end\n";
}

TextFile loadFaders(const std::string& path, int trackCount, bool check) {
  if (auto file = loadTextFile(path)) return std::move(*file);
  sayLine("faders.txt file was not found");
  if (check) {
    // A check asks nothing: it goes on as if 0 dB had been entered.
    const std::string text = defaultFaderText(trackCount, 0.0);
    createDefaultFile("faders.txt", text, check);
    return makeTextFile(text);
  }
  sayLine("Enter the default fader value or -999 to exit.");
  sayFlush();
  double level = 0.0;
  if (!readDefaultLevel(level)) {
    sayLine("No default fader value was given.");
    throw Fatal(exit_status::kUser);
  }
  if (level == -999.0) throw Fatal(exit_status::kUser);
  const std::string text = defaultFaderText(trackCount, level);
  createDefaultFile("faders.txt", text, check);
  return makeTextFile(text);
}

}  // namespace

SessionFiles loadSessionFiles(const SessionPaths& paths, bool check) {
  SessionFiles files;
  files.prefs = loadPreferences(paths.prefs, check);
  warnPreferencesLines(files.prefs);
  files.pre = preScanPreferences(files.prefs.section());
  const int verbosity = files.pre.verbosity;
  if (verbosity == 2) say("%s", kBanner);

  files.tracks = loadTracks(paths.tracks);
  if (verbosity > 1) warnTracksLines(files.tracks, files.pre.tabSeparatedTracks);
  files.trackCount = countTracks(files.tracks.section());
  if (verbosity == 2) {
    if (files.trackCount == 1) {
      sayLine("Counted 1 track");
    } else {
      say("Counted %i tracks\n", files.trackCount);
    }
  }

  files.faders = loadFaders(paths.faders, files.trackCount, check);
  if (verbosity > 1) warnFaderLines(files.faders);
  files.fadersAsWritten = files.faders;
  removeSectionSpaces(files.faders);
  return files;
}

}  // namespace sorvan
