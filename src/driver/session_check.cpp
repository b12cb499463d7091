#include "driver/session_check.h"

#include <algorithm>
#include <cctype>
#include <limits>

#include "base/numeric.h"
#include "driver/prefs.h"
#include "driver/tracks.h"
#include "script/timeline.h"
#include "textcfg/keywords.h"
#include "textcfg/line_check.h"
#include "wave/resampled_source.h"

namespace sorvan {
namespace {

std::string_view trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A value that runs to the line end: everything after the keyword and the one
// separator that ends it.
std::string_view valueOf(std::string_view line, std::string_view keyword) {
  const std::size_t at = line.find(keyword) + keyword.size() + 1;
  return at < line.size() ? line.substr(at) : std::string_view();
}

// A space with something other than blanks on both sides.
bool hasInnerSpace(std::string_view line) {
  return trimmed(line).find(' ') != std::string_view::npos;
}

// A line whose first word no reader knows; `effect` says what becomes of it.
std::string unknownWord(std::string_view word, const std::vector<KeywordForm>& forms,
                        const std::string& fileName, const std::vector<KeywordForm>& otherForms,
                        const std::string& otherName, const std::string& effect) {
  if (findForm(otherForms, word))
    return quoted(word) + " is a " + otherName + " keyword, not a " + fileName + " one" + effect +
           "; move the line to " + otherName;
  std::string text = quoted(word) + " is not a " + fileName + " keyword";
  const std::string_view near = nearestWord(word, keywordsOf(forms));
  if (!near.empty()) text += " (did you mean " + std::string(near) + "?)";
  return text + effect;
}

// ---------------------------------------------------------------------------
// Preferences

// A target of one or two numbers in range; the ceiling may be left out.
std::string targetProblem(const std::vector<std::string_view>& fields) {
  if (fields.size() < 2)
    return "target lacks its LUFS (it takes LUFS and, if you like, a dBTP ceiling), so there is "
           "no target; add it";
  if (fields.size() > 3)
    return "target takes LUFS and a dBTP ceiling; " + quoted(fields[3]) +
           " after them is not read; remove it";
  for (std::size_t f = 1; f < fields.size(); ++f)
    if (!startsWithNumber(fields[f]))
      return quoted(fields[f]) + " is not a number, so the line sets no target";
  std::string line = "\t";
  for (std::size_t f = 1; f < fields.size(); ++f) line += std::string(fields[f]) + "\t";
  if (!parseTarget(line.substr(1)))
    return "target takes a loudness from -70 to 0 LUFS and a ceiling from -20 to 0 dBTP, so this "
           "line sets no target";
  return "";
}

// The keywords of the preferences, with the two of the rate converter.
std::vector<KeywordForm> preferenceForms(int startFields, int pointFields) {
  std::vector<KeywordForm> forms = prefsForms(startFields, pointFields);
  forms.push_back({"resample", "on or off", "W"});
  forms.push_back({"rate", "Hz", "N"});
  return forms;
}

// What "resample" and "rate" do that their values do not show.
std::string rateProblem(std::string_view word, std::string_view value, bool resample) {
  if (word == "resample" && !value.empty() && value != "on" && value != "off")
    return "resample takes on or off; " + quoted(value) + " leaves it off";
  if (word != "rate" || value.empty() || !startsWithNumber(value)) return "";
  if (!resample)
    return "rate sets the session rate only with resample on, so it is not read; add a line "
           "resample<TAB>on or remove it";
  const std::int64_t rate = readInteger(std::string(value).c_str());
  if (rate < kLowestConvertedRate || rate > kHighestConvertedRate)
    return "rate " + std::string(value) + " is outside " + std::to_string(kLowestConvertedRate) +
           " to " + std::to_string(kHighestConvertedRate) +
           " Hz, so it is not read and the session takes the rate of the first channel that "
           "plays; write a rate within that range";
  return "";
}

struct PrefsCheck {
  const SectionLines& lines;
  int firstLine;
  const SessionPaths& names;
  std::vector<KeywordForm> forms;
  std::vector<KeywordForm> faderKeywords;
  std::size_t preLine = 0;  // where "pre" stands, 0 when it does not
  bool preview = false;
  bool resample = false;

  std::string problem(std::size_t i, const std::vector<std::string_view>& fields) const {
    const std::string_view word = fields[0];
    const KeywordForm* form = findForm(forms, word);
    if (!form) return misspelt(word);
    const std::string_view value = fields.size() > 1 ? fields[1] : std::string_view();
    if (word == "plot" && fields.size() > 1)
      return "plot must stand alone on its line; with " + quoted(value) +
             " after it no picture is drawn; remove it";
    if (word == "tlist" && value == "tab")
      return "tlist takes a number, and \"tab\" reads as 0 (a list of file names); for a "
             "TAB-separated track list write tlist=tab as one word";
    if (word == "pre" && fields.size() > 1) {
      const std::string_view rest = valueOf(lines[i], word);
      if (rest != "on" && trimmed(rest) == "on")
        return "pre reads " + quoted(rest) +
               ", which is not exactly on, so preview mode stays off; remove what follows on";
    }
    if (const std::string rate = rateProblem(word, value, resample); !rate.empty()) return rate;
    if (word == "tap" && !value.empty() && value != "rev" && value != "rtn")
      return "tap takes rev or rtn; " + quoted(value) + " selects no tap file";
    if ((word == "stems" || word == "json") && fields.size() == 2 && value != "on" &&
        value != "off")
      return std::string(word) + " takes on or off; " + quoted(value) + " leaves it as it was";
    if (word == "outformat" && fields.size() == 2 && value != "wav" && value != "float" &&
        value != "flac")
      return "outformat takes wav, float or flac; " + quoted(value) +
             " leaves the format as it was";
    if (word == "target") return targetProblem(fields);
    if ((word == "start" || word == "length") && preview && i < preLine)
      return std::string(word) +
             " stands above the pre line, and preview mode reads only the lines below it; move it "
             "under pre";
    if (word == "offset" && value == "xlink") {
      return fields.size() > 2 ? "offset xlink takes no more values; " + quoted(fields[2]) +
                                     " is not read; remove it"
                               : "";
    }
    return checkEntry(lines, i, *form, forms, firstLine);
  }

  std::string misspelt(std::string_view word) const {
    // "pre on" with a space: the keyword and its value merge into one word.
    const std::string_view first = word.substr(0, word.find(' '));
    if (first.size() < word.size() && findForm(forms, first)) {
      if (trimmed(word) == first)
        return quoted(word) + " has a space after the keyword, so it is not read; remove it";
      return quoted(word) +
             " separates the keyword from its value with a space, so it is not read; put a TAB "
             "there";
    }
    return unknownWord(word, forms, names.prefs, faderKeywords, names.faders,
                       ", so the line does nothing");
  }
};

// "outbits" is found anywhere in the section, also after "end"; only 16 and
// 24 are written as they say.
void checkOutputBits(const SectionLines& lines, int firstLine, const SessionPaths& names,
                     Diagnostics& diag) {
  constexpr int kAbsent = std::numeric_limits<int>::min();
  int bits = kAbsent;
  CodetoInt(lines.text(), "outbits", bits);
  if (bits == kAbsent || bits == 16 || bits == 24) return;
  int line = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const auto fields = splitFields(lines[i], "\t");
    if (std::find(fields.begin(), fields.end(), "outbits") != fields.end())
      line = firstLine + static_cast<int>(i);
  }
  diag.warn(
      names.prefs, line,
      "outbits reads " + std::to_string(bits) +
          ", but Sorvan writes 16- or 24-bit words only, so this mix is 24-bit; write 16 or 24, "
          "or outformat<TAB>float for 32-bit floating point");
}

void checkPrefs(const TextFile& file, const SessionPaths& names, Diagnostics& diag) {
  const SectionLines lines(file.section());
  PrefsCheck check{
      lines, firstSectionLine(file), names,
      preferenceForms(fieldCount(file.section(), "sfields"), fieldCount(file.section(), "xfields")),
      faderForms(3, false)};
  check.resample = readRateSettings(file.section()).resample;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const auto fields = splitFields(lines[i], "\t");
    if (fields.empty()) continue;
    if (fields[0] == "end") break;
    if (fields[0] == "pre" && check.preLine == 0) {
      check.preLine = i;
      check.preview = valueOf(lines[i], "pre") == "on";
    }
  }
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const auto fields = splitFields(lines[i], "\t");
    if (fields.empty()) continue;
    if (fields[0] == "end") break;
    const std::string text = check.problem(i, fields);
    if (!text.empty()) diag.warn(names.prefs, check.firstLine + static_cast<int>(i), text);
  }
  checkOutputBits(lines, check.firstLine, names, diag);
}

// ---------------------------------------------------------------------------
// Tracks

// One track line in forms 1 and 2: the fields before the mark, and the mark
// (the rest of the line), found as the reader finds them.
struct TrackLine {
  std::vector<std::string_view> fields;
  std::string_view mark;
  bool complete = false;
};

TrackLine splitTrackLine(std::string_view line, char separator, int before) {
  TrackLine t;
  const std::string seps(1, separator);
  std::size_t at = 0;
  for (int f = 0; f < before; ++f) {
    at = line.find_first_not_of(seps, at);
    if (at == std::string_view::npos) return t;
    const std::size_t stop = line.find(separator, at);
    t.fields.push_back(
        line.substr(at, stop == std::string_view::npos ? line.size() - at : stop - at));
    if (stop == std::string_view::npos) return t;
    at = stop + 1;
  }
  // The separators that follow were collapsed into one by the reader.
  while (at < line.size() && line[at] == separator) ++at;
  t.mark = line.substr(at);
  t.complete = !t.mark.empty();
  return t;
}

std::string trackLineProblem(std::string_view line, int channel, int mode, bool tab,
                             const SessionPaths& names) {
  const char separator = tab ? '\t' : ' ';
  const char other = tab ? ' ' : '\t';
  const int before = mode == 1 ? 1 : 2;
  const char* form =
      mode == 1 ? "file and mark (tlist 1)" : "label, file and mark (tlist 2, the default)";
  const TrackLine t = splitTrackLine(line, separator, before);
  const std::string ch = "channel " + std::to_string(channel);
  if (!t.complete) {
    if (line.find(separator) == std::string_view::npos &&
        splitTrackLine(line, other, before).complete) {
      return tab ? "the fields are separated by spaces, but " + names.prefs +
                       " holds tlist=tab; separate them with single TABs"
                 : "the fields are separated by TABs, but " + names.tracks +
                       " is read with spaces unless " + names.prefs +
                       " holds tlist=tab; add a line tlist=tab there";
    }
    if (t.fields.size() <= 1)
      return quoted(line) + " is a file name alone, but the lines are read as " + form +
             ", so this one runs into the next; write each line as " +
             (mode == 1 ? "\"kick.wav +\"" : "\"kick kick.wav +\"") + ", or add tlist<TAB>0 to " +
             names.prefs + " to play every listed file";
    return quoted(line) +
           " has 2 of the 3 fields label, file and mark, so it runs into the next line; for lines "
           "of file and mark add tlist<TAB>1 to " +
           names.prefs;
  }
  if (t.mark == "+" || t.mark == "++") return "";
  const std::string_view mark = trimmed(t.mark);
  if (mark == "+" || mark == "++")
    return "the mark " + quoted(t.mark) + " has a space or TAB beside it, so " + ch +
           " does not play; remove it";
  const std::size_t lastSep = mark.find_last_of(separator);
  const std::string_view lastWord =
      lastSep == std::string_view::npos ? mark : mark.substr(lastSep + 1);
  if (lastSep != std::string_view::npos && (lastWord == "+" || lastWord == "++"))
    return quoted(line) + " has more fields than " + form + ": the mark is read as " +
           quoted(t.mark) + ", so " + ch + " does not play; " +
           (tab ? "keep TABs only between the fields"
                : "for names with spaces add tlist=tab to " + names.prefs +
                      " and separate the fields with TABs");
  return "";
}

void checkTracks(const SessionFiles& files, const SessionPaths& names, Diagnostics& diag) {
  const int mode = files.pre.trackListMode;
  if (mode == 0) return;
  const SectionLines lines(files.tracks.section());
  const int firstLine = firstSectionLine(files.tracks);
  int channel = 0;
  for (std::size_t i = 0; i < lines.size() && channel < files.trackCount; ++i) {
    if (lines[i].empty()) continue;
    if (lines[i] == "end") break;
    ++channel;
    const std::string text =
        trackLineProblem(lines[i], channel, mode, files.pre.tabSeparatedTracks, names);
    if (!text.empty()) diag.warn(names.tracks, firstLine + static_cast<int>(i), text);
  }
}

// ---------------------------------------------------------------------------
// Fader file

struct FaderCheck {
  const SectionLines& lines;
  int firstLine;
  const SessionPaths& names;
  std::vector<KeywordForm> forms;
  std::vector<KeywordForm> prefsKeywords;

  // Whether the line is read as an entry by some pass.
  bool isEntry(std::size_t i, const std::vector<std::string_view>& fields) const {
    if (findForm(forms, fields[0])) return true;
    const auto order = splitFields(lines[i], "\t:");
    return fields[0][0] == 'o' && order.size() > 1 && isProcessorName(order[1]);
  }

  std::string problem(std::size_t i, const std::vector<std::string_view>& fields) const {
    const std::string_view word = fields[0];
    if (const KeywordForm* form = findForm(forms, word))
      return checkEntry(lines, i, *form, forms, firstLine);
    if (word[0] == 'o') return checkOrderEntry(splitFields(lines[i], "\t:"), forms);
    const bool keywordFollows =
        std::any_of(fields.begin() + 1, fields.end(),
                    [&](std::string_view f) { return findForm(forms, f) != nullptr; });
    return unknownWord(word, forms, names.faders, prefsKeywords, names.prefs,
                       keywordFollows ? " and is skipped" : ", so the line does nothing");
  }

  // Spaces inside a value that the readers never see: "1 2" becomes "12".
  std::string mergedValue(std::string_view written) const {
    for (const std::string_view field : splitFields(written, "\t")) {
      for (std::size_t at = field.find(' '); at != std::string_view::npos;
           at = field.find(' ', at + 1)) {
        const std::size_t next = field.find_first_not_of(' ', at);
        if (at == 0 || next == std::string_view::npos) continue;
        if (std::isalnum(static_cast<unsigned char>(field[at - 1])) &&
            std::isalnum(static_cast<unsigned char>(field[next]))) {
          std::string joined(field);
          joined.erase(std::remove(joined.begin(), joined.end(), ' '), joined.end());
          return quoted(field) + " loses its spaces and reads as " + quoted(joined) + "; " +
                 names.faders +
                 " drops every space, so separate values with TABs (or commas in a channel list)";
        }
      }
    }
    return "";
  }

  // The line as written held spaces, which the readers never see.
  std::string spaced(std::string_view written, std::size_t i,
                     const std::vector<std::string_view>& fields, const std::string& read) const {
    std::string text = quoted(written) + " separates its fields with spaces; " + names.faders +
                       " drops every space, so it reads as " + quoted(lines[i]);
    text += findForm(forms, fields[0]) ? "; as read, " + read : " and does nothing";
    return text + "; separate the fields with TABs";
  }
};

void checkFaders(const SessionFiles& files, const SessionPaths& names, Diagnostics& diag) {
  const std::string_view prefs = files.prefs.section();
  const SectionLines lines(files.faders.section());
  const SectionLines written(files.fadersAsWritten.section());
  const FaderCheck check{lines, firstSectionLine(files.faders), names,
                         faderForms(readTimeFieldCount(prefs, 0), hasKeyword(prefs, "tempo")),
                         preferenceForms(3, 3)};
  const bool outputNamed = hasKeyword(prefs, "oname");
  bool named = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].empty()) continue;
    const auto fields = splitFields(lines[i], "\t");
    const int line = check.firstLine + static_cast<int>(i);
    if (!named) {
      // The first line that holds anything names the mix.
      named = true;
      if (fields.empty() || !check.isEntry(i, fields)) continue;
      if (!outputNamed)
        diag.warn(names.faders, line,
                  "the first line names the mix, but " + quoted(lines[i]) +
                      " is an entry (and is read as one), so the output is named after it; put the "
                      "mix name on the line after begin, or set oname in " +
                      names.prefs);
    }
    if (fields.empty()) continue;
    if (fields[0] == "end") break;
    std::string text = check.problem(i, fields);
    if (i < written.size() && hasInnerSpace(written[i]))
      text =
          text.empty() ? check.mergedValue(written[i]) : check.spaced(written[i], i, fields, text);
    if (!text.empty()) diag.warn(names.faders, line, text);
  }
}

}  // namespace

void checkSessionText(const SessionFiles& files, const SessionPaths& names, Diagnostics& diag) {
  checkPrefs(files.prefs, names, diag);
  checkTracks(files, names, diag);
  checkFaders(files, names, diag);
}

}  // namespace sorvan
