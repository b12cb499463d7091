// sorvan_demo_gen: synthesizes the source recordings of Sorvan's demo song.
//
// The demo session beside this file (tracks.txt, faders.txt, prefs.txt) mixes
// the recordings of a 40-second song in D major at 120 BPM. Instead of
// shipping megabytes of audio, the recordings are made here: drums from swept
// sines and filtered noise, bass and lead from band-limited sawtooth voices
// through a state-variable filter, keys by two-operator FM, the pad from
// detuned sawtooths, and the voice from a glottal pulse train through formant
// resonators. Everything is deterministic (fixed seeds, one small generator of
// our own, no clock), so every build renders the same demo.
//
// Usage: sorvan_demo_gen <outdir>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kRate = 48000;
constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2.0 * kPi;

// 120 BPM in 4/4: an eighth note lasts 0.25 s and a bar 2 s.
constexpr double kEighth = 0.25;
constexpr double kBar = 8 * kEighth;
constexpr int kBars = 20;
constexpr std::size_t kFrames = static_cast<std::size_t>(kBars * kBar * kRate);

// Song form, bars counted from 1: intro 1-4, groove 5-12, break 13-14,
// groove 15-18, outro 19-20. The fader file's time entries follow this form.
bool isGroove(int bar) { return (bar >= 5 && bar <= 12) || (bar >= 15 && bar <= 18); }
bool isSecondOfPair(int bar) { return bar % 2 == 0; }

// Song time in seconds of a bar (from 1) and an eighth within it (from 0;
// halves are sixteenths).
constexpr double at(int bar, double eighth) { return (bar - 1) * kBar + eighth * kEighth; }

std::size_t framesOf(double seconds) {
  const double f = std::floor(seconds * kRate + 0.5);
  return f <= 0.0 ? 0 : static_cast<std::size_t>(f);
}

double hzOf(double midi) { return 440.0 * std::pow(2.0, (midi - 69.0) / 12.0); }

// One-pole smoothing coefficient for a time constant in seconds.
double smoothing(double seconds) { return 1.0 - std::exp(-1.0 / (seconds * kRate)); }

// PCG32 (O'Neill): small, fast and identical on every platform.
class Pcg32 {
 public:
  explicit Pcg32(std::uint64_t seed) {
    next();
    state_ += seed;
    next();
  }
  std::uint32_t next() {
    const std::uint64_t old = state_;
    state_ = old * 6364136223846793005ULL + kIncrement;
    const auto shifted = static_cast<std::uint32_t>(((old >> 18u) ^ old) >> 27u);
    const auto rot = static_cast<std::uint32_t>(old >> 59u);
    return (shifted >> rot) | (shifted << ((32u - rot) & 31u));
  }
  double uniform() { return next() * (1.0 / 4294967296.0); }  // [0, 1)
  double bipolar() { return 2.0 * uniform() - 1.0; }          // [-1, 1)

 private:
  static constexpr std::uint64_t kIncrement = 1442695040888963407ULL;
  std::uint64_t state_ = 0;
};

using Signal = std::vector<double>;

// A recording: mono when right is empty.
struct Track {
  Signal left;
  Signal right;
};

Signal silence() { return Signal(kFrames, 0.0); }

// Linear fades over the first fadeIn and the last fadeOut samples of a note,
// so that no note starts or stops with a step.
double edgeGain(std::size_t i, std::size_t length, std::size_t fadeIn, std::size_t fadeOut) {
  double g = 1.0;
  if (i < fadeIn) g = static_cast<double>(i) / fadeIn;
  const std::size_t left = length - i;
  if (left < fadeOut) g = std::min(g, static_cast<double>(left) / fadeOut);
  return g;
}

// ---------------------------------------------------------------- filters

// Second-order sections from the usual cookbook formulas.
struct Biquad {
  double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
  double x1 = 0, x2 = 0, y1 = 0, y2 = 0;

  static Biquad make(double b0, double b1, double b2, double a0, double a1, double a2) {
    Biquad q;
    q.b0 = b0 / a0;
    q.b1 = b1 / a0;
    q.b2 = b2 / a0;
    q.a1 = a1 / a0;
    q.a2 = a2 / a0;
    return q;
  }
  static Biquad highpass(double hz, double quality) {
    const double w = kTwoPi * hz / kRate, c = std::cos(w), al = std::sin(w) / (2 * quality);
    return make((1 + c) / 2, -(1 + c), (1 + c) / 2, 1 + al, -2 * c, 1 - al);
  }
  static Biquad lowpass(double hz, double quality) {
    const double w = kTwoPi * hz / kRate, c = std::cos(w), al = std::sin(w) / (2 * quality);
    return make((1 - c) / 2, 1 - c, (1 - c) / 2, 1 + al, -2 * c, 1 - al);
  }
  double run(double x) {
    const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
    return y;
  }
};

void filterInPlace(Signal& s, Biquad q) {
  for (double& x : s) x = q.run(x);
}

// Trapezoidal state-variable low-pass: stays well-behaved while its cutoff
// moves, which the synth voices do all the time.
struct Svf {
  double a1 = 1, a2 = 0, a3 = 0, ic1 = 0, ic2 = 0;
  void tune(double hz, double quality) {
    const double g = std::tan(kPi * std::clamp(hz, 20.0, 0.45 * kRate) / kRate);
    const double k = 1.0 / quality;
    a1 = 1.0 / (1.0 + g * (g + k));
    a2 = g * a1;
    a3 = g * a2;
  }
  double lowpass(double v0) {
    const double v3 = v0 - ic2;
    const double v1 = a1 * ic1 + a2 * v3;
    const double v2 = ic2 + a2 * ic1 + a3 * v3;
    ic1 = 2 * v1 - ic1;
    ic2 = 2 * v2 - ic2;
    return v2;
  }
};

// Two-pole resonator with unity gain at 0 Hz: the stage of a cascade formant
// synthesizer.
struct Resonator {
  double a = 1, b = 0, c = 0, y1 = 0, y2 = 0;
  void tune(double hz, double bandwidth) {
    const double r = std::exp(-kPi * bandwidth / kRate);
    c = -r * r;
    b = 2.0 * r * std::cos(kTwoPi * hz / kRate);
    a = 1.0 - b - c;
  }
  double run(double x) {
    const double y = a * x + b * y1 + c * y2;
    y2 = y1;
    y1 = y;
    return y;
  }
};

// ------------------------------------------------------------ oscillators

double wrap(double p) { return p - std::floor(p); }

// Polynomial correction of the sawtooth's jump, which keeps its aliasing low.
double blep(double t, double dt) {
  if (t < dt) {
    t /= dt;
    return t + t - t * t - 1.0;
  }
  if (t > 1.0 - dt) {
    t = (t - 1.0) / dt;
    return t * t + t + t + 1.0;
  }
  return 0.0;
}

// Band-limited sawtooth at phase p (0..1) advancing dt per sample.
double saw(double p, double dt) { return 2.0 * p - 1.0 - blep(p, dt); }

// ------------------------------------------------------------------ score

struct Note {
  double start;   // seconds
  double length;  // seconds the key is held
  double midi;
  double velocity;
  int vowel = 0;  // voice only
};

struct Chord {
  int bassRoot;
  std::array<int, 3> keys;
  std::array<int, 4> pad;
};

// I - vi - IV - V in D major, voiced close for the keys and open for the pad.
constexpr Chord kD{38, {57, 62, 66}, {50, 57, 62, 66}};
constexpr Chord kBm{35, {59, 62, 66}, {47, 54, 62, 66}};
constexpr Chord kG{31, {59, 62, 67}, {50, 55, 59, 67}};
constexpr Chord kA{33, {57, 61, 64}, {49, 57, 61, 64}};

const Chord& chordOf(int bar) {
  if (bar == 13) return kG;
  if (bar == 14) return kA;
  if (bar >= 19) return kD;
  static constexpr std::array<const Chord*, 4> kCycle{&kD, &kBm, &kG, &kA};
  return *kCycle[static_cast<std::size_t>((bar - 1) % 4)];
}

// Steps through a sorted note list sample by sample for a monophonic voice.
class NoteCursor {
 public:
  explicit NoteCursor(const std::vector<Note>& notes) : notes_(notes) {}

  // Moves to song time t; true when a note starts at this sample.
  bool advance(double t) {
    bool started = false;
    while (next_ < notes_.size() && notes_[next_].start <= t) {
      current_ = next_++;
      started = true;
    }
    return started;
  }
  const Note* current() const { return current_ == kNone ? nullptr : &notes_[current_]; }
  bool held(double t) const {
    const Note* n = current();
    return n != nullptr && t < n->start + n->length;
  }
  // The current note follows the previous one closely enough to slide into it.
  bool legato() const {
    if (current_ == kNone || current_ == 0) return false;
    const Note& prev = notes_[current_ - 1];
    return notes_[current_].start - (prev.start + prev.length) < 0.04;
  }

 private:
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  const std::vector<Note>& notes_;
  std::size_t current_ = kNone;
  std::size_t next_ = 0;
};

// ------------------------------------------------------------------ drums

void addKick(Signal& out, Pcg32& rng, double when, double velocity) {
  const std::size_t start = framesOf(when);
  const std::size_t length = framesOf(0.6);
  double phase = 0.0, click = 0.0;
  for (std::size_t i = 0; i < length && start + i < out.size(); ++i) {
    const double t = static_cast<double>(i) / kRate;
    phase += kTwoPi * (45.0 + 115.0 * std::exp(-t / 0.035)) / kRate;  // pitch drops 160 -> 45 Hz
    click += 0.35 * (rng.bipolar() - click);
    const double x =
        velocity * (std::sin(phase) * std::exp(-t / 0.16) + 0.6 * click * std::exp(-t / 0.004));
    out[start + i] += std::tanh(1.5 * x) * edgeGain(i, length, 24, 960);
  }
}

void addSnare(Signal& out, Pcg32& rng, double when, double velocity) {
  const std::size_t start = framesOf(when);
  const std::size_t length = framesOf(0.4);
  Biquad hp = Biquad::highpass(1400.0, 0.7), lp = Biquad::lowpass(9000.0, 0.7);
  double p1 = 0.0, p2 = 0.0;
  for (std::size_t i = 0; i < length && start + i < out.size(); ++i) {
    const double t = static_cast<double>(i) / kRate;
    p1 += kTwoPi * (180.0 + 40.0 * std::exp(-t / 0.01)) / kRate;
    p2 += kTwoPi * 330.0 / kRate;
    const double body = (0.8 * std::sin(p1) + 0.35 * std::sin(p2)) * std::exp(-t / 0.05);
    const double noise = lp.run(hp.run(rng.bipolar())) * std::exp(-t / 0.13);
    out[start + i] += velocity * (0.6 * body + 1.1 * noise) * edgeGain(i, length, 24, 960);
  }
}

// A hi-hat: six detuned square waves for the metal and independent noise on
// each side for width; pan leans the hit to one side (-1 .. 1).
void addHat(Track& out, Pcg32& rng, double when, double velocity, double decay, double pan) {
  static constexpr std::array<double, 6> kMetal{205.3, 304.4, 369.6, 522.7, 540.0, 800.0};
  const std::size_t start = framesOf(when);
  const std::size_t length = framesOf(std::min(7.0 * decay, 2.0));
  std::array<double, 6> phase{};
  for (std::size_t i = 0; i < length && start + i < kFrames; ++i) {
    const double t = static_cast<double>(i) / kRate;
    double metal = 0.0;
    for (std::size_t k = 0; k < kMetal.size(); ++k) {
      metal += phase[k] < 0.5 ? 1.0 : -1.0;
      phase[k] = wrap(phase[k] + 1.7 * kMetal[k] / kRate);
    }
    const double env = velocity * std::exp(-t / decay) * edgeGain(i, length, 12, 480);
    out.left[start + i] += env * (0.08 * metal + 0.8 * rng.bipolar()) * (1.0 - 0.5 * pan);
    out.right[start + i] += env * (0.08 * metal + 0.8 * rng.bipolar()) * (1.0 + 0.5 * pan);
  }
}

// Small timing and level variations so the drums do not sound mechanical.
double humanTime(Pcg32& rng) { return 0.0015 * rng.bipolar(); }
double humanLevel(Pcg32& rng) { return 1.0 + 0.05 * rng.bipolar(); }

Track makeKick() {
  Pcg32 rng(101);
  Track t{silence(), {}};
  auto hit = [&](int bar, double eighth, double vel) {
    const double when = at(bar, eighth) + humanTime(rng);  // draws in a fixed order
    addKick(t.left, rng, when, vel * humanLevel(rng));
  };
  for (int bar = 1; bar <= kBars; ++bar) {
    if (!isGroove(bar)) continue;
    hit(bar, 0, 1.0);
    hit(bar, 4, 0.92);
    if (isSecondOfPair(bar)) {
      hit(bar, 3, 0.7);
      if (bar != 12) hit(bar, 7, 0.55);  // no push into the break
    }
  }
  hit(19, 0, 1.0);
  return t;
}

Track makeSnare() {
  Pcg32 rng(202);
  Track t{silence(), {}};
  auto hit = [&](int bar, double eighth, double vel) {
    const double when = at(bar, eighth) + humanTime(rng);
    addSnare(t.left, rng, when, vel * humanLevel(rng));
  };
  for (int bar = 1; bar <= kBars; ++bar) {
    if (!isGroove(bar)) continue;
    hit(bar, 2, 0.95);
    hit(bar, 6, 1.0);
    if (isSecondOfPair(bar)) {  // ghost notes
      hit(bar, 3.5, 0.18);
      hit(bar, 5.5, 0.2);
    }
  }
  // Pickup out of the intro, and the crescendo fill that ends the break.
  const std::array<double, 4> pickup{0.35, 0.45, 0.6, 0.75};
  for (std::size_t k = 0; k < pickup.size(); ++k) hit(4, 6 + 0.5 * k, pickup[k]);
  for (int k = 0; k < 8; ++k) hit(14, 4 + 0.5 * k, 0.3 + 0.09 * k);
  hit(19, 0, 0.85);
  return t;
}

Track makeHats() {
  Pcg32 rng(303);
  Track t{silence(), silence()};
  double pan = 0.3;
  auto hit = [&](int bar, double eighth, double vel, double decay) {
    pan = -pan;  // alternate sides a little
    const double when = at(bar, eighth) + humanTime(rng);
    addHat(t, rng, when, vel * humanLevel(rng), decay, pan);
  };
  constexpr double kClosed = 0.025, kOpen = 0.16;
  for (int bar = 3; bar <= 4; ++bar)  // the intro's last two bars
    for (int e = 0; e < 8; ++e) hit(bar, e, e % 2 ? 0.45 : 0.3, kClosed);
  for (int bar = 5; bar <= 12; ++bar)
    for (int e = 0; e < 8; ++e) {
      const bool open = e == 7 && isSecondOfPair(bar) && bar != 12;
      hit(bar, e, open ? 0.6 : (e % 2 ? 0.75 : 0.5), open ? kOpen : kClosed);
    }
  for (int bar = 13; bar <= 14; ++bar)
    for (int e = 0; e < 8; e += 2) hit(bar, e, 0.45, kClosed);
  constexpr std::array<double, 4> kSixteenths{0.7, 0.3, 0.55, 0.35};
  for (int bar = 15; bar <= 18; ++bar)
    for (int s = 0; s < 16; ++s) {
      const bool open = s == 14 && isSecondOfPair(bar);
      if (s == 15 && isSecondOfPair(bar)) continue;  // let the open hat ring
      hit(bar, 0.5 * s, open ? 0.6 : kSixteenths[static_cast<std::size_t>(s % 4)],
          open ? kOpen : kClosed);
    }
  hit(19, 0, 0.85, 0.35);  // a long open wash on the last downbeat
  // Hats live between 6 and 14 kHz.
  filterInPlace(t.left, Biquad::highpass(6000.0, 0.7));
  filterInPlace(t.left, Biquad::highpass(6000.0, 0.7));
  filterInPlace(t.right, Biquad::highpass(6000.0, 0.7));
  filterInPlace(t.right, Biquad::highpass(6000.0, 0.7));
  filterInPlace(t.left, Biquad::lowpass(14000.0, 0.7));
  filterInPlace(t.right, Biquad::lowpass(14000.0, 0.7));
  return t;
}

// A metronome track that the mix leaves out.
Track makeClick() {
  Track t{silence(), {}};
  const std::size_t length = framesOf(0.03);
  for (int beat = 0; beat < kBars * 4; ++beat) {
    const std::size_t start = framesOf(beat * 2 * kEighth);
    const double hz = beat % 4 == 0 ? 1500.0 : 1000.0;
    for (std::size_t i = 0; i < length; ++i) {
      const double s = static_cast<double>(i) / kRate;
      t.left[start + i] +=
          std::sin(kTwoPi * hz * s) * std::exp(-s / 0.008) * edgeGain(i, length, 12, 96);
    }
  }
  return t;
}

// ------------------------------------------------------------ synth voices

struct MonoSynth {
  double sawLevel, squareLevel, subLevel, detuneCents;
  double cutoff, cutoffSweep, sweepDecay, resonance, keyTrack;  // Hz, Hz, s, Q, exponent
  double attack, release, glide;                                // time constants, s
  double vibratoCents, vibratoRate, vibratoDelay;
};

// One monophonic voice following a note list: slides between touching
// notes, re-articulates after gaps.
Signal renderMonoSynth(const std::vector<Note>& notes, const MonoSynth& s) {
  Signal out = silence();
  NoteCursor cursor(notes);
  Svf filter;
  const double attack = smoothing(s.attack), release = smoothing(s.release);
  const double glide = s.glide > 0 ? smoothing(s.glide) : 1.0;
  const double detune = std::pow(2.0, s.detuneCents / 1200.0);
  double pitch = 60.0, env = 0.0, p1 = 0.0, p2 = 0.5, sub = 0.0;
  for (std::size_t i = 0; i < kFrames; ++i) {
    const double t = static_cast<double>(i) / kRate;
    const bool started = cursor.advance(t);
    const Note* n = cursor.current();
    if (started && !(s.glide > 0 && cursor.legato() && env > 0.05)) pitch = n->midi;
    const bool held = cursor.held(t);
    env += ((held ? n->velocity : 0.0) - env) * (held ? attack : release);
    if (n == nullptr || (!held && env < 1e-5)) continue;
    pitch += (n->midi - pitch) * glide;
    const double age = t - n->start;
    const double vibrato =
        s.vibratoCents / 100.0 * std::clamp((age - s.vibratoDelay) / 0.3, 0.0, 1.0);
    const double hz = hzOf(pitch + vibrato * std::sin(kTwoPi * s.vibratoRate * age));
    if (started || (i & 15) == 0)
      filter.tune((s.cutoff + s.cutoffSweep * std::exp(-age / s.sweepDecay)) *
                      std::pow(hz / 220.0, s.keyTrack),
                  s.resonance);
    const double dt1 = hz * detune / kRate, dt2 = hz / detune / kRate;
    double x = s.sawLevel * 0.5 * (saw(p1, dt1) + saw(p2, dt2));
    x += s.squareLevel * (saw(p1, dt1) - saw(wrap(p1 + 0.5), dt1));
    x += s.subLevel * std::sin(kTwoPi * sub);
    p1 = wrap(p1 + dt1);
    p2 = wrap(p2 + dt2);
    sub = wrap(sub + 0.5 * hz / kRate);
    out[i] = filter.lowpass(x) * env;
  }
  return out;
}

Track makeBass() {
  struct Step {
    double eighth, length;
    int interval;
    double velocity;
  };
  // Root, octave and fifth in eighths: the groove's bass line.
  constexpr std::array<Step, 6> kLine{{{0, 1.7, 0, 1.0},
                                       {2, 0.85, 0, 0.8},
                                       {3, 0.85, 12, 0.85},
                                       {4, 1.7, 0, 0.95},
                                       {6, 0.85, 7, 0.8},
                                       {7, 0.85, 12, 0.85}}};
  std::vector<Note> notes;
  for (int bar = 1; bar <= kBars; ++bar) {
    const int root = chordOf(bar).bassRoot;
    if (isGroove(bar)) {
      for (const Step& s : kLine)
        notes.push_back(
            {at(bar, s.eighth), s.length * kEighth, double(root + s.interval), s.velocity});
    } else if (bar == 13 || bar == 14) {
      notes.push_back({at(bar, 0), 7.6 * kEighth, double(root), 0.85});
    } else if (bar == 19) {
      notes.push_back({at(bar, 0), 10 * kEighth, double(root), 0.95});
    }
  }
  const MonoSynth bass{.sawLevel = 0.7,
                       .squareLevel = 0.0,
                       .subLevel = 0.7,
                       .detuneCents = 4.0,
                       .cutoff = 160.0,
                       .cutoffSweep = 1300.0,
                       .sweepDecay = 0.09,
                       .resonance = 1.1,
                       .keyTrack = 0.5,
                       .attack = 0.003,
                       .release = 0.03,
                       .glide = 0.0,
                       .vibratoCents = 0.0,
                       .vibratoRate = 0.0,
                       .vibratoDelay = 0.0};
  return {renderMonoSynth(notes, bass), {}};
}

Track makeLead() {
  struct Step {
    double eighth, length;
    int midi;
  };
  using Bar = std::vector<Step>;
  // The hook, one bar per chord of the progression.
  const std::array<Bar, 4> hook{Bar{{0, 2, 81}, {2, 1, 78}, {3, 1, 81}, {4, 2, 83}, {6, 2, 81}},
                                Bar{{0, 3, 78}, {3, 1, 76}, {4, 2, 74}, {6, 2, 78}},
                                Bar{{0, 2, 79}, {2, 2, 83}, {4, 3, 86}, {7, 1, 83}},
                                Bar{{0, 2, 85}, {2, 1, 83}, {3, 1, 81}, {4, 4, 76}}};
  const Bar lastBar{{0, 2, 81}, {2, 1, 79}, {3, 1, 78}, {4, 2, 76}, {6, 2, 73}};
  std::vector<Note> notes;
  auto play = [&](int bar, const Bar& steps, double vel) {
    for (const Step& s : steps)
      notes.push_back({at(bar, s.eighth), 0.92 * s.length * kEighth, double(s.midi), vel});
  };
  for (int k = 0; k < 4; ++k) play(5 + k, hook[static_cast<std::size_t>(k)], 0.9);
  // While the voice sings, the lead only answers with one pickup per bar.
  const std::array<int, 4> answers{81, 78, 83, 85};
  for (int k = 0; k < 4; ++k) play(9 + k, Bar{{7, 1, answers[static_cast<std::size_t>(k)]}}, 0.6);
  for (int k = 0; k < 3; ++k) play(15 + k, hook[static_cast<std::size_t>(k)], 0.85);
  play(18, lastBar, 0.85);
  play(19, Bar{{0, 6, 74}}, 0.8);
  const MonoSynth lead{.sawLevel = 0.5,
                       .squareLevel = 0.35,
                       .subLevel = 0.0,
                       .detuneCents = 7.0,
                       .cutoff = 1100.0,
                       .cutoffSweep = 2600.0,
                       .sweepDecay = 0.25,
                       .resonance = 1.4,
                       .keyTrack = 0.3,
                       .attack = 0.006,
                       .release = 0.06,
                       .glide = 0.035,
                       .vibratoCents = 14.0,
                       .vibratoRate = 5.3,
                       .vibratoDelay = 0.25};
  return {renderMonoSynth(notes, lead), {}};
}

// ------------------------------------------------------------------ voice

struct Vowel {
  double f1, f2, f3;
};
enum VowelName { kAh, kEh, kEe, kOh, kOo };
constexpr std::array<Vowel, 5> kVowels{{{800, 1200, 2800},   // ah
                                        {550, 1900, 2700},   // eh
                                        {320, 2500, 3100},   // ee
                                        {500, 900, 2700},    // oh
                                        {350, 750, 2600}}};  // oo

// Time derivative of a Rosenberg glottal flow pulse at phase p of the period;
// its sharp closing edge is what excites the vocal tract.
double glottalPulse(double p) {
  constexpr double kOpening = 0.4, kClosing = 0.16;
  if (p < kOpening) return 0.5 * kPi / kOpening * std::sin(kPi * p / kOpening);
  if (p < kOpening + kClosing)
    return -0.5 * kPi / kClosing * std::sin(0.5 * kPi * (p - kOpening) / kClosing);
  return 0.0;
}

Signal renderVoice(const std::vector<Note>& notes) {
  constexpr double kAir = 0.15;  // level of the breath above the formants
  Signal out = silence();
  Pcg32 rng(808);
  NoteCursor cursor(notes);
  std::array<Resonator, 5> tract{};
  Vowel shape = kVowels[kAh];
  Biquad airLow = Biquad::highpass(2500.0, 0.7), airHigh = Biquad::lowpass(9000.0, 0.7);
  const double attack = smoothing(0.045), release = smoothing(0.09);
  const double glide = smoothing(0.05), morph = smoothing(0.07);
  double pitch = 60.0, env = 0.0, phase = 0.0, drift = 0.0, previous = 0.0;
  for (std::size_t i = 0; i < kFrames; ++i) {
    const double t = static_cast<double>(i) / kRate;
    const bool started = cursor.advance(t);
    const Note* n = cursor.current();
    if (started && env < 0.01) {  // a phrase from silence starts in place; others slide
      pitch = n->midi;
      shape = kVowels[static_cast<std::size_t>(n->vowel)];
    }
    const bool held = cursor.held(t);
    env += ((held ? n->velocity : 0.0) - env) * (held ? attack : release);
    if (n == nullptr || (!held && env < 1e-5)) {
      for (Resonator& r : tract) r.y1 = r.y2 = 0.0;
      previous = 0.0;
      continue;
    }
    pitch += (n->midi - pitch) * glide;
    const Vowel& target = kVowels[static_cast<std::size_t>(n->vowel)];
    shape.f1 += (target.f1 - shape.f1) * morph;
    shape.f2 += (target.f2 - shape.f2) * morph;
    shape.f3 += (target.f3 - shape.f3) * morph;
    if (started || (i & 31) == 0) {
      tract[0].tune(shape.f1, 80.0);
      tract[1].tune(shape.f2, 100.0);
      tract[2].tune(shape.f3, 140.0);
      tract[3].tune(3500.0, 200.0);
      tract[4].tune(4500.0, 300.0);
    }
    // A slow random wander and a vibrato that sets in once the note is settled.
    drift = 0.9995 * drift + 0.0005 * rng.bipolar();
    const double age = t - n->start;
    const double depth = 0.3 * std::clamp((age - 0.15) / 0.4, 0.0, 1.0);
    phase = wrap(phase + hzOf(pitch + drift + depth * std::sin(kTwoPi * 5.3 * age)) / kRate);
    // Breath noise, stronger while the glottis is open: some goes through
    // the tract, some stays as air above it.
    const double open = phase < 0.56 ? 1.0 : 0.25;
    const double noise = rng.bipolar() * open;
    double y = glottalPulse(phase) + 0.5 * noise;
    for (Resonator& r : tract) y = r.run(y);
    const double air = airHigh.run(airLow.run(noise));
    // The first difference lifts the highs that the cascade rolls off.
    out[i] = (y - 0.7 * previous + kAir * air) * env;
    previous = y;
  }
  filterInPlace(out, Biquad::highpass(80.0, 0.7));
  return out;
}

Track makeVoice() {
  struct Step {
    double eighth, length;
    int midi;
    VowelName vowel;
  };
  using Bar = std::vector<Step>;
  const std::array<Bar, 4> verse{Bar{{0, 2, 62, kOh}, {2, 2, 66, kAh}, {4, 3.6, 69, kAh}},
                                 Bar{{0, 3, 71, kEh}, {3, 1, 69, kEe}, {4, 3.6, 66, kAh}},
                                 Bar{{0, 2, 67, kOh}, {2, 2, 71, kOo}, {4, 3.6, 74, kAh}},
                                 Bar{{0, 2, 73, kEh}, {2, 2, 71, kAh}, {4, 3.6, 69, kOh}}};
  std::vector<Note> notes;
  auto sing = [&](int bar, const Bar& steps, double vel) {
    for (const Step& s : steps)
      notes.push_back({at(bar, s.eighth), s.length * kEighth, double(s.midi), vel, s.vowel});
  };
  for (int k = 0; k < 4; ++k) sing(9 + k, verse[static_cast<std::size_t>(k)], 0.9);
  sing(13, Bar{{0, 7.6, 74, kAh}}, 0.8);
  sing(14, Bar{{0, 3.6, 73, kOh}, {4, 3.6, 76, kEh}}, 0.85);
  for (int k = 0; k < 3; ++k) sing(15 + k, verse[static_cast<std::size_t>(k)], 0.95);
  sing(18, Bar{{0, 2, 73, kEh}, {2, 2, 71, kEe}, {4, 3.6, 69, kAh}}, 0.95);
  sing(19, Bar{{0, 6, 62, kOh}, {6, 5.5, 62, kOo}}, 0.85);  // "oh-oo" to close
  return {renderVoice(notes), {}};
}

// ------------------------------------------------------- keys and pad

// Two-operator FM electric piano with a short bell-like tine at the attack.
void addPianoNote(Track& out, double when, double held, double midi, double velocity, double pan) {
  const std::size_t start = framesOf(when);
  const std::size_t length = framesOf(held + 0.6);
  const double hz = hzOf(midi);
  const double gl = 1.0 - 0.5 * pan, gr = 1.0 + 0.5 * pan;
  for (std::size_t i = 0; i < length && start + i < kFrames; ++i) {
    const double t = static_cast<double>(i) / kRate;
    double env = std::exp(-t / 1.4);
    if (t > held) env *= std::exp(-(t - held) / 0.09);
    env *= velocity * edgeGain(i, length, 96, 480);
    const double index = 1.6 * std::exp(-t / 0.35) + 0.25;
    double x = std::sin(kTwoPi * hz * t + index * std::sin(kTwoPi * hz * t));
    if (t < 0.2) x += 0.15 * std::sin(kTwoPi * 7.0 * hz * t) * std::exp(-t / 0.04);
    out.left[start + i] += env * gl * x;
    out.right[start + i] += env * gr * x;
  }
}

Track makeKeys() {
  Pcg32 rng(505);
  Track t{silence(), silence()};
  auto chord = [&](int bar, double eighth, double length, double vel) {
    const auto& notes = chordOf(bar).keys;
    for (std::size_t k = 0; k < notes.size(); ++k) {
      const double strum = 0.004 * k + 0.002 * rng.uniform();  // low note first
      addPianoNote(t, at(bar, eighth) + strum, length * kEighth, notes[k], vel,
                   0.4 * (static_cast<double>(k) - 1.0));
    }
  };
  for (int bar = 1; bar <= kBars; ++bar) {
    if (isGroove(bar)) {
      chord(bar, 0, 2.7, 0.75);
      chord(bar, 3, 0.9, 0.55);
      chord(bar, 5, 2.7, 0.65);
    } else if (bar == 3 || bar == 4 || bar == 13 || bar == 14) {
      chord(bar, 0, 7.6, bar < 5 ? 0.5 : 0.55);
    } else if (bar == 19) {
      chord(bar, 0, 12, 0.7);
    }
  }
  // Gentle tremolo panning, as on the classic stage pianos.
  for (std::size_t i = 0; i < kFrames; ++i) {
    const double s = 0.25 * std::sin(kTwoPi * 3.5 * static_cast<double>(i) / kRate);
    t.left[i] *= 1.0 + s;
    t.right[i] *= 1.0 - s;
  }
  return t;
}

Track makePad() {
  Pcg32 rng(606);
  Track t{silence(), silence()};
  // Two detuned sawtooths per side; the sides differ, which makes the width.
  constexpr std::array<double, 2> kLeftCents{-9.0, 4.0}, kRightCents{-4.0, 9.0};
  auto note = [&](double when, double held, int midi) {
    const std::size_t start = framesOf(when);
    const std::size_t length = framesOf(held + 1.5);
    std::array<double, 4> phase{rng.uniform(), rng.uniform(), rng.uniform(), rng.uniform()};
    std::array<double, 4> dt{};
    for (std::size_t k = 0; k < 2; ++k) {
      dt[k] = hzOf(midi + kLeftCents[k] / 100.0) / kRate;
      dt[k + 2] = hzOf(midi + kRightCents[k] / 100.0) / kRate;
    }
    for (std::size_t i = 0; i < length && start + i < kFrames; ++i) {
      const double s = static_cast<double>(i) / kRate;
      const double rise = std::min(s / 0.35, 1.0);
      double env = rise * rise * (3.0 - 2.0 * rise);  // smooth swell
      if (s > held) env *= std::exp(-(s - held) / 0.35);
      env *= edgeGain(i, length, 0, 480);
      std::array<double, 4> v{};
      for (std::size_t k = 0; k < 4; ++k) {
        v[k] = saw(phase[k], dt[k]);
        phase[k] = wrap(phase[k] + dt[k]);
      }
      t.left[start + i] += env * (v[0] + v[1]);
      t.right[start + i] += env * (v[2] + v[3]);
    }
  };
  for (int bar = 1; bar <= 18; ++bar)
    for (int midi : chordOf(bar).pad) note(at(bar, 0), kBar, midi);
  for (int midi : chordOf(19).pad) note(at(19, 0), 3.0, midi);
  // A slowly breathing low-pass takes the edge off the sawtooths.
  Svf fl, fr;
  for (std::size_t i = 0; i < kFrames; ++i) {
    if ((i & 31) == 0) {
      const double hz = 1100.0 + 500.0 * std::sin(kTwoPi * static_cast<double>(i) / kRate / 12.0);
      fl.tune(hz, 0.8);
      fr.tune(hz, 0.8);
    }
    t.left[i] = fl.lowpass(t.left[i]);
    t.right[i] = fr.lowpass(t.right[i]);
  }
  return t;
}

// ------------------------------------------------------------ WAVE output

enum class Encoding { Pcm16, Pcm24, Float32 };

double peakOf(const Track& t) {
  double peak = 0.0;
  for (double x : t.left) peak = std::max(peak, std::fabs(x));
  for (double x : t.right) peak = std::max(peak, std::fabs(x));
  return peak;
}

// Scales the track to the given peak level and makes sure it begins and ends
// in silence.
void finish(Track& t, double peakDb) {
  const double peak = peakOf(t);
  const double gain = peak > 0.0 ? std::pow(10.0, peakDb / 20.0) / peak : 0.0;
  const std::size_t guard = framesOf(0.02);
  for (Signal* s : {&t.left, &t.right})
    for (std::size_t i = 0; i < s->size(); ++i)
      (*s)[i] *= gain * edgeGain(i, s->size(), guard, guard);
}

void put(std::vector<unsigned char>& b, std::uint32_t v, int bytes) {
  for (int k = 0; k < bytes; ++k) b.push_back(static_cast<unsigned char>((v >> (8 * k)) & 0xFFu));
}
void putTag(std::vector<unsigned char>& b, const char* tag) { b.insert(b.end(), tag, tag + 4); }

std::uint32_t quantize(double x, double fullScale) {
  const double v = std::clamp(std::floor(x * fullScale + 0.5), -fullScale, fullScale - 1.0);
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(v));  // two's complement bits
}

// Writes a canonical 44-byte-header WAVE file: 16- or 24-bit PCM or 32-bit
// IEEE float, mono or stereo. The file appears under its name only when it is
// complete.
bool writeWave(const fs::path& path, const Track& t, Encoding enc) {
  const std::uint32_t channels = t.right.empty() ? 1 : 2;
  const std::uint32_t bytes = enc == Encoding::Pcm16 ? 2 : enc == Encoding::Pcm24 ? 3 : 4;
  const auto dataSize = static_cast<std::uint32_t>(kFrames * channels * bytes);
  std::vector<unsigned char> b;
  b.reserve(44 + dataSize);
  putTag(b, "RIFF");
  put(b, 36 + dataSize, 4);
  putTag(b, "WAVE");
  putTag(b, "fmt ");
  put(b, 16, 4);
  put(b, enc == Encoding::Float32 ? 3 : 1, 2);  // format tag: IEEE float or PCM
  put(b, channels, 2);
  put(b, kRate, 4);
  put(b, kRate * channels * bytes, 4);
  put(b, channels * bytes, 2);
  put(b, 8 * bytes, 2);
  putTag(b, "data");
  put(b, dataSize, 4);
  for (std::size_t i = 0; i < kFrames; ++i)
    for (const Signal* s : {&t.left, &t.right}) {
      if (s->empty()) continue;
      const double x = (*s)[i];
      if (enc == Encoding::Pcm16) {
        put(b, quantize(x, 32768.0), 2);
      } else if (enc == Encoding::Pcm24) {
        put(b, quantize(x, 8388608.0), 3);
      } else {
        const float f = static_cast<float>(x);
        std::uint32_t bits = 0;
        std::memcpy(&bits, &f, sizeof bits);
        put(b, bits, 4);
      }
    }

  const fs::path temp = fs::path(path).concat(".part");
  std::FILE* f = std::fopen(temp.string().c_str(), "wb");
  if (f == nullptr) {
    std::fprintf(stderr, "sorvan_demo_gen: cannot create %s: %s\n", temp.string().c_str(),
                 std::strerror(errno));
    return false;
  }
  bool ok = std::fwrite(b.data(), 1, b.size(), f) == b.size();
  ok = std::fflush(f) == 0 && ok;
  ok = std::fclose(f) == 0 && ok;
  std::error_code ec;
  if (ok) fs::rename(temp, path, ec);
  if (!ok || ec) {
    std::fprintf(stderr, "sorvan_demo_gen: cannot write %s\n", path.string().c_str());
    fs::remove(temp, ec);
    return false;
  }
  return true;
}

struct Recording {
  const char* file;
  Encoding encoding;
  double peakDb;
  Track (*make)();
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: sorvan_demo_gen <outdir>\n");
    return 2;
  }
  const fs::path dir = argv[1];
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) {
    std::fprintf(stderr, "sorvan_demo_gen: cannot create %s: %s\n", dir.string().c_str(),
                 ec.message().c_str());
    return 1;
  }
  // Peak levels leave the mix its headroom.
  const std::array<Recording, 9> recordings{{{"kick.wav", Encoding::Pcm16, -7.0, makeKick},
                                             {"snare.wav", Encoding::Pcm24, -8.0, makeSnare},
                                             {"hats.wav", Encoding::Pcm16, -10.0, makeHats},
                                             {"bass.wav", Encoding::Pcm24, -8.0, makeBass},
                                             {"keys.wav", Encoding::Pcm24, -10.0, makeKeys},
                                             {"pad.wav", Encoding::Float32, -12.0, makePad},
                                             {"lead.wav", Encoding::Float32, -9.0, makeLead},
                                             {"voice.wav", Encoding::Pcm24, -7.0, makeVoice},
                                             {"click.wav", Encoding::Pcm16, -12.0, makeClick}}};
  for (const Recording& r : recordings) {
    Track t = r.make();
    finish(t, r.peakDb);
    if (!writeWave(dir / r.file, t, r.encoding)) return 1;
    const char* format = r.encoding == Encoding::Pcm16   ? "16-bit PCM"
                         : r.encoding == Encoding::Pcm24 ? "24-bit PCM"
                                                         : "32-bit float";
    std::printf("  %-10s %-6s %-12s peak %5.1f dBFS\n", r.file, t.right.empty() ? "mono" : "stereo",
                format, r.peakDb);
  }
  std::printf("Wrote %zu recordings of %.0f s at %d Hz into %s\n", recordings.size(),
              kFrames / double(kRate), kRate, dir.string().c_str());
  return 0;
}
