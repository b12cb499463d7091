#include "textcfg/line_check.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <utility>

#include "base/numeric.h"
#include "textcfg/tokenizer.h"

namespace sorvan {
namespace {

constexpr std::string_view kProcessors[] = {"hp",     "band1", "band2", "band3", "band4", "hshelf",
                                            "lshelf", "rms",   "nlc",   "comp",  "lim"};

bool isToken(char kind) { return std::isupper(static_cast<unsigned char>(kind)) != 0; }
char kindOf(char kind) { return static_cast<char>(std::tolower(static_cast<unsigned char>(kind))); }

std::vector<std::string_view> split(std::string_view text, std::string_view separator) {
  std::vector<std::string_view> parts;
  if (text.empty()) return parts;
  std::size_t at = 0;
  for (std::size_t next; (next = text.find(separator, at)) != std::string_view::npos;
       at = next + separator.size())
    parts.push_back(text.substr(at, next - at));
  parts.push_back(text.substr(at));
  return parts;
}

// "a", "a and b", "a, b and c".
std::string joinedWithAnd(const std::vector<std::string_view>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? " and " : ", ";
    text += names[i];
  }
  return text;
}

std::string joined(const std::vector<std::string_view>& fields, std::size_t from) {
  std::string text;
  for (std::size_t i = from; i < fields.size(); ++i) {
    if (i > from) text += ' ';
    text += fields[i];
  }
  return text;
}

bool isWholeInteger(std::string_view text) {
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) text.remove_prefix(1);
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string takes(const KeywordForm& form) {
  return form.values.empty() ? "takes no value" : "takes " + std::string(form.values);
}

// Where the reader of an entry short of values stops: on a later line, or at
// the end of the text.
struct RunOn {
  bool endOfText = false;
  std::size_t lastLine = 0;
};

// Reads the entry the way its reader does, value by value with the same
// delimiters, from the keyword on line `index`.
RunOn readLikeTheReader(const SectionLines& lines, std::size_t index, const KeywordForm& form) {
  const std::size_t base = lines.start(index);
  Tokenizer tok(lines.text().substr(base));
  tok.next(Tokenizer::kWords);
  std::size_t reach = lines.end(index);
  RunOn run;
  auto take = [&](const char* delimiters) -> const char* {
    const char* token = tok.next(delimiters);
    if (!token) {
      run.endOfText = true;
      return nullptr;
    }
    reach = std::max(reach, base + tok.offsetOf(token) + std::strlen(token));
    return token;
  };
  for (std::size_t slot = 0; slot < form.kinds.size(); ++slot) {
    const char kind = form.kinds[slot];
    const bool last = slot + 1 == form.kinds.size();
    const char* token =
        take(isToken(kind) ? Tokenizer::kWords : (last ? Tokenizer::kLine : Tokenizer::kField));
    if (!token) break;
    // A channel field "G" is followed by the submix number.
    if (kind == 'c' && std::strcmp(token, "G") == 0 && !take(Tokenizer::kField)) break;
  }
  run.lastLine = lines.indexOf(reach > 0 ? reach - 1 : 0);
  return run;
}

bool samePass(const KeywordForm& form, const KeywordForm* other) {
  return other && (other->keyword == form.keyword || (form.volumePass && other->volumePass));
}

std::string describeMissing(const SectionLines& lines, std::size_t index, const KeywordForm& form,
                            const std::vector<KeywordForm>& forms, int firstLine,
                            const std::vector<std::string_view>& missing) {
  const bool several = missing.size() > 1;
  std::string text = std::string(form.keyword) + " lacks its " + joinedWithAnd(missing) + " (it " +
                     takes(form) + ")";
  const RunOn run = readLikeTheReader(lines, index, form);
  std::size_t taken = index + 1;
  while (taken < run.lastLine && lines[taken].empty()) ++taken;
  if (!run.endOfText && run.lastLine > index) {
    const auto fields = splitFields(lines[taken], "\t");
    text += "; the reader takes " + std::string(several ? "them" : "it") + " from line " +
            std::to_string(firstLine + static_cast<int>(taken)) + " (" + quoted(lines[taken]) + ")";
    if (!fields.empty() && samePass(form, findForm(forms, fields[0])))
      text += ", so that entry is lost";
  } else if (run.endOfText) {
    text += several ? "; the file ends first, so they read as 0"
                    : "; the file ends first, so it reads as 0";
  }
  return text + (several ? "; add the missing values" : "; add the missing value");
}

}  // namespace

SectionLines::SectionLines(std::string_view text) : text_(text.substr(0, text.find('\0'))) {
  starts_.push_back(0);
  for (std::size_t i = 0; i < text_.size(); ++i)
    if (text_[i] == '\n') starts_.push_back(i + 1);
}

std::string_view SectionLines::operator[](std::size_t i) const {
  const std::size_t from = starts_[i];
  const std::size_t to = i + 1 < starts_.size() ? starts_[i + 1] - 1 : text_.size();
  return text_.substr(from, to - from);
}

std::size_t SectionLines::indexOf(std::size_t offset) const {
  return static_cast<std::size_t>(std::upper_bound(starts_.begin(), starts_.end(), offset) -
                                  starts_.begin()) -
         1;
}

std::vector<std::string_view> splitFields(std::string_view line, std::string_view separators) {
  std::vector<std::string_view> fields;
  std::size_t at = 0;
  while (at < line.size()) {
    at = line.find_first_not_of(separators, at);
    if (at == std::string_view::npos) break;
    const std::size_t stop = std::min(line.size(), line.find_first_of(separators, at));
    fields.push_back(line.substr(at, stop - at));
    at = stop;
  }
  return fields;
}

int editDistance(std::string_view a, std::string_view b, int limit) {
  const auto la = static_cast<int>(a.size());
  const auto lb = static_cast<int>(b.size());
  if (std::abs(la - lb) > limit) return limit + 1;
  // Three rows of the optimal-string-alignment table. An unknown word is
  // measured against every word the line could hold, so the rows of a short
  // word live on the stack.
  constexpr int kShortWord = 64;
  std::array<int, 3 * (kShortWord + 1)> shortRows;
  std::vector<int> longRows;
  int* before = shortRows.data();
  if (lb > kShortWord) {
    longRows.resize(3 * (static_cast<std::size_t>(lb) + 1));
    before = longRows.data();
  }
  int* previous = before + lb + 1;
  int* current = previous + lb + 1;
  for (int j = 0; j <= lb; ++j) previous[static_cast<std::size_t>(j)] = j;
  for (int i = 1; i <= la; ++i) {
    current[0] = i;
    int rowBest = i;
    for (int j = 1; j <= lb; ++j) {
      const auto uj = static_cast<std::size_t>(j);
      const int cost = a[static_cast<std::size_t>(i - 1)] == b[uj - 1] ? 0 : 1;
      int d = std::min({previous[uj] + 1, current[uj - 1] + 1, previous[uj - 1] + cost});
      if (i > 1 && j > 1 && a[static_cast<std::size_t>(i - 1)] == b[uj - 2] &&
          a[static_cast<std::size_t>(i - 2)] == b[uj - 1])
        d = std::min(d, before[uj - 2] + 1);
      current[uj] = d;
      rowBest = std::min(rowBest, d);
    }
    if (rowBest > limit) return limit + 1;
    std::swap(before, previous);
    std::swap(previous, current);
  }
  return std::min(previous[static_cast<std::size_t>(lb)], limit + 1);
}

std::string_view nearestWord(std::string_view word,
                             const std::vector<std::string_view>& candidates) {
  std::string_view best;
  int bestDistance = 3;
  for (const std::string_view candidate : candidates) {
    const int d = editDistance(word, candidate);
    if (d > 2 || d >= static_cast<int>(word.size())) continue;
    // Between equally near candidates, one with the same first letter wins.
    const bool better = d < bestDistance || (d == bestDistance && !word.empty() &&
                                             best[0] != word[0] && candidate[0] == word[0]);
    if (better) {
      best = candidate;
      bestDistance = d;
    }
  }
  return best;
}

bool startsWithNumber(std::string_view text) {
  double ignored = 0.0;
  return parseReal(std::string(text).c_str(), ignored);
}

std::string quoted(std::string_view text) {
  constexpr std::size_t kLongest = 60;
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size() && i < kLongest; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    out += c == '\t' ? ' ' : (c < 0x20 || c == 0x7f) ? '?' : static_cast<char>(c);
  }
  if (text.size() > kLongest) out += "...";
  return out + "\"";
}

std::vector<KeywordForm> faderForms(int timeFields, bool tempo) {
  timeFields = std::clamp(timeFields, 1, 3);
  static constexpr std::string_view kClock[] = {"seconds", "minutes, seconds",
                                                "minutes, seconds, milliseconds"};
  static constexpr std::string_view kMusic[] = {"beat", "bar, beat", "bar, beat, tick"};
  const std::string_view timeNames = (tempo ? kMusic : kClock)[timeFields - 1];
  const std::string_view timeKinds =
      std::string_view("nnn").substr(0, static_cast<std::size_t>(timeFields));
  const std::string_view strip = "channel, frequency, gain, Q";
  const std::string_view compressor = "channel, threshold, attack, release, ratio";
  return {
      {"tstamp", "channel, minutes, seconds, milliseconds", "nnnn"},
      {"sstamp", "channel, samples", "nn"},
      {"sub", "bus, channel list", "nl"},
      {"submu", "submix", "N"},
      {"subso", "submix", "N"},
      {"VCA:", "VCA, channel list", "nl"},
      {"tmap", "tempo, beats per bar, bars", "nnn"},
      {"t", timeNames, timeKinds, true},
      {"inc", "seconds", "n", true},
      {"ofs", "seconds", "n", true},
      {"v", "channel, level", "cn", true},
      {"vca", "VCA, level", "nn", true},
      {"rmp", "seconds", "n", true},
      {"shape", "exponent", "n", true},
      {"p", "channel, position", "cn", true},
      {"pol", "channel, sign", "cn", true},
      {"dp", "channel, position", "nn"},
      {"trim", "channel, level", "cn"},
      {"scale", "factor", "n"},
      {"mtrim", "dB", "n"},
      {"fxg", "channel, dB", "cN"},
      {"comp", compressor, "cnnnn"},
      {"rms", compressor, "cnnnn"},
      {"nlc", "channel, threshold, window, ratio", "cnnn"},
      {"lim", "channel, threshold", "cn"},
      {"hp", "channel, cutoff", "cn"},
      {"band1", strip, "cnnn"},
      {"band2", strip, "cnnn"},
      {"band3", strip, "cnnn"},
      {"band4", strip, "cnnn"},
      {"hshelf", strip, "cnnn"},
      {"lshelf", strip, "cnnn"},
      {"rev", "channel, send level", "cn"},
      {"trev", "channel, send level", "cn"},
      {"rtn", "return level, room size", "nn"},
      {"trtn", "return level, room size, taps", "nnn"},
      {"pos", "position 1, position 2, position 3", "nnn"},
      {"width", "width", "n"},
      {"rhp", "cutoff", "n"},
      {"rlp", "cutoff", "n"},
  };
}

std::vector<KeywordForm> prefsForms(int startFields, int pointFields) {
  static constexpr std::string_view kTimes[] = {"seconds", "minutes, seconds",
                                                "minutes, seconds, milliseconds"};
  const std::size_t start = static_cast<std::size_t>(std::clamp(startFields, 1, 3));
  const std::size_t point = static_cast<std::size_t>(std::clamp(pointFields, 1, 3));
  return {
      {"verbo", "level", "N"},
      {"mixdir", "folder", "x"},
      {"predir", "folder", "x"},
      {"bakdir", "folder", "x"},
      {"wavdir", "folder", "x"},
      {"oname", "name", "x"},
      {"tlist", "form", "N"},
      {"tlist=tab", "", ""},
      {"pre", "on or off", "x"},
      {"start", kTimes[start - 1], std::string_view("nnn").substr(0, start)},
      {"length", "seconds", "n"},
      {"sfields", "count", "n"},
      {"xfields", "count", "n"},
      {"head", "seconds", "N"},
      {"tail", "seconds", "N"},
      {"xin", kTimes[point - 1], std::string_view("nnn").substr(0, point)},
      {"xout", kTimes[point - 1], std::string_view("nnn").substr(0, point)},
      {"tfields", "count", "N"},
      {"offset", "minutes, seconds, milliseconds", "Nnn"},
      {"v=percent", "", ""},
      {"tempo", "", ""},
      {"plot", "", ""},
      {"launch", "command", "x"},
      {"mono", "dB", "n"},
      {"dbps", "dB per second", "n"},
      {"dither", "level", "n"},
      {"pan", "dB", "n"},
      {"seed", "seed", "N"},
      {"threads", "count", "N"},
      {"outbits", "bits", "N"},
      {"outformat", "format", "W"},
      {"stems", "on or off", "W"},
      {"target", "LUFS, dBTP ceiling", "nn"},
      {"json", "on or off", "W"},
      {"tap", "rev or rtn", "W"},
  };
}

const KeywordForm* findForm(const std::vector<KeywordForm>& forms, std::string_view word) {
  for (const KeywordForm& form : forms)
    if (form.keyword == word) return &form;
  return nullptr;
}

bool isProcessorName(std::string_view word) {
  return std::find(std::begin(kProcessors), std::end(kProcessors), word) != std::end(kProcessors);
}

std::vector<std::string_view> keywordsOf(const std::vector<KeywordForm>& forms) {
  std::vector<std::string_view> words;
  for (const KeywordForm& form : forms) words.push_back(form.keyword);
  return words;
}

std::string checkEntry(const SectionLines& lines, std::size_t index, const KeywordForm& form,
                       const std::vector<KeywordForm>& forms, int firstLine) {
  const std::vector<std::string_view> fields = splitFields(lines[index], "\t");
  const std::vector<std::string_view> names = split(form.values, ", ");
  std::vector<std::string_view> missing;
  std::vector<std::string> problems;
  auto notNumber = [&](std::string_view field, std::string_view name) {
    problems.push_back(quoted(field) + " is not a number, so the " + std::string(name) +
                       " reads as 0");
  };
  std::size_t f = 1;
  const std::size_t slots = form.kinds.size();
  for (std::size_t slot = 0; slot < slots; ++slot) {
    const std::string_view name = slot < names.size() ? names[slot] : "value";
    if (f >= fields.size()) {
      missing.push_back(name);
      continue;
    }
    const char kind = kindOf(form.kinds[slot]);
    if (kind == 'x' && slot + 1 == slots) {
      f = fields.size();
      break;
    }
    const std::string_view field = fields[f++];
    if (kind == 'n' && !startsWithNumber(field)) notNumber(field, name);
    if (kind == 'c' && field == "G") {
      if (f >= fields.size()) {
        missing.push_back("submix number");
      } else if (!startsWithNumber(fields[f++])) {
        notNumber(fields[f - 1], "submix number");
      }
    } else if (kind == 'c' && field != "M" && !startsWithNumber(field)) {
      problems.push_back(
          quoted(field) +
          " is not a channel (a number, M, or G and a submix number), so it reads as 0");
    }
    if (kind == 'l') {
      for (const std::string_view piece : splitFields(field, ",")) {
        if (isWholeInteger(piece)) continue;
        problems.push_back(quoted(piece) + " in the channel list reads as " +
                           std::to_string(readInteger(std::string(piece).c_str())) +
                           "; list single channel numbers separated by commas");
      }
    }
  }
  if (f < fields.size()) {
    problems.push_back(std::string(form.keyword) + " " + takes(form) + "; " +
                       quoted(joined(fields, f)) + (slots ? " after them" : " after it") +
                       " is not read; remove it");
  }
  if (!missing.empty())
    problems.insert(problems.begin(),
                    describeMissing(lines, index, form, forms, firstLine, missing));
  std::string text;
  for (const std::string& p : problems) text += (text.empty() ? "" : "; ") + p;
  return text;
}

std::string checkOrderEntry(const std::vector<std::string_view>& fields,
                            const std::vector<KeywordForm>& forms) {
  const std::string word(fields[0]);
  const std::vector<std::string_view> processors(std::begin(kProcessors), std::end(kProcessors));
  const bool named = fields.size() > 1 &&
                     std::find(processors.begin(), processors.end(), fields[1]) != processors.end();
  if (!named) {
    const std::string_view keyword = nearestWord(fields[0], keywordsOf(forms));
    if (!keyword.empty())
      return quoted(word) + " is not a keyword (did you mean " + std::string(keyword) +
             "?); as a word beginning with o it is taken for an order entry, which needs a "
             "processor name, so the line does nothing";
    std::string text =
        quoted(word) +
        " begins with o, so it is read as an order entry (processor, channel, position), but ";
    if (fields.size() < 2) return text + "nothing follows it, so the line does nothing";
    const std::string_view near = nearestWord(fields[1], processors);
    text += quoted(fields[1]) + " is no processor";
    if (!near.empty()) text += " (did you mean " + std::string(near) + "?)";
    return text +
           ", so the line does nothing; the processors are hp, band1 to band4, hshelf, lshelf, "
           "rms, nlc, comp and lim";
  }
  std::size_t f = 2;
  std::vector<std::string_view> missing;
  std::vector<std::string> problems;
  if (f >= fields.size()) {
    missing = {"channel", "position"};
  } else {
    const std::string_view channel = fields[f++];
    if (channel[0] == 'G') {
      if (f >= fields.size())
        missing.push_back("submix number");
      else if (!startsWithNumber(fields[f++]))
        problems.push_back(quoted(fields[f - 1]) + " is not a submix number");
    } else if (channel[0] != 'M' && !startsWithNumber(channel)) {
      problems.push_back(quoted(channel) +
                         " is not a channel (a number, M, or G and a submix number)");
    }
    if (f >= fields.size()) {
      missing.push_back("position");
    } else if (!startsWithNumber(fields[f++])) {
      problems.push_back(quoted(fields[f - 1]) + " is not a position (1 to 11)");
    }
  }
  if (!missing.empty())
    return "order entry lacks its " + joinedWithAnd(missing) +
           " (it takes processor, channel, position, all on one line), so the line does nothing; "
           "add " +
           (missing.size() > 1 ? "them" : "it");
  if (f < fields.size())
    problems.push_back("order entry takes processor, channel, position; " +
                       quoted(joined(fields, f)) + " after them is not read; remove it");
  std::string text;
  for (const std::string& p : problems) text += (text.empty() ? "" : "; ") + p;
  return text;
}

}  // namespace sorvan
