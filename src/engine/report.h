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

// Everything the meters of a render leave behind.
struct MixMeters {
  std::array<double, kPeakSlots> peakL{};  // post-fader peaks in bus scale
  std::array<double, kPeakSlots> peakR{};
  std::array<int, kStripCount> clip{};     // strip left its scale after processing
  OutputMeters output;
  bool recursiveReverb = false;            // in use, fed by sends
  bool tapReverb = false;
  bool masterFedRecursive = false;
  bool masterFedTap = false;
  std::string loudness;      // loudness and true-peak lines of the output
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

// Builds the statistics text (without the processing-time line).
std::string statisticsText(const ReportInputs& in);

// Prints the statistics (by verbosity), writes both report files.
void CreateTextFiles(const ReportInputs& in);

}  // namespace sorvan
