// Golden sessions: small mixes that between them use every keyword, rendered
// by the real binary, with the hash of every file they write and of what they
// print. Refactors and speed-ups must leave every hash as it is; a change of
// output is a deliberate act that updates the table below together with the
// reason in its commit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "e2e/render_support.h"
#include "e2e/session.h"

namespace sorvan::e2e {
namespace {

// FNV-1a, 64 bits: enough to tell two outputs apart, small enough to keep here.
std::string hashOf(const std::string& bytes) {
  std::uint64_t h = 14695981039346656037ULL;
  for (const char c : bytes) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211ULL;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
  return text;
}

// The statistics end with the processing time, the one thing that may vary.
std::string withoutProcessingTime(std::string text) {
  const std::size_t at = text.find("Processing time = ");
  if (at != std::string::npos) text.erase(at, text.find('\n', at) + 1 - at);
  return text;
}

// Fields separated by '|' in the texts below stand for TABs.
std::string tabs(std::string text) {
  for (char& c : text)
    if (c == '|') c = '\t';
  return text;
}

// A programme with something for every processor: a sine, a noise floor and
// loud bursts, different on the two sides.
std::vector<std::int32_t> programme(std::size_t frames, int channels, std::uint32_t seed,
                                    double amplitude) {
  std::vector<std::int32_t> out;
  std::uint32_t noise = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / 48000.0;
    const double burst = (i / 6000 + seed) % 3 == 0 ? 1.0 : 0.25;
    for (int c = 0; c < channels; ++c) {
      noise = noise * 1664525u + 1013904223u;
      const double n = (static_cast<double>(noise >> 8) / 16777216.0 - 0.5) * 0.2;
      const double hz = 110.0 * (seed + 1) + 37.0 * c;
      const double v = amplitude * burst * (std::sin(2.0 * M_PI * hz * t) + n);
      out.push_back(static_cast<std::int32_t>(std::lround(v * 8388607.0)));
    }
  }
  return out;
}

// The sources every small session draws from, at 48 kHz: a and b stereo
// 24-bit, m mono 16-bit, n mono 24-bit, f stereo 32-bit float.
void writeSources(const Session& s) {
  writeSource(s, "a.wav", 48000, 24, 2, programme(72000, 2, 1, 0.35));
  writeSource(s, "b.wav", 48000, 24, 2, programme(57600, 2, 2, 0.3));
  std::vector<std::int32_t> m = programme(48000, 1, 3, 0.4);
  for (auto& v : m) v /= 256;
  writeSource(s, "m.wav", 48000, 16, 1, m);
  writeSource(s, "n.wav", 48000, 24, 1, programme(62400, 1, 4, 0.3));
  writeSource(s, "f24.wav", 48000, 24, 2, programme(52800, 2, 5, 0.45));
  s.sox("f24.wav -e floating-point -b 32 f.wav");
}

const char* const kTracks = "begin\na a.wav +\nb b.wav +\nm m.wav +\nn n.wav +\nf f.wav +\nend\n";

struct Golden {
  const char* name;
  const char* tracks;  // nullptr: kTracks
  const char* faders;  // '|' for TAB
  const char* prefs;
  const char* folders;  // created before the run, space-separated
  const char* hashes;   // "file hash" lines, the printed text as "stdout"
};

// Renders with `args` and lists the hash of every file the run wrote and of
// what it printed, sorted by name; the files are removed again.
std::string renderAndHash(const Session& s, const std::string& args) {
  const Snapshot before = snapshot(s);
  const RunResult r = s.run(args);
  EXPECT_EQ(r.status, 0) << r.out;
  if (std::getenv("GOLDEN_SHOW")) std::printf("%s\n", r.out.c_str());
  std::string list;
  for (const auto& [name, bytes] : snapshot(s)) {
    if (before.count(name) || bytes == "<folder>") continue;
    list += name + " " + hashOf(withoutProcessingTime(bytes)) + "\n";
    std::remove(s.path(name).c_str());
  }
  return list + "stdout " + hashOf(withoutProcessingTime(r.out)) + "\n";
}

void PrintTo(const Golden& g, std::ostream* os) { *os << g.name; }

class GoldenSession : public ::testing::TestWithParam<Golden> {};

// The same bytes however many threads share the work.
TEST_P(GoldenSession, WritesTheSameBytes) {
  const Golden& g = GetParam();
  Session s;
  writeSources(s);
  s.files(g.tracks ? g.tracks : kTracks, tabs(g.faders), tabs(g.prefs));
  if (*g.folders) s.shell(std::string("mkdir -p ") + g.folders);
  for (int threads : {1, 2, 8})
    EXPECT_EQ(renderAndHash(s, "--threads " + std::to_string(threads)), g.hashes) << threads;
}

const Golden kGolden[] = {
    {"preview", nullptr,
     "begin\nsong\nt|0|0|0\nv|1|-3\nv|2|-6\nv|3|-2\nt|0|0|400\nv|1|-12\nrmp|0.3\nv|2|0\nend\n",
     "begin\npre|on\nsfields|2\nstart|0|0.25\nlength|0.8\npredir|pv/\noffset|xlink\ndither|1\n"
     "seed|42\nend\n",
     "pv",
     "faders_song.txt a1ebca8a74511bc0\n"
     "pv/preview.wav 3afc1373d95bfe27\n"
     "stats_song.txt 88f809b6bc2c512c\n"
     "stdout 07f30bfc8be27d3e\n"},
    {"range", nullptr,
     "begin\nsong\nt|0|0\nv|1|-3\nv|2|-4\nv|4|-1\nt|0|0.6\nv|1|-9\nv|4|-20\nrmp|0.2\nend\n",
     "begin\npre|off\nxfields|1\nxin|0.2\nxout|1.3\nhead|0.05\ntail|0.1\noffset|0|0|100\n"
     "tfields|2\nmixdir|mix/\noname|ranged\nverbo|1\ndither|0\nend\n",
     "mix",
     "faders_ranged.txt bfc1caa7767530b0\n"
     "mix/ranged.wav d9c230c96837e838\n"
     "stats_ranged.txt 034af39bd7956146\n"
     "stdout 1d1b866f463d4d52\n"},
    {"stamps", "begin\na\ta.wav\t+\nb\tb.wav\t+\nm\tm.wav\t+\nn\tn.wav\t+\nf\tf.wav\t-\nend\n",
     "begin\nsong\ntstamp|2|0|0|300\nsstamp|3|2000\ntstamp|4|0|1|0\nsstamp|4|-100\nt|0|0|0\n"
     "v|1|-6\nv|2|-6\nv|3|-6\nv|4|-6\nv|5|0\nt|0|1|100\nv|2|-20\nend\n",
     "begin\npre|off\ntlist=tab\ndither|1\nseed|3\nend\n", "",
     "faders_song.txt 4f07a3b5b0f15ccb\n"
     "song.wav 7fed8b3d7a1875fb\n"
     "stats_song.txt fb79cba3be61813d\n"
     "stdout 4083841f8dd105cf\n"},
    {"ramps", nullptr,
     "begin\nsong\nt|0|0|0\nv|1|-10\nv|2|-3\nv|3|0\np|1|40\np|3|-70\npol|2|-1\n"
     "t|0|0|200\nv|1|0\nrmp|0.3\nshape|0.25\nv|3|-30\nrmp|0.4\nshape|4\ninc|0.3\nv|2|-12\n"
     "ofs|-0.01\nt|0|1|0\nv|1|-6\nv|3|-6\nend\n",
     "begin\npre|off\ndbps|96\npan|4.5\ndither|1\nseed|7\nend\n", "",
     "faders_song.txt e1b2cdf11671735a\n"
     "song.wav 26ce5d64915606f8\n"
     "stats_song.txt b5bfc43036e03681\n"
     "stdout fd8e82e9f109a4c6\n"},
    {"tempo", nullptr,
     "begin\nsong\ntmap|480|4|1\ntmap|360|3|4\nt|1|1|0\nv|1|-4\nv|2|-5\nt|1|3|240\nv|1|-15\n"
     "rmp|0.1\nt|2|1|0\nv|2|-1\nv|1|-2\nt|3|2|0\nv|2|-9\nend\n",
     "begin\npre|off\ntempo\ntfields|3\nplot\ndither|1\nseed|11\nend\n", "",
     "faders_song.txt ba9774fd6a24c204\n"
     "mix_song.svg f51f1e38dd7b1c2e\n"
     "song.wav d9bce69c17e517db\n"
     "stats_song.txt 34e24ab4108d2dce\n"
     "stdout c2431f6d061bc41a\n"},
    {"vca", nullptr,
     "begin\nsong\nsub|1|3,4\nVCA:|1|1,2\nVCA:|2|128,0\nt|0|0|0\nv|1|-2\nv|2|-3\nv|3|-4\n"
     "v|4|-4\nv|G|1|-1\nv|M|0\nvca|1|0\nvca|2|-2\nt|0|0|300\nvca|1|-9\nrmp|0.2\nvca|2|-20\n"
     "rmp|0.5\nshape|2\nt|0|1|0\nvca|1|-3\nv|M|-4\nend\n",
     "begin\npre|off\nplot\ndither|1\nseed|9\nend\n", "",
     "faders_song.txt fa9666fea225d245\n"
     "mix_song.svg 6f5d6a581df0f568\n"
     "song.wav 342460abf848cf21\n"
     "stats_song.txt e37e91e95502af3b\n"
     "stdout ad1f3260147be4b8\n"},
    {"submix", nullptr,
     "begin\nsong\nsub|1|1,2\nsub|2|3\nsub|0|1,4,5\nsub|3|5\nsubmu|2\nt|0|0|0\nv|1|-3\nv|2|-2\n"
     "v|3|-1\nv|4|-5\nv|5|-6\nv|G|1|-2\nv|G|3|-8\np|G|1|30\nt|0|0|500\nv|G|1|-10\nrmp|0.2\n"
     "comp|G|1|-20|2|60|3\nfxg|G|1|2\nhp|G|3|200\nend\n",
     "begin\npre|off\ndither|1\nseed|13\nend\n", "",
     "faders_song.txt a4dff9db5ffda661\n"
     "song.wav 45b424d2184e158e\n"
     "stats_song.txt 420dad5a2b4a0108\n"
     "stdout 70600411064f581a\n"},
    {"solo", "begin\na.wav +\nb.wav ++\nm.wav ++\nn.wav -\nend\n",
     "begin\nsong\nt|0|0|0\nv|1|0\nv|2|-3\nv|3|-3\nv|4|0\nend\n",
     "begin\npre|off\ntlist|1\ndither|0\nend\n", "",
     "faders_song.txt 8960c2440d74f84b\n"
     "song.wav 0eab3e4f397d1043\n"
     "stats_song.txt 0456ff61afb8b33c\n"
     "stdout bec762e8d97de3c0\n"},
    {"strips", nullptr,
     "begin\nsong\nsub|1|2,3\nsub|0|1,4,5\nt|0|0|0\nv|1|-2\nv|2|-2\nv|3|-2\nv|4|-2\nv|5|-2\n"
     "v|G|1|0\norder|lim|1|1\norder|hp|1|11\nhp|1|80\nband1|1|120|3|1\nband2|1|700|-4|2\n"
     "band3|1|2500|2|0.7\nband4|1|8000|-3|1.5\nhshelf|1|9000|2|0.7\nlshelf|1|90|-2|0.7\n"
     "lim|1|-9\nfxg|1|3\nrms|2|-30|5|80|3\ncomp|3|-26|2|50|4\nnlc|4|-24|256|3\nlim|5|-12\n"
     "nlc|G|1|-20|128|2\nhp|M|30\nband2|M|1000|2|1\ncomp|M|-10|5|100|2\nlim|M|-3\nfxg|M|-1\n"
     "end\n",
     "begin\npre|off\ndither|1\nseed|21\nend\n", "",
     "faders_song.txt 4b699e4a6a27a1b1\n"
     "song.wav 8c0ba3cb593dfe99\n"
     "stats_song.txt cd2577095a23ba7f\n"
     "stdout 080d1606414a808a\n"},
    {"reverb_master", nullptr,
     "begin\nsong\nt|0|0|0\nv|1|-3\nv|2|-5\nv|3|-4\nrev|M|-6\ntrev|M|-10\nrtn|-3|60\n"
     "trtn|-6|40|4\npos|30|50|60\nwidth|80\nrhp|120\nrlp|9000\nlim|M|-2\nend\n",
     "begin\npre|off\ntap|rtn\ndither|1\nseed|31\nend\n", "",
     "faders_song.txt 0e3f267312ef2eb3\n"
     "rtnTap.wav 496f0a262ef6c30b\n"
     "song.wav 503bddd9467ff971\n"
     "stats_song.txt 18445da59e42211f\n"
     "stdout caaeb85e03e719a8\n"},
    {"reverb_channels", nullptr,
     "begin\nsong\nsub|1|3\nt|0|0|0\nv|1|-3\nv|2|-5\nv|3|-4\nv|4|-8\nrev|1|-10\nrev|2|-6\n"
     "trev|1|-8\ntrev|G|1|-12\nrtn|-2|90\ntrtn|-4|50|6\nend\n",
     "begin\npre|off\ntap|rev\nmixdir|out/\nbakdir|rep/\ndither|1\nseed|37\nend\n", "out rep",

     "out/revTap.wav 7f3d7612f5a77498\n"
     "out/song.wav a90a6dd9a3332407\n"
     "rep/faders_song.txt a30125ab6b6092e1\n"
     "rep/stats_song.txt 8c96dcb9f90bcabc\n"
     "stdout ceed9cdb04f406ac\n"},
    {"delaypan", nullptr,
     "begin\nsong\nt|0|0|0\nv|1|-3\nv|3|-3\nv|4|-3\ndp|3|-60\ndp|4|100\np|1|-40\np|4|20\n"
     "end\n",
     "begin\npre|off\npan|3\ndither|1\nseed|41\nend\n", "",
     "faders_song.txt 7be2eac592869fa0\n"
     "song.wav 3145503969acf9b7\n"
     "stats_song.txt f13064645c8a1be6\n"
     "stdout 763c5bec98e22877\n"},
    {"delaypan_law0", nullptr,
     "begin\nsong\nt|0|0|0\nv|3|-3\nv|4|-3\np|3|50\np|4|-100\nt|0|0|500\nv|3|-9\nend\n",
     "begin\npre|off\npan|0\ndither|1\nseed|43\nend\n", "",
     "faders_song.txt 87de78af19cffc47\n"
     "song.wav 0232a120c47d6d8e\n"
     "stats_song.txt 020cecbdd8df963c\n"
     "stdout d09eb425f68d7ed2\n"},
    {"mono16", nullptr,
     "begin\nsong\nt|0|0|0\nv|1|80\nv|2|100\nv|3|50\ntrim|1|70\ntrim|2|120\nscale|0.9\n"
     "mtrim|-1.5\nlim|1|50\nrev|2|30\nrtn|60|50\nt|0|0|700\nv|1|40\nend\n",
     "begin\npre|off\nv=percent\nmono|-6.02\noutbits|16\ndither|3\nseed|77\nend\n", "",
     "faders_song.txt bd4f82c942d730e9\n"
     "song.wav da272f9963af64e8\n"
     "stats_song.txt 5fb9cf2181242e38\n"
     "stdout cfc7b696cd258e9e\n"},
    {"float_dither", nullptr, "begin\nsong\nt|0|0|0\nv|5|-1\nv|1|-12\nt|0|0|600\nv|5|-7\nend\n",
     "begin\npre|off\noutbits|24\ndither|2\nseed|5\nplot\nend\n", "",
     "faders_song.txt dec1e92ceca7c283\n"
     "mix_song.svg f4f79caa2475d7c5\n"
     "song.wav a3882e732ad5dc53\n"
     "stats_song.txt 6b74097c739f2cb7\n"
     "stdout 59e826ecbd877c73\n"},
};

INSTANTIATE_TEST_SUITE_P(Small, GoldenSession, ::testing::ValuesIn(kGolden),
                         [](const auto& info) { return std::string(info.param.name); });

// The benchmark's three scenarios on a small corpus of its shape: stereo 24-bit
// tracks at unity, then with a full strip on each, then feeding both reverbs.
TEST(GoldenBench, PlainStripAndReverbScenarios) {
  constexpr int kTracks = 4;
  Session s;
  std::string tracks = "begin\n", faders = "begin\nbench\nt|0|0|0\n", strip, reverb;
  for (int i = 1; i <= kTracks; ++i) {
    const std::string n = std::to_string(i);
    writeSource(s, "t" + n + ".wav", 48000, 24, 2,
                programme(96000, 2, static_cast<std::uint32_t>(i + 10), 0.05));
    tracks += "t" + n + " t" + n + ".wav +\n";
    faders += "v|" + n + "|0\n";
    strip += "hp|" + n + "|30\nband1|" + n + "|120|2|1\nband2|" + n + "|500|-3|1.4\nband3|" + n +
             "|2000|3|0.7\nband4|" + n + "|6000|-2|2\nhshelf|" + n + "|9000|2|0.7\nlshelf|" + n +
             "|80|-2|0.7\n" + (i % 2 ? "comp|" : "rms|") + n + "|-46|5|80|3\n";
    reverb += "rev|" + n + "|-10\ntrev|" + n + "|-10\n";
  }
  reverb += "rtn|-6|75\ntrtn|-6|60|3\n";
  s.write("prefs.txt", tabs("begin\npre|off\ndither|0\nverbo|0\nend\n"));
  s.write("tracks.txt", tracks + "end\n");
  const auto scenario = [&](const std::string& extra, int threads) {
    s.write("faders.txt", tabs(faders + extra + "end\n"));
    return renderAndHash(s, "--threads " + std::to_string(threads));
  };
  EXPECT_EQ(scenario("", 1),
            "bench.wav b7ee454f54fb96f4\n"
            "faders_bench.txt 757fc79db568e184\n"
            "stats_bench.txt 4fbecdeace6624f2\n"
            "stdout af63c74c8601c8dd\n");
  EXPECT_EQ(scenario(strip, 8),
            "bench.wav e6da93bf0183d4d9\n"
            "faders_bench.txt 82ec4fa6e9b9edea\n"
            "stats_bench.txt 16f41b6aee5121cd\n"
            "stdout af63c74c8601c8dd\n");
  EXPECT_EQ(scenario(reverb, 3),
            "bench.wav 4f22584ed533b1f3\n"
            "faders_bench.txt c53dbc137fb764e6\n"
            "stats_bench.txt 1576aa5358146c01\n"
            "stdout af63c74c8601c8dd\n");
}

// The demo session exactly as `make demo` renders it.
TEST(GoldenDemo, RendersTheDemoSong) {
  Session s;
  s.shell("mkdir -p out && '" SORVAN_DEMO_GEN "' out/audio >/dev/null && cp '" SORVAN_SOURCE_DIR
          "'/demo/*.txt .");
  EXPECT_EQ(renderAndHash(s, "tracks.txt faders.txt prefs.txt"),
            "out/demo_mix.wav 93403360038626f4\n"
            "out/faders_demo_mix.txt c217cbf91c1904af\n"
            "out/mix_demo_mix.svg ce31e4632aae9b94\n"
            "out/stats_demo_mix.txt a3ddb79d6a5a4f8f\n"
            "stdout adf3838b8ce96714\n");
}

}  // namespace
}  // namespace sorvan::e2e
