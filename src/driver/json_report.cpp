#include "driver/json_report.h"

#include <array>
#include <nlohmann/json.hpp>
#include <string_view>

#include "base/limits.h"

namespace sorvan {
namespace {

using nlohmann::ordered_json;

ordered_json sides(double left, double right) { return {{"left", left}, {"right", right}}; }

// A pair of peak levels as the text reports them (dB of bus full scale), with
// its "Over" flag.
ordered_json busPeak(const MixMeters& m, int slot) {
  const double l = levelDb(m.peakL[slot], kBusFullScale);
  const double r = levelDb(m.peakR[slot], kBusFullScale);
  return {{"peak", sides(l, r)}, {"over", l > 0 || r > 0}};
}

ordered_json outputSide(double peak, std::int64_t position, double reference, std::uint32_t rate) {
  const double level = levelDb(peak, reference);
  const PeakTime at = peakTime(position, rate);
  return {{"peak", level},
          {"frame", position},
          {"minutes", static_cast<double>(at.minutes)},
          {"seconds", static_cast<double>(at.seconds)},
          {"over", level > 0}};
}

const char* formatName(OutputFormat format) {
  switch (format) {
    case OutputFormat::kFloat:
      return "float";
    case OutputFormat::kFlac:
      return "flac";
    case OutputFormat::kWave:
      break;
  }
  return "wav";
}

ordered_json targetJson(const TargetOutcome& t) {
  if (!t.set) return nullptr;
  ordered_json j = {{"lufs", t.lufs}, {"ceiling", t.ceiling}, {"measured", t.measured}};
  j["masterLoudness"] = t.measured ? ordered_json(t.masterLufs) : ordered_json(nullptr);
  j["masterTruePeak"] = t.measured ? ordered_json(t.masterTruePeakDb) : ordered_json(nullptr);
  j["gain"] = t.gainDb;
  j["heldByCeiling"] = t.heldByCeiling;
  return j;
}

ordered_json settingsJson(const JsonReportInputs& in) {
  const Preferences& prefs = *in.prefs;
  const RenderPlan& plan = *in.plan;
  const MixMeters& m = *in.report->meters;
  const bool floating = prefs.format == OutputFormat::kFloat;
  return {{"sampleRate", in.report->sampleRate},
          {"format", formatName(prefs.format)},
          {"bits", floating ? 32 : prefs.outputBits},
          {"channels", prefs.mono ? 1 : 2},
          {"preview", prefs.preview},
          {"renderStart", plan.renderStart},
          {"renderLength", plan.renderLength},
          {"dither", floating ? 0 : prefs.ditherLevel},
          {"ditherSeed", m.dither ? ordered_json(m.ditherSeed) : ordered_json(nullptr)},
          {"stems", prefs.stems},
          {"target", targetJson(m.target)}};
}

ordered_json channelsJson(const ReportInputs& in) {
  const MixMeters& m = *in.meters;
  ordered_json channels = ordered_json::array();
  for (int ch = 1; ch <= in.trackCount; ++ch) {
    if ((*in.channelActive)[ch] != 1) continue;
    ordered_json c = {{"channel", ch},
                      {"name", shortName((*in.sourceNames)[static_cast<std::size_t>(ch - 1)])}};
    c.update(busPeak(m, ch));
    c["clipping"] = m.clip[ch] == 1;
    channels.push_back(c);
  }
  return channels;
}

ordered_json reverbsJson(const MixMeters& m) {
  ordered_json reverbs = ordered_json::object();
  if (m.recursiveReverb || m.masterFedRecursive) {
    reverbs["recursive"] = busPeak(m, kRecursiveSendPeak);
    reverbs["recursive"]["fedBy"] = m.masterFedRecursive ? "master" : "sends";
  }
  if (m.tapReverb || m.masterFedTap) {
    reverbs["tap"] = busPeak(m, kTapSendPeak);
    reverbs["tap"]["fedBy"] = m.masterFedTap ? "master" : "sends";
  }
  return reverbs;
}

ordered_json submixesJson(const ReportInputs& in) {
  const MixMeters& m = *in.meters;
  ordered_json submixes = ordered_json::array();
  for (int k = 1; k <= kSubmixCount; ++k) {
    if (!in.busActive[static_cast<std::size_t>(k)]) continue;
    ordered_json s = {{"submix", k}};
    s.update(busPeak(m, kSubmixBase + k));
    s["clipping"] = m.clip[kSubmixBase + k] == 1;
    submixes.push_back(s);
  }
  return submixes;
}

ordered_json loudnessJson(const LoudnessResult& r) {
  const auto optional = [&](double v) {
    return r.measured ? ordered_json(v) : ordered_json(nullptr);
  };
  return {{"integrated", optional(r.integrated)},
          {"range", optional(r.range)},
          {"truePeak", r.truePeakDb}};
}

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

std::string statisticsJson(const JsonReportInputs& in) {
  const ReportInputs& report = *in.report;
  const MixMeters& m = *report.meters;
  const double reference = outputReference(report);
  const auto [rmsL, rmsR] = averageRmsDb(m.output);
  ordered_json j;
  j["version"] = kJsonReportVersion;
  j["mix"] = report.outputName;
  j["settings"] = settingsJson(in);
  j["channels"] = channelsJson(report);
  j["reverbs"] = reverbsJson(m);
  j["submixes"] = submixesJson(report);
  j["master"] = {{"clipping", m.clip[0] == 1}};
  j["rms"] = {{"left", rmsL}, {"right", rmsR}, {"over", rmsL > 0 || rmsR > 0}};
  j["output"] = {
      {"left", outputSide(m.output.peakL, m.output.peakPosL, reference, report.sampleRate)},
      {"right", outputSide(m.output.peakR, m.output.peakPosR, reference, report.sampleRate)},
      {"limited", !m.floatOutput}};
  j["loudness"] = loudnessJson(m.loudness);
  j["warnings"] = in.warnings;
  j["files"] = in.files;
  j["processingSeconds"] = in.processingSeconds;
  return j.dump(2) + "\n";
}

std::vector<std::string> runWarnings(const std::vector<std::string>& findings,
                                     const std::vector<std::string>& messages) {
  // How the console's warnings and corrections begin, or what they hold.
  static constexpr std::string_view kStarts[] = {">>",
                                                 "Warning",
                                                 "Error",
                                                 "Cannot find",
                                                 "Can't find",
                                                 "Dither is set",
                                                 "Pan on channel",
                                                 "Scale function",
                                                 "Master Trim",
                                                 "Submix number",
                                                 "VCA fader",
                                                 "Channel assigned to",
                                                 "Resetting reverb",
                                                 "Adjusted ",
                                                 "Preview mode not specified",
                                                 "No time entries found"};
  static constexpr std::string_view kHolds[] = {
      " is not a 32", " has no channels or no sample bytes", " volume trim set above",
      " already exists and was left unchanged"};
  std::vector<std::string> warnings = findings;
  for (const std::string& message : messages) {
    const std::size_t first = message.find_first_not_of('\n');
    if (first == std::string::npos) continue;
    const std::size_t last = message.find_last_not_of('\n');
    const std::string text = message.substr(first, last - first + 1);
    bool warning = false;
    for (const std::string_view start : kStarts) warning = warning || startsWith(text, start);
    for (const std::string_view held : kHolds)
      warning = warning || text.find(held) != std::string::npos;
    if (warning) warnings.push_back(text);
  }
  return warnings;
}

}  // namespace sorvan
