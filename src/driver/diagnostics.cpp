#include "driver/diagnostics.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "base/fatal.h"
#include "base/messages.h"
#include "textcfg/line_check.h"
#include "wave/resampled_source.h"
#include "wave/sndfile_source.h"

namespace sorvan {
namespace {

std::string placed(const std::string& file, int line, const std::string& text) {
  return line > 0 ? file + ":" + std::to_string(line) + ": " + text : file + ": " + text;
}

void printAt(const std::string& file, int line, const std::string& text) {
  say("%s\n", placed(file, line, text).c_str());
}

std::string counted(int n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

bool exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

bool isFolder(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool startsWith(const std::string& text, std::string_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// What a file that is not a WAVE file is, from its first bytes.
std::string otherFormat(const std::string& b) {
  if (startsWith(b, "fLaC")) return "a FLAC file";
  if (startsWith(b, "ID3") || (b.size() > 1 && static_cast<unsigned char>(b[0]) == 0xFF &&
                               (static_cast<unsigned char>(b[1]) & 0xE0) == 0xE0))
    return "an MP3 file";
  if (startsWith(b, "FORM") && b.size() >= 12 &&
      (b.substr(8, 4) == "AIFF" || b.substr(8, 4) == "AIFC"))
    return "an AIFF file";
  if (startsWith(b, "OggS")) return "an Ogg file";
  if (startsWith(b, "RF64")) return "an RF64 file (a WAVE file for more than 4 GB)";
  if (startsWith(b, "caff")) return "a CAF file";
  if (startsWith(b, "RIFF")) return "a RIFF file of another kind";
  return "";
}

std::string formatName(const WaveFacts& f) {
  auto name = [](int tag) -> std::string {
    switch (tag) {
      case 1:
        return "integer PCM";
      case 2:
        return "ADPCM";
      case 3:
        return "floating point";
      case 6:
        return "A-law";
      case 7:
        return "mu-law";
      case 0x11:
        return "IMA ADPCM";
      case 0x55:
        return "MP3";
      default:
        return "format tag " + std::to_string(tag);
    }
  };
  if (f.formatTag == 0xFFFE) return name(f.subFormat) + " (extensible header)";
  return name(f.formatTag);
}

// The name a converted copy gets: the same name with .wav, or with a suffix
// when it is a .wav already.
std::string convertedName(const std::string& name, const std::string& suffix) {
  const std::size_t slash = name.rfind('/');
  const std::size_t dot = name.rfind('.');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  const std::string stem = hasExtension ? name.substr(0, dot) : name;
  const std::string extension = hasExtension ? name.substr(dot) : "";
  if (extension == ".wav" || extension == ".WAV") return stem + suffix + ".wav";
  return stem + ".wav";
}

// "convert it with: sox IN [-b 24] OUT [remix 1 2]", and the name to put in
// the tracks file when it changes.
std::string soxFix(const std::string& path, const std::string& name, bool bits, bool remix,
                   const std::string& tracksName) {
  const std::string suffix = remix ? "-stereo" : "-24bit";
  const std::string out = convertedName(path, suffix);
  std::string text = std::string(bits ? "convert it with" : "keep its first two channels with") +
                     ": sox " + shellWord(path) + (bits ? " -b 24 " : " ") + shellWord(out) +
                     (remix ? " remix 1 2" : "");
  const std::string outName = convertedName(name, suffix);
  if (outName != name) text += ", then name " + outName + " in " + tracksName;
  return text;
}

// A file libsndfile read whose channels or frames the mix cannot play.
std::string describeRead(const SourceAttributes& a, const std::string& path,
                         const std::string& name, const std::string& tracksName) {
  const std::string what = path + " is " + a.description + ", " +
                           counted(a.channels, "channel", "channels") + ", " +
                           std::to_string(a.sampleRate) + " Hz";
  if (a.channels > 2)
    return what + "; Sorvan mixes mono and stereo recordings; " +
           soxFix(path, name, false, true, tracksName);
  if (a.frames == 0)
    return what + "; it holds no samples (it is empty or cut off); export the recording again";
  return what;
}

// libsndfile's reason, without the full stop it ends with.
std::string libraryReason(const std::string& path) {
  std::string reason = sndfileRefusal(path);
  while (!reason.empty() && (reason.back() == '.' || reason.back() == ' ')) reason.pop_back();
  return reason.empty() ? "unknown reason" : reason;
}

std::string describeWave(const WaveFacts& f, const std::string& path, const std::string& name,
                         const SourceAttributes* a, const std::string& tracksName) {
  if (f.fileLength == 0) return path + " is an empty file; put the recording there";
  if (a && a->reader == SourceReader::kSndfile) return describeRead(*a, path, name, tracksName);
  if (!f.riffWave) {
    const std::string other = otherFormat(f.leading);
    if (other.empty())
      return path + " is not a WAVE file; " + soxFix(path, name, true, false, tracksName);
    // Sorvan reads these through libsndfile, so this one is damaged or of
    // an encoding the library lacks.
    return path + " is " + other + ", but it cannot be read (libsndfile: " + libraryReason(path) +
           "); export the recording again or " + soxFix(path, name, true, false, tracksName);
  }
  if (!f.hasFormat)
    return path +
           " is a WAVE file whose format chunk is not within its first 128 KiB at an even "
           "position; " +
           soxFix(path, name, true, false, tracksName);
  const std::string what = path + " is a WAVE file of " + std::to_string(f.bits) + "-bit " +
                           formatName(f) + ", " + counted(f.channels, "channel", "channels") +
                           ", " + std::to_string(f.sampleRate) + " Hz";
  const bool floatFormat = f.formatTag == 3 || (f.formatTag == 0xFFFE && f.subFormat == 3);
  const bool badBits = !(f.bits == 16 || f.bits == 24 || (f.bits == 32 && f.formatTag == 3));
  const bool remix = f.channels > 2;
  if (badBits || remix) {
    std::string why = badBits ? "Sorvan reads 16- and 24-bit integer PCM and 32-bit floating point"
                              : "Sorvan mixes mono and stereo recordings";
    if (badBits && floatFormat && f.bits == 32) why += " with format tag 3";
    return what + "; " + why + "; " + soxFix(path, name, badBits, remix, tracksName);
  }
  if (f.channels == 0 || f.bits == 0)
    return what + ", which holds no samples; " + soxFix(path, name, true, false, tracksName);
  if (!f.hasData)
    return what + " without a data chunk within its first 128 KiB at an even position; " +
           soxFix(path, name, true, false, tracksName);
  if (a && a->frames == 0)
    return what +
           "; it holds no samples (its data chunk is empty or cut off); export the recording again";
  return what;
}

}  // namespace

void Diagnostics::warn(const std::string& file, int line, const std::string& text) {
  ++warnings_;
  findings_.push_back(placed(file, line, text));
  if (show_) printAt(file, line, text);
}

void Diagnostics::silentChannel(const std::string& file, int line, const std::string& text) {
  ++silent_;
  findings_.push_back(placed(file, line, text));
  printAt(file, line, text);
}

void Diagnostics::note(const std::string& file, int line, const std::string& text) {
  printAt(file, line, text);
}

namespace {

std::string countsText(int silent, int warnings) {
  std::string text;
  if (silent) text = counted(silent, "silent channel", "silent channels");
  if (warnings) text += (text.empty() ? "" : ", ") + counted(warnings, "warning", "warnings");
  return text;
}

}  // namespace

void Diagnostics::stopIfStrict() const {
  if (!strict_ || (warnings_ == 0 && silent_ == 0)) return;
  say("Strict: %s; stopping with status 2 before anything is written.\n",
      countsText(silent_, warnings_).c_str());
  throw Fatal(exit_status::kConfig);
}

void Diagnostics::summary() const {
  if (warnings_ == 0 && silent_ == 0) return;
  say("Summary: %s.%s\n", countsText(silent_, warnings_).c_str(),
      warnings_ && !show_ ? " Run sorvan --check to see the warnings." : "");
}

std::string shellWord(const std::string& text) {
  const bool plain = !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::strchr("._/+-,=:@", c) != nullptr;
  });
  if (plain) return text;
  std::string word = "'";
  for (const char c : text) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return word + "'";
}

int SourceReport::lineOf(const TrackList& tracks, int channel) const {
  const auto k = static_cast<std::size_t>(channel - 1);
  return k < tracks.lines.size() ? firstLine_ + tracks.lines[k] : 0;
}

void SourceReport::unusable(const TrackList& tracks, int channel, const std::string& path,
                            const WaveFacts& facts, const SourceAttributes* attributes) {
  ++unusable_;
  const std::string name = tracks.names[static_cast<std::size_t>(channel - 1)];
  std::string why;
  switch (facts.access) {
    case WaveFacts::Access::kMissing: {
      why = name.empty() ? "the line names no file" : "there is no file " + path;
      const bool looksMarked = name.find('\t') != std::string::npos ||
                               name.find(" +") != std::string::npos ||
                               name.find(" -") != std::string::npos;
      const std::size_t slash = names_.tracks.rfind('/');
      const std::string tracksFolder =
          slash == std::string::npos ? "" : names_.tracks.substr(0, slash + 1);
      if (!tracksFolder.empty() && exists(tracksFolder + path)) {
        const std::string command = "sorvan -C " + shellWord(tracksFolder);
        why += ", but " + tracksFolder + path +
               " exists: names are looked up from the working folder, so run Sorvan there (" +
               command + ")";
      } else if (pre_.trackListMode == 0 && looksMarked) {
        why += "; with tlist 0 the whole line is the file name: for lines of file and mark ";
        why += "add tlist<TAB>1 to " + names_.prefs;
      } else if (pre_.sourceDir && !pre_.sourceDir->empty() && pre_.sourceDir->back() != '/' &&
                 isFolder(*pre_.sourceDir)) {
        why += "; wavdir " + quoted(*pre_.sourceDir) +
               " names a folder, but it is put in front of the name as it is; end it with /";
      } else if (path != name && exists(name)) {
        why += "; " + name + " is in the working folder, but wavdir is put in front of the name";
      } else {
        why += "; check the name in " + names_.tracks +
               (pre_.sourceDir ? " and the wavdir folder in " + names_.prefs : "");
      }
      break;
    }
    case WaveFacts::Access::kNotAFile:
      why = path + " is a folder or a special file, not a recording";
      break;
    case WaveFacts::Access::kUnreadable:
      why = path + " cannot be read; check its permissions";
      break;
    case WaveFacts::Access::kRead:
      why = describeWave(facts, path, name, attributes, names_.tracks);
      break;
  }
  diag_.silentChannel(names_.tracks, lineOf(tracks, channel),
                      "channel " + std::to_string(channel) + " plays silence: " + why);
}

void SourceReport::noChannel(const TrackList& tracks) {
  std::string why;
  if (tracks.lines.empty()) {
    why = "the list between begin and end is empty; list one recording per line";
  } else if (unusable_ > 0) {
    why = "none of the recordings it marks can be used (see above)";
  } else {
    why = "no line reads with the mark + (or ++) at its end, which makes a channel play";
  }
  diag_.warn(names_.tracks, 0, "no channel plays, so the song is empty: " + why);
}

void SourceReport::rateDiffers(const TrackList& tracks, const Sources& sources, int reference,
                               int channel) {
  const auto& names = tracks.names;
  const std::string& path = sources.paths[static_cast<std::size_t>(channel - 1)];
  const std::string rate = std::to_string(sources.attributes[reference].sampleRate);
  const std::string out = convertedName(path, "-" + rate);
  diag_.note(names_.tracks, lineOf(tracks, channel),
             "channel " + std::to_string(channel) + " plays " + path + " at " +
                 std::to_string(sources.attributes[channel].sampleRate) + " Hz, but channel " +
                 std::to_string(reference) + " plays " +
                 sources.paths[static_cast<std::size_t>(reference - 1)] + " at " + rate +
                 " Hz; all sources must share one rate: convert it with: sox " + shellWord(path) +
                 " -r " + rate + " " + shellWord(out) + ", then name " +
                 convertedName(names[static_cast<std::size_t>(channel - 1)], "-" + rate) + " in " +
                 names_.tracks);
  diag_.note(names_.tracks, lineOf(tracks, channel),
             "or let Sorvan convert it as it reads it: add a line resample<TAB>on to " +
                 names_.prefs + ", and every source plays at " + rate +
                 " Hz, the rate of channel " + std::to_string(reference));
}

void SourceReport::cannotConvert(const TrackList& tracks, const Sources& sources, int channel) {
  const auto k = static_cast<std::size_t>(channel - 1);
  const std::string& path = sources.paths[k];
  const std::string from = std::to_string(sources.attributes[channel].sampleRate);
  const std::string to = std::to_string(sources.sampleRate);
  std::string why = path + " is at " + from + " Hz and the session at " + to +
                    " Hz, but Sorvan converts between rates of " +
                    std::to_string(kLowestConvertedRate) + " to " +
                    std::to_string(kHighestConvertedRate) + " Hz only; ";
  if (canConvertRate(sources.sampleRate, sources.sampleRate)) {
    const std::string out = convertedName(path, "-" + to);
    why += "convert it with: sox " + shellWord(path) + " -r " + to + " " + shellWord(out) +
           ", then name " + convertedName(tracks.names[k], "-" + to) + " in " + names_.tracks;
  } else {
    why += "set the session rate with a line rate<TAB>48000 (or another rate) in " + names_.prefs;
  }
  ++unusable_;
  diag_.silentChannel(names_.tracks, lineOf(tracks, channel),
                      "channel " + std::to_string(channel) + " plays silence: " + why);
}

}  // namespace sorvan
