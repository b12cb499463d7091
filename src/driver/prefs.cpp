#include "driver/prefs.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

#include "base/fatal.h"
#include "base/messages.h"
#include "base/numeric.h"
#include "textcfg/keywords.h"
#include "textcfg/tokenizer.h"

namespace sorvan {
namespace {

// Calls `read` with the cursor just after each token equal to `keyword`,
// up to the token "end"; the last occurrence therefore wins.
void forEachKeyword(std::string_view section, const char* keyword,
                    const std::function<void(Tokenizer&)>& read) {
  Tokenizer tok(section);
  for (const char* token = tok.next(Tokenizer::kWords); token && !isEndToken(token);
       token = tok.next(Tokenizer::kWords)) {
    if (std::strcmp(token, keyword) == 0) read(tok);
  }
}

// True when a line of the section, before "end", holds `word` and nothing
// else (surrounding blanks aside), so that a value such as an output name can
// never switch a setting on.
bool hasLineOf(std::string_view section, const char* word) {
  Tokenizer tok(section);
  for (const char* line = tok.next(Tokenizer::kLine); line; line = tok.next(Tokenizer::kLine)) {
    std::string_view text(line);
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) continue;
    text = text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
    if (text == "end") return false;
    if (text == word) return true;
  }
  return false;
}

std::optional<std::string> restOfLine(std::string_view section, const char* keyword) {
  std::optional<std::string> value;
  forEachKeyword(section, keyword, [&](Tokenizer& tok) {
    const char* rest = tok.next(Tokenizer::kLine);
    value = rest ? rest : "";
  });
  return value;
}

[[noreturn]] void configError(const char* line) {
  sayLine(line);
  throw Fatal(exit_status::kConfig);
}

// Seconds of a "head" or "tail" as samples, computed in single precision.
std::int64_t trimSamples(double sampleRate, double seconds) {
  return truncateTo<std::int64_t>(std::floor(toSingle(sampleRate) * toSingle(seconds)));
}

void settlePreview(std::string_view section, Tokenizer& tok, const PreScan& pre,
                   const SongFacts& song, Preferences& prefs) {
  if (pre.previewDir) {
    prefs.outputPath = *pre.previewDir + "preview.wav";
  } else if (pre.mixDir) {
    prefs.outputPath = *pre.mixDir + "preview.wav";
  } else {
    prefs.outputPath = "preview.wav";
  }
  if (pre.verbosity == 2) sayLine("Running in Preview Mode");
  prefs.renderStart = 0;
  prefs.renderLength = song.songLength;
  const int startFields = fieldCount(section, "sfields");
  for (const char* token = tok.next(Tokenizer::kWords); token && !isEndToken(token);
       token = tok.next(Tokenizer::kWords)) {
    if (std::strcmp(token, "start") == 0) {
      prefs.renderStart = clockToSamples(readTimeFields(tok, startFields), song.sampleRate);
      if (prefs.renderStart > song.songLength)
        configError("Error: Preview start time in preferences file exceeds song length");
      if (prefs.renderStart < 0)
        configError("Error: Preview start time in preferences is less than zero.");
    } else if (std::strcmp(token, "length") == 0) {
      prefs.renderLength =
          truncateTo<std::int64_t>(nextReal(tok, Tokenizer::kLine) * song.sampleRate);
    }
  }
  if (prefs.renderStart < 0 || prefs.renderLength < 0)
    configError("Head or tail set incorrectly in preferences!");
}

void settleHeadTailAndPoints(std::string_view section, const SongFacts& song, Preferences& prefs) {
  const int pointFields = fieldCount(section, "xfields");
  std::optional<std::int64_t> head, tail, xin, xout;
  forEachKeyword(section, "head", [&](Tokenizer& tok) {
    head = trimSamples(song.sampleRate, nextReal(tok, Tokenizer::kWords));
  });
  forEachKeyword(section, "tail", [&](Tokenizer& tok) {
    tail = trimSamples(song.sampleRate, nextReal(tok, Tokenizer::kWords));
  });
  forEachKeyword(section, "xin", [&](Tokenizer& tok) {
    xin = clockToSamples(readTimeFields(tok, pointFields), song.sampleRate);
  });
  forEachKeyword(section, "xout", [&](Tokenizer& tok) {
    xout = clockToSamples(readTimeFields(tok, pointFields), song.sampleRate);
  });
  std::int64_t start = 0;
  std::int64_t length = song.songLength;
  // Saturating steps: absurd times must end in the range error, not overflow.
  auto sub = [](std::int64_t a, std::int64_t b) {
    std::int64_t r;
    return __builtin_sub_overflow(a, b, &r) ? (b > 0 ? INT64_MIN : INT64_MAX) : r;
  };
  auto add = [](std::int64_t a, std::int64_t b) {
    std::int64_t r;
    return __builtin_add_overflow(a, b, &r) ? (b > 0 ? INT64_MAX : INT64_MIN) : r;
  };
  if (xin) {
    length = sub(length, *xin);
    start = *xin;
  }
  if (xout) length = sub(*xout, xin.value_or(0));
  if (head && *head > 1 && *head < song.songLength) {
    length = sub(length, *head);
    start = add(start, *head);
  }
  if (tail && *tail > 1 && *tail < song.songLength) length = sub(length, *tail);
  prefs.renderStart = start;
  prefs.renderLength = length;
  if (start < 0 || length < 0 || start >= song.songLength)
    configError("Head or tail set incorrectly in preferences!");
}

void readDither(std::string_view section, Preferences& prefs) {
  forEachKeyword(section, "dither", [&](Tokenizer& tok) {
    const std::int64_t level = nextInteger(tok, Tokenizer::kLine);
    if (level > 8 || level < 0) {
      sayLine("Dither is set out of range (0-8)");
      return;
    }
    prefs.ditherLevel = static_cast<int>(level);
  });
  if (prefs.ditherLevel == 0) {
    prefs.ditherHalfWidth = 0;
    prefs.ditherModulus = 0;
  } else {
    prefs.ditherHalfWidth = static_cast<int>(std::pow(2.0, prefs.ditherLevel - 1));
    prefs.ditherModulus = static_cast<int>(std::pow(2.0, prefs.ditherLevel) + 1.0);
  }
}

// "on" or "off" of a switch; other values leave it as it was.
void readSwitch(std::string_view section, const char* keyword, bool& value) {
  forEachKeyword(section, keyword, [&](Tokenizer& tok) {
    const char* word = tok.next(Tokenizer::kWords);
    if (tokenIs(word, "on")) value = true;
    if (tokenIs(word, "off")) value = false;
  });
}

void readDeliveries(std::string_view section, Preferences& prefs) {
  forEachKeyword(section, "outformat", [&](Tokenizer& tok) {
    const char* word = tok.next(Tokenizer::kWords);
    if (tokenIs(word, "wav")) prefs.format = OutputFormat::kWave;
    if (tokenIs(word, "float")) prefs.format = OutputFormat::kFloat;
    if (tokenIs(word, "flac")) prefs.format = OutputFormat::kFlac;
  });
  readSwitch(section, "stems", prefs.stems);
  readSwitch(section, "json", prefs.json);
  forEachKeyword(section, "target", [&](Tokenizer& tok) {
    const char* rest = tok.next(Tokenizer::kLine);
    if (auto target = parseTarget(rest ? rest : "")) prefs.target = target;
  });
}

// The mix name: the first line of the fader section that holds anything.
std::string mixName(std::string_view faderSection) {
  Tokenizer tok(faderSection);
  const char* line = tok.next(Tokenizer::kLine);
  return line ? line : "";
}

}  // namespace

bool hasKeyword(std::string_view section, const char* keyword) {
  bool found = false;
  forEachKeyword(section, keyword, [&](Tokenizer&) { found = true; });
  return found;
}

int fieldCount(std::string_view section, const char* keyword) {
  int count = 3;
  forEachKeyword(section, keyword, [&](Tokenizer& tok) {
    const int n = nextInt(tok, Tokenizer::kLine);
    count = (n >= 1 && n <= 3) ? n : 3;
  });
  return count;
}

PreScan preScanPreferences(std::string_view section) {
  PreScan pre;
  forEachKeyword(section, "verbo",
                 [&](Tokenizer& tok) { pre.verbosity = nextInt(tok, Tokenizer::kWords); });
  pre.mixDir = restOfLine(section, "mixdir");
  pre.previewDir = restOfLine(section, "predir");
  pre.backupDir = restOfLine(section, "bakdir");
  pre.sourceDir = restOfLine(section, "wavdir");
  forEachKeyword(section, "tlist", [&](Tokenizer& tok) {
    const std::int64_t mode = nextInteger(tok, Tokenizer::kWords);
    if (mode == 0 || mode == 1) pre.trackListMode = static_cast<int>(mode);
  });
  pre.tabSeparatedTracks = hasKeyword(section, "tlist=tab");
  return pre;
}

Preferences checkPreferences(std::string_view section, const PreScan& pre, const SongFacts& song) {
  Preferences prefs;
  prefs.outputName = restOfLine(section, "oname").value_or(mixName(song.faderSection));
  prefs.outputPath = pre.mixDir.value_or("") + prefs.outputName + ".wav";

  if (pre.verbosity == 2) sayLine("Checking Preferences...");

  Tokenizer tok(section);
  const char* token = tok.next(Tokenizer::kWords);
  while (token && !isEndToken(token) && std::strcmp(token, "pre") != 0)
    token = tok.next(Tokenizer::kWords);
  if (!token || isEndToken(token)) {
    sayLine("Preview mode not specified.");
  } else {
    const char* value = tok.next(Tokenizer::kLine);
    prefs.preview = tokenIs(value, "on");
  }
  if (prefs.preview) {
    settlePreview(section, tok, pre, song, prefs);
  } else {
    settleHeadTailAndPoints(section, song, prefs);
  }

  if (hasKeyword(section, "v=percent")) {
    prefs.percent = true;
    if (pre.verbosity == 2) sayLine("Faders using percent.");
  }
  if (hasKeyword(section, "tempo")) {
    prefs.tempo = true;
    if (pre.verbosity == 2) sayLine("Tempo mode on.");
  }
  prefs.launch = restOfLine(section, "launch");
  forEachKeyword(section, "mono", [&](Tokenizer& tok2) {
    prefs.mono = true;
    const float r = dBtoRatio(nextReal(tok2, Tokenizer::kLine), 1.0);
    prefs.monoFactor = (r > 1.0f || r < 0.125f) ? 0.5 : r;
  });
  forEachKeyword(section, "dbps",
                 [&](Tokenizer& tok2) { prefs.dbps = nextSingle(tok2, Tokenizer::kLine); });
  readDither(section, prefs);
  forEachKeyword(section, "seed", [&](Tokenizer& tok2) {
    prefs.seed = saturateTo<std::uint32_t>(nextInteger(tok2, Tokenizer::kWords));
  });
  prefs.plot = hasLineOf(section, "plot");
  forEachKeyword(section, "threads", [&](Tokenizer& tok2) {
    prefs.threads =
        static_cast<int>(std::clamp<std::int64_t>(nextInteger(tok2, Tokenizer::kWords), 0, 256));
  });
  int bits = 0;
  CodetoInt(section, "outbits", bits);
  prefs.outputBits = bits == 16 ? 16 : 24;
  readDeliveries(section, prefs);
  // FLAC files are named for what they are.
  if (prefs.format == OutputFormat::kFlac && prefs.outputPath.size() >= 4)
    prefs.outputPath.replace(prefs.outputPath.size() - 4, 4, ".flac");
  return prefs;
}

std::optional<LoudnessTarget> parseTarget(std::string_view value) {
  std::string fields(value);
  for (char& c : fields)
    if (c == '\t') c = '\0';
  const char* first = fields.c_str();
  const std::size_t gap = std::string_view(first).size();
  LoudnessTarget target;
  if (!parseReal(first, target.lufs)) return std::nullopt;
  std::size_t at = gap;
  while (at < fields.size() && fields[at] == '\0') ++at;
  if (at < fields.size() && !parseReal(fields.c_str() + at, target.ceiling)) return std::nullopt;
  if (target.lufs < kTargetLowest || target.lufs > 0.0) return std::nullopt;
  if (target.ceiling < kCeilingLowest || target.ceiling > 0.0) return std::nullopt;
  return target;
}

int readTapMode(std::string_view section) {
  int mode = 0;
  forEachKeyword(section, "tap", [&](Tokenizer& tok) {
    const char* value = tok.next(Tokenizer::kWords);
    if (tokenIs(value, "rev")) mode = 1;
    if (tokenIs(value, "rtn")) mode = 2;
  });
  return mode;
}

}  // namespace sorvan
