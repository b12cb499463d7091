// The run's own findings about its inputs, added to the messages the stages
// print: each names the file and line ("faders.txt:14: ..."), says what was
// read and how to fix it. They are counted for the closing summary and for
// --strict, which stops the run before anything is written.
#pragma once

#include <string>
#include <vector>

#include "driver/session_files.h"
#include "driver/tracks.h"
#include "wave/header.h"

namespace sorvan {

class Diagnostics {
 public:
  // `show`: print the warnings about the text files (at the default
  // verbosity and above, in a check and under --strict); they are counted
  // either way.
  Diagnostics(bool show, bool strict) : show_(show), strict_(strict) {}

  // A warning about line `line` of `file` (0: the file as a whole).
  void warn(const std::string& file, int line, const std::string& text);
  // A wanted channel that plays silence: always printed.
  void silentChannel(const std::string& file, int line, const std::string& text);
  // An explanation added to a message that ends the run: always printed, not
  // counted.
  void note(const std::string& file, int line, const std::string& text);

  int warnings() const { return warnings_; }
  // Every warning and silent channel, as printed (also when not shown).
  const std::vector<std::string>& findings() const { return findings_; }
  int silentChannels() const { return silent_; }
  bool strict() const { return strict_; }

  // Under --strict, anything counted ends the run with status 2.
  void stopIfStrict() const;
  // One line counting what was found; nothing when nothing was.
  void summary() const;

 private:
  bool show_;
  bool strict_;
  int warnings_ = 0;
  int silent_ = 0;
  std::vector<std::string> findings_;
};

// `text` as one shell word.
std::string shellWord(const std::string& text);

// Says why a wanted channel plays silence, as the source stage meets each one:
// a recording that cannot be used, one with more than two channels, one
// without samples; and, when no channel is left, why the song is empty.
class SourceReport {
 public:
  // `firstLine`: the tracks file's line number of the section's first line.
  SourceReport(Diagnostics& diag, const SessionPaths& names, int firstLine, const PreScan& pre)
      : diag_(diag), names_(names), firstLine_(firstLine), pre_(pre) {}

  // `facts` describe the file at `path`, the source of `channel`, which
  // cannot be used (neither our WAVE reader nor libsndfile reads it, and the
  // former has said why; or `attributes` show more than two channels or no
  // frames).
  void unusable(const TrackList& tracks, int channel, const std::string& path,
                const WaveFacts& facts, const SourceAttributes* attributes);
  void noChannel(const TrackList& tracks);
  void rateDiffers(const TrackList& tracks, const Sources& sources, int reference, int channel);
  // With resample on: the channel's rate or the session rate is one the
  // converter does not take.
  void cannotConvert(const TrackList& tracks, const Sources& sources, int channel);

 private:
  int lineOf(const TrackList& tracks, int channel) const;

  Diagnostics& diag_;
  const SessionPaths& names_;
  int firstLine_;
  const PreScan& pre_;
  int unusable_ = 0;
};

}  // namespace sorvan
