#include "engine/strip.h"

#include "dynamics/limiter.h"
#include "filters/filter_chain.h"

namespace sorvan {
namespace {

void runProcessor(int processor, const StripChannelSettings& s, StripMemory& m, long n,
                  double* left, double* right) {
  switch (processor) {
    case kHighPass:
      HPF(s.hpf, m.hpf, n, left, right);
      break;
    case kBand1:
    case kBand2:
    case kBand3:
    case kBand4:
    case kHighShelf:
    case kLowShelf: {
      const auto section = static_cast<std::size_t>(kEqBand1 + (processor - kBand1));
      EQ(s.eq[section], m.eq[section], n, left, right);
      break;
    }
    case kRmsComp:
      RMSCOMPRESSOR(s.rms, m.rms, n, left, right);
      break;
    case kNonLinComp:
      NonLinCOMP(s.nlc, m.nlc, n, left, right);
      break;
    case kPeakComp:
      PEAKCOMPRESSOR(s.comp, m.comp, n, left, right);
      break;
    case kLimiter:
      LIMITER(s.lim, n, left, right);
      break;
    default:
      break;
  }
}

bool isFilter(int processor) { return processor >= kHighPass && processor <= kLowShelf; }

ChainFilter chainFilter(int processor, const StripChannelSettings& s, StripMemory& m) {
  ChainFilter f;
  if (processor == kHighPass) {
    f.hpf = &s.hpf;
    f.hpfMemory = &m.hpf;
  } else {
    const auto section = static_cast<std::size_t>(kEqBand1 + (processor - kBand1));
    f.biquad = &s.eq[section];
    f.biquadMemory = &m.eq[section];
  }
  return f;
}

}  // namespace

StripOrder stripOrder(const StripChannelSettings& settings) {
  StripOrder order;
  for (int position = 1; position <= kProcessorCount; ++position) {
    for (int p = 0; p < kProcessorCount; ++p) {
      const auto slot = static_cast<std::size_t>(p);
      if (settings.enabled[slot] && settings.position[slot] == position)
        order.processor[static_cast<std::size_t>(order.count++)] = static_cast<std::uint8_t>(p);
    }
  }
  return order;
}

void runStrip(const StripChannelSettings& settings, const StripOrder& order, StripMemory& memory,
              long n, double* left, double* right, bool withLimiter) {
  const StripLane lane{&settings, &order, &memory, left, right};
  runStrips(&lane, 1, n, withLimiter);
}

bool sameStripShape(const StripOrder& a, const StripOrder& b) {
  if (a.count != b.count) return false;
  for (int k = 0; k < a.count; ++k) {
    const int pa = a.processor[static_cast<std::size_t>(k)];
    const int pb = b.processor[static_cast<std::size_t>(k)];
    if (isFilter(pa) != isFilter(pb) || (pa == kHighPass) != (pb == kHighPass)) return false;
  }
  return true;
}

bool sameProcessors(const StripOrder& a, const StripOrder& b) {
  return a.count == b.count && a.processor == b.processor;
}

bool stripHasFilter(const StripOrder& order) {
  for (int k = 0; k < order.count; ++k)
    if (isFilter(order.processor[static_cast<std::size_t>(k)])) return true;
  return false;
}

void runStrips(const StripLane* lanes, int count, long n, bool withLimiter) {
  const StripOrder& shape = *lanes[0].order;
  for (int k = 0; k < shape.count;) {
    if (isFilter(shape.processor[static_cast<std::size_t>(k)])) {
      ChainFilter chains[kMaxStripGroup][kMaxChainFilters];
      ChainChannel channels[kMaxStripGroup];
      int length = 0;
      for (; k < shape.count && isFilter(shape.processor[static_cast<std::size_t>(k)]); ++k) {
        for (int c = 0; c < count; ++c) {
          const StripLane& lane = lanes[c];
          chains[c][length] = chainFilter(lane.order->processor[static_cast<std::size_t>(k)],
                                          *lane.settings, *lane.memory);
        }
        ++length;
      }
      for (int c = 0; c < count; ++c) channels[c] = {chains[c], lanes[c].left, lanes[c].right};
      runFilterChains(channels, count, length, n);
      continue;
    }
    // The switched compressors at this place run together, one kind at a
    // time; any other processor runs strip by strip.
    RmsJob rms[kMaxStripGroup];
    PeakJob peak[kMaxStripGroup];
    int rmsCount = 0, peakCount = 0;
    for (int c = 0; c < count; ++c) {
      const StripLane& lane = lanes[c];
      const int p = lane.order->processor[static_cast<std::size_t>(k)];
      if (p == kRmsComp) {
        rms[rmsCount++] = {&lane.settings->rms, &lane.memory->rms, lane.left, lane.right};
      } else if (p == kPeakComp) {
        peak[peakCount++] = {&lane.settings->comp, &lane.memory->comp, lane.left, lane.right};
      } else if (p != kLimiter || withLimiter) {
        runProcessor(p, *lane.settings, *lane.memory, n, lane.left, lane.right);
      }
    }
    if (rmsCount > 0) RMSCOMPRESSORS(rms, rmsCount, n);
    if (peakCount > 0) PEAKCOMPRESSORS(peak, peakCount, n);
    ++k;
  }
}

void runMasterLimiter(const StripChannelSettings& settings, long n, double* left, double* right) {
  if (settings.enabled[kLimiter]) LIMITER(settings.lim, n, left, right);
}

}  // namespace sorvan
