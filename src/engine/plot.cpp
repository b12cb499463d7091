#include "engine/plot.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <limits>

#include "base/numeric.h"
#include "engine/session.h"
#include "script/levels.h"
#include "script/script.h"

namespace sorvan {

// ---------------------------------------------------------------------------
// Recording

void LevelTrace::reset(int columns) {
  const float none = std::numeric_limits<float>::quiet_NaN();
  const auto size = static_cast<std::size_t>(columns);
  first.assign(size, none);
  last.assign(size, none);
  low.assign(size, none);
  high.assign(size, none);
}

void LevelTrace::add(int column, double db) {
  if (column < 0 || static_cast<std::size_t>(column) >= first.size()) return;
  const auto c = static_cast<std::size_t>(column);
  const float v = static_cast<float>(std::clamp(db, kSilenceDb, 24.0));
  if (std::isnan(first[c])) {
    first[c] = low[c] = high[c] = v;
  } else {
    low[c] = std::min(low[c], v);
    high[c] = std::max(high[c], v);
  }
  last[c] = v;
}

bool LevelTrace::has(int column) const {
  return column >= 0 && static_cast<std::size_t>(column) < first.size() &&
         !std::isnan(first[static_cast<std::size_t>(column)]);
}

namespace {

double gainDb(double gain) {
  return gain > 0 ? std::max(20.0 * std::log10(gain), kSilenceDb) : kSilenceDb;
}

// Full scale of the output words: the magnitude at which a word is "over".
std::int64_t wordFullScale(int bits) { return bits == 16 ? 32768 : 8388608; }
std::int64_t wordDivisor(int bits) { return bits == 16 ? 65536 : 256; }

}  // namespace

MixPlot::MixPlot(std::int64_t renderStart, std::int64_t renderLength, double sampleRate,
                 int outputBits, int columns)
    : start_(renderStart),
      length_(std::max<std::int64_t>(renderLength, 1)),
      rate_(sampleRate > 0 ? sampleRate : 44100.0),
      bits_(outputBits == 16 ? 16 : 24) {
  // Never more columns than frames, so every column holds at least one.
  columns_ = static_cast<int>(std::clamp<std::int64_t>(length_, 1, std::max(columns, 1)));
  chunk_ = static_cast<long>(std::clamp<std::int64_t>(length_ / columns_, 1, kPlotChunk));
  faderLane_.fill(-1);
  vcaLane_.fill(-1);
  const auto size = static_cast<std::size_t>(columns_);
  output_.peak.assign(size, 0);
  output_.squares.assign(size, 0.0);
  output_.words.assign(size, 0);
  output_.overs.assign(size, 0);
}

int MixPlot::column(std::int64_t position) const {
  const std::int64_t offset =
      position <= start_ ? 0 : std::min<std::int64_t>(position - start_, length_ - 1);
  if (length_ <= std::numeric_limits<std::int64_t>::max() / columns_)
    return static_cast<int>(offset * columns_ / length_);
  const long double c = static_cast<long double>(offset) * columns_ / length_;
  return std::clamp(static_cast<int>(c), 0, columns_ - 1);
}

// The first song position that falls into `column`.
std::int64_t MixPlot::columnStart(int column) const {
  if (column <= 0) return start_;
  if (column >= columns_) return addSaturating(start_, length_);
  if (length_ <= std::numeric_limits<std::int64_t>::max() / columns_)
    return addSaturating(start_, (column * length_ + columns_ - 1) / columns_);
  return addSaturating(start_, truncateTo<std::int64_t>(std::ceil(static_cast<long double>(column) *
                                                                  length_ / columns_)));
}

void MixPlot::addLane(LaneKind kind, int index, std::string label, const FaderTable& table) {
  const bool vca = kind == LaneKind::kVca;
  if (index < 0 || index >= (vca ? kVcaSlots : kLevelSlots)) return;
  PlotLane lane;
  lane.kind = kind;
  lane.index = index;
  lane.label = std::move(label);
  lane.trace.reset(columns_);
  // Playback reaches entries in stored order and only at their exact times,
  // so after a time that does not increase no later entry is ever reached.
  bool reachable = true;
  for (int e = 0; e < table.count && e < kMaxVolumeEntries; ++e) {
    const auto k = static_cast<std::size_t>(e);
    if (e > 0 && table.time[k] <= table.time[k - 1]) reachable = false;
    if (table.time[k] < start_ || table.time[k] - start_ >= length_) continue;
    lane.entries.push_back(
        PlotEntry{table.time[k], e > 0 ? table.ramp[k] : 0, levelToDb(table.level[k]), reachable});
  }
  (vca ? vcaLane_[static_cast<std::size_t>(index)] : faderLane_[static_cast<std::size_t>(index)]) =
      static_cast<int>(lanes_.size());
  lanes_.push_back(std::move(lane));
}

bool MixPlot::recordsFader(int channelIndex) const {
  return channelIndex >= 0 && channelIndex < kLevelSlots &&
         faderLane_[static_cast<std::size_t>(channelIndex)] >= 0;
}

void MixPlot::heardOnlyBetween(std::int64_t from, std::int64_t until) {
  if (lanes_.empty()) return;
  lanes_.back().heardFrom = from;
  lanes_.back().heardUntil = until;
}

void MixPlot::recordFader(int channelIndex, std::int64_t position, double db) {
  if (!recordsFader(channelIndex)) return;
  PlotLane& lane =
      lanes_[static_cast<std::size_t>(faderLane_[static_cast<std::size_t>(channelIndex)])];
  if (position < lane.heardFrom || position >= lane.heardUntil) return;
  lane.trace.add(column(position), db);
}

void MixPlot::recordVca(int vca, std::int64_t pos, const double* gains, long n) {
  if (vca < 0 || vca >= kVcaSlots || vcaLane_[static_cast<std::size_t>(vca)] < 0) return;
  LevelTrace& trace =
      lanes_[static_cast<std::size_t>(vcaLane_[static_cast<std::size_t>(vca)])].trace;
  long i = 0;
  while (i < n) {
    const int c = column(pos + i);
    const long end =
        static_cast<long>(std::clamp<std::int64_t>(columnStart(c + 1) - pos, i + 1, n));
    double lo = gains[i], hi = gains[i];
    for (long j = i + 1; j < end; ++j) {
      lo = std::min(lo, gains[j]);
      hi = std::max(hi, gains[j]);
    }
    trace.add(c, gainDb(gains[i]));
    trace.add(c, gainDb(lo));
    trace.add(c, gainDb(hi));
    trace.add(c, gainDb(gains[end - 1]));
    i = end;
  }
}

void MixPlot::recordOutput(const std::int64_t* left, const std::int64_t* right, std::int64_t pos,
                           long n) {
  const std::int64_t divisor = wordDivisor(bits_);
  const std::int64_t fullScale = wordFullScale(bits_);
  long i = 0;
  while (i < n) {
    const int c = column(pos + i);
    const auto k = static_cast<std::size_t>(c);
    const long end =
        static_cast<long>(std::clamp<std::int64_t>(columnStart(c + 1) - pos, i + 1, n));
    std::int64_t peak = output_.peak[k];
    std::int64_t overs = 0;
    double squares = 0.0;
    for (long j = i; j < end; ++j) {
      // The word as the reduction cuts it, before the encoder limits it.
      const std::int64_t wL = left[j] / divisor;
      const std::int64_t wR = right[j] / divisor;
      const std::int64_t mL = wL < 0 ? -wL : wL;
      const std::int64_t mR = wR < 0 ? -wR : wR;
      peak = std::max(peak, std::max(mL, mR));
      squares += static_cast<double>(wL) * static_cast<double>(wL) +
                 static_cast<double>(wR) * static_cast<double>(wR);
      overs += (mL >= fullScale || mR >= fullScale) ? 1 : 0;
    }
    output_.peak[k] = peak;
    output_.squares[k] += squares;
    output_.words[k] += 2 * static_cast<std::int64_t>(end - i);
    output_.overs[k] += overs;
    i = end;
  }
}

namespace {

// A source file name as the reports show it: up to its first full stop.
std::string shortName(const std::string& name) {
  const std::size_t begin = name.find_first_not_of('.');
  if (begin == std::string::npos) return "";
  const std::size_t end = name.find('.', begin);
  return name.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

}  // namespace

MixPlot makeMixPlot(const RenderPlan& plan, const MixScript& script,
                    const std::vector<std::string>& sourceNames) {
  MixPlot plot(plan.renderStart, plan.renderLength, plan.sampleRate, plan.outputBits);
  const LevelTables& levels = script.levels;
  for (int ch = 1; ch <= plan.trackCount && ch <= kMaxTracks; ++ch) {
    const FaderTable& table = levels.faders[static_cast<std::size_t>(ch)];
    if (!plan.channels[static_cast<std::size_t>(ch)].wanted || table.count < 1) continue;
    std::string label = "Ch " + std::to_string(ch);
    if (static_cast<std::size_t>(ch) <= sourceNames.size()) {
      const std::string name = shortName(sourceNames[static_cast<std::size_t>(ch) - 1]);
      if (!name.empty()) label += " " + name;
    }
    plot.addLane(LaneKind::kChannel, ch, label, table);
    const SourceChannel& c = plan.channels[static_cast<std::size_t>(ch)];
    plot.heardOnlyBetween(c.start, addSaturating(c.start, c.length));
  }
  for (int k = 1; k <= kSubmixCount; ++k) {
    const FaderTable& table = levels.faders[static_cast<std::size_t>(kSubmixBase + k)];
    if (levels.submixVolume[static_cast<std::size_t>(k)] &&
        script.routing.busActive[static_cast<std::size_t>(k)] && table.count >= 1)
      plot.addLane(LaneKind::kSubmix, kSubmixBase + k, "Sub " + std::to_string(k), table);
  }
  for (int v = 1; v < kVcaSlots; ++v) {
    const FaderTable& table = levels.vcas[static_cast<std::size_t>(v)];
    if (script.routing.vcaActive[static_cast<std::size_t>(v)] && table.count >= 1)
      plot.addLane(LaneKind::kVca, v, "VCA " + std::to_string(v), table);
  }
  if (levels.masterVolume && levels.faders[0].count >= 1)
    plot.addLane(LaneKind::kMaster, 0, "Master", levels.faders[0]);
  return plot;
}

// ---------------------------------------------------------------------------
// Drawing

namespace {

constexpr double kLeft = 220.0;        // label gutter
constexpr double kPlotWidth = 1600.0;  // the time axis, whatever the column count
constexpr double kRight = 40.0;
constexpr double kTop = 112.0;  // title, legend and the upper time labels
constexpr double kLaneHeight = 64.0;
constexpr double kOutputHeight = 140.0;
constexpr double kLaneGap = 16.0;
constexpr double kBottom = 44.0;
constexpr double kOutputFloorDb = -60.0;

constexpr const char* kInk = "#222222";
constexpr const char* kMuted = "#666666";
constexpr const char* kGrid = "#e4e4e4";
constexpr const char* kOverRed = "#d62728";
constexpr const char* kPeakFill = "#a6cbe6";
constexpr const char* kRmsFill = "#2b6ca3";

const char* laneColour(LaneKind kind) {
  switch (kind) {
    case LaneKind::kChannel:
      return "#1f5fa8";
    case LaneKind::kSubmix:
      return "#23834a";
    case LaneKind::kVca:
      return "#7b3fa6";
    case LaneKind::kMaster:
      return "#b5520f";
  }
  return kInk;
}

void appendf(std::string& out, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

void appendf(std::string& out, const char* fmt, ...) {
  char text[256];
  va_list args;
  va_start(args, fmt);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(text, sizeof text, fmt, args);
  va_end(args);
  if (n > 0 && static_cast<std::size_t>(n) < sizeof text) {
    out.append(text, static_cast<std::size_t>(n));
  } else if (n > 0) {
    // Too long for the stack buffer: format straight into the text.
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(n) + 1);
    std::vsnprintf(out.data() + at, static_cast<std::size_t>(n) + 1, fmt, again);
    out.resize(at + static_cast<std::size_t>(n));
  }
  va_end(again);
}

// Length of the UTF-8 sequence starting at s[i], or 0 when it is not valid.
std::size_t utf8Length(const std::string& s, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b = byte(i);
  std::size_t length = 0;
  unsigned min = 0;
  unsigned code = 0;
  if (b < 0x80) return 1;
  if ((b & 0xE0) == 0xC0) {
    length = 2, min = 0x80, code = b & 0x1Fu;
  } else if ((b & 0xF0) == 0xE0) {
    length = 3, min = 0x800, code = b & 0x0Fu;
  } else if ((b & 0xF8) == 0xF0) {
    length = 4, min = 0x10000, code = b & 0x07u;
  } else {
    return 0;
  }
  if (i + length > s.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3Fu);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  if (code == 0xFFFE || code == 0xFFFF) return 0;  // not allowed in XML
  return length;
}

// Text from the user's files as XML character data: markup characters
// escaped, control characters and malformed UTF-8 replaced, so that no file
// name can break the document. At most `maxChars` characters are kept.
std::string xmlText(const std::string& s, std::size_t maxChars = 1000) {
  std::string out;
  std::size_t chars = 0;
  for (std::size_t i = 0; i < s.size();) {
    if (chars == maxChars) {
      out += "\xE2\x80\xA6";  // ellipsis
      break;
    }
    const std::size_t length = utf8Length(s, i);
    const unsigned char b = static_cast<unsigned char>(s[i]);
    ++chars;
    if (length == 0 || b < 0x20 || b == 0x7F) {
      out += "\xEF\xBF\xBD";  // replacement character
      ++i;
      continue;
    }
    switch (b) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out.append(s, i, length);
    }
    i += length;
  }
  return out;
}

// A song position in seconds as m:ss.mmm (h:mm:ss.mmm past an hour).
std::string clockText(double seconds, int decimals) {
  if (!(seconds >= 0)) seconds = 0;
  decimals = std::clamp(decimals, 0, 3);
  const double scale = std::pow(10.0, decimals);
  const auto units = truncateTo<std::int64_t>(std::floor(seconds * scale + 0.5));
  const auto whole = static_cast<std::int64_t>(scale);
  const std::int64_t total = units / whole;
  const std::int64_t fraction = units % whole;
  const std::int64_t hours = total / 3600;
  const std::int64_t minutes = (total / 60) % 60;
  const std::int64_t secs = total % 60;
  char text[64];
  if (hours > 0) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(hours),
                  static_cast<long long>(minutes), static_cast<long long>(secs));
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(total / 60),
                  static_cast<long long>(secs));
  }
  std::string out = text;
  if (decimals > 0) {
    // The fraction has `decimals` digits, leading zeros included.
    std::snprintf(text, sizeof text, ".%0*lld", decimals, static_cast<long long>(fraction));
    out += text;
  }
  return out;
}

std::string dbText(double db) {
  if (db <= kSilenceDb) return "-inf dB";
  char text[32];
  std::snprintf(text, sizeof text, "%+.1f dB", db);
  return text;
}

// Where a fader level sits in its lane, 0 at the top (+12 dB) to 1 at the
// bottom (off). The scale is finer where faders usually live: +12 to -24 dB
// take the upper 60 %, -24 to -72 dB the next 32 %, anything lower is off.
double faderFraction(double db) {
  if (db >= 12.0) return 0.0;
  if (db >= -24.0) return (12.0 - db) / 36.0 * 0.60;
  if (db >= -72.0) return 0.60 + (-24.0 - db) / 48.0 * 0.32;
  return 1.0;
}

double outputFraction(double db) { return std::clamp(db / kOutputFloorDb, 0.0, 1.0); }

// Points in tenths of a pixel, so that equal coordinates compare exactly.
struct Point {
  long x, y;
  bool operator==(const Point&) const = default;
};

Point pointAt(double x, double y) { return Point{std::lround(x * 10.0), std::lround(y * 10.0)}; }

// Drops repeated points and the middle of three points that go one way along
// one horizontal or vertical line: a steady fader costs two points however
// long it holds, while a line that turns back keeps its turning point.
void pushPoint(std::vector<Point>& run, Point p) {
  if (!run.empty() && run.back() == p) return;
  if (run.size() >= 2) {
    const Point& a = run[run.size() - 2];
    const Point& b = run.back();
    const bool onward = (a.y == b.y && b.y == p.y && (b.x - a.x) * (p.x - b.x) >= 0) ||
                        (a.x == b.x && b.x == p.x && (b.y - a.y) * (p.y - b.y) >= 0);
    if (onward) run.pop_back();
  }
  run.push_back(p);
}

void appendRun(std::string& d, const std::vector<Point>& run) {
  for (std::size_t i = 0; i < run.size(); ++i) {
    appendf(d, "%c%.1f %.1f", i == 0 ? 'M' : 'L', static_cast<double>(run[i].x) / 10.0,
            static_cast<double>(run[i].y) / 10.0);
  }
  if (run.size() == 1) {
    // A lone reading: a short dash so that it stays visible.
    appendf(d, "h2");
  }
}

class Drawing {
 public:
  Drawing(const MixPlot& plot, std::int64_t start, std::int64_t length, double rate, int bits)
      : plot_(plot), start_(start), length_(length), rate_(rate), bits_(bits) {}

  std::string build(const std::string& title) {
    const auto& lanes = plot_.lanes();
    const double outputTop = kTop + static_cast<double>(lanes.size()) * (kLaneHeight + kLaneGap);
    const double plotBottom = outputTop + kOutputHeight;
    const double height = plotBottom + kBottom;
    const double width = kLeft + kPlotWidth + kRight;
    appendf(svg_, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    appendf(svg_,
            "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
            "viewBox=\"0 0 %.0f %.0f\" font-family=\"DejaVu Sans, Verdana, Arial, sans-serif\">\n",
            width, height, width, height);
    appendf(svg_, "<rect width=\"100%%\" height=\"100%%\" fill=\"#ffffff\"/>\n");
    header(title);
    for (std::size_t k = 0; k < lanes.size(); ++k)
      faderLane(lanes[k], kTop + static_cast<double>(k) * (kLaneHeight + kLaneGap));
    outputLane(outputTop);
    timeAxis(kTop - 8.0, plotBottom);
    svg_ += "</svg>\n";
    return std::move(svg_);
  }

 private:
  double xOfColumn(int c) const {
    return kLeft + (static_cast<double>(c) + 0.5) * kPlotWidth / plot_.columns();
  }
  double xOfPosition(std::int64_t position) const {
    const double offset = static_cast<double>(position - start_);
    return kLeft + std::clamp(offset / static_cast<double>(length_), 0.0, 1.0) * kPlotWidth;
  }
  double seconds(std::int64_t position) const { return static_cast<double>(position) / rate_; }

  void header(const std::string& title) {
    appendf(svg_, "<text x=\"%.0f\" y=\"30\" font-size=\"20\" font-weight=\"bold\" fill=\"%s\">",
            kLeft, kInk);
    svg_ += "Sorvan mix: " + xmlText(title, 80) + "</text>\n";
    appendf(svg_, "<text x=\"%.0f\" y=\"50\" font-size=\"12\" fill=\"%s\">", kLeft, kMuted);
    svg_ += clockText(seconds(start_), 3) + " to " +
            clockText(seconds(addSaturating(start_, length_)), 3);
    appendf(svg_,
            " (song time) \xC2\xB7 %.0f Hz \xC2\xB7 %d-bit output \xC2\xB7 fader levels "
            "as played</text>\n",
            rate_, bits_);
    legend(kLeft, 74.0);
  }

  void legendItem(double& x, double y, const std::string& swatch, const char* text) {
    appendf(svg_, "<g transform=\"translate(%.0f %.0f)\">", x, y);
    svg_ += swatch;
    appendf(svg_, "<text x=\"24\" y=\"4\" font-size=\"12\" fill=\"%s\">%s</text></g>\n", kInk,
            text);
    x += 34.0 + 7.0 * static_cast<double>(std::string(text).size());
  }

  void legend(double x, double y) {
    char swatch[256];
    const struct {
      LaneKind kind;
      const char* text;
    } kinds[] = {{LaneKind::kChannel, "channel"},
                 {LaneKind::kSubmix, "submix"},
                 {LaneKind::kVca, "VCA"},
                 {LaneKind::kMaster, "master fader"}};
    for (const auto& k : kinds) {
      std::snprintf(swatch, sizeof swatch,
                    "<path d=\"M0 4L8 4L8 -4L18 -4\" stroke=\"%s\" stroke-width=\"2\" "
                    "fill=\"none\"/>",
                    laneColour(k.kind));
      legendItem(x, y, swatch, k.text);
    }
    std::snprintf(swatch, sizeof swatch, "<path d=\"M5.5 5L12.5 5L9 -2Z\" fill=\"%s\"/>", kMuted);
    legendItem(x, y, swatch, "volume entry");
    std::snprintf(swatch, sizeof swatch,
                  "<rect x=\"0\" y=\"0\" width=\"18\" height=\"4\" fill=\"%s\" "
                  "fill-opacity=\"0.35\"/>",
                  kMuted);
    legendItem(x, y, swatch, "ramp");
    std::snprintf(swatch, sizeof swatch,
                  "<path d=\"M5.5 5L12.5 5L9 -2Z\" fill=\"#ffffff\" stroke=\"%s\"/>", kMuted);
    legendItem(x, y, swatch, "entry never reached");
    std::snprintf(swatch, sizeof swatch,
                  "<rect x=\"0\" y=\"-6\" width=\"18\" height=\"12\" fill=\"%s\"/>", kPeakFill);
    legendItem(x, y, swatch, "output peak");
    std::snprintf(swatch, sizeof swatch,
                  "<rect x=\"0\" y=\"-6\" width=\"18\" height=\"12\" fill=\"%s\"/>", kRmsFill);
    legendItem(x, y, swatch, "output RMS");
    std::snprintf(swatch, sizeof swatch,
                  "<path d=\"M9 -7L9 7\" stroke=\"%s\" stroke-width=\"2.5\"/>", kOverRed);
    legendItem(x, y, swatch, "over (word at full scale)");
  }

  // Vertical gridlines and the minutes:seconds labels above and below.
  void timeAxis(double labelTop, double bottom) {
    const double totalSeconds = static_cast<double>(length_) / rate_;
    static constexpr double kSteps[] = {0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1,  0.2,
                                        0.5,   1,     2,     5,    10,   15,   30,   60,
                                        120,   300,   600,   900,  1800, 3600, 7200, 18000};
    double step = 0;
    for (double s : kSteps) {
      if (totalSeconds / s <= 16.0) {
        step = s;
        break;
      }
    }
    if (step == 0) step = std::ceil(totalSeconds / 16.0 / 3600.0) * 3600.0;
    const int decimals = step >= 1 ? 0 : (step >= 0.1 ? 1 : (step >= 0.01 ? 2 : 3));
    const double first = std::ceil(seconds(start_) / step - 1e-9);
    std::string lines;
    std::string labels;
    for (int k = 0; k <= 40; ++k) {
      const double t = (first + k) * step;
      const double offset = t * rate_ - static_cast<double>(start_);
      if (offset > static_cast<double>(length_) + 0.5) break;
      const double x = kLeft + offset / static_cast<double>(length_) * kPlotWidth;
      appendf(lines, "M%.1f %.0fV%.0f", x, kTop, bottom);
      const std::string text = clockText(t, decimals);
      appendf(labels, "<text x=\"%.1f\" y=\"%.0f\">%s</text>", x, labelTop, text.c_str());
      appendf(labels, "<text x=\"%.1f\" y=\"%.0f\">%s</text>\n", x, bottom + 18.0, text.c_str());
    }
    appendf(svg_, "<path d=\"%s\" stroke=\"#000000\" stroke-opacity=\"0.10\" fill=\"none\"/>\n",
            lines.c_str());
    appendf(svg_, "<g font-size=\"11\" fill=\"%s\" text-anchor=\"middle\">%s</g>\n", kMuted,
            labels.c_str());
    appendf(svg_,
            "<text x=\"%.0f\" y=\"%.0f\" font-size=\"11\" fill=\"%s\" text-anchor=\"end\">"
            "min:sec</text>\n",
            kLeft + kPlotWidth, bottom + 34.0, kMuted);
  }

  void laneFrame(double top, double height) {
    appendf(svg_,
            "<rect x=\"%.0f\" y=\"%.0f\" width=\"%.0f\" height=\"%.0f\" fill=\"#fbfbfb\" "
            "stroke=\"#c8c8c8\"/>\n",
            kLeft, top, kPlotWidth, height);
  }

  // Horizontal gridlines with their labels in the gutter.
  void levelGrid(double top, double height, const double* levels, std::size_t count,
                 double (*fraction)(double), double emphasised) {
    std::string grid;
    std::string labels;
    for (std::size_t k = 0; k < count; ++k) {
      const double y = top + fraction(levels[k]) * height;
      if (levels[k] == emphasised) {
        appendf(svg_, "<path d=\"M%.0f %.1fh%.0f\" stroke=\"#b0b0b0\" stroke-dasharray=\"4 3\"/>\n",
                kLeft, y, kPlotWidth);
      } else {
        appendf(grid, "M%.0f %.1fh%.0f", kLeft, y, kPlotWidth);
      }
      appendf(labels, "<text x=\"%.0f\" y=\"%.1f\">%s</text>", kLeft - 6.0, y + 3.0,
              levels[k] <= kSilenceDb ? "-\xE2\x88\x9E"
                                      : std::to_string(static_cast<int>(levels[k])).c_str());
    }
    if (!grid.empty()) appendf(svg_, "<path d=\"%s\" stroke=\"%s\"/>\n", grid.c_str(), kGrid);
    appendf(svg_, "<g font-size=\"8\" fill=\"#888888\" text-anchor=\"end\">%s</g>\n",
            labels.c_str());
  }

  void laneLabel(double top, const char* colour, const std::string& label,
                 const std::string& detail) {
    appendf(svg_, "<text x=\"12\" y=\"%.0f\" font-size=\"13\" font-weight=\"bold\" fill=\"%s\">",
            top + 18.0, colour);
    svg_ += xmlText(label, 20) + "</text>\n";
    appendf(svg_, "<text x=\"12\" y=\"%.0f\" font-size=\"10\" fill=\"%s\">", top + 33.0, kMuted);
    svg_ += detail + "</text>\n";
  }

  void faderLane(const PlotLane& lane, double top) {
    const char* colour = laneColour(lane.kind);
    laneFrame(top, kLaneHeight);
    static constexpr double kLevels[] = {12, 0, -12, -24, -48, kSilenceDb};
    levelGrid(top, kLaneHeight, kLevels, std::size(kLevels), faderFraction, 0.0);
    std::size_t reached = 0;
    for (const PlotEntry& e : lane.entries) reached += e.reached ? 1 : 0;
    std::string detail =
        std::to_string(lane.entries.size()) + (lane.entries.size() == 1 ? " entry" : " entries");
    if (reached < lane.entries.size())
      detail += ", " + std::to_string(lane.entries.size() - reached) + " never reached";
    laneLabel(top, colour, lane.label, detail);
    entryMarks(lane, top, colour);
    trace(lane.trace, top, colour);
  }

  // Ramp bars along the lane's foot, and a tick (with a tooltip) at each entry.
  void entryMarks(const PlotLane& lane, double top, const char* colour) {
    const double bottom = top + kLaneHeight;
    std::string guides;
    for (const PlotEntry& e : lane.entries) {
      const double x = xOfPosition(e.time);
      appendf(guides, "M%.1f %.0fV%.0f", x, top, bottom);
      if (e.reached && e.ramp > 1) {
        const double x2 = xOfPosition(addSaturating(e.time, e.ramp));
        appendf(svg_,
                "<rect x=\"%.1f\" y=\"%.0f\" width=\"%.1f\" height=\"4\" fill=\"%s\" "
                "fill-opacity=\"0.35\"/>\n",
                x, bottom - 4.0, std::max(x2 - x, 0.5), colour);
      }
    }
    if (!guides.empty())
      appendf(svg_,
              "<path d=\"%s\" stroke=\"%s\" stroke-opacity=\"0.25\" stroke-dasharray=\"2 3\"/>\n",
              guides.c_str(), colour);
    for (const PlotEntry& e : lane.entries) {
      const double x = xOfPosition(e.time);
      appendf(svg_, "<path d=\"M%.1f %.1fL%.1f %.1fL%.1f %.1fZ\" ", x - 4.0, bottom, x + 4.0,
              bottom, x, bottom - 8.0);
      if (e.reached) {
        appendf(svg_, "fill=\"%s\">", colour);
      } else {
        appendf(svg_, "fill=\"#ffffff\" stroke=\"%s\">", kMuted);
      }
      svg_ += "<title>" + clockText(seconds(e.time), 3) + "  " + dbText(e.db);
      if (e.ramp > 1) {
        char ramp[64];
        std::snprintf(ramp, sizeof ramp, ", ramp %.3f s", static_cast<double>(e.ramp) / rate_);
        svg_ += ramp;
      }
      if (!e.reached) svg_ += " (never reached: its time does not follow the entry before)";
      svg_ += "</title></path>\n";
    }
  }

  // The played level: per column a vertical stroke from the first reading
  // through the lowest and highest to the last, joined to the next column;
  // columns without readings (the fader did not run) break the line.
  void trace(const LevelTrace& t, double top, const char* colour) {
    std::string d;
    std::vector<Point> run;
    const auto y = [&](float db) { return top + faderFraction(db) * kLaneHeight; };
    for (int c = 0; c < plot_.columns(); ++c) {
      if (!t.has(c)) {
        appendRun(d, run);
        run.clear();
        continue;
      }
      const auto k = static_cast<std::size_t>(c);
      const double x = xOfColumn(c);
      const bool rising = t.last[k] >= t.first[k];
      pushPoint(run, pointAt(x, y(t.first[k])));
      pushPoint(run, pointAt(x, y(rising ? t.low[k] : t.high[k])));
      pushPoint(run, pointAt(x, y(rising ? t.high[k] : t.low[k])));
      pushPoint(run, pointAt(x, y(t.last[k])));
    }
    appendRun(d, run);
    if (d.empty()) return;
    svg_ += "<path d=\"" + d;
    appendf(svg_,
            "\" stroke=\"%s\" stroke-width=\"1.8\" fill=\"none\" stroke-linejoin=\"round\" "
            "stroke-linecap=\"round\"/>\n",
            colour);
  }

  void outputLane(double top) {
    const OutputEnvelope& out = plot_.output();
    const double fullScale = static_cast<double>(wordFullScale(bits_));
    laneFrame(top, kOutputHeight);
    static constexpr double kLevels[] = {0, -6, -12, -24, -36, -48, -60};
    levelGrid(top, kOutputHeight, kLevels, std::size(kLevels), outputFraction, 1.0);
    std::int64_t overs = 0;
    for (std::int64_t o : out.overs) overs += o;
    std::string detail = "peak and RMS, dBFS";
    if (overs > 0) {
      detail += "</text>\n";
      appendf(detail,
              "<text x=\"12\" y=\"%.0f\" font-size=\"11\" font-weight=\"bold\" fill=\"%s\">"
              "%lld frame%s over",
              top + 50.0, kOverRed, static_cast<long long>(overs), overs == 1 ? "" : "s");
    }
    laneLabel(top, kInk, "Output", detail);

    const double bottom = top + kOutputHeight;
    const auto peakY = [&](std::size_t k) {
      const double peak = static_cast<double>(out.peak[k]);
      const double db = peak > 0 ? 20.0 * std::log10(peak / fullScale) : kSilenceDb;
      return top + outputFraction(db) * kOutputHeight;
    };
    const auto rmsY = [&](std::size_t k) {
      const double meanSquare = out.squares[k] / static_cast<double>(out.words[k]);
      const double db =
          meanSquare > 0 ? 10.0 * std::log10(meanSquare / (fullScale * fullScale)) : kSilenceDb;
      return top + outputFraction(db) * kOutputHeight;
    };
    envelope(peakY, bottom, kPeakFill);
    envelope(rmsY, bottom, kRmsFill);

    overMarks(top);
  }

  // Each stretch of columns holding overs: a red band on the lane's top edge
  // (with a tooltip) and a faint red wash down through the envelope.
  void overMarks(double top) {
    const OutputEnvelope& out = plot_.output();
    const double width = kPlotWidth / plot_.columns();
    std::string marks;
    for (int c = 0; c < plot_.columns();) {
      if (out.overs[static_cast<std::size_t>(c)] == 0) {
        ++c;
        continue;
      }
      const int first = c;
      std::int64_t frames = 0;
      for (; c < plot_.columns() && out.overs[static_cast<std::size_t>(c)] > 0; ++c)
        frames += out.overs[static_cast<std::size_t>(c)];
      double x0 = kLeft + first * width;
      double x1 = kLeft + c * width;
      if (x1 - x0 < 2.0) {  // keep a lone over visible
        x0 = (x0 + x1) / 2.0 - 1.0;
        x1 = x0 + 2.0;
      }
      appendf(marks,
              "<rect x=\"%.1f\" y=\"%.0f\" width=\"%.1f\" height=\"%.0f\" "
              "fill-opacity=\"0.14\"/>",
              x0, top, x1 - x0, kOutputHeight);
      appendf(marks, "<rect x=\"%.1f\" y=\"%.0f\" width=\"%.1f\" height=\"7\"><title>", x0,
              top - 7.0, x1 - x0);
      marks += clockText(seconds(columnFirst(first)), 3) + " to " +
               clockText(seconds(columnFirst(c)), 3);
      appendf(marks, ": %lld frame%s over</title></rect>\n", static_cast<long long>(frames),
              frames == 1 ? "" : "s");
    }
    if (!marks.empty()) appendf(svg_, "<g fill=\"%s\">\n%s</g>\n", kOverRed, marks.c_str());
  }

  std::int64_t columnFirst(int c) const {
    return start_ + truncateTo<std::int64_t>(static_cast<double>(c) * static_cast<double>(length_) /
                                             plot_.columns());
  }

  // A filled area from the lane's floor up to y(column), for every column
  // that received output words.
  template <typename YOf>
  void envelope(const YOf& yOf, double bottom, const char* fill) {
    const OutputEnvelope& out = plot_.output();
    std::string d;
    std::vector<Point> run;
    const auto close = [&]() {
      if (run.empty()) return;
      const Point last = run.back();
      pushPoint(run, Point{last.x, pointAt(0, bottom).y});
      appendRun(d, run);
      d += "Z";
      run.clear();
    };
    const double half = 0.5 * kPlotWidth / plot_.columns();
    for (int c = 0; c < plot_.columns(); ++c) {
      const auto k = static_cast<std::size_t>(c);
      if (out.words[k] == 0) {
        close();
        continue;
      }
      const double x = xOfColumn(c);
      const double y = yOf(k);
      if (run.empty()) pushPoint(run, pointAt(x - half, bottom));
      pushPoint(run, pointAt(x - half, y));
      pushPoint(run, pointAt(x + half, y));
    }
    close();
    if (!d.empty()) appendf(svg_, "<path d=\"%s\" fill=\"%s\"/>\n", d.c_str(), fill);
  }

  const MixPlot& plot_;
  std::int64_t start_;
  std::int64_t length_;
  double rate_;
  int bits_;
  std::string svg_;
};

}  // namespace

std::string MixPlot::svg(const std::string& title) const {
  return Drawing(*this, start_, length_, rate_, bits_).build(title);
}

}  // namespace sorvan
