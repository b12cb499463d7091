// The statistics file (peaks, RMS, output peak times, clipping) and the fader
// report (the fader file text that produced the mix).
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "base/limits.h"
#include "engine/master.h"

namespace sorvan {

// A loudness target and what the measuring pass made of it.
struct TargetOutcome {
  bool set = false;
  double lufs = 0;        // asked for
  double ceiling = -1;    // dBTP
  bool measured = false;  // the master had a measurable loudness
  double masterLufs = 0;  // the master before the gain
  double masterTruePeakDb = 0;
  double gainDb = 0;           // applied to the output (and the stems)
  bool heldByCeiling = false;  // the ceiling, not the loudness, set the gain
};

// Everything the meters of a render leave behind.
struct MixMeters {
  std::array<double, kPeakSlots> peakL{};  // post-fader peaks in bus scale
  std::array<double, kPeakSlots> peakR{};
  std::array<int, kStripCount> clip{};  // strip left its scale after processing
  OutputMeters output;
  bool recursiveReverb = false;  // in use, fed by sends
  bool tapReverb = false;
  bool masterFedRecursive = false;
  bool masterFedTap = false;
  LoudnessResult loudness;  // of the output
  TargetOutcome target;
  bool floatOutput = false;  // 32-bit float: metered in 24-bit units, nothing limited
  bool dither = false;
  std::uint32_t ditherSeed = 0;
};

// A source the render read through the rate converter.
struct ConvertedSource {
  int channel = 0;
  std::string name;
  std::uint32_t rate = 0;  // the recording's own rate
};

struct ReportInputs {
  const MixMeters* meters = nullptr;
  std::uint32_t sampleRate = 0;
  int trackCount = 0;
  const std::vector<std::string>* sourceNames = nullptr;  // [ch - 1]
  const std::array<int, kMaxTracks + 1>* channelActive = nullptr;
  std::array<int, kBusCount> busActive{};
  std::string outputName;
  int outputBits = 24;
  const std::string* faderText = nullptr;
  std::string statsPath;
  std::string faderReportPath;
  int verbosity = 2;
  std::clock_t startClock = 0;
  std::vector<ConvertedSource> converted;  // in channel order
};

// -20 log10(reference / raw) for raw > 0, else the floor.
void RawTodB(double raw, double& out, double reference, double floor);

// The numbers of the statistics as the text works them out, for other
// reports that must agree with it: a level in dB (the silence floor for 0),
// a source name cut at its first full stop, a peak position as whole minutes
// and seconds, the average half-wave RMS of each side in dB, and the full
// scale of the output peaks.
double levelDb(double raw, double reference);
std::string shortName(const std::string& name);
struct PeakTime {
  float minutes = 0;
  float seconds = 0;
};
PeakTime peakTime(std::int64_t position, std::uint32_t rate);
std::array<double, 2> averageRmsDb(const OutputMeters& out);
double outputReference(const ReportInputs& in);

// Builds the statistics text (without the processing-time line).
std::string statisticsText(const ReportInputs& in);

// Prints the statistics (by verbosity), writes both report files, and
// returns the processing time it reported, in seconds.
double CreateTextFiles(const ReportInputs& in);

}  // namespace sorvan
