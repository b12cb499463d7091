#include "script/effect_settings.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "base/messages.h"
#include "base/numeric.h"
#include "textcfg/checks.h"
#include "textcfg/keywords.h"
#include "textcfg/tokenizer.h"

namespace sorvan {

const char* const kProcessorNames[kProcessorCount] = {
    "hp", "band1", "band2", "band3", "band4", "hshelf", "lshelf", "rms", "nlc", "comp", "lim"};

StripSettings::StripSettings() {
  for (auto& row : position) row.fill(kDefaultPosition);
}

bool StripSettings::hasProcessor(int index) const {
  for (int p = 0; p < kProcessorCount; ++p) {
    if (enabled[p][index]) return true;
  }
  return false;
}

std::int64_t thresholdSamples(double value, bool percent, int index) {
  CheckThresh(value, percent ? check_mode::kPercentLevel : check_mode::kDb);
  const double ratio = percent ? value / 100.0 : std::pow(10.0, value / 20.0);
  const std::int64_t samples = truncateTo<std::int64_t>(ratio * kChannelFullScale);
  return (index == 0 || index > kMaxTracks) ? samples * 256 - 1 : samples;
}

namespace {

// One strip keyword read into a field table; `each` gets the channel index
// and the row's values for every row that was given.
template <typename Each>
void readStripKeyword(const EffectInputs& in, const char* keyword, int count, StripSettings& s,
                      Processor processor, Each each) {
  FieldTable table;
  int master = 0;
  int masterStrip = 0;
  ParamsFromBuffer(in.faderSection, keyword, table, count, master, masterStrip);
  if (masterStrip) s.masterStripInUse = true;
  for (int index = 0; index < kStripCount; ++index) {
    const double* f = &table[static_cast<std::size_t>(index) * kFieldStride];
    if (f[0] != 1.0) continue;
    // Row 0 is also where a channel field of 0 (or one that is no number)
    // lands; only an entry written with "M" gives the master the processor.
    if (index != 0 || master) s.enabled[processor][index] = 1;
    each(index, f);
  }
}

std::int64_t msToSamples(double ms, double rate) {
  return truncateTo<std::int64_t>(ms * rate / 1000.0);
}

void readCompressors(const EffectInputs& in, StripSettings& s) {
  const double rate = in.sampleRate;
  auto attackRelease = [&](const double* f, std::int64_t& attack, std::int64_t& release,
                           double& ratio) {
    attack = msToSamples(f[2], rate);
    checkValL(attack, check_mode::kAttack, rate);
    release = msToSamples(f[3], rate);
    checkValL(release, check_mode::kRelease, rate);
    ratio = f[4];
    checkValD(ratio, check_mode::kRatio, rate);
  };
  if (in.verbosity == 3) sayLine("\tReading peak compressor settings...");
  readStripKeyword(in, "comp", 5, s, kPeakComp, [&](int index, const double* f) {
    std::int64_t attack, release;
    double ratio;
    attackRelease(f, attack, release, ratio);
    setPeakCompressor(s.comp, index, thresholdSamples(f[1], in.percent, index),
                      saturateTo<long>(attack), saturateTo<long>(release), ratio);
  });
  readStripKeyword(in, "rms", 5, s, kRmsComp, [&](int index, const double* f) {
    std::int64_t attack, release;
    double ratio;
    attackRelease(f, attack, release, ratio);
    setRmsCompressor(s.rms, index, thresholdSamples(f[1], in.percent, index),
                     saturateTo<long>(attack), saturateTo<long>(release), ratio);
  });
  if (in.verbosity == 3) sayLine("\tReading NLC compressor settings...");
  readStripKeyword(in, "nlc", 4, s, kNonLinComp, [&](int index, const double* f) {
    double ratio = f[3];
    checkValD(ratio, check_mode::kRatio, rate);
    setNonLinComp(s.nlc, index, thresholdSamples(f[1], in.percent, index), truncateTo<long>(f[2]),
                  ratio);
  });
  readStripKeyword(in, "lim", 2, s, kLimiter, [&](int index, const double* f) {
    setLimiter(s.lim, index, thresholdSamples(f[1], in.percent, index));
  });
}

void readFilters(const EffectInputs& in, StripSettings& s) {
  const double rate = in.sampleRate;
  if (in.verbosity == 3) sayLine("\tReading high pass filter settings...");
  readStripKeyword(in, "hp", 2, s, kHighPass, [&](int index, const double* f) {
    double cutoff = f[1];
    checkValD(cutoff, check_mode::kFrequency, rate);
    setHighPass(s.hpf, index, cutoff, rate);
  });
  auto section = [&](const char* keyword, Processor processor, int eqSection) {
    readStripKeyword(in, keyword, 4, s, processor, [&](int index, const double* f) {
      double freq = f[1], gain = f[2], q = f[3];
      checkValD(freq, check_mode::kFrequency, rate);
      checkValD(gain, check_mode::kGain, rate);
      checkValD(q, check_mode::kQ, rate);
      setEqSection(s.eq, eqSection, index, freq, gain, q, rate);
    });
  };
  if (in.verbosity == 3) sayLine("\tReading band 1-4 EQ settings...");
  section("band1", kBand1, kEqBand1);
  section("band2", kBand2, kEqBand1 + 1);
  section("band3", kBand3, kEqBand1 + 2);
  section("band4", kBand4, kEqBand4);
  if (in.verbosity == 3) sayLine("\tReading high and low shelf EQ settings...");
  section("hshelf", kHighShelf, kEqHighShelf);
  section("lshelf", kLowShelf, kEqLowShelf);
}

float sendRatio(double value, bool percent) {
  CheckSndRtn(value, percent ? check_mode::kPercentLevel : check_mode::kDb);
  double ratio = percent ? value / 100.0 : std::pow(10.0, value / 20.0);
  if (ratio > 1.0) ratio = 1.0;
  if (ratio < 0.0) ratio = 0.0;
  return static_cast<float>(ratio);
}

void readSends(const EffectInputs& in, StripSettings& s, ReverbSettings& r) {
  if (in.verbosity == 3) sayLine("\tReading reverb settings...");
  auto sends = [&](const char* keyword, std::array<int, kStripCount>& on,
                   std::array<float, kStripCount>& level, bool& masterFed) {
    FieldTable table;
    int master = 0;
    int masterStrip = 0;
    ParamsFromBuffer(in.faderSection, keyword, table, 2, master, masterStrip);
    if (master) masterFed = true;
    if (masterStrip) s.masterStripInUse = true;
    for (int index = 0; index < kStripCount; ++index) {
      const double* f = &table[static_cast<std::size_t>(index) * kFieldStride];
      if (f[0] != 1.0) continue;
      on[index] = 1;
      level[index] = sendRatio(f[1], in.percent);
    }
  };
  sends("rev", r.recursiveSendOn, r.recursiveSend, r.masterFedRecursive);
  sends("trev", r.tapSendOn, r.tapSend, r.masterFedTap);
}

// Calls `read` after each token equal to `keyword` up to "end".
template <typename Read>
void forEachEntry(std::string_view section, const char* keyword, Read read) {
  Tokenizer tok(section);
  for (const char* token = tok.next(Tokenizer::kWords); token && !isEndToken(token);
       token = tok.next(Tokenizer::kWords)) {
    if (std::strcmp(token, keyword) == 0) read(tok);
  }
}

void readReverbEntries(const EffectInputs& in, ReverbSettings& r) {
  const std::string_view text = in.faderSection;
  auto level = [&](double value) {
    CheckSndRtn(value, in.percent ? check_mode::kPercentLevel : check_mode::kDb);
    return toSingle(in.percent ? value / 100.0 : std::pow(10.0, value / 20.0));
  };
  forEachEntry(text, "rtn", [&](Tokenizer& tok) {
    r.recursiveInUse = true;
    r.recursiveReturn = level(nextReal(tok, Tokenizer::kField));
    r.recursiveRoom = nextSingle(tok, Tokenizer::kLine);
  });
  forEachEntry(text, "trtn", [&](Tokenizer& tok) {
    r.tapInUse = true;
    r.tapReturn = level(nextReal(tok, Tokenizer::kField));
    r.tapRoom = nextSingle(tok, Tokenizer::kField);
    r.taps = nextInt(tok, Tokenizer::kLine);
  });
  // Return levels are limited to 0..1 once every entry is read.
  for (float* l : {&r.recursiveReturn, &r.tapReturn}) {
    if (*l > 1.0f) *l = 1.0f;
    if (*l < 0.0f) *l = 0.0f;
  }
  forEachEntry(text, "pos", [&](Tokenizer& tok) {
    r.p1 = nextSingle(tok, Tokenizer::kField);
    r.p2 = nextSingle(tok, Tokenizer::kField);
    r.p3 = nextSingle(tok, Tokenizer::kLine);
    for (float* p : {&r.p1, &r.p2, &r.p3}) checkValF(*p, check_mode::kPercent);
  });
  forEachEntry(text, "width", [&](Tokenizer& tok) { r.width = nextSingle(tok, Tokenizer::kLine); });
  forEachEntry(text, "rhp", [&](Tokenizer& tok) {
    setReverbHighPass(r.eq, nextReal(tok, Tokenizer::kLine), in.sampleRate);
  });
  forEachEntry(text, "rlp", [&](Tokenizer& tok) {
    setReverbLowPass(r.eq, nextReal(tok, Tokenizer::kLine), in.sampleRate);
  });
}

int processorByName(const char* name) {
  for (int p = 0; p < kProcessorCount; ++p) {
    if (std::strcmp(name, kProcessorNames[p]) == 0) return p;
  }
  return -1;
}

// A token of the order pass: where it stands in the section and on which line.
struct OrderToken {
  std::string_view text;
  std::size_t offset;
  int line;
};

// The section cut at tab, newline and colon, up to the token "end".
std::vector<OrderToken> orderTokens(std::string_view section) {
  // A zero byte ends the text, as for every other scan.
  section = section.substr(0, std::min(section.size(), section.find('\0')));
  std::vector<OrderToken> tokens;
  int line = 0;
  std::size_t p = 0;
  while (p < section.size()) {
    const char c = section[p];
    if (c == '\n' || c == '\t' || c == ':') {
      if (c == '\n') ++line;
      ++p;
      continue;
    }
    const std::size_t stop = std::min(section.size(), section.find_first_of("\t\n:", p));
    const std::string_view text = section.substr(p, stop - p);
    if (text == "end") break;
    tokens.push_back({text, p, line});
    p = stop;
  }
  return tokens;
}

struct OrderEntry {
  int processor;
  std::int64_t index;  // may lie outside the table; such an entry is ignored
  int position;
  std::size_t nameOffset;  // where the processor name stands in the section
  std::size_t nameLength;
};

// Order entries: a token starting with "o", then on the same line a processor
// name, a channel and a position. A token starting with "o" that is not
// followed on its line by a complete entry consumes only itself, so an "ofs"
// entry or a mix name cannot swallow the entry or the processor line after it.
std::vector<OrderEntry> findOrderEntries(std::string_view section) {
  const std::vector<OrderToken> tokens = orderTokens(section);
  auto onLine = [&](std::size_t at, int line) {
    return at < tokens.size() && tokens[at].line == line;
  };
  auto integer = [&](std::size_t at) { return readInteger(std::string(tokens[at].text).c_str()); };
  std::vector<OrderEntry> entries;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    if (tokens[i].text[0] != 'o') continue;
    const int line = tokens[i].line;
    if (!onLine(i + 1, line)) continue;
    const int processor = processorByName(std::string(tokens[i + 1].text).c_str());
    if (processor < 0) continue;
    std::size_t at = i + 2;
    if (!onLine(at, line)) continue;
    std::int64_t index = 0;
    const char first = tokens[at].text[0];
    if (first == 'G') {
      ++at;
      if (!onLine(at, line)) continue;
      const std::int64_t submix = integer(at);
      index = submix < kLevelSlots ? kSubmixBase + submix : kLevelSlots;
    } else if (first != 'M') {
      index = integer(at);
    }
    ++at;
    if (!onLine(at, line)) continue;
    entries.push_back({processor, index, saturateTo<int>(integer(at)), tokens[i + 1].offset,
                       tokens[i + 1].text.size()});
    i = at;
  }
  return entries;
}

void applyOrderEntries(const std::vector<OrderEntry>& entries, StripSettings& s) {
  for (const OrderEntry& e : entries) {
    // Slots 0..136 exist; anything else names no strip.
    if (e.index < 0 || e.index >= kLevelSlots) continue;
    s.position[e.processor][static_cast<std::size_t>(e.index)] = e.position;
  }
}

// The section as the processor passes read it: the processor name inside an
// order entry is blanked, so that "order comp 2 1" is not also read as a
// compressor entry whose fields run on into the lines below it.
std::string withoutOrderNames(std::string_view section, const std::vector<OrderEntry>& entries) {
  std::string text(section);
  for (const OrderEntry& e : entries) text.replace(e.nameOffset, e.nameLength, e.nameLength, '\t');
  return text;
}

}  // namespace

void readEffectSettings(const EffectInputs& in, EffectSettings& out) {
  if (in.verbosity > 1) sayLine("Reading effect settings...");
  const std::vector<OrderEntry> order = findOrderEntries(in.faderSection);
  const std::string processorText = withoutOrderNames(in.faderSection, order);
  EffectInputs processors = in;
  processors.faderSection = processorText;
  readCompressors(processors, out.strips);
  readFilters(processors, out.strips);
  readSends(processors, out.strips, out.reverbs);
  readReverbEntries(in, out.reverbs);
  applyOrderEntries(order, out.strips);
}

}  // namespace sorvan
