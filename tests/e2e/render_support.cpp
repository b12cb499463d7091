#include "e2e/render_support.h"

#include <gtest/gtest.h>

namespace sorvan::e2e {

void writeSource(const Session& s, const std::string& name, int rate, int bits, int channels,
                 const std::vector<std::int32_t>& samples) {
  const std::size_t width = static_cast<std::size_t>(bits / 8);
  std::string raw(samples.size() * width, '\0');
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const auto v = static_cast<std::uint32_t>(samples[i]);
    for (std::size_t b = 0; b < width; ++b) raw[i * width + b] = static_cast<char>(v >> (8 * b));
  }
  s.write(name + ".raw", raw);
  s.sox("-t raw -r " + std::to_string(rate) + " -e signed -b " + std::to_string(bits) + " -c " +
        std::to_string(channels) + " -L '" + name + ".raw' '" + name + "'");
}

std::vector<std::int32_t> soxSamples(const Session& s, const std::string& name, int bits) {
  s.sox("-D '" + name + "' -t raw -e signed -b " + std::to_string(bits) + " -L '" + name + ".d'");
  const std::string raw = s.read(name + ".d");
  std::vector<std::int32_t> out;
  for (std::size_t at = 0; at + bits / 8 <= raw.size(); at += bits / 8)
    out.push_back(signedLe(raw, at, bits / 8));
  return out;
}

Rendered readRendered(const Session& s, const std::string& name) {
  Rendered r;
  const std::string wav = s.read(name);
  if (wav.size() < 44 || wav.substr(0, 4) != "RIFF" || wav.substr(36, 4) != "data") {
    ADD_FAILURE() << name << " is missing or has no canonical header";
    return r;
  }
  r.channels = static_cast<int>(le32(wav, 22) & 0xffff);
  r.bits = static_cast<int>(le32(wav, 34) & 0xffff);
  const std::uint32_t dataBytes = le32(wav, 40), frameBytes = r.channels * r.bits / 8;
  EXPECT_EQ(dataBytes, wav.size() - 44) << name << ": the header's size matches the data";
  EXPECT_EQ(le32(wav, 4), dataBytes + 36);
  EXPECT_EQ(le32(wav, 20) & 0xffff, 1u) << name << ": plain PCM";
  EXPECT_EQ(le32(wav, 32) & 0xffff, frameBytes) << name << ": block align";
  EXPECT_EQ(le32(wav, 28), le32(wav, 24) * frameBytes) << name << ": byte rate";
  for (std::size_t at = 44; r.bits >= 16 && at + r.bits / 8 <= wav.size(); at += r.bits / 8)
    r.words.push_back(signedLe(wav, at, r.bits / 8));
  return r;
}

Rendered render(const Session& s, const std::string& name) {
  const RunResult r = s.run();
  EXPECT_EQ(r.status, 0) << r.out;
  return readRendered(s, name);
}

std::vector<std::int32_t> stereo(const std::vector<std::int32_t>& left,
                                 const std::vector<std::int32_t>& right) {
  std::vector<std::int32_t> out;
  for (std::size_t i = 0; i < left.size(); ++i) out.insert(out.end(), {left[i], right[i]});
  return out;
}

}  // namespace sorvan::e2e
