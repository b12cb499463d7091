#include "engine/strip.h"

#include "dynamics/limiter.h"

namespace sorvan {

StripRunner::StripRunner(const StripSettings& settings) : settings_(settings) {
  for (int index = 0; index < kStripCount; ++index) {
    std::uint8_t count = 0;
    for (int position = 1; position <= kProcessorCount; ++position) {
      for (int p = 0; p < kProcessorCount; ++p) {
        if (settings.enabled[p][index] && settings.position[p][index] == position)
          order_[index][count++] = static_cast<std::uint8_t>(p);
      }
    }
    count_[index] = count;
  }
}

void StripRunner::run(int index, long n, double* left, double* right, bool withLimiter) {
  for (int k = 0; k < count_[index]; ++k) {
    const int p = order_[index][k];
    if (p == kLimiter && !withLimiter) continue;
    runProcessor(p, index, n, left, right);
  }
}

void StripRunner::limit(int index, long n, double* left, double* right) {
  if (settings_.enabled[kLimiter][index]) LIMITER(settings_.lim, index, n, left, right);
}

void StripRunner::runProcessor(int processor, int index, long n, double* left, double* right) {
  switch (processor) {
    case kHighPass:
      HPF(settings_.hpf, hpf_, index, n, left, right);
      break;
    case kBand1:
    case kBand2:
    case kBand3:
    case kBand4:
    case kHighShelf:
    case kLowShelf:
      EQ(settings_.eq, eq_, kEqBand1 + (processor - kBand1), index, n, left, right);
      break;
    case kRmsComp:
      RMSCOMPRESSOR(settings_.rms, rms_, index, n, left, right);
      break;
    case kNonLinComp:
      NonLinCOMP(settings_.nlc, nlc_, index, n, left, right);
      break;
    case kPeakComp:
      PEAKCOMPRESSOR(settings_.comp, comp_, index, n, left, right);
      break;
    case kLimiter:
      LIMITER(settings_.lim, index, n, left, right);
      break;
    default:
      break;
  }
}

}  // namespace sorvan
