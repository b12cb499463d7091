// Level automation: the volume and VCA entry tables that playback walks, and
// the static per-channel values around a fader (pan, polarity, trims, effects
// gain).
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "base/limits.h"
#include "script/timeline.h"

namespace sorvan {

template <typename T, std::size_t N>
constexpr std::array<T, N> filledArray(T value) {
  std::array<T, N> a{};
  a.fill(value);
  return a;
}

// One fader's automation entries in stored order. Levels are gains with
// kUnityLevel (2^27) as 0 dB; times are song positions in samples; a ramp is
// its length in samples (0: none of its own); a shape is the exponent of the
// ramp curve in dB (1.0 is linear in dB).
//
// The columns hold `count` entries, and always at least one: an empty table
// reads as one entry of level 0 at time 0, which is where playback starts a
// fader that has no entries. They grow with the script, so a session pays for
// the entries it writes rather than for the most a fader may hold.
struct FaderTable {
  std::vector<std::int64_t> level = std::vector<std::int64_t>(1);
  std::vector<std::int64_t> time = std::vector<std::int64_t>(1);
  std::vector<std::int64_t> ramp = std::vector<std::int64_t>(1);
  std::vector<float> shape = std::vector<float>(1, 1.0f);
  int count = 0;

  // Adds an entry after the last one (the first takes the empty table's slot).
  void append(std::int64_t entryLevel, std::int64_t entryTime, std::int64_t entryRamp = 0,
              float entryShape = 1.0f) {
    if (count > 0) {
      level.push_back(entryLevel);
      time.push_back(entryTime);
      ramp.push_back(entryRamp);
      shape.push_back(entryShape);
    } else {
      level[0] = entryLevel;
      time[0] = entryTime;
      ramp[0] = entryRamp;
      shape[0] = entryShape;
    }
    ++count;
  }
};

struct LevelTables {
  // Channel faders by channel index 0..136, VCA faders by number 0..8 (VCA 0
  // collects entries with a bad VCA number and is never played back).
  std::vector<FaderTable> faders = std::vector<FaderTable>(kLevelSlots);
  std::vector<FaderTable> vcas = std::vector<FaderTable>(kVcaSlots);

  bool masterVolume = false;                   // master entries written with "M"
  std::array<bool, kBusCount> submixVolume{};  // submixes 1..8 with entries
  std::array<int, kLevelSlots> panPosition{};  // -100 left .. +100 right
  std::array<std::int64_t, kLevelSlots> polarity = filledArray<std::int64_t, kLevelSlots>(1);
  std::array<double, kLevelSlots> trim = filledArray<double, kLevelSlots>(1.0);
  std::array<bool, kLevelSlots> trimOn{};
  // Multiplies a strip's signal after its processors, before its fader.
  std::array<double, kLevelSlots> effectsGain = filledArray<double, kLevelSlots>(1.0);
  bool masterStripUsed = false;  // "fxg" addressed the master
  // Single precision: they multiply the fader level in single precision.
  std::array<float, kLevelSlots> panGainL = filledArray<float, kLevelSlots>(1.0f);
  std::array<float, kLevelSlots> panGainR = filledArray<float, kLevelSlots>(1.0f);
  // "dp" values of track channels 1..127, and whether a channel's mono source
  // is placed by delay rather than by pan gains.
  std::array<int, kMaxTracks + 1> delayPanPosition{};
  std::array<bool, kMaxTracks + 1> delayPanned{};
  float panLaw = 3.0f;  // centre attenuation of mono channels, dB
};

struct LevelSettings {
  double sampleRate = 44100.0;
  std::int64_t songLength = 0;
  bool percent = false;  // levels written in percent (100 = unity) instead of dB
};

// A written level value as a level, after the fader range check (whose
// warnings name `fader` and the entry number `entryIndex` + 1).
std::int64_t levelFromValue(double value, bool percent, int fader, int entryIndex);

// The position-dependent pass: "t", "inc", "v", "vca", "rmp", "shape", "ofs",
// "p" and "pol", in file order.
void readVolumePass(std::string_view faderSection, const LevelSettings& settings,
                    TimeCursor& cursor, LevelTables& tables);

// The passes that follow it, each over the whole section.
void readDelayPan(std::string_view faderSection, LevelTables& tables);
void readTrims(std::string_view faderSection, bool percent, LevelTables& tables);
void readScale(std::string_view faderSection, LevelTables& tables);
void readMasterTrim(std::string_view faderSection, LevelTables& tables);
void readEffectsGains(std::string_view faderSection, LevelTables& tables);

// Resets out-of-range pan positions and levels above +12 dB, with warnings.
void checkLevels(LevelTables& tables);

// Gives unramped level changes a ramp at `dbps` dB per second (192 when not
// positive), then shortens every ramp that would run past the next entry.
void addAutomaticRamps(double sampleRate, double dbps, LevelTables& tables);

// The first "pan" value of the preferences; out of 0..6.02 (or none) is 3.
float readPanLaw(std::string_view prefsSection);

// Pan gains for every channel index from its pan position, the pan law and
// the source type (1 mono, 2 stereo per track channel); applies "dp".
void computePanGains(const std::array<int, kMaxTracks + 1>& sourceChannels, LevelTables& tables);

}  // namespace sorvan
