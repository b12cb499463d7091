// The tracks file (which recording feeds which channel) and the source
// recordings: their headers, the common sample rate, time stamps and the
// song length.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/limits.h"
#include "wave/header.h"

namespace sorvan {

using ChannelFlags = std::array<int, kMaxTracks + 1>;  // index = channel number 1..127

// Counts the track lines of the section (up to the line "end"); more than 127
// lines draw a warning and only the first 127 are used.
int countTracks(std::string_view section);

struct TrackList {
  int count = 0;
  std::vector<std::string> names;  // names[k - 1] feeds channel k
  std::vector<int> lines;          // lines[k - 1]: channel k's line in the section (0-based)
  ChannelFlags wanted{};
  ChannelFlags solo{};
};

// Builds the channel list in track-list mode 0, 1 or 2.
TrackList readTrackList(std::string_view section, int count, int mode, bool tabSeparated);

// The preferences "resample" (on: sources at other rates are converted to
// the session rate; otherwise every source must share one rate) and "rate"
// (the session rate, 1000..768000 Hz; only with resample on; without it the
// session takes the first active channel's rate). The last of each counts;
// a rate outside the range is passed over.
struct RateSettings {
  bool resample = false;
  std::optional<std::uint32_t> rate;
};
RateSettings readRateSettings(std::string_view prefsSection);

struct Sources {
  ChannelFlags active{};
  std::array<SourceAttributes, kMaxTracks + 1> attributes{};  // as the files are
  std::array<std::int64_t, kMaxTracks + 1> startOffset{};
  // Frames at the session rate: the converted length of a converted source.
  std::array<std::int64_t, kMaxTracks + 1> length{};
  ChannelFlags converted{};        // read through the rate converter
  std::vector<std::string> paths;  // paths[k - 1] is channel k's file
  std::uint32_t sampleRate = 0;    // the session rate; 0 when no source is usable
  double rate = 44100.0;           // conversion factor for every time value
  std::int64_t songLength = 0;
};

class SourceReport;

// Reads every wanted source's header (clearing the wanted flag of unusable
// ones, and of sources with more than two channels, which the mix cannot
// play), settles the session rate: without resample every source must share
// one rate (status 1 on a mismatch); with it the others are marked for
// conversion. Then applies the time stamps of the fader file and computes the
// song length, both at the session rate. `report` hears of every wanted
// channel that will play silence.
Sources readSources(TrackList& tracks, const std::optional<std::string>& sourceDir,
                    std::string_view faderSection, int verbosity, const RateSettings& rates,
                    SourceReport& report);

// "tstamp" and "sstamp" offsets per channel, in samples.
void readTimeStamps(std::string_view faderSection, double rate,
                    std::array<std::int64_t, kMaxTracks + 1>& offsets);

}  // namespace sorvan
