#include "textcfg/checks.h"

#include "base/messages.h"
#include "base/numeric.h"

namespace sorvan {

void checkValL(std::int64_t& value, int mode, double sampleRate) {
  if (mode == check_mode::kAttack) {
    if (value < 1) value = 1;
    if (static_cast<double>(value) > 2.0 * sampleRate)
      value = truncateTo<std::int64_t>(2.0 * sampleRate);
  } else if (mode == check_mode::kRelease) {
    if (value <= 9) value = 10;
    if (static_cast<double>(value) > 5.0 * sampleRate)
      value = truncateTo<std::int64_t>(5.0 * sampleRate);
  }
}

void checkValD(double& value, int mode, double sampleRate) {
  switch (mode) {
    case check_mode::kRatio:
      if (value < 1.0) value = 1.0;
      if (value > 50.0) value = 50.0;
      break;
    case check_mode::kFrequency:
      if (value > sampleRate * 0.5) value = sampleRate * 0.5;
      if (value < 1.0) value = 1.0;
      break;
    case check_mode::kGain:
      if (value > 15.0) value = 15.0;
      if (value < -15.0) value = -15.0;
      break;
    case check_mode::kQ:
      if (value < 0.01) value = 0.01;
      if (value > 100.0) value = 100.0;
      break;
    default:
      break;
  }
}

void checkValF(float& value, int mode) {
  if (mode != check_mode::kPercent) return;
  if (value < 0.0f) value = 0.0f;
  if (value > 100.0f) value = 100.0f;
}

void checkValI(int& value, int mode) {
  if (mode != check_mode::kChannel) return;
  if (value < 0 || value > 135) {
    value = 135;
    sayLine(">>Channel number out of range or not specified!");
  }
}

int CheckFader(double& value, int mode, int fader, int entryIndex) {
  if (mode == check_mode::kDb) {
    if (value > 12.02) {
      value = 12.02;
      say(">> Warning: fader %i (entry %i) set above 12.02 dB\n", fader, entryIndex + 1);
    }
    if (value < -144.0) value = -144.0;
    return 1;
  }
  if (mode == check_mode::kPercentLevel) {
    if (value > 400.0) {
      value = 400.0;
      say(">> Warning: fader %i (entry %i) set above 400 percent\n", fader, entryIndex + 1);
    }
    if (value < 0.0) {
      value = 0.0;
      say(">> Warning: fader %i (entry %i) set below 0 percent\n", fader, entryIndex + 1);
    }
    return 1;
  }
  return 0;
}

namespace {

int clampLevel(double& value, int mode, double dbHigh, double percentHigh) {
  if (mode == check_mode::kDb) {
    if (value > dbHigh) value = dbHigh;
    if (value < -144.0) value = -144.0;
    return 1;
  }
  if (mode == check_mode::kPercentLevel) {
    if (value > percentHigh) value = percentHigh;
    if (value < 0.0) value = 0.0;
    return 1;
  }
  return 0;
}

}  // namespace

int CheckThresh(double& value, int mode) { return clampLevel(value, mode, 0.0, 100.0); }

int CheckSndRtn(double& value, int mode) { return clampLevel(value, mode, 12.02, 400.0); }

}  // namespace sorvan
