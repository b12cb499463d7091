#include "driver/tracks.h"

#include <algorithm>
#include <cstring>

#include "base/fatal.h"
#include "base/messages.h"
#include "base/numeric.h"
#include "driver/diagnostics.h"
#include "textcfg/keywords.h"
#include "textcfg/line_check.h"
#include "textcfg/tokenizer.h"
#include "wave/open_source.h"
#include "wave/resampled_source.h"

namespace sorvan {

int countTracks(std::string_view section) {
  Tokenizer tok(section);
  tok.next(Tokenizer::kLine);
  int count = 1;
  for (const char* line = tok.next(Tokenizer::kLine); line && !isEndToken(line);
       line = tok.next(Tokenizer::kLine)) {
    ++count;
  }
  if (count > kMaxTracks) {
    say(">> Warning: the tracks file lists %i tracks; only the first %i are used.\n", count,
        kMaxTracks);
    count = kMaxTracks;
  }
  return count;
}

namespace {

// Channel k is the k-th line holding anything, up to the line "end".
std::vector<int> channelLines(std::string_view section, int count) {
  std::vector<int> lines;
  const SectionLines text(section);
  for (std::size_t i = 0; i < text.size() && static_cast<int>(lines.size()) < count; ++i) {
    if (text[i].empty()) continue;
    if (text[i] == "end") break;
    lines.push_back(static_cast<int>(i));
  }
  return lines;
}

}  // namespace

TrackList readTrackList(std::string_view section, int count, int mode, bool tabSeparated) {
  TrackList list;
  list.count = count;
  list.lines = channelLines(section, count);
  const char separator = tabSeparated ? '\t' : ' ';
  std::string text(section);
  RemoveExtraString(text, separator);

  // Fields are found by the separator (or a line end); the mark is the rest
  // of the line, so a line without its mark runs into the next one.
  const char fieldDelims[] = {separator, '\n', '\0'};
  const int skipped = mode == 1 ? 1 : 2;
  if (mode == 0) {
    for (int ch = 1; ch <= count; ++ch) list.wanted[ch] = 1;
    Tokenizer tok(text);
    for (int ch = 1; ch <= count; ++ch) {
      const char* name = tok.next(Tokenizer::kLine);
      list.names.emplace_back(name ? name : "");
    }
    return list;
  }

  Tokenizer marks(text);
  bool anySolo = false;
  for (int ch = 1; ch <= count; ++ch) {
    for (int f = 0; f < skipped; ++f) marks.next(fieldDelims);
    const char* mark = marks.next(Tokenizer::kLine);
    if (tokenIs(mark, "+")) list.wanted[ch] = 1;
    if (tokenIs(mark, "++")) {
      list.solo[ch] = 1;
      anySolo = true;
    }
  }
  if (anySolo) list.wanted = list.solo;

  Tokenizer names(text);
  for (int ch = 1; ch <= count; ++ch) {
    const char* name = nullptr;
    for (int f = 0; f < skipped; ++f) name = names.next(fieldDelims);
    names.next(Tokenizer::kLine);
    list.names.emplace_back(name ? name : "");
  }
  return list;
}

void readTimeStamps(std::string_view faderSection, double rate,
                    std::array<std::int64_t, kMaxTracks + 1>& offsets) {
  offsets.fill(0);
  auto channelOf = [](Tokenizer& tok, const char* keyword) -> int {
    const std::int64_t ch = nextInteger(tok, Tokenizer::kField);
    if (ch < 1 || ch > kMaxTracks) {
      say(">> Warning: %s for channel %lld is out of range and is ignored.\n", keyword,
          static_cast<long long>(ch));
      return 0;
    }
    return static_cast<int>(ch);
  };
  {
    Tokenizer tok(faderSection);
    for (const char* token = tok.next(Tokenizer::kWords); token && !isEndToken(token);
         token = tok.next(Tokenizer::kWords)) {
      if (std::strcmp(token, "tstamp") != 0) continue;
      const int ch = channelOf(tok, "tstamp");
      const TimeFields t = readTimeFields(tok, 3);
      if (ch) offsets[ch] = clockToSamples(t, rate);
    }
  }
  Tokenizer tok(faderSection);
  for (const char* token = tok.next(Tokenizer::kWords); token && !isEndToken(token);
       token = tok.next(Tokenizer::kWords)) {
    if (std::strcmp(token, "sstamp") != 0) continue;
    const int ch = channelOf(tok, "sstamp");
    const std::int64_t samples = nextInteger(tok, Tokenizer::kLine);
    if (ch && __builtin_add_overflow(offsets[ch], samples, &offsets[ch]))
      offsets[ch] = samples > 0 ? INT64_MAX : INT64_MIN;
  }
}

RateSettings readRateSettings(std::string_view prefsSection) {
  RateSettings settings;
  Tokenizer tok(prefsSection);
  for (const char* token = tok.next(Tokenizer::kWords); token && !isEndToken(token);
       token = tok.next(Tokenizer::kWords)) {
    if (std::strcmp(token, "resample") == 0) {
      settings.resample = tokenIs(tok.next(Tokenizer::kWords), "on");
    } else if (std::strcmp(token, "rate") == 0) {
      const std::int64_t rate = nextInteger(tok, Tokenizer::kWords);
      if (rate >= kLowestConvertedRate && rate <= kHighestConvertedRate) {
        settings.rate = static_cast<std::uint32_t>(rate);
      } else {
        settings.rate.reset();
      }
    }
  }
  return settings;
}

namespace {

// Sources at another rate than the session's are converted; one the
// converter cannot take is refused and plays silence.
void planConversions(TrackList& tracks, Sources& sources, SourceReport& report, int verbosity) {
  for (int ch = 1; ch <= tracks.count; ++ch) {
    if (!tracks.wanted[ch]) continue;
    const std::uint32_t from = sources.attributes[ch].sampleRate;
    if (from == sources.sampleRate) continue;
    if (!canConvertRate(from, sources.sampleRate)) {
      tracks.wanted[ch] = 0;
      sources.active[ch] = 0;
      report.cannotConvert(tracks, sources, ch);
      continue;
    }
    sources.converted[ch] = 1;
    if (verbosity == 2)
      say("Channel %i: %s is converted from %u Hz to %u Hz.\n", ch,
          sources.paths[static_cast<std::size_t>(ch - 1)].c_str(), from, sources.sampleRate);
  }
}

int firstWanted(const TrackList& tracks) {
  for (int ch = 1; ch <= tracks.count; ++ch)
    if (tracks.wanted[ch]) return ch;
  return 0;
}

}  // namespace

Sources readSources(TrackList& tracks, const std::optional<std::string>& sourceDir,
                    std::string_view faderSection, int verbosity, const RateSettings& rates,
                    SourceReport& report) {
  Sources sources;
  for (int ch = 1; ch <= tracks.count; ++ch) {
    sources.paths.push_back(sourceDir.value_or("") + tracks.names[ch - 1]);
    if (!tracks.wanted[ch]) continue;
    const std::string& path = sources.paths.back();
    SourceAttributes& a = sources.attributes[ch];
    sources.active[ch] = readSourceHeader(path, a) ? 1 : 0;
    // The mix decodes mono and stereo frames only; a file of more channels
    // would play silence, so it is refused like any unusable file.
    if (sources.active[ch] && a.channels > 2) sources.active[ch] = 0;
    if (!sources.active[ch]) {
      tracks.wanted[ch] = 0;
      report.unusable(tracks, ch, path, inspectWave(path), a.channels > 2 ? &a : nullptr);
    } else if (a.frames == 0) {
      report.unusable(tracks, ch, path, inspectWave(path), &a);
    }
  }
  const int reference = firstWanted(tracks);
  if (rates.resample && (reference || rates.rate)) {
    sources.sampleRate =
        rates.rate.value_or(reference ? sources.attributes[reference].sampleRate : 0);
    planConversions(tracks, sources, report, verbosity);
  }
  if (verbosity == 2) sayLine("Read file headers.");
  if (std::none_of(sources.active.begin(), sources.active.end(), [](int a) { return a != 0; }))
    report.noChannel(tracks);

  if (!rates.resample) {
    for (int ch = reference + 1; reference && ch <= tracks.count; ++ch) {
      if (!tracks.wanted[ch]) continue;
      if (sources.attributes[ch].sampleRate != sources.attributes[reference].sampleRate) {
        say("The sample rate appears to be %li\n",
            static_cast<long>(sources.attributes[reference].sampleRate));
        say("The file assigned to channel %i has a different rate!\n", ch);
        report.rateDiffers(tracks, sources, reference, ch);
        throw Fatal(exit_status::kUser);
      }
    }
    if (reference) {
      sources.sampleRate = sources.attributes[reference].sampleRate;
      sources.rate = static_cast<double>(sources.sampleRate);
    }
  } else if (reference || rates.rate) {
    sources.rate = static_cast<double>(sources.sampleRate);
  }

  readTimeStamps(faderSection, sources.rate, sources.startOffset);
  for (int ch = 1; ch <= tracks.count; ++ch) {
    if (!sources.active[ch]) continue;
    const SourceAttributes& a = sources.attributes[ch];
    sources.length[ch] = sources.converted[ch]
                             ? convertedLength(a.frames, a.sampleRate, sources.sampleRate)
                             : a.frames;
    std::int64_t end;
    if (__builtin_add_overflow(sources.length[ch], sources.startOffset[ch], &end)) end = INT64_MAX;
    if (end > sources.songLength) sources.songLength = end;
  }
  if (verbosity == 2) say("Sample Rate: %u\n", sources.sampleRate);
  return sources;
}

}  // namespace sorvan
