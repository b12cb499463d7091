#include "driver/fader_timing.h"

#include <cstdio>
#include <vector>

#include "base/fatal.h"
#include "base/limits.h"
#include "base/messages.h"
#include "base/numeric.h"
#include "script/timeline.h"
#include "textcfg/keywords.h"
#include "textcfg/line_check.h"

namespace sorvan {
namespace {

struct TimedEntry {
  std::int64_t time;
  int line;
};
using Fader = std::vector<TimedEntry>;

std::string seconds(std::int64_t samples, double rate) {
  char text[48];
  std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(samples) / rate);
  return text;
}

// The entry times of every channel fader and VCA, in stored order.
struct Timing {
  std::vector<Fader> channels = std::vector<Fader>(kLevelSlots);
  std::vector<Fader> vcas = std::vector<Fader>(kVcaSlots);
  bool masterWritten = false;  // an entry addressed the master as "M"
  std::optional<TimeEntryFault> fault;
};

// The volume pass again, keeping only what decides when an entry happens.
// The readers it calls print nothing here that the script stage does not
// print itself.
class TimingPass {
 public:
  TimingPass(const SectionLines& lines, int firstLine, const TimeCursor& cursor)
      : lines_(lines), firstLine_(firstLine), cursor_(cursor) {}

  Timing run() {
    Tokenizer tok(lines_.text());
    for (const char* token = tok.next(Tokenizer::kWords); token && !isEndToken(token);
         token = tok.next(Tokenizer::kWords)) {
      const std::size_t index = lines_.indexOf(tok.offsetOf(token));
      const int line = firstLine_ + static_cast<int>(index);
      if (tokenIs(token, "t")) {
        if (!timeEntry(tok, index, line)) break;
      } else if (tokenIs(token, "inc")) {
        readTimeIncrement(tok, cursor_);
      } else if (tokenIs(token, "v")) {
        bool isMaster = false;
        const int c = readChannelField(tok, &isMaster);
        timing_.masterWritten |= isMaster;
        tok.next(Tokenizer::kLine);
        store(timing_.channels[static_cast<std::size_t>(c)], line);
      } else if (tokenIs(token, "vca")) {
        std::int64_t number = nextInteger(tok, Tokenizer::kField);
        if (number < 1 || number >= kVcaSlots) number = 0;
        tok.next(Tokenizer::kLine);
        store(timing_.vcas[static_cast<std::size_t>(number)], line);
      } else if (tokenIs(token, "ofs")) {
        moveLast(nextReal(tok, Tokenizer::kLine));
      } else if (tokenIs(token, "rmp") || tokenIs(token, "shape")) {
        tok.next(Tokenizer::kLine);
      } else if (tokenIs(token, "p") || tokenIs(token, "pol")) {
        readChannelField(tok);
        tok.next(Tokenizer::kLine);
      }
    }
    return std::move(timing_);
  }

 private:
  // False when the entry lies outside the song, where the script stage stops.
  bool timeEntry(Tokenizer& tok, std::size_t index, int line) {
    const TimeFields when = readTimeFields(tok, cursor_.fieldCount);
    const std::int64_t position =
        cursor_.tempo && cursor_.tempoMap
            ? tempoToSamples(*cursor_.tempoMap, when, cursor_.offset)
            : addSaturating(clockToSamples(when, cursor_.sampleRate), cursor_.offset);
    ++cursor_.entryCount;
    if (position > cursor_.songLength || position < 0) {
      timing_.fault =
          TimeEntryFault{cursor_.entryCount, line, quoted(lines_[index]), position, cursor_.offset};
      return false;
    }
    cursor_.position = position;
    return true;
  }

  void store(Fader& fader, int line) {
    last_ = nullptr;
    if (static_cast<int>(fader.size()) >= kMaxVolumeEntries) return;
    fader.push_back({cursor_.position, line});
    last_ = &fader.back();
  }

  // "ofs", in the single precision the volume pass uses.
  void moveLast(double secondsMoved) {
    const double rate = static_cast<float>(cursor_.sampleRate);
    const float offset = toSingle(rate * secondsMoved);
    if (last_) last_->time = truncateTo<std::int64_t>(static_cast<float>(last_->time) + offset);
  }

  const SectionLines& lines_;
  int firstLine_;
  TimeCursor cursor_;
  Timing timing_;
  TimedEntry* last_ = nullptr;
};

std::string faderName(bool vca, int index) {
  if (vca) return "VCA " + std::to_string(index);
  if (index == 0) return "the master";
  if (index > kSubmixBase && index <= kSubmixBase + kSubmixCount)
    return "submix " + std::to_string(index - kSubmixBase);
  return "channel " + std::to_string(index);
}

// The first entry of a fader that playback cannot reach: entries are reached
// one after another, each at its own sample, so an entry not later than the
// one before it, or outside the song, stops the fader there.
void checkFader(const Fader& fader, bool vca, int index, double rate, std::int64_t songLength,
                const std::string& fileName, Diagnostics& diag) {
  for (std::size_t k = 0; k < fader.size(); ++k) {
    const TimedEntry& e = fader[k];
    const std::string who = std::string(vca ? "vca" : "v") + " for " + faderName(vca, index);
    std::string text;
    std::string fix = "; put the time entries of " + faderName(vca, index) + " in time order";
    if (e.time > songLength || e.time < 0) {
      text = who + " lies at " + seconds(e.time, rate) +
             (e.time < 0 ? ", before the song's start"
                         : ", after the song's end at " + seconds(songLength, rate)) +
             " (inc and ofs move entries without a check), so it is never played";
      fix = "; move it into the song";
    } else if (k > 0 && e.time <= fader[k - 1].time) {
      const TimedEntry& before = fader[k - 1];
      text = who + " at " + seconds(e.time, rate) +
             (e.time == before.time ? " comes at the same time as" : " comes earlier than") +
             " the entry on line " + std::to_string(before.line) + " (" +
             seconds(before.time, rate) +
             "); playback takes a fader's entries in time order, so it is never played";
    } else {
      continue;
    }
    const std::size_t hidden = fader.size() - k - 1;
    if (hidden > 0) {
      text += ", nor " +
              std::string(hidden == 1 ? "is the entry"
                                      : "are the " + std::to_string(hidden) + " entries") +
              " after it on line" + (hidden == 1 ? " " : "s ");
      for (std::size_t h = k + 1; h < fader.size() && h < k + 7; ++h)
        text += (h > k + 1 ? ", " : "") + std::to_string(fader[h].line);
      if (hidden > 6) text += ", ...";
    }
    diag.warn(fileName, e.line, text + fix);
    return;
  }
}

}  // namespace

std::optional<TimeEntryFault> checkFaderTiming(const SessionFiles& files, const SessionPaths& names,
                                               const Sources& sources, const Preferences& prefs,
                                               Diagnostics& diag) {
  const std::string_view prefsSection = files.prefs.section();
  const SectionLines lines(files.faders.section());
  TimeCursor cursor;
  cursor.sampleRate = sources.rate;
  cursor.songLength = sources.songLength;
  cursor.tempo = prefs.tempo;
  TempoMap tempoMap;
  Timing timing;
  {
    // The offset, the tempo map and the channel fields are read by the same
    // readers as in the script stage, which prints their messages itself.
    MessageCapture quiet;
    try {
      cursor.offset =
          readAutomationOffset(prefsSection, sources.rate, prefs.preview, prefs.renderStart);
      if (prefs.tempo) buildTempoMap(files.faders.section(), sources.rate, 0, tempoMap);
    } catch (const Fatal&) {
      return std::nullopt;  // the script stage stops at the tempo map first
    }
    cursor.tempoMap = &tempoMap;
    cursor.fieldCount = readTimeFieldCount(prefsSection, 0);
    timing = TimingPass(lines, firstSectionLine(files.faders), cursor).run();
  }
  for (int c = 0; c < kLevelSlots; ++c) {
    if (c == 0 && !timing.masterWritten) continue;  // never played back
    checkFader(timing.channels[static_cast<std::size_t>(c)], false, c, sources.rate,
               sources.songLength, names.faders, diag);
  }
  for (int v = 1; v < kVcaSlots; ++v)
    checkFader(timing.vcas[static_cast<std::size_t>(v)], true, v, sources.rate, sources.songLength,
               names.faders, diag);
  return timing.fault;
}

void explainTimeEntryFault(const TimeEntryFault& fault, const Sources& sources,
                           const SessionPaths& names, Diagnostics& diag) {
  const double rate = sources.rate;
  std::string text = "time entry " + std::to_string(fault.entry) + " (" + fault.written +
                     ") is at " + seconds(fault.position, rate) + " (" +
                     std::to_string(fault.position) + " samples";
  if (fault.offset != 0)
    text += ", the automation offset of " + std::to_string(fault.offset) + " included";
  text += ")";
  if (fault.position < 0) {
    text += ", before the song's start; make it 0 or later";
  } else {
    text += ", after the song's end at " + seconds(sources.songLength, rate) + " (" +
            std::to_string(sources.songLength) +
            " samples), which is where its longest source ends; move the entry into the song";
  }
  diag.note(names.faders, fault.line, text);
}

}  // namespace sorvan
