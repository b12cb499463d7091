#include "engine/report.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "base/messages.h"
#include "base/output_file.h"

namespace sorvan {
namespace {

void appendf(std::string& text, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

void appendf(std::string& text, const char* fmt, ...) {
  char line[1024];
  va_list args;
  va_start(args, fmt);
  const int n = std::vsnprintf(line, sizeof line, fmt, args);
  va_end(args);
  if (n > 0) text.append(line, static_cast<std::size_t>(n) < sizeof line ? n : sizeof line - 1);
}

double dB(double raw, double reference) { return levelDb(raw, reference); }

void appendOver(std::string& text, double left, double right, const char* over) {
  text += (left > 0 || right > 0) ? over : "\n";
}

void appendOutputPeak(std::string& text, const char* format, double peak, std::int64_t position,
                      double reference, std::uint32_t rate, const char* over) {
  const double level = dB(peak, reference);
  const PeakTime at = peakTime(position, rate);
  appendf(text, format, level, static_cast<double>(at.minutes), static_cast<double>(at.seconds));
  text += level > 0 ? over : "\n";
}

void appendTarget(std::string& text, const TargetOutcome& t, const LoudnessResult& reached) {
  appendf(text, "Target: %.1f LUFS, ceiling %.1f dBTP: ", t.lufs, t.ceiling);
  if (!t.measured) {
    text += "the master is too short or too quiet to measure, so no gain was applied\n";
    return;
  }
  appendf(text, "gain %+.2f dB%s, ", t.gainDb, t.heldByCeiling ? ", held back by the ceiling" : "");
  if (reached.measured)
    appendf(text, "reached %.1f LUFS\n", reached.integrated);
  else
    text += "the output is too short to measure\n";
}

}  // namespace

double levelDb(double raw, double reference) {
  double out = 0;
  RawTodB(raw, out, reference, kSilenceDb);
  return out;
}

std::string shortName(const std::string& name) {
  const std::size_t begin = name.find_first_not_of('.');
  if (begin == std::string::npos) return "";
  const std::size_t end = name.find('.', begin);
  return name.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

PeakTime peakTime(std::int64_t position, std::uint32_t rate) {
  float minutes = 0.0f;
  if (rate != 0) minutes = static_cast<float>(position) / (static_cast<float>(rate) * 60.0f);
  const float whole = std::floor(minutes);
  return {whole, (minutes - whole) * 60.0f};
}

std::array<double, 2> averageRmsDb(const OutputMeters& out) {
  // A side on which no half-wave was measured reads as silence, not 0/0.
  const float avgL = out.rmsCountL > 0 ? out.rmsSumL / out.rmsCountL : 0.0f;
  const float avgR = out.rmsCountR > 0 ? out.rmsSumR / out.rmsCountR : 0.0f;
  return {levelDb(avgL, kChannelFullScale), levelDb(avgR, kChannelFullScale)};
}

double outputReference(const ReportInputs& in) {
  // Float output is metered in 24-bit units whatever "outbits" says.
  return in.outputBits == 16 && !in.meters->floatOutput ? 32768.0 : 8388608.0;
}

void RawTodB(double raw, double& out, double reference, double floor) {
  // Adding 0.0 turns the -0.0 of a full-scale level into 0.0 ("0.00", not "-0.00").
  out = raw > 0 ? -20.0 * std::log10(reference / raw) + 0.0 : floor;
}

std::string statisticsText(const ReportInputs& in) {
  const MixMeters& m = *in.meters;
  std::string text = "Peaks (dB):\n\n";
  for (int ch = 1; ch <= in.trackCount; ++ch) {
    const double l = dB(m.peakL[ch], kBusFullScale);
    const double r = dB(m.peakR[ch], kBusFullScale);
    if ((*in.channelActive)[ch] == 1) {
      const std::string name = shortName((*in.sourceNames)[static_cast<std::size_t>(ch - 1)]);
      appendf(text, "Ch %i\tL  %.2f\tR  %.2f\t%s", ch, l, r, name.c_str());
    }
    appendOver(text, l, r, "Channel Over!");
  }

  const double revL = dB(m.peakL[kRecursiveSendPeak], kBusFullScale);
  const double revR = dB(m.peakR[kRecursiveSendPeak], kBusFullScale);
  if (m.recursiveReverb || m.masterFedRecursive)
    appendf(text, "\nRev\tL  %.2f\tR  %.2f\t(send)", revL, revR);
  appendOver(text, revL, revR, "Reverb Over!");
  if (m.tapReverb || m.masterFedTap) {
    const double l = dB(m.peakL[kTapSendPeak], kBusFullScale);
    const double r = dB(m.peakR[kTapSendPeak], kBusFullScale);
    appendf(text, "\nTrev\tL  %.2f\tR  %.2f\t(send)", l, r);
    appendOver(text, l, r, "Tap Reverb Over!");
  }
  for (int k = 1; k <= kSubmixCount; ++k) {
    if (!in.busActive[static_cast<std::size_t>(k)]) continue;
    const double l = dB(m.peakL[kSubmixBase + k], kBusFullScale);
    const double r = dB(m.peakR[kSubmixBase + k], kBusFullScale);
    appendf(text, "\nSub %i\tL  %.2f\tR  %.2f", k, l, r);
    appendOver(text, l, r, "Submix Over!");
  }

  const OutputMeters& out = m.output;
  const auto [rmsL, rmsR] = averageRmsDb(out);
  appendf(text, "\nRMS\tL  %.2f\tR  %.2f\t(average)", rmsL, rmsR);
  appendOver(text, rmsL, rmsR, "RMS Over!");

  const double reference = outputReference(in);
  appendOutputPeak(text, "\nPeak Out L = %.2lf dB at %.0f min : %.3f sec", out.peakL, out.peakPosL,
                   reference, in.sampleRate, "Main Out Left Over!");
  appendOutputPeak(text, "Peak Out R = %.2lf dB at %.0f min : %.3f sec", out.peakR, out.peakPosR,
                   reference, in.sampleRate, "Main Out Right Over");

  for (int ch = 1; ch <= kMaxTracks; ++ch) {
    if (m.clip[ch] == 1) appendf(text, "Channel %i is clipping after effects processing!\n", ch);
  }
  for (int k = 1; k <= kSubmixCount; ++k) {
    if (m.clip[kSubmixBase + k] == 1)
      appendf(text, "Submix %i is clipping after effects processing!\n", k);
  }
  if (m.clip[0] == 1) text += "Master channel is clipping after effects processing!\n";
  text += "\n";
  if (m.floatOutput && (out.peakL > reference || out.peakR > reference))
    text += "Float output: the values above full scale are kept as they are, not limited\n";
  text += loudnessText(m.loudness);
  if (m.target.set) appendTarget(text, m.target, m.loudness);
  if (m.dither) appendf(text, "Dither seed: %u\n", m.ditherSeed);
  for (const ConvertedSource& c : in.converted)
    appendf(text, "Rate converted: channel %i, %s, from %u Hz to %u Hz\n", c.channel,
            c.name.c_str(), c.rate, in.sampleRate);
  return text;
}

double CreateTextFiles(const ReportInputs& in) {
  std::string text = statisticsText(in);
  const double seconds = static_cast<double>(std::clock() - in.startClock) / CLOCKS_PER_SEC;
  if (in.verbosity >= 1) say("%s", text.c_str());
  appendf(text, "Processing time = %.2lf sec\n", seconds);
  if (in.verbosity > 2) say("\nProcessing time = %.2lf sec\n", seconds);
  writeWholeFile(in.statsPath, text);
  writeWholeFile(in.faderReportPath, *in.faderText);
  return seconds;
}

}  // namespace sorvan
