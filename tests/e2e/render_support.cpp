#include "e2e/render_support.h"

#include <gtest/gtest.h>

#include <cmath>

namespace sorvan::e2e {

void writeSource(const Session& s, const std::string& name, int rate, int bits, int channels,
                 const std::vector<std::int32_t>& samples) {
  const std::size_t width = static_cast<std::size_t>(bits / 8);
  std::string raw(samples.size() * width, '\0');
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const auto v = static_cast<std::uint32_t>(samples[i]);
    for (std::size_t b = 0; b < width; ++b) raw[i * width + b] = static_cast<char>(v >> (8 * b));
  }
  const std::string rawName = name + ".raw";
  s.write(rawName, raw);
  s.sox("-t raw -r " + std::to_string(rate) + " -e signed -b " + std::to_string(bits) + " -c " +
        std::to_string(channels) + " -L '" + rawName + "' '" + name + "'");
}

std::vector<std::int32_t> soxSamples(const Session& s, const std::string& name, int bits) {
  const std::string rawName = name + ".decoded.raw";
  s.sox("-D '" + name + "' -t raw -e signed -b " + std::to_string(bits) + " -L '" + rawName + "'");
  const std::string raw = s.read(rawName);
  std::vector<std::int32_t> out;
  const std::size_t width = static_cast<std::size_t>(bits / 8);
  for (std::size_t at = 0; at + width <= raw.size(); at += width)
    out.push_back(bits == 16 ? sample16(raw, at) : sample24(raw, at));
  return out;
}

Rendered readRendered(const Session& s, const std::string& name) {
  Rendered r;
  const std::string wav = s.read(name);
  if (wav.size() < 44) {
    ADD_FAILURE() << name << " is missing or shorter than its header";
    return r;
  }
  EXPECT_EQ(wav.substr(0, 4), "RIFF");
  EXPECT_EQ(wav.substr(36, 4), "data");
  r.channels = static_cast<int>(le32(wav, 22) & 0xffff);
  r.rate = le32(wav, 24);
  r.bits = static_cast<int>(le32(wav, 34) & 0xffff);
  const std::uint32_t dataBytes = le32(wav, 40);
  EXPECT_EQ(dataBytes, wav.size() - 44) << name << ": the header's size matches the data";
  EXPECT_EQ(le32(wav, 4), dataBytes + 36);
  EXPECT_EQ(le32(wav, 20) & 0xffff, 1u) << name << ": plain PCM";
  const auto frameBytes = static_cast<std::uint32_t>(r.channels * r.bits / 8);
  EXPECT_EQ(le32(wav, 32) & 0xffff, frameBytes) << name << ": block align";
  EXPECT_EQ(le32(wav, 28), r.rate * frameBytes) << name << ": byte rate";
  const std::size_t width = static_cast<std::size_t>(r.bits / 8);
  if (width != 2 && width != 3) {
    ADD_FAILURE() << name << " has " << r.bits << " bits";
    return r;
  }
  for (std::size_t at = 44; at + width <= wav.size(); at += width)
    r.words.push_back(width == 2 ? sample16(wav, at) : sample24(wav, at));
  return r;
}

Rendered render(const Session& s, const std::string& name) {
  const RunResult r = s.run();
  EXPECT_EQ(r.status, 0) << r.out;
  return readRendered(s, name);
}

std::vector<std::int32_t> Rendered::side(bool leftSide) const {
  std::vector<std::int32_t> out(frames());
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = leftSide ? left(i) : right(i);
  return out;
}

std::vector<std::int32_t> stereo(const std::vector<std::int32_t>& left,
                                 const std::vector<std::int32_t>& right) {
  std::vector<std::int32_t> out;
  for (std::size_t i = 0; i < left.size(); ++i) {
    out.push_back(left[i]);
    out.push_back(right[i]);
  }
  return out;
}

std::int64_t levelOf(double dB) {
  return static_cast<std::int64_t>(std::pow(10.0, dB / 20.0) * 134217728.0);
}

double channelGain(double level) {
  // The level meets the pan gain in single precision; 2^19 takes a channel
  // at unity up by 256, into bus scale.
  return static_cast<double>(static_cast<float>(level)) / 524288.0;
}

std::int64_t faderWord(std::int64_t x, double level) {
  const auto bus = static_cast<std::int64_t>(channelGain(level) * static_cast<double>(x));
  return bus / 256;
}

std::vector<std::int32_t> alternating(std::size_t frames, std::int32_t amplitude) {
  std::vector<std::int32_t> out(frames);
  for (std::size_t i = 0; i < frames; ++i) out[i] = i % 2 ? -amplitude : amplitude;
  return out;
}

std::vector<std::int32_t> spread(std::size_t frames, std::int32_t amplitude, std::uint32_t salt) {
  std::vector<std::int32_t> out(frames);
  const auto span = static_cast<std::uint32_t>(2 * amplitude + 1);
  for (std::size_t i = 0; i < frames; ++i)
    out[i] =
        static_cast<std::int32_t>((static_cast<std::uint32_t>(i) * 2654435761u + salt) % span) -
        amplitude;
  return out;
}

std::vector<std::int32_t> sine(std::size_t frames, double hz, double amplitude) {
  std::vector<std::int32_t> out(frames);
  for (std::size_t i = 0; i < frames; ++i)
    out[i] = static_cast<std::int32_t>(std::lround(
        amplitude * 8388608.0 * std::sin(2.0 * M_PI * hz * static_cast<double>(i) / 48000.0)));
  return out;
}

}  // namespace sorvan::e2e
