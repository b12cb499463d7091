// Sample positions of the fader file's time entries: the automation offset,
// the tempo map for bar/beat/tick times, and the time cursor that "t" and
// "inc" move during the volume pass.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "base/limits.h"
#include "textcfg/keywords.h"
#include "textcfg/tokenizer.h"

namespace sorvan {

struct TempoSegment {
  double samplesPerBeat = 0.0;
  int beatsPerBar = 0;
  int bars = 0;             // how many bars the segment lasts
  std::int64_t length = 0;  // bars x samples per beat x beats per bar, truncated
};

struct TempoMap {
  std::array<TempoSegment, kMaxTempoSegments> segments{};
  int count = 0;
};

// The preferences "offset" entries (the last wins), in samples: "xlink" takes
// the render start in preview mode and 0 otherwise. Each entry prints its value.
std::int64_t readAutomationOffset(std::string_view prefsSection, double sampleRate, bool preview,
                                  std::int64_t renderStart);

// Reads every "tmap" entry of the fader section. A tempo of 0 or below, or a
// map without entries, ends the run with status 2.
void buildTempoMap(std::string_view faderSection, double sampleRate, int verbosity, TempoMap& map);

// The preferences "tfields" setting: 1, 2 or 3 (anything else, or none, is 3).
int readTimeFieldCount(std::string_view prefsSection, int verbosity);

// Bar, beat and tick (480 per beat) as a song position, offset included.
// The fields arrive in the minutes, seconds and milliseconds slots.
std::int64_t tempoToSamples(const TempoMap& map, const TimeFields& when, std::int64_t offset);

// The time cursor of the volume pass and what it needs to convert times.
// Entries written before the first "t" take position 0.
struct TimeCursor {
  double sampleRate = 44100.0;
  std::int64_t songLength = 0;
  int fieldCount = 3;
  bool tempo = false;
  const TempoMap* tempoMap = nullptr;  // required in tempo mode
  std::int64_t offset = 0;             // automation offset
  std::int64_t position = 0;
  int entryCount = 0;  // "t" entries read so far
};

// "t": reads the time fields and moves the cursor. A position beyond the song
// or below zero ends the run with status 2.
void readTimeEntry(Tokenizer& tok, TimeCursor& cursor);

// "inc": moves the cursor by a number of seconds, unchecked.
void readTimeIncrement(Tokenizer& tok, TimeCursor& cursor);

}  // namespace sorvan
