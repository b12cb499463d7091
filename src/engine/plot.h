// A picture of the mix: every automated fader's level as it was actually
// played, the times of its entries, and the output's peak and RMS envelope
// with the moments the output words reached full scale. The recorder is
// filled during the render and drawn afterwards as one self-contained SVG.
//
// Memory does not grow with the song: the render range is cut into a fixed
// number of columns, and each lane keeps four numbers per column.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "base/limits.h"

namespace sorvan {

struct FaderTable;
struct MixScript;
struct RenderPlan;

inline constexpr int kPlotColumns = 1600;  // time resolution across the render range
inline constexpr long kPlotChunk = 512;    // longest stretch a plotted fader runs unobserved

enum class LaneKind { kChannel, kSubmix, kVca, kMaster };

// Readings of one level in dB, per column: the first and last reading that
// fell into the column and the lowest and highest (a column can hold a step).
// Columns without readings hold NaN.
struct LevelTrace {
  std::vector<float> first, last, low, high;

  void reset(int columns);
  void add(int column, double db);
  bool has(int column) const;
};

// One volume entry as the picture marks it.
struct PlotEntry {
  std::int64_t time = 0;  // song position
  std::int64_t ramp = 0;  // samples
  double db = 0.0;        // the entry's level
  bool reached = true;    // false when playback can never arrive at it
};

struct PlotLane {
  LaneKind kind = LaneKind::kChannel;
  int index = 0;  // channel index, or VCA number
  std::string label;
  std::vector<PlotEntry> entries;  // the entries inside the render range
  LevelTrace trace;
  // Song positions where the lane's fader is heard: a channel's fader only
  // where its recording plays.
  std::int64_t heardFrom = INT64_MIN;
  std::int64_t heardUntil = INT64_MAX;
};

// The output words per column: the largest magnitude, the sum of squares and
// the number of words (both sides), and how many words reached full scale.
struct OutputEnvelope {
  std::vector<std::int64_t> peak;
  std::vector<double> squares;
  std::vector<std::int64_t> words;
  std::vector<std::int64_t> overs;
};

class MixPlot {
 public:
  MixPlot(std::int64_t renderStart, std::int64_t renderLength, double sampleRate, int outputBits,
          int columns = kPlotColumns);

  // A lane for fader `index` (a channel index, or a VCA number for kVca),
  // its entries taken from `table`. Lanes are drawn in the order added.
  void addLane(LaneKind kind, int index, std::string label, const FaderTable& table);

  int columns() const { return columns_; }
  // Column of a song position inside the render range (clamped to it).
  int column(std::int64_t position) const;
  // How many frames a plotted fader may run before its level is read again:
  // at most kPlotChunk and at most one column, so every column gets a reading.
  long chunkFrames() const { return chunk_; }

  bool recordsFader(int channelIndex) const;
  // Limits the last lane added to the song positions [from, until).
  void heardOnlyBetween(std::int64_t from, std::int64_t until);
  // The level in dB that fader `channelIndex` played at song position
  // `position`; ignored where the lane is not heard.
  void recordFader(int channelIndex, std::int64_t position, double db);
  // The per-sample gains of VCA `vca` for the n samples from song position pos.
  void recordVca(int vca, std::int64_t pos, const double* gains, long n);
  // The n output frames from song position pos, as bus-scale values after
  // dither and before the reduction to words (the words are cut from these).
  void recordOutput(const std::int64_t* left, const std::int64_t* right, std::int64_t pos, long n);

  const std::vector<PlotLane>& lanes() const { return lanes_; }
  const OutputEnvelope& output() const { return output_; }

  // The whole picture; `title` names the mix.
  std::string svg(const std::string& title) const;

 private:
  std::int64_t columnStart(int column) const;

  std::int64_t start_;
  std::int64_t length_;
  double rate_;
  int bits_;
  int columns_;
  long chunk_;
  std::vector<PlotLane> lanes_;
  std::array<int, kLevelSlots> faderLane_;  // lane of each channel index, -1 none
  std::array<int, kVcaSlots> vcaLane_;
  OutputEnvelope output_;
};

// A recorder with one lane for every fader the render plays back that has
// entries: wanted channels, active submixes with volume entries, active VCAs
// and the master when its automation is played. `sourceNames[ch - 1]` is the
// file name of channel ch.
MixPlot makeMixPlot(const RenderPlan& plan, const MixScript& script,
                    const std::vector<std::string>& sourceNames);

}  // namespace sorvan
