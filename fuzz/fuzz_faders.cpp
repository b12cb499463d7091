// The mix script and the effect settings on arbitrary fader text, prepared as
// the run prepares it (section after "begin", spaces removed). The first byte
// picks the modes: bit 0 percent, bit 1 tempo, bit 2 preview, bits 3-4 the
// verbosity, bits 5-6 one of four preferences texts, bit 7 a later render
// start. A Fatal is a defined outcome; anything else must leave tables the
// mix can index safely.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/fatal.h"
#include "base/messages.h"
#include "driver/text_file.h"
#include "engine/playback.h"
#include "fuzz_support.h"
#include "script/effect_settings.h"
#include "script/script.h"

namespace {

constexpr const char* kPrefsTexts[4] = {
    "\nend\n",
    "\ntfields\t1\npan\t0\nend\n",
    "\ntfields\t2\noffset\txlink\npan\t6.02\nend\n",
    "\noffset\t0\t1\t500\nsfields\t1\nend\n",
};

constexpr double kRate = 8000.0;

// Tables kept from one input to the next: made default again by assignment,
// which keeps their storage, instead of allocating megabytes per input.
struct Tables {
  const sorvan::MixScript freshScript{};
  sorvan::MixScript script;
  const sorvan::EffectSettings freshEffects{};
  sorvan::EffectSettings effects;
  sorvan::AutomationState automation;
};

Tables& tables() {
  static auto* t = new Tables;
  return *t;
}
constexpr std::int64_t kSongLength = 8000 * 30;
constexpr int kTracks = 12;

void checkFader(const sorvan::FaderTable& table, const sorvan::FaderState& state) {
  FUZZ_CHECK(table.count >= 0 && table.count <= sorvan::kMaxVolumeEntries);
  FUZZ_CHECK(state.entryIndex >= 0 && state.entryIndex <= table.count);
}

// The script's tables, and playback started from them at `renderStart` with
// channel 3's source starting later.
void checkScript(const sorvan::MixScript& s, const sorvan::ChannelActive& before,
                 const sorvan::ChannelActive& after, std::int64_t renderStart) {
  using namespace sorvan;
  for (int ch = 0; ch <= kMaxTracks; ++ch) FUZZ_CHECK(after[ch] == 0 || after[ch] == before[ch]);
  FUZZ_CHECK(s.routing.busActive[0] == 1);
  for (int v : s.routing.vcaAssignment) FUZZ_CHECK(v >= 0 && v < kVcaSlots);
  FUZZ_CHECK(s.tempoMap.count >= 0 && s.tempoMap.count <= kMaxTempoSegments);
  FUZZ_CHECK(s.timeFields >= 1 && s.timeFields <= 3);
  const LevelTables& l = s.levels;
  std::array<std::int64_t, kMaxTracks + 1> sourceStart{};
  sourceStart[3] = 1000;
  AutomationState* state = &tables().automation;
  startAutomation(l, renderStart, kTracks, sourceStart, *state);
  for (int i = 0; i < kLevelSlots; ++i) {
    checkFader(l.faders[i], state->faders[i].cursor);
    FUZZ_CHECK(l.panPosition[i] >= -100 && l.panPosition[i] <= 100);
  }
  for (int v = 0; v < kVcaSlots; ++v) checkFader(l.vcas[v], state->vcas[v]);
  FUZZ_CHECK(l.panLaw >= 0.0f && l.panLaw <= 6.02f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sorvan;
  if (size == 0) return 0;
  const std::uint8_t modes = data[0];
  TextFile faders = makeTextFile(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
  removeSectionSpaces(faders);

  ScriptInputs in;
  in.faderSection = faders.section();
  in.prefsSection = kPrefsTexts[(modes >> 5) & 3];
  in.sampleRate = kRate;
  in.songLength = kSongLength;
  in.percent = modes & 1;
  in.tempo = modes & 2;
  in.preview = modes & 4;
  in.verbosity = (modes >> 3) & 3;
  in.renderStart = (modes & 0x80) ? 8000 : 0;
  in.trackCount = kTracks;
  for (int ch = 1; ch <= kTracks; ++ch) in.sourceChannels[ch] = 1 + ch % 2;

  MessageCapture cap;
  ChannelActive active{};
  for (int ch = 1; ch <= kTracks; ++ch) active[ch] = 1;
  const ChannelActive before = active;
  Tables& t = tables();
  try {
    t.script = t.freshScript;
    readMixScript(in, active, t.script);
    checkScript(t.script, before, active, in.renderStart);
  } catch (const Fatal& fatal) {
    FUZZ_CHECK(fatal.status == exit_status::kConfig || fatal.status == exit_status::kUser);
    FUZZ_CHECK(!cap.text().empty());
  }

  try {
    t.effects = t.freshEffects;
    readEffectSettings(EffectInputs{faders.section(), kRate, in.percent, in.verbosity}, t.effects);
  } catch (const Fatal& fatal) {
    FUZZ_CHECK(fatal.status == exit_status::kConfig || fatal.status == exit_status::kUser);
    FUZZ_CHECK(!cap.text().empty());
  }
  return 0;
}
