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

bool StripSettings::hasProcessor(int index) const {
  for (const int on : strip[static_cast<std::size_t>(index)].enabled) {
    if (on) return true;
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

// One strip keyword read into a field table; `each` gets the strip's settings
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
    StripChannelSettings& strip = s.strip[static_cast<std::size_t>(index)];
    if (index != 0 || master) strip.enabled[processor] = 1;
    each(strip, index, f);
  }
}

std::int64_t msToSamples(double ms, double rate) {
  return truncateTo<std::int64_t>(ms * rate / 1000.0);
}

SwitchedCompressorSettings readSwitched(const EffectInputs& in, int index, const double* f) {
  const double rate = in.sampleRate;
  std::int64_t attackSamples = msToSamples(f[2], rate);
  checkValL(attackSamples, check_mode::kAttack, rate);
  std::int64_t releaseSamples = msToSamples(f[3], rate);
  checkValL(releaseSamples, check_mode::kRelease, rate);
  double ratio = f[4];
  checkValD(ratio, check_mode::kRatio, rate);
  return switchedCompressor(thresholdSamples(f[1], in.percent, index),
                            saturateTo<long>(attackSamples), saturateTo<long>(releaseSamples),
                            ratio);
}

void readCompressors(const EffectInputs& in, StripSettings& s) {
  if (in.verbosity == 3) sayLine("\tReading peak compressor settings...");
  readStripKeyword(in, "comp", 5, s, kPeakComp,
                   [&](StripChannelSettings& strip, int index, const double* f) {
                     strip.comp = readSwitched(in, index, f);
                   });
  readStripKeyword(in, "rms", 5, s, kRmsComp,
                   [&](StripChannelSettings& strip, int index, const double* f) {
                     strip.rms = readSwitched(in, index, f);
                   });
  if (in.verbosity == 3) sayLine("\tReading NLC compressor settings...");
  readStripKeyword(
      in, "nlc", 4, s, kNonLinComp, [&](StripChannelSettings& strip, int index, const double* f) {
        double ratio = f[3];
        checkValD(ratio, check_mode::kRatio, in.sampleRate);
        strip.nlc =
            nonLinComp(thresholdSamples(f[1], in.percent, index), truncateTo<long>(f[2]), ratio);
      });
  readStripKeyword(in, "lim", 2, s, kLimiter,
                   [&](StripChannelSettings& strip, int index, const double* f) {
                     strip.lim.thresh = thresholdSamples(f[1], in.percent, index);
                   });
}

void readFilters(const EffectInputs& in, StripSettings& s) {
  const double rate = in.sampleRate;
  if (in.verbosity == 3) sayLine("\tReading high pass filter settings...");
  readStripKeyword(in, "hp", 2, s, kHighPass,
                   [&](StripChannelSettings& strip, int, const double* f) {
                     double cutoffHz = f[1];
                     checkValD(cutoffHz, check_mode::kFrequency, rate);
                     strip.hpf = highPassCoefficients(cutoffHz, rate);
                   });
  auto section = [&](const char* keyword, Processor processor, int number) {
    readStripKeyword(
        in, keyword, 4, s, processor, [&](StripChannelSettings& strip, int, const double* f) {
          double freqHz = f[1], gainDb = f[2], q = f[3];
          checkValD(freqHz, check_mode::kFrequency, rate);
          checkValD(gainDb, check_mode::kGain, rate);
          checkValD(q, check_mode::kQ, rate);
          strip.eq[static_cast<std::size_t>(number)] = eqSection(number, freqHz, gainDb, q, rate);
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

// One of the two send filters as the reader knows it.
struct SendFilter {
  const char* name;  // as the messages say it
  double minHz, maxHz;
  const char* atNyquist;  // what a corner at or above half the rate does
  BiquadCoefficients (*coefficients)(double hz, double sampleRate);
};

constexpr SendFilter kSendHighPass{"high pass", kReverbHighPassMinHz, kReverbHighPassMaxHz,
                                   "the reverb sends are silenced", reverbHighPassCoefficients};
constexpr SendFilter kSendLowPass{"low pass", kReverbLowPassMinHz, kReverbLowPassMaxHz,
                                  "the reverb sends pass unfiltered", reverbLowPassCoefficients};

// Limits the corner (saying so when it does) and forms the coefficients.
BiquadCoefficients sendFilter(const SendFilter& f, double hz, double sampleRate, double& usedHz) {
  usedHz = hz > f.maxHz ? f.maxHz : (hz < f.minHz ? f.minHz : hz);
  if (hz > f.maxHz || hz < f.minHz) say("Resetting reverb %s to %g Hz\n", f.name, usedHz);
  if (!belowNyquist(usedHz, sampleRate)) {
    say(">> Warning: reverb %s at %g Hz is not below half the sample rate; %s\n", f.name, usedHz,
        f.atNyquist);
  }
  return f.coefficients(usedHz, sampleRate);
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
    r.eq.highPass =
        sendFilter(kSendHighPass, nextReal(tok, Tokenizer::kLine), in.sampleRate, r.eq.highPassHz);
    r.eq.highPassOn = 1;
  });
  forEachEntry(text, "rlp", [&](Tokenizer& tok) {
    r.eq.lowPass =
        sendFilter(kSendLowPass, nextReal(tok, Tokenizer::kLine), in.sampleRate, r.eq.lowPassHz);
    r.eq.lowPassOn = 1;
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
    // Only strips run processors; the spare slot and anything beyond name none.
    if (e.index < 0 || e.index >= kStripCount) continue;
    s.strip[static_cast<std::size_t>(e.index)].position[static_cast<std::size_t>(e.processor)] =
        e.position;
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
