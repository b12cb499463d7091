// Range checks for numbers read from the fader file. Each forces its value
// into the range its mode selects; an unknown mode leaves the value unchanged.
#pragma once

#include <cstdint>

namespace sorvan {

namespace check_mode {
inline constexpr int kChannel = 1;
inline constexpr int kAttack = 10;
inline constexpr int kRelease = 11;
inline constexpr int kRatio = 12;
inline constexpr int kFrequency = 20;
inline constexpr int kGain = 21;
inline constexpr int kQ = 22;
inline constexpr int kPercent = 100;
inline constexpr int kDb = 0;  // CheckFader, CheckThresh, CheckSndRtn
inline constexpr int kPercentLevel = 1;
}  // namespace check_mode

// Attack (10) and release (11) lengths in samples.
void checkValL(std::int64_t& value, int mode, double sampleRate);
// Ratio (12), frequency in Hz (20), EQ gain in dB (21), EQ Q (22).
void checkValD(double& value, int mode, double sampleRate);
// Percentage (100).
void checkValF(float& value, int mode);
// Channel index (1): outside 0..135 becomes 135 with a message.
void checkValI(int& value, int mode);
// Fader level in dB (0) or percent (1); warnings name the fader and the entry
// number counted from 1. Returns 1 for modes 0 and 1.
int CheckFader(double& value, int mode, int fader, int entryIndex);
// Threshold in dB (0) or percent (1).
int CheckThresh(double& value, int mode);
// Send or return level in dB (0) or percent (1).
int CheckSndRtn(double& value, int mode);

}  // namespace sorvan
