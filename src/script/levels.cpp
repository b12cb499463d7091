#include "script/levels.h"

#include <algorithm>
#include <cmath>

#include "base/messages.h"
#include "base/numeric.h"
#include "textcfg/checks.h"
#include "textcfg/keywords.h"
#include "textcfg/tokenizer.h"

namespace sorvan {
namespace {

constexpr double kUnity = static_cast<double>(kUnityLevel);
// Four times unity: the largest level a fader may hold (+12 dB).
constexpr std::int64_t kLevelCeiling = 536870912;

// Calls `visit` with each token equal to `keyword` before "end"; `visit`
// reads the entry's fields from the tokenizer.
template <typename Visit>
void forEachEntry(std::string_view section, const char* keyword, Visit visit) {
  Tokenizer tok(section);
  for (const char* token = tok.next(Tokenizer::kWords); token && !isEndToken(token);
       token = tok.next(Tokenizer::kWords)) {
    if (tokenIs(token, keyword)) visit(tok);
  }
}

void scaleLevels(FaderTable& table, double ratio) {
  for (int e = 0; e < table.count; ++e) {
    auto& level = table.level[static_cast<std::size_t>(e)];
    level = truncateTo<std::int64_t>(static_cast<double>(level) * ratio);
  }
}

void scaleTrackChannels(LevelTables& tables, double ratio) {
  for (int c = 1; c <= kMaxTracks; ++c)
    scaleLevels(tables.faders[static_cast<std::size_t>(c)], ratio);
}

// The entry that "rmp", "shape" and "ofs" apply to.
struct StoredEntry {
  enum Kind { kNone, kVolume, kVca } kind = kNone;
  int fader = 0;  // channel index or VCA number
  int index = 0;
  float offset = 0.0f;  // samples moved by "ofs"
};

class VolumePass {
 public:
  VolumePass(const LevelSettings& settings, TimeCursor& cursor, LevelTables& tables)
      : settings_(settings), cursor_(cursor), tables_(tables) {}

  void run(std::string_view section) {
    Tokenizer tok(section);
    for (const char* token = tok.next(Tokenizer::kWords); token && !isEndToken(token);
         token = tok.next(Tokenizer::kWords)) {
      if (tokenIs(token, "t")) {
        readTimeEntry(tok, cursor_);
      } else if (tokenIs(token, "inc")) {
        readTimeIncrement(tok, cursor_);
      } else if (tokenIs(token, "v")) {
        readVolume(tok);
      } else if (tokenIs(token, "vca")) {
        readVca(tok);
      } else if (tokenIs(token, "rmp")) {
        readRamp(tok);
      } else if (tokenIs(token, "shape")) {
        readShape(tok);
      } else if (tokenIs(token, "ofs")) {
        readOffset(tok);
      } else if (tokenIs(token, "p")) {
        const int c = readChannelField(tok);
        const int position = nextInt(tok, Tokenizer::kLine);
        if (c >= 0 && c < kLevelSlots) tables_.panPosition[static_cast<std::size_t>(c)] = position;
      } else if (tokenIs(token, "pol")) {
        const int c = readChannelField(tok);
        const std::int64_t sign = nextInteger(tok, Tokenizer::kLine);
        if (c >= 0 && c < kLevelSlots) {
          tables_.polarity[static_cast<std::size_t>(c)] = (sign == -1 || sign == 1) ? sign : 1;
        }
      }
    }
  }

 private:
  void readVolume(Tokenizer& tok) {
    bool isMaster = false;
    const int c = readChannelField(tok, &isMaster);
    if (c > kSubmixBase) tables_.submixVolume[static_cast<std::size_t>(c - kSubmixBase)] = true;
    if (isMaster) tables_.masterVolume = true;
    const double value = nextReal(tok, Tokenizer::kLine);
    store(StoredEntry::kVolume, c, value, tables_.faders[static_cast<std::size_t>(c)],
          fullFader_[static_cast<std::size_t>(c)]);
  }

  void readVca(Tokenizer& tok) {
    std::int64_t number = nextInteger(tok, Tokenizer::kField);
    if (number < 1 || number >= kVcaSlots) number = 0;
    const int v = static_cast<int>(number);
    const double value = nextReal(tok, Tokenizer::kLine);
    store(StoredEntry::kVca, v, value, tables_.vcas[static_cast<std::size_t>(v)],
          fullVca_[static_cast<std::size_t>(v)]);
  }

  void store(StoredEntry::Kind kind, int fader, double value, FaderTable& table, bool& warned) {
    if (table.count >= kMaxVolumeEntries) {
      if (!warned) {
        say(">> Warning: %s %i has more than %i entries; the extra entries are ignored.\n",
            kind == StoredEntry::kVca ? "vca" : "fader", fader, kMaxVolumeEntries);
        warned = true;
      }
      // Ramps, shapes and offsets that follow belong to the ignored entry.
      last_ = StoredEntry{};
      return;
    }
    const int e = table.count;
    table.append(levelFromValue(value, settings_.percent, fader, e), cursor_.position);
    last_ = StoredEntry{kind, fader, e, 0.0f};
  }

  FaderTable* lastTable() {
    switch (last_.kind) {
      case StoredEntry::kVolume:
        return &tables_.faders[static_cast<std::size_t>(last_.fader)];
      case StoredEntry::kVca:
        return &tables_.vcas[static_cast<std::size_t>(last_.fader)];
      default:
        return nullptr;
    }
  }

  void readRamp(Tokenizer& tok) {
    const double seconds = nextReal(tok, Tokenizer::kLine);
    FaderTable* table = lastTable();
    if (!table) return;
    const bool vca = last_.kind == StoredEntry::kVca;
    const auto e = static_cast<std::size_t>(last_.index);
    std::int64_t ramp = truncateTo<std::int64_t>(settings_.sampleRate * seconds);
    if (last_.index == 0 || cursor_.position == 0) {
      say("Error:  A ramp was found under an initial volume entry (channel %i).\n"
          "This is for initial volume only.\n",
          last_.fader);
      ramp = 0;
    }
    // Compared in single precision, the entry's "ofs" offset included.
    const float entryTime = static_cast<float>(table->time[e]) + last_.offset;
    if (static_cast<float>(ramp) + entryTime > static_cast<float>(settings_.songLength)) {
      ramp = truncateTo<std::int64_t>(static_cast<float>(settings_.songLength) - entryTime);
      say(vca ? "Adjusted vca ramp that exceeded song length (channel %i)\n"
              : "Adjusted volume ramp that exceeded song length (channel %i)\n",
          last_.fader);
    }
    if (ramp < 0) {
      sayLine(vca ? "Error:  Time entry for vca ramp is less than zero. Ramp reset to 0."
                  : "Error:  Time entry for volume ramp is less than zero. Ramp reset to 0.");
      ramp = 0;
    }
    table->ramp[e] = ramp;
  }

  void readShape(Tokenizer& tok) {
    const float exponent = nextSingle(tok, Tokenizer::kLine);
    FaderTable* table = lastTable();
    if (table && exponent >= 0.125f && exponent <= 8.0f) {
      table->shape[static_cast<std::size_t>(last_.index)] = exponent;
    }
  }

  void readOffset(Tokenizer& tok) {
    const double seconds = nextReal(tok, Tokenizer::kLine);
    const double rate = static_cast<float>(settings_.sampleRate);
    last_.offset = toSingle(rate * seconds);
    FaderTable* table = lastTable();
    if (!table) return;
    auto& time = table->time[static_cast<std::size_t>(last_.index)];
    time = truncateTo<std::int64_t>(static_cast<float>(time) + last_.offset);
  }

  const LevelSettings& settings_;
  TimeCursor& cursor_;
  LevelTables& tables_;
  StoredEntry last_;
  std::array<bool, kLevelSlots> fullFader_{};
  std::array<bool, kVcaSlots> fullVca_{};
};

}  // namespace

std::int64_t levelFromValue(double value, bool percent, int fader, int entryIndex) {
  CheckFader(value, percent ? check_mode::kPercentLevel : check_mode::kDb, fader, entryIndex);
  const double ratio = percent ? value / 100.0 : std::pow(10.0, value / 20.0);
  return truncateTo<std::int64_t>(ratio * kUnity);
}

void readVolumePass(std::string_view faderSection, const LevelSettings& settings,
                    TimeCursor& cursor, LevelTables& tables) {
  VolumePass(settings, cursor, tables).run(faderSection);
}

void readDelayPan(std::string_view faderSection, LevelTables& tables) {
  forEachEntry(faderSection, "dp", [&](Tokenizer& tok) {
    const std::int64_t channel = nextInteger(tok, Tokenizer::kField);
    std::int64_t position = nextInteger(tok, Tokenizer::kLine);
    if (channel < 1 || channel > kMaxTracks) {
      say(">> Warning: delay pan channel %i is out of range and is ignored.\n",
          saturateTo<int>(channel));
      return;
    }
    if (position < -100 || position > 100) position = 0;
    tables.delayPanPosition[static_cast<std::size_t>(channel)] = static_cast<int>(position);
  });
}

void readTrims(std::string_view faderSection, bool percent, LevelTables& tables) {
  // 24 dB as a ratio, the limit for trims written in percent.
  const double ceiling = std::pow(10.0, 24.0 / 20.0);
  std::array<int, kLevelSlots> trimsSeen{};
  forEachEntry(faderSection, "trim", [&](Tokenizer& tok) {
    const int c = readChannelField(tok);
    double value = nextReal(tok, Tokenizer::kLine);
    const bool over = percent ? value / 100.0 > ceiling : value > 24.0;
    if (over) {
      say("Channel %i volume trim set above 24 dB. Trim bypassed.\n", c);
      return;
    }
    const auto slot = static_cast<std::size_t>(c);
    CheckFader(value, percent ? check_mode::kPercentLevel : check_mode::kDb, c, trimsSeen[slot]++);
    tables.trim[slot] = percent ? value / 100.0 : std::pow(10.0, value / 20.0);
    tables.trimOn[slot] = true;
  });
  for (std::size_t c = 0; c < kLevelSlots; ++c) {
    if (tables.trimOn[c]) scaleLevels(tables.faders[c], tables.trim[c]);
  }
}

void readScale(std::string_view faderSection, LevelTables& tables) {
  bool accepted = false;
  double factor = 1.0;
  forEachEntry(faderSection, "scale", [&](Tokenizer& tok) {
    const double value = nextReal(tok, Tokenizer::kLine);
    if (value > 8.0) {
      sayLine("Scale function value is set above 8.  Scale bypassed");
      return;
    }
    accepted = true;
    factor = value;
  });
  if (accepted) scaleTrackChannels(tables, factor);
}

void readMasterTrim(std::string_view faderSection, LevelTables& tables) {
  bool accepted = false;
  double ratio = 1.0;
  forEachEntry(faderSection, "mtrim", [&](Tokenizer& tok) {
    const double dB = nextReal(tok, Tokenizer::kLine);
    if (dB > 24.0) {
      sayLine("Master Trim is set above allowed value of 24 dB\n Master trim bypassed");
      return;
    }
    accepted = true;
    ratio = std::pow(10.0, dB / 20.0);
  });
  if (accepted) scaleTrackChannels(tables, ratio);
}

void readEffectsGains(std::string_view faderSection, LevelTables& tables) {
  forEachEntry(faderSection, "fxg", [&](Tokenizer& tok) {
    bool isMaster = false;
    const int c = readChannelField(tok, &isMaster);
    if (isMaster) tables.masterStripUsed = true;
    const double dB = nextReal(tok, Tokenizer::kWords);
    double ratio = std::pow(10.0, dB / 20.0);
    if (ratio > 15.9) ratio = 1.0;
    tables.effectsGain[static_cast<std::size_t>(c)] = ratio;
  });
}

void checkLevels(LevelTables& tables) {
  for (int c = 0; c < kLevelSlots; ++c) {
    const auto slot = static_cast<std::size_t>(c);
    int& pan = tables.panPosition[slot];
    if (pan < -100 || pan > 100) {
      pan = 0;
      say("Pan on channel %i appears to be set wrong.  Setting to 0.\n", c);
    }
    FaderTable& table = tables.faders[slot];
    for (int e = 0; e < table.count; ++e) {
      auto& level = table.level[static_cast<std::size_t>(e)];
      if (level > kLevelCeiling || level < -kLevelCeiling) {
        level = 0;
        say(">> Warning! Volume entry %i on channel %i is above +12 dB.  \n"
            "Entry reset to -144 dB\n",
            e + 1, c);
      }
    }
  }
}

namespace {

// A ramp ends by the next entry of its fader. A next entry that lies earlier
// is never reached, so it does not cut the ramp (it would make it negative).
void limitRamps(FaderTable& table) {
  for (int k = 0; k + 1 < table.count; ++k) {
    const auto e = static_cast<std::size_t>(k);
    const std::int64_t gap = subtractSaturating(table.time[e + 1], table.time[e]);
    if (gap >= 0 && table.ramp[e] > gap) table.ramp[e] = gap;
  }
}

}  // namespace

void addAutomaticRamps(double sampleRate, double dbps, LevelTables& tables) {
  const double samplesPerDb = dbps > 0.0 ? sampleRate / dbps : sampleRate / 192.0;
  for (FaderTable& table : tables.faders) {
    for (int k = 1; k < table.count; ++k) {
      const auto e = static_cast<std::size_t>(k);
      if (table.ramp[e] != 0) continue;
      const double change = std::fabs(levelToDb(table.level[e]) - levelToDb(table.level[e - 1]));
      table.ramp[e] = truncateTo<std::int64_t>(change * samplesPerDb);
    }
    limitRamps(table);
  }
  // VCAs move only where a ramp is written.
  for (int v = 1; v < kVcaSlots; ++v) limitRamps(tables.vcas[static_cast<std::size_t>(v)]);
}

float readPanLaw(std::string_view prefsSection) {
  Tokenizer tok(prefsSection);
  for (const char* token = tok.next(Tokenizer::kWords); token && !isEndToken(token);
       token = tok.next(Tokenizer::kWords)) {
    if (!tokenIs(token, "pan")) continue;
    const float law = nextSingle(tok, Tokenizer::kLine);
    return (law < 0.0f || law > 6.02) ? 3.0f : law;
  }
  return 3.0f;
}

namespace {

float powerOfTen(float exponent) { return toSingle(std::pow(10.0, static_cast<double>(exponent))); }

// Stereo sources, submixes and the master: the far side falls linearly.
void balanceGains(int p, float& left, float& right) {
  left = 1.0f;
  right = 1.0f;
  if (p > 0) left = static_cast<float>(100 - p) / 100.0f;
  if (p < 0) right = static_cast<float>(p + 100) / 100.0f;
}

// Mono sources: -law dB at the centre; the near side rises in dB to 0 dB at
// the edge while the far side falls linearly to silence.
void monoGains(int p, float law, float& left, float& right) {
  const float centre = powerOfTen(-law / 20.0f);
  left = centre;
  right = centre;
  if (p > 0) {
    left = static_cast<float>(100 - p) * centre / 100.0f;
    right = powerOfTen(static_cast<float>(p) * law / 100.0f / 20.0f) * centre;
  } else if (p < 0) {
    left = powerOfTen(static_cast<float>(-p) * law / 100.0f / 20.0f) * centre;
    right = static_cast<float>(p + 100) * centre / 100.0f;
  }
}

}  // namespace

void computePanGains(const std::array<int, kMaxTracks + 1>& sourceChannels, LevelTables& tables) {
  const float law = tables.panLaw;
  for (int c = 0; c < kLevelSlots; ++c) {
    const auto slot = static_cast<std::size_t>(c);
    const bool mono = c >= 1 && c <= kMaxTracks && sourceChannels[slot] == 1;
    float& left = tables.panGainL[slot];
    float& right = tables.panGainR[slot];
    const int p = tables.panPosition[slot];
    if (!mono) {
      balanceGains(p, left, right);
    } else if (law > 0.0f) {
      monoGains(p, law, left, right);
    } else {
      // With a 0 dB law mono channels are placed by delay alone.
      left = 1.0f;
      right = 1.0f;
    }
  }
  for (int c = 1; c <= kMaxTracks; ++c) {
    const auto slot = static_cast<std::size_t>(c);
    const int dp = tables.delayPanPosition[slot];
    if (law != 0.0f && dp != 0) {
      tables.panPosition[slot] = dp;
      tables.panGainL[slot] = 1.0f;
      tables.panGainR[slot] = 1.0f;
    }
    tables.delayPanned[slot] = sourceChannels[slot] == 1 && (law == 0.0f || dp != 0);
  }
}

}  // namespace sorvan
