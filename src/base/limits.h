// Fixed sizes of the console and its tables. Every table indexed by a value
// read from a text file is sized here, and every reader checks against these
// names before it stores.
#pragma once

#include <cstdint>

namespace sorvan {

inline constexpr int kBlockFrames = 131072;  // frames per block of the mix

inline constexpr int kMaxTracks = 127;   // track channels 1..127
inline constexpr int kSubmixBase = 127;  // submix s has channel index 127 + s
inline constexpr int kSubmixCount = 8;
inline constexpr int kStripCount = 136;  // 0 master, 1..127 tracks, 128..135 submixes
inline constexpr int kLevelSlots = 137;  // strips plus spare slot 136
inline constexpr int kPeakSlots = 139;   // level slots plus the two reverb sends
inline constexpr int kRecursiveSendPeak = 137;
inline constexpr int kTapSendPeak = 138;
inline constexpr int kBusCount = 9;  // bus 0 (main) and submixes 1..8
inline constexpr int kVcaSlots = 9;  // VCA 0 (sink for bad numbers) and 1..8
inline constexpr int kMaxVolumeEntries = 512;
inline constexpr int kMaxTempoSegments = 128;
inline constexpr int kProcessorCount = 11;  // strip processors, positions 1..11

inline constexpr std::int64_t kUnityLevel = 134217728;  // 2^27: fader level of 0 dB
inline constexpr double kChannelFullScale = 8388608.0;  // 2^23: decoded sources, channel strips
inline constexpr double kBusFullScale = 2147483648.0;   // 2^31: after a channel's fader
inline constexpr double kSilenceDb = -144.0;            // what level 0 reads as in dB

}  // namespace sorvan
