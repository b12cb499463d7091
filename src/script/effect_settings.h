// The processor settings of every strip and of the two reverbs, read from the
// fader file once before the mix and read-only afterwards.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "base/limits.h"
#include "dynamics/limiter.h"
#include "dynamics/nonlinear_compressor.h"
#include "dynamics/strip_table.h"
#include "dynamics/switched_compressor.h"
#include "filters/eq.h"
#include "filters/hpf.h"
#include "filters/reverb_eq.h"

namespace sorvan {

// The strip's processors in the order they are checked within one position.
enum Processor : int {
  kHighPass,
  kBand1,
  kBand2,
  kBand3,
  kBand4,
  kHighShelf,
  kLowShelf,
  kRmsComp,
  kNonLinComp,
  kPeakComp,
  kLimiter,
};
inline constexpr int kDefaultPosition = 11;
extern const char* const kProcessorNames[kProcessorCount];

// The processors of one strip and their settings.
struct StripChannelSettings {
  HpfCoefficients hpf;
  std::array<BiquadCoefficients, kEqSections> eq{};  // by section number 1..6
  SwitchedCompressorSettings rms;
  NonLinCompSettings nlc;
  SwitchedCompressorSettings comp;
  LimiterSettings lim;
  // Which processors the strip has, and where each runs (1..11; others never).
  std::array<int, kProcessorCount> enabled{};
  std::array<int, kProcessorCount> position{};

  StripChannelSettings() { position.fill(kDefaultPosition); }
};

struct StripSettings {
  // By channel index. The master (index 0) has a processor only through an
  // entry written "M".
  StripTable<StripChannelSettings> strip{};
  bool masterStripInUse = false;  // an "M" entry of any strip keyword (or "fxg")

  bool hasProcessor(int index) const;
};

struct ReverbSettings {
  bool recursiveInUse = false;  // "rtn" given
  bool tapInUse = false;        // "trtn" given
  float recursiveReturn = 0.0f;
  float tapReturn = 0.0f;
  float recursiveRoom = 75.0f;
  float tapRoom = 75.0f;
  int taps = 1;
  float p1 = 37.0f, p2 = 39.0f, p3 = 43.0f;
  float width = 50.0f;
  ReverbEqSettings eq;
  std::array<int, kStripCount> recursiveSendOn{};
  std::array<float, kStripCount> recursiveSend{};
  std::array<int, kStripCount> tapSendOn{};
  std::array<float, kStripCount> tapSend{};
  bool masterFedRecursive = false;  // "rev" "M"
  bool masterFedTap = false;        // "trev" "M"

  bool anyInUse() const { return recursiveInUse || tapInUse; }
  bool masterFed() const { return masterFedRecursive || masterFedTap; }
  // Which reverbs run: master-fed reverbs replace the send-fed ones.
  bool recursiveRuns() const { return masterFed() ? masterFedRecursive : recursiveInUse; }
  bool tapRuns() const { return masterFed() ? masterFedTap : tapInUse; }
};

struct EffectSettings {
  StripSettings strips;
  ReverbSettings reverbs;
};

struct EffectInputs {
  std::string_view faderSection;
  double sampleRate = 44100.0;
  bool percent = false;
  int verbosity = 2;
};

// Reads every strip keyword, the reverb entries and the order entries, with
// their checks and the verbosity-3 headings.
void readEffectSettings(const EffectInputs& in, EffectSettings& out);

// A threshold in the strip's scale: channel scale for track channels, bus
// scale (x256 - 1) for the master and the submixes.
std::int64_t thresholdSamples(double value, bool percent, int index);

}  // namespace sorvan
