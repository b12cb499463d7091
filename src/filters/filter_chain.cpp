#include "filters/filter_chain.h"

#include <algorithm>

#include "base/target.h"

namespace sorvan {
namespace {

// Left and right side by side. Each lane does exactly the scalar arithmetic
// of its side, in the same order.
typedef double Sides __attribute__((vector_size(2 * sizeof(double))));

// The walk is inlined into each version of runFilterChain the processor may
// choose, so that it is compiled for that processor.
#define SORVAN_INLINE inline __attribute__((always_inline))

// The denormal guard of both sides, without a branch.
SORVAN_INLINE Sides guard(Sides x) {
  const Sides g = {0.0001, 0.0001};
  const Sides zero = {0.0, 0.0};
  const Sides up = (x >= zero && x < g) ? g : x;
  return (x < zero && x > -g) ? -g : up;
}

struct ChainState {
  Sides in1, in2, out1, out2;  // the high-pass uses in1 (previous input) and out1
};

// A filter's coefficients on both lanes, where the walk finds them quickly;
// the high-pass keeps a in b0 and b in b1.
struct ChainCoefficients {
  bool highPass;
  Sides b0, b1, b2, a1, a2;
};

// One filter on one sample: the scalar arithmetic of each side, in its order.
SORVAN_INLINE Sides filterSample(const ChainCoefficients& k, ChainState& st, Sides in) {
  const Sides x = guard(in);
  Sides y;
  if (k.highPass) {
    y = k.b0 * st.out1 + k.b1 * (x - st.in1);
  } else {
    y = k.b0 * x + k.b1 * st.in1 + k.b2 * st.in2 - k.a1 * st.out1 - k.a2 * st.out2;
    st.in2 = st.in1;
    st.out2 = st.out1;
  }
  st.in1 = x;
  st.out1 = y;
  return y;
}

// One step of the skewed walk: filter f takes sample step - f, the one
// filter f - 1 finished in the step before. At the edges some filters have
// no sample to take.
template <int N, bool kEdge>
SORVAN_INLINE void skewedStep(const ChainCoefficients* k, ChainState* st, Sides* handed, long step,
                              long m, double* l, double* r) {
#pragma GCC unroll 8
  for (int f = N - 1; f >= 0; --f) {
    const long j = step - f;
    if (kEdge && (j < 0 || j >= m)) continue;
    const Sides y = filterSample(k[f], st[f], f == 0 ? Sides{l[j], r[j]} : handed[f - 1]);
    if (f == N - 1) {
      l[j] = y[0];
      r[j] = y[1];
    } else {
      handed[f] = y;
    }
  }
}

// Samples [0, m) through N filters, skewed by one sample per filter. The
// filters of one step are independent of one another, so their recursions
// overlap, while each filter still sees its own samples in order.
template <int N>
SORVAN_INLINE void runSkewed(const ChainCoefficients* k, ChainState* st, long m, double* l,
                             double* r) {
  Sides handed[N] = {};
  long step = 0;
  for (; step < std::min<long>(N - 1, m + N - 1); ++step)
    skewedStep<N, true>(k, st, handed, step, m, l, r);
  for (; step < m; ++step) skewedStep<N, false>(k, st, handed, step, m, l, r);
  for (; step < m + N - 1; ++step) skewedStep<N, true>(k, st, handed, step, m, l, r);
}

}  // namespace

SORVAN_ALSO_AVX2 void runFilterChain(const ChainFilter* filters, int count, long n, double* left,
                                     double* right) {
  if (n <= 0 || count <= 0) return;
  // Until every filter has seen its seeding samples (one for the high-pass,
  // two for a section), the first samples go through the filters one by one.
  long head = 0;
  for (int f = 0; f < count; ++f) {
    const ChainFilter& c = filters[f];
    const long need = c.hpf ? (c.hpfMemory->seeded ? 0 : 1) : 2 - c.biquadMemory->first;
    head = std::max(head, std::min(n, need));
  }
  for (int f = 0; f < count && head > 0; ++f) {
    const ChainFilter& c = filters[f];
    if (c.hpf)
      HPF(*c.hpf, *c.hpfMemory, head, left, right);
    else
      runBiquad(*c.biquad, *c.biquadMemory, head, left, right);
  }
  if (head == n) return;

  ChainState s[kMaxChainFilters];
  for (int f = 0; f < count; ++f) {
    const ChainFilter& c = filters[f];
    if (c.hpf) {
      const HpfMemory& m = *c.hpfMemory;
      s[f].in1 = Sides{m.OldXL, m.OldXR};
      s[f].out1 = Sides{m.OldYL, m.OldYR};
    } else {
      const BiquadMemory& m = *c.biquadMemory;
      s[f] = ChainState{{m.in1L, m.in1R}, {m.in2L, m.in2R}, {m.out1L, m.out1R}, {m.out2L, m.out2R}};
    }
  }
  ChainCoefficients k[kMaxChainFilters];
  for (int f = 0; f < count; ++f) {
    const ChainFilter& c = filters[f];
    const auto both = [](double v) { return Sides{v, v}; };
    if (c.hpf) {
      k[f] = ChainCoefficients{true, both(c.hpf->a), both(c.hpf->b), Sides{}, Sides{}, Sides{}};
    } else {
      const BiquadCoefficients& b = *c.biquad;
      k[f] = ChainCoefficients{false, both(b.b0), both(b.b1), both(b.b2), both(b.a1), both(b.a2)};
    }
  }
  const long m = n - head;
  double* l = left + head;
  double* r = right + head;
  switch (count) {
    case 1:
      runSkewed<1>(k, s, m, l, r);
      break;
    case 2:
      runSkewed<2>(k, s, m, l, r);
      break;
    case 3:
      runSkewed<3>(k, s, m, l, r);
      break;
    case 4:
      runSkewed<4>(k, s, m, l, r);
      break;
    case 5:
      runSkewed<5>(k, s, m, l, r);
      break;
    case 6:
      runSkewed<6>(k, s, m, l, r);
      break;
    default:
      runSkewed<7>(k, s, m, l, r);
      break;
  }
  for (int f = 0; f < count; ++f) {
    const ChainFilter& c = filters[f];
    const ChainState& st = s[f];
    if (c.hpf) {
      HpfMemory& m = *c.hpfMemory;
      m.OldXL = st.in1[0], m.OldXR = st.in1[1];
      m.OldYL = st.out1[0], m.OldYR = st.out1[1];
    } else {
      BiquadMemory& m = *c.biquadMemory;
      m.in1L = st.in1[0], m.in1R = st.in1[1];
      m.in2L = st.in2[0], m.in2R = st.in2[1];
      m.out1L = st.out1[0], m.out1R = st.out1[1];
      m.out2L = st.out2[0], m.out2R = st.out2[1];
    }
  }
}

}  // namespace sorvan
