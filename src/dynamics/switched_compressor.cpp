#include "dynamics/switched_compressor.h"

#include <climits>
#include <cmath>

namespace sorvan {
namespace {

// Curve value at step `step` of a curve `length` steps long: a quarter sine
// turn, 0 at step 0 and 1 at step `length`.
double curveValue(std::int64_t step, long length) {
  return std::sin(static_cast<double>(step) * 1.5707963267948966 / static_cast<double>(length));
}

// Only "more than three" matters, so the count stops at the top of its range
// instead of overflowing when one side stays loud for hours.
int countQuietHalfWave(int count) { return count < INT_MAX ? count + 1 : count; }

// Quiet measurements walk the release on; a loud one walks it back toward full
// reduction, but never past step 0.
std::int64_t walkRelease(std::int64_t step, bool quiet) {
  if (quiet) return step + 1;
  return step > 0 ? step - 1 : step;
}

}  // namespace

SwitchedCompressorSettings switchedCompressor(std::int64_t threshold, long attackSamples,
                                              long releaseSamples, double ratio) {
  SwitchedCompressorSettings s;
  s.thresh = threshold;
  s.attackSamples = attackSamples < 1 ? 1 : attackSamples;
  s.releaseSamples = releaseSamples < 1 ? 1 : releaseSamples;
  s.ratio = ratio >= 1.0 ? ratio : 1.0;
  return s;
}

void triggerAttack(SwitchedPhase& s) {
  s.phase = compressor_phase::kAttack;
  s.attackCount = 1;
  s.releaseCount = 1;
  s.passTL = s.passTR = 0;
}

void stepPhase(SwitchedPhase& s, const SwitchedCompressorSettings& c, const HalfWaveReport& r,
               double xL, double xR, double pL, double pR, double& left, double& right) {
  using namespace compressor_phase;
  const double ratio = c.ratio;
  switch (s.phase) {
    case kAttack: {
      // Unity gain at curve value 0 falling to 1/ratio at 1.
      const double v = curveValue(s.attackCount, c.attackSamples);
      left = (xL - (xL - xL / ratio) * v) * pL;
      right = (xR - (xR - xR / ratio) * v) * pR;
      if (s.attackCount < c.attackSamples)
        ++s.attackCount;
      else
        s.phase = kCompressed;
      break;
    }
    case kCompressed:
      left = (xL / ratio) * pL;
      right = (xR / ratio) * pR;
      if (r.endedL) s.passTL = r.quietL ? countQuietHalfWave(s.passTL) : 0;
      if (r.endedR) s.passTR = r.quietR ? countQuietHalfWave(s.passTR) : 0;
      if (s.passTL > 3 && s.passTR > 3) s.phase = kRelease;
      break;
    case kRelease: {
      // 1/ratio at curve value 0 rising to unity at 1.
      const double v = curveValue(s.releaseCount, c.releaseSamples);
      left = ((xL - xL / ratio) * v + xL / ratio) * pL;
      right = ((xR - xR / ratio) * v + xR / ratio) * pR;
      s.releaseCount = walkRelease(s.releaseCount, r.belowL && r.belowR);
      if (s.releaseCount > c.releaseSamples) s.phase = kIdle;
      break;
    }
    default:
      break;
  }
}

}  // namespace sorvan
