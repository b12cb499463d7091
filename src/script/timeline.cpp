#include "script/timeline.h"

#include "base/fatal.h"
#include "base/messages.h"
#include "base/numeric.h"

namespace sorvan {

std::int64_t readAutomationOffset(std::string_view prefsSection, double sampleRate, bool preview,
                                  std::int64_t renderStart) {
  std::int64_t offset = 0;
  Tokenizer tok(prefsSection);
  for (const char* token = tok.next(Tokenizer::kWords); token && !isEndToken(token);
       token = tok.next(Tokenizer::kWords)) {
    if (!tokenIs(token, "offset")) continue;
    const char* first = tok.next(Tokenizer::kWords);
    if (tokenIs(first, "xlink")) {
      offset = preview ? renderStart : 0;
    } else {
      const float minutes = toSingle(readReal(first));
      const float seconds = nextSingle(tok, Tokenizer::kField);
      const float milliseconds = nextSingle(tok, Tokenizer::kLine);
      // The offset is summed in single precision, unlike the time entries.
      const float total = milliseconds / 1000.0f + minutes * 60.0f + seconds;
      offset = truncateTo<std::int64_t>(static_cast<double>(total) * sampleRate);
    }
    say("Automation offset by %lld samples.\n", static_cast<long long>(offset));
  }
  return offset;
}

void buildTempoMap(std::string_view faderSection, double sampleRate, int verbosity, TempoMap& map) {
  if (verbosity == 2) sayLine("Constructing tempo map...");
  map.count = 0;
  int entryNumber = 0;
  bool warned = false;
  Tokenizer tok(faderSection);
  for (const char* token = tok.next(Tokenizer::kWords); token && !isEndToken(token);
       token = tok.next(Tokenizer::kWords)) {
    if (!tokenIs(token, "tmap")) continue;
    const double tempo = nextReal(tok, Tokenizer::kField);
    const int beatsPerBar = nextInt(tok, Tokenizer::kField);
    const int bars = nextInt(tok, Tokenizer::kLine);
    ++entryNumber;
    if (map.count >= kMaxTempoSegments) {
      if (!warned) {
        say(">> Warning: tempo map has more than %i entries; the extra entries are ignored.\n",
            kMaxTempoSegments);
        warned = true;
      }
      continue;
    }
    // A tempo of zero would make a segment of infinite length.
    if (!(tempo > 0.0)) {
      say("Error:  Tempo must be above zero in tempo map entry %i\n", entryNumber);
      throw Fatal{exit_status::kConfig};
    }
    TempoSegment& segment = map.segments[static_cast<std::size_t>(map.count++)];
    segment.samplesPerBeat = sampleRate * (60.0 / tempo);
    segment.beatsPerBar = beatsPerBar;
    segment.bars = bars;
  }
  if (map.count == 0) {
    sayLine("Tempo mode is on, but no tempos or meters have been entered!");
    throw Fatal{exit_status::kConfig};
  }
  for (int i = 0; i < map.count; ++i) {
    TempoSegment& segment = map.segments[static_cast<std::size_t>(i)];
    segment.length = truncateTo<std::int64_t>(static_cast<double>(segment.bars) *
                                              segment.samplesPerBeat * segment.beatsPerBar);
  }
}

int readTimeFieldCount(std::string_view prefsSection, int verbosity) {
  int fields = 3;
  Tokenizer tok(prefsSection);
  for (const char* token = tok.next(Tokenizer::kWords); token && !isEndToken(token);
       token = tok.next(Tokenizer::kWords)) {
    if (!tokenIs(token, "tfields")) continue;
    fields = nextInt(tok, Tokenizer::kWords);
    if (fields < 1 || fields > 3) fields = 3;
    if (verbosity == 2) {
      if (fields == 1) {
        sayLine("Using 1 time field");
      } else {
        say("Using %i time fields\n", fields);
      }
    }
  }
  return fields;
}

std::int64_t tempoToSamples(const TempoMap& map, const TimeFields& when, std::int64_t offset) {
  if (map.count <= 0) return offset;
  const float bar = when.minutes;
  const float beat = when.seconds;
  const float tick = when.milliseconds;

  // Pass every segment that ends before the bar; past the map's end the last
  // segment's tempo and meter go on.
  std::int64_t barsPassed = 0;
  std::int64_t samplesPassed = 0;
  int holding = 0;
  while (holding < map.count) {
    const TempoSegment& segment = map.segments[static_cast<std::size_t>(holding)];
    if (!(static_cast<float>(barsPassed + segment.bars) < bar)) break;
    barsPassed += segment.bars;
    samplesPassed = addSaturating(samplesPassed, segment.length);
    ++holding;
  }
  if (holding == map.count) holding = map.count - 1;
  if (bar <= 1.0f && beat <= 1.0f && tick == 0.0f) {
    samplesPassed = 0;
    holding = 0;
  }
  const TempoSegment& segment = map.segments[static_cast<std::size_t>(holding)];
  const double samplesPerBeat = segment.samplesPerBeat;

  const float barsInto = bar - static_cast<float>(barsPassed) - 1.0f;
  std::int64_t position = truncateTo<std::int64_t>(static_cast<double>(barsInto) * samplesPerBeat *
                                                       segment.beatsPerBar +
                                                   static_cast<double>(samplesPassed));
  if (beat > 0.0f) {
    position = truncateTo<std::int64_t>(static_cast<double>(beat - 1.0f) * samplesPerBeat +
                                        static_cast<double>(position));
  } else if (beat < 0.0f) {
    // A negative beat counts back from the start of the bar.
    position = truncateTo<std::int64_t>(static_cast<double>(beat) * samplesPerBeat +
                                        static_cast<double>(position));
  }
  return truncateTo<std::int64_t>(static_cast<double>(tick) / 480.0 * samplesPerBeat +
                                  static_cast<double>(position) + static_cast<double>(offset));
}

void readTimeEntry(Tokenizer& tok, TimeCursor& cursor) {
  const TimeFields when = readTimeFields(tok, cursor.fieldCount);
  std::int64_t position = 0;
  if (cursor.tempo && cursor.tempoMap) {
    position = tempoToSamples(*cursor.tempoMap, when, cursor.offset);
  } else {
    position = addSaturating(clockToSamples(when, cursor.sampleRate), cursor.offset);
  }
  ++cursor.entryCount;
  if (position > cursor.songLength) {
    say("Error:  Time entry %i exceeds song length\n", cursor.entryCount);
    throw Fatal{exit_status::kConfig};
  }
  if (position < 0) {
    say("Error:  Time entry %i is less than zero\n", cursor.entryCount);
    throw Fatal{exit_status::kConfig};
  }
  cursor.position = position;
}

void readTimeIncrement(Tokenizer& tok, TimeCursor& cursor) {
  const double seconds = nextReal(tok, Tokenizer::kLine);
  const double rate = static_cast<float>(cursor.sampleRate);
  cursor.position = truncateTo<std::int64_t>(rate * seconds + static_cast<double>(cursor.position));
}

}  // namespace sorvan
