// Readers shared by the three text files: line splitting, character removal,
// keyword lookups, the per-channel field table and the routing lists.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "base/limits.h"
#include "textcfg/tokenizer.h"

namespace sorvan {

// The lines of text that end with a newline (text after the last newline is
// not a counted line and is not returned).
std::vector<std::string_view> pointToLines(std::string_view text);

// Deletes every space; a text of nothing but spaces is left as it is.
void RemoveSpaces(std::string& text);

// Collapses every run of two or more `c` into one; returns how many were removed.
int RemoveExtraString(std::string& text, char c);

// For every token equal to `keyword` anywhere in the text (the lookup does not
// stop at "end"), the next token read as an integer; the last occurrence wins
// and `value` keeps its value when the keyword does not occur.
void CodetoInt(std::string_view text, const char* keyword, int& value);

// Rows of parameter fields, one per channel index 0..135: field 0 marks a row
// that was given, fields 1..count-1 hold its values.
inline constexpr int kFieldStride = 8;
using FieldTable = std::array<double, kStripCount * kFieldStride>;

// Fills `table` from every entry of `keyword`: channel field, count-2 tab-ended
// values, then the rest of the line as the last value. An entry for the master
// ("M") sets both flags. The scan ends at the token "end".
void ParamsFromBuffer(std::string_view text, const char* keyword, FieldTable& table, int count,
                      int& masterFlag, int& masterStripFlag);

// Routing matrix: channel index 0..127 x bus 0..8.
using RoutingMatrix = std::array<std::array<int, kBusCount>, kMaxTracks + 1>;
// VCA number (0 = none) per channel index 0..136.
using VcaAssignment = std::array<int, kLevelSlots>;

// Comma-separated track channels 1..127 routed to `bus`.
void RouteChannel(std::string_view list, int bus, RoutingMatrix& matrix);
// Comma-separated channel indexes 0..136 put under `vca`.
void RouteVCA(std::string_view list, int vca, VcaAssignment& assignment);

// Reads a channel field (a number, "G" and a submix number, or "M") and
// returns the checked channel index 0..135. Sets *isMaster for "M".
int readChannelField(Tokenizer& tok, bool* isMaster = nullptr);

// Time written as one to three fields (minutes, seconds, milliseconds; with two
// fields minutes and seconds; with one field seconds), each narrowed to single
// precision. The last field is the rest of the line.
struct TimeFields {
  float minutes = 0.0f;
  float seconds = 0.0f;
  float milliseconds = 0.0f;
};
TimeFields readTimeFields(Tokenizer& tok, int fieldCount);
// (minutes x 60 + seconds + milliseconds / 1000) x rate, in double, truncated.
std::int64_t clockToSamples(const TimeFields& t, double sampleRate);

}  // namespace sorvan
