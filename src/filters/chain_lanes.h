// The walk of the filter chains, for 1, 2 or 4 channels side by side. Each
// file that includes this compiles it for one processor (filter_chain_*.cpp)
// and gives it a name of its own; everything here has internal linkage and
// calls nothing from other files, so no copy built for one processor can
// take the place of another's.
#pragma once

#include "filters/filter_chain.h"

// The vectors below are passed only between inlined functions of this file,
// so the ABI of passing them, which differs between processors, never matters.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace sorvan {
namespace {

// The samples of C channels side by side, left and right of each channel in
// lanes 2c and 2c + 1. Each lane does exactly the scalar arithmetic of its
// side, in the same order.
template <int C>
struct LaneVector {
  typedef double type __attribute__((vector_size(2 * C * sizeof(double))));
};
template <int C>
using Lanes = typename LaneVector<C>::type;

#define SORVAN_INLINE inline __attribute__((always_inline))

template <int C>
SORVAN_INLINE Lanes<C> splat(double v) {
  return Lanes<C>{} + v;
}

// The denormal guard of every lane, without a branch: a magnitude below the
// guard becomes the guard, negative below zero and positive from zero up (-0.0
// included, which compares equal to zero); NaN and larger values stay.
template <int C>
SORVAN_INLINE Lanes<C> guard(Lanes<C> x) {
  const Lanes<C> g = splat<C>(0.0001);
  const Lanes<C> zero = {};
  return (x > -g && x < g) ? (x < zero ? -g : g) : x;
}

template <int C>
struct ChainState {
  Lanes<C> in1, in2, out1, out2;  // the high-pass uses in1 (previous input) and out1
};

// A filter's coefficients in every lane, where the walk finds them quickly;
// the high-pass keeps a in b0 and b in b1.
template <int C>
struct ChainCoefficients {
  bool highPass;
  Lanes<C> b0, b1, b2, a1, a2;
};

// One filter on one sample of every lane: the scalar arithmetic of each side,
// in its order.
template <int C>
SORVAN_INLINE Lanes<C> filterSample(const ChainCoefficients<C>& k, ChainState<C>& st, Lanes<C> in) {
  const Lanes<C> x = guard<C>(in);
  Lanes<C> y;
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

// The walk works on frames gathered side by side into a small buffer that
// stays in the first-level cache: gathering a frame from 2C arrays inside the
// walk would cost more than its arithmetic once the vectors are wide.
inline constexpr long kChunkFrames = 256;

// One step of the skewed walk: filter f takes sample step - f, the one
// filter f - 1 finished in the step before. At the edges some filters have
// no sample to take.
template <int C, int N, bool kEdge>
SORVAN_INLINE void skewedStep(const ChainCoefficients<C>* k, ChainState<C>* st, Lanes<C>* handed,
                              long step, long m, Lanes<C>* io) {
#pragma GCC unroll 8
  for (int f = N - 1; f >= 0; --f) {
    const long j = step - f;
    if (kEdge && (j < 0 || j >= m)) continue;
    const Lanes<C> y = filterSample<C>(k[f], st[f], f == 0 ? io[j] : handed[f - 1]);
    if (f == N - 1) {
      io[j] = y;
    } else {
      handed[f] = y;
    }
  }
}

// Samples [0, m) through N filters, skewed by one sample per filter. The
// filters of one step are independent of one another, so their recursions
// overlap, while each filter still sees its own samples in order.
template <int C, int N>
SORVAN_INLINE void runSkewed(const ChainCoefficients<C>* k, ChainState<C>* st, long m,
                             Lanes<C>* io) {
  Lanes<C> handed[N] = {};
  long step = 0;
  for (; step < (N - 1 < m + N - 1 ? N - 1 : m + N - 1); ++step)
    skewedStep<C, N, true>(k, st, handed, step, m, io);
  for (; step < m; ++step) skewedStep<C, N, false>(k, st, handed, step, m, io);
  for (; step < m + N - 1; ++step) skewedStep<C, N, true>(k, st, handed, step, m, io);
}

template <int C>
SORVAN_INLINE void loadState(const ChainFilter& c, int lane, ChainState<C>& s) {
  const int l = 2 * lane, r = l + 1;
  if (c.hpf) {
    const HpfMemory& m = *c.hpfMemory;
    s.in1[l] = m.OldXL, s.in1[r] = m.OldXR;
    s.out1[l] = m.OldYL, s.out1[r] = m.OldYR;
  } else {
    const BiquadMemory& m = *c.biquadMemory;
    s.in1[l] = m.in1L, s.in1[r] = m.in1R;
    s.in2[l] = m.in2L, s.in2[r] = m.in2R;
    s.out1[l] = m.out1L, s.out1[r] = m.out1R;
    s.out2[l] = m.out2L, s.out2[r] = m.out2R;
  }
}

template <int C>
SORVAN_INLINE void saveState(const ChainState<C>& s, int lane, const ChainFilter& c) {
  const int l = 2 * lane, r = l + 1;
  if (c.hpf) {
    HpfMemory& m = *c.hpfMemory;
    m.OldXL = s.in1[l], m.OldXR = s.in1[r];
    m.OldYL = s.out1[l], m.OldYR = s.out1[r];
  } else {
    BiquadMemory& m = *c.biquadMemory;
    m.in1L = s.in1[l], m.in1R = s.in1[r];
    m.in2L = s.in2[l], m.in2R = s.in2[r];
    m.out1L = s.out1[l], m.out1R = s.out1[r];
    m.out2L = s.out2[l], m.out2R = s.out2[r];
  }
}

template <int C>
SORVAN_INLINE void setLanes(Lanes<C>& v, int lane, double value) {
  v[2 * lane] = value;
  v[2 * lane + 1] = value;
}

// C seeded chains of one shape over frames [from, n), each channel's state
// loaded into its lanes and stored back afterwards.
template <int C>
SORVAN_INLINE void runLanes(const ChainChannel* channels, int count, long from, long n) {
  ChainState<C> s[kMaxChainFilters] = {};
  ChainCoefficients<C> k[kMaxChainFilters] = {};
  for (int f = 0; f < count; ++f) {
    k[f].highPass = channels[0].filters[f].hpf != nullptr;
    for (int c = 0; c < C; ++c) {
      const ChainFilter& filter = channels[c].filters[f];
      loadState<C>(filter, c, s[f]);
      if (filter.hpf) {
        setLanes<C>(k[f].b0, c, filter.hpf->a);
        setLanes<C>(k[f].b1, c, filter.hpf->b);
      } else {
        const BiquadCoefficients& b = *filter.biquad;
        setLanes<C>(k[f].b0, c, b.b0);
        setLanes<C>(k[f].b1, c, b.b1);
        setLanes<C>(k[f].b2, c, b.b2);
        setLanes<C>(k[f].a1, c, b.a1);
        setLanes<C>(k[f].a2, c, b.a2);
      }
    }
  }
  Lanes<C> io[kChunkFrames];
  for (long at = from; at < n; at += kChunkFrames) {
    const long m = (n - at < kChunkFrames ? n - at : kChunkFrames);
    for (long j = 0; j < m; ++j) {
      for (int c = 0; c < C; ++c) {
        io[j][2 * c] = channels[c].left[at + j];
        io[j][2 * c + 1] = channels[c].right[at + j];
      }
    }
    switch (count) {
      case 1:
        runSkewed<C, 1>(k, s, m, io);
        break;
      case 2:
        runSkewed<C, 2>(k, s, m, io);
        break;
      case 3:
        runSkewed<C, 3>(k, s, m, io);
        break;
      case 4:
        runSkewed<C, 4>(k, s, m, io);
        break;
      case 5:
        runSkewed<C, 5>(k, s, m, io);
        break;
      case 6:
        runSkewed<C, 6>(k, s, m, io);
        break;
      default:
        runSkewed<C, 7>(k, s, m, io);
        break;
    }
    for (long j = 0; j < m; ++j) {
      for (int c = 0; c < C; ++c) {
        channels[c].left[at + j] = io[j][2 * c];
        channels[c].right[at + j] = io[j][2 * c + 1];
      }
    }
  }
  for (int f = 0; f < count; ++f)
    for (int c = 0; c < C; ++c) saveState<C>(s[f], c, channels[c].filters[f]);
}

// Channels[0..lanes-1] (lanes 1, 2 or 4), seeded chains of one shape with
// `count` filters, over frames [from, n).
SORVAN_INLINE void runChainLanes(const ChainChannel* channels, int lanes, int count, long from,
                                 long n) {
  if (lanes == 4)
    runLanes<4>(channels, count, from, n);
  else if (lanes == 2)
    runLanes<2>(channels, count, from, n);
  else
    runLanes<1>(channels, count, from, n);
}

}  // namespace
}  // namespace sorvan
