// Sources beyond our WAVE reader: files it refuses read through libsndfile
// onto the channel scale, and sources converted to the session rate.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "base/messages.h"
#include "wave/open_source.h"
#include "wave/resampled_source.h"
#include "wave/scratch_folder.h"

namespace sorvan {
namespace {

using test::ScratchFolder;
using Frames = std::vector<std::int64_t>;  // interleaved, left first

// Every frame of a source, through the factory, in stretches of `step`.
Frames readAll(const std::string& path, std::uint32_t sessionRate = 0, long step = 5000) {
  SourceAttributes a;
  if (!readSourceHeader(path, a)) return {};
  const auto source = openSource(path, a, sessionRate ? sessionRate : a.sampleRate);
  const std::int64_t length =
      sessionRate ? convertedLength(a.frames, a.sampleRate, sessionRate) : a.frames;
  Frames out;
  std::vector<std::int64_t> l(static_cast<std::size_t>(step)), r(l.size());
  for (std::int64_t at = 0; at < length; at += step) {
    const long got = source->read(at, step, l.data(), r.data());
    for (long i = 0; i < got; ++i) {
      out.push_back(l[static_cast<std::size_t>(i)]);
      if (a.channels == 2) out.push_back(r[static_cast<std::size_t>(i)]);
    }
    if (got < step) break;
  }
  return out;
}

// A WAVE file of one format chunk (`extensible`: with the WAVE_FORMAT_EXTENSIBLE
// layout naming `tag` in its GUID) and the given sample bytes.
std::vector<unsigned char> waveFile(int tag, int channels, int bits, const std::string& data,
                                    bool extensible = false) {
  std::string fmt;
  auto put = [](std::string& s, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  const int align = channels * bits / 8;
  put(fmt, extensible ? 0xFFFE : tag, 2);
  put(fmt, channels, 2);
  put(fmt, 48000, 4);
  put(fmt, 48000 * align, 4);
  put(fmt, align, 2);
  put(fmt, bits, 2);
  if (extensible) {
    put(fmt, 22, 2);
    put(fmt, bits, 2);
    put(fmt, channels == 2 ? 3 : 4, 4);
    put(fmt, tag, 4);
    fmt += std::string("\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 12);
  }
  std::string body = "WAVEfmt ";
  put(body, static_cast<std::uint32_t>(fmt.size()), 4);
  body += fmt + "data";
  put(body, static_cast<std::uint32_t>(data.size()), 4);
  body += data;
  std::string file = "RIFF";
  put(file, static_cast<std::uint32_t>(body.size()), 4);
  file += body;
  return {file.begin(), file.end()};
}

template <typename T>
std::string bytesOf(std::initializer_list<T> values) {
  std::string s;
  for (const T v : values) s.append(reinterpret_cast<const char*>(&v), sizeof v);
  return s;
}

TEST(SndfileSourceTest, LosslessFilesDecodeToTheSamplesOfTheirWave) {
  ScratchFolder dir;
  ASSERT_TRUE(dir.sox("-n -r 48000 -b 24 -c 2 w24.wav synth 0.5 sine 440 whitenoise gain -3"));
  ASSERT_TRUE(dir.sox("-n -r 48000 -b 16 -c 1 w16.wav synth 0.5 pinknoise gain -2"));
  const Frames w24 = readAll(dir.path("w24.wav")), w16 = readAll(dir.path("w16.wav"));
  ASSERT_EQ(w24.size(), 48000u);
  ASSERT_EQ(w16.size(), 24000u);
  for (const char* ext : {"flac", "aiff", "w64", "caf"}) {
    for (const auto& [wave, frames] : {std::pair{"w24", &w24}, std::pair{"w16", &w16}}) {
      const std::string name = std::string(wave) + "." + ext;
      ASSERT_TRUE(dir.sox(std::string(wave) + ".wav " + name));
      SourceAttributes a;
      ASSERT_TRUE(readSourceHeader(dir.path(name), a)) << name;
      EXPECT_EQ(a.reader, SourceReader::kSndfile) << name;
      EXPECT_EQ(readAll(dir.path(name)), *frames) << name;
    }
  }
}

TEST(SndfileSourceTest, WaveEncodingsOurReaderRefusesLandOnTheChannelScale) {
  ScratchFolder dir;
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  constexpr double kInf = std::numeric_limits<double>::infinity();
  constexpr std::int64_t kHeld = 2147483648LL;
  struct Case {
    const char* name;
    std::vector<unsigned char> bytes;
    Frames expected;
  };
  const Case cases[] = {
      // 8-bit WAVE is unsigned: 128 is silence; x 65536.
      {"u8.wav",
       waveFile(1, 1, 8, bytesOf<std::uint8_t>({0, 1, 127, 128, 255})),
       {-8388608, -8323072, -65536, 0, 8323072}},
      // 32-bit integer: the low 8 bits go, toward zero (not toward minus infinity).
      {"i32.wav",
       waveFile(1, 2, 32, bytesOf<std::int32_t>({INT32_MAX, INT32_MIN, 255, -255, -256, 257})),
       {8388607, -8388608, 0, 0, -1, 1}},
      {"f64.wav",
       waveFile(3, 1, 64, bytesOf<double>({0.5, -1.5e-7, kNaN, kInf, 300.0, -kInf, 255.99, -1.0})),
       {4194304, -1, 0, kHeld, kHeld, -kHeld, 2147399761, -8388608}},
      // Extensible 32-bit float is refused by our reader, and decodes by the same rule.
      {"xf32.wav",
       waveFile(3, 1, 32, bytesOf<float>({1.0f, -0.5f, 1.5e-7f, 256.0f}), true),
       {8388608, -4194304, 1, kHeld}},
  };
  for (const Case& c : cases) {
    dir.write(c.name, c.bytes);
    SourceAttributes a;
    std::string refusal;
    EXPECT_FALSE(readWaveHeader(dir.path(c.name), a, refusal)) << c.name;
    EXPECT_EQ(readAll(dir.path(c.name)), c.expected) << c.name;
  }
  // A-law and mu-law expand to 16-bit words (x 256), as sox expands them.
  ASSERT_TRUE(dir.sox("-n -r 48000 -b 16 -c 1 src.wav synth 0.2 sine 300 gain -1"));
  for (const char* law : {"a-law", "u-law"}) {
    const std::string name = std::string(law) + ".wav";
    ASSERT_TRUE(dir.sox("src.wav -e " + std::string(law) + " " + name));
    ASSERT_TRUE(dir.sox(name + " -b 16 back.wav"));
    EXPECT_EQ(readAll(dir.path(name)), readAll(dir.path("back.wav"))) << law;
  }
}

TEST(SndfileSourceTest, RefusalsKeepTheWaveReadersMessageAndReadsAreBounded) {
  ScratchFolder dir;
  dir.write("nothing.wav", {'h', 'e', 'l', 'l', 'o', '\n'});
  {
    MessageCapture cap;
    SourceAttributes a;
    EXPECT_FALSE(readSourceHeader(dir.path("nothing.wav"), a));
    EXPECT_EQ(cap.text(), "Can't find format chunk in wave file!\n");
  }
  // A file libsndfile reads says nothing of our reader's refusal.
  dir.write("u8.wav", waveFile(1, 2, 8, std::string(200, '\x80')));
  MessageCapture cap;
  SourceAttributes a;
  ASSERT_TRUE(readSourceHeader(dir.path("u8.wav"), a));
  EXPECT_EQ(cap.text(), "");
  EXPECT_EQ(a.frames, 100);
  EXPECT_EQ(a.description, "a WAVE file of 8-bit integer PCM");
  // Reads past the end, from a negative frame or of nothing deliver nothing;
  // a read back from the middle seeks.
  const auto source = openSource(dir.path("u8.wav"), a, a.sampleRate);
  std::int64_t l[200], r[200];
  EXPECT_EQ(source->read(90, 50, l, r), 10);
  EXPECT_EQ(source->read(100, 5, l, r), 0);
  EXPECT_EQ(source->read(-1, 5, l, r), 0);
  EXPECT_EQ(source->read(3, 0, l, r), 0);
  EXPECT_EQ(source->read(3, 4, l, r), 4);
}

// A stereo test signal in memory: two sines and some noise, on the channel scale.
std::unique_ptr<MemorySource> testSignal(std::int64_t frames, std::uint32_t rate) {
  std::vector<std::int64_t> s;
  std::mt19937 noise(7);
  for (std::int64_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    s.push_back(static_cast<std::int64_t>(3e6 * std::sin(2 * M_PI * 997 * t)) + noise() % 20000);
    s.push_back(static_cast<std::int64_t>(2e6 * std::sin(2 * M_PI * 5003 * t)));
  }
  return std::make_unique<MemorySource>(2, std::move(s));
}

Frames readConverted(ResampledSource& source, std::int64_t first, std::int64_t count, long step) {
  Frames out;
  std::vector<std::int64_t> l(static_cast<std::size_t>(step)), r(l.size());
  for (std::int64_t at = first; at < first + count; at += step) {
    const long n = static_cast<long>(std::min<std::int64_t>(step, first + count - at));
    const long got = source.read(at, n, l.data(), r.data());
    for (long i = 0; i < got; ++i) {
      out.push_back(l[static_cast<std::size_t>(i)]);
      out.push_back(r[static_cast<std::size_t>(i)]);
    }
    if (got < n) break;
  }
  return out;
}

TEST(ResampledSourceTest, ConvertedLengthRoundsToTheNearestFrameHalvesDown) {
  EXPECT_EQ(convertedLength(88200, 44100, 48000), 96000);
  EXPECT_EQ(convertedLength(500000, 96000, 44100), 229687);  // .5 goes down
  EXPECT_EQ(convertedLength(441000, 48000, 44100), 405169);  // .75 goes up
  EXPECT_EQ(convertedLength(1, 48000, 44100), 1);
  EXPECT_EQ(convertedLength(0, 44100, 48000), 0);
  EXPECT_EQ(convertedLength(7, 48000, 48000), 7);
  // Long songs do not overflow: 2^40 frames.
  EXPECT_EQ(convertedLength(std::int64_t{1} << 40, 44100, 88200), std::int64_t{1} << 41);
  EXPECT_FALSE(canConvertRate(999, 48000));
  EXPECT_FALSE(canConvertRate(44100, 768001));
  EXPECT_TRUE(canConvertRate(8000, 768000));
}

// Reading in stretches of any size gives the frames of one read, to the bit;
// a read that starts anywhere gives the same frames every time, equal to the
// frames read from the start but for the converter's rounding; the length is
// the converted length and nothing follows it.
TEST(ResampledSourceTest, StretchesAndStartingPointsGiveTheSameFrames) {
  const std::pair<std::uint32_t, std::uint32_t> rates[] = {
      {44100, 48000}, {48000, 44100}, {96000, 8000}, {8000, 44100}, {44100, 48001}};
  for (const auto& [from, to] : rates) {
    const std::int64_t frames = 3 * from;
    const std::int64_t length = convertedLength(frames, from, to);
    ResampledSource whole(testSignal(frames, from), 2, frames, from, to);
    const Frames all = readConverted(whole, 0, length + 100, 4096);
    ASSERT_EQ(static_cast<std::int64_t>(all.size()), 2 * length) << from << "->" << to;

    ResampledSource pieces(testSignal(frames, from), 2, frames, from, to);
    Frames joined;
    std::mt19937 sizes(from);
    for (std::int64_t at = 0; at < length;) {
      const long n = static_cast<long>(1 + sizes() % 9000);
      const Frames part = readConverted(pieces, at, n, n);
      joined.insert(joined.end(), part.begin(), part.end());
      at += n;
    }
    EXPECT_EQ(joined, all) << from << "->" << to;

    for (const std::int64_t start : {std::int64_t{1}, length / 3, length - 10}) {
      ResampledSource a(testSignal(frames, from), 2, frames, from, to);
      ResampledSource b(testSignal(frames, from), 2, frames, from, to);
      const Frames fromA = readConverted(a, start, 20000, 4096);
      EXPECT_EQ(fromA, readConverted(b, start, 20000, 3000)) << from << "->" << to;
      ASSERT_EQ(fromA.size(), std::min<std::size_t>(40000, 2 * (length - start)));
      std::int64_t worst = 0;
      for (std::size_t i = 0; i < fromA.size(); ++i)
        worst = std::max(worst, std::abs(fromA[i] - all[2 * static_cast<std::size_t>(start) + i]));
      // A rate pair without a short common period is stepped with a rounded
      // ratio: the restarted converter lands a hair apart.
      EXPECT_LE(worst, to == 48001 ? 4 : 1) << from << "->" << to << " from " << start;
    }
  }
}

TEST(ResampledSourceTest, ASourceThatEndsEarlyEndsItsConversionEarly) {
  // The inner source promises 48000 frames but holds 24000.
  ResampledSource source(testSignal(24000, 48000), 2, 48000, 48000, 44100);
  const Frames got = readConverted(source, 0, 44100, 4096);
  EXPECT_GT(got.size(), 2u * 22000);
  EXPECT_LT(got.size(), 2u * 22100);
  std::int64_t l[10], r[10];
  EXPECT_EQ(source.read(30000, 10, l, r), 0);
}

}  // namespace
}  // namespace sorvan
