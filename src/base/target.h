// Hot loops are compiled twice, for the baseline processor and for AVX2, and
// the version the processor can run is chosen when the program starts: one
// binary runs everywhere and fast where it can. Both versions do the same
// arithmetic (nothing is fused), so they give the same bits.
#pragma once

// ThreadSanitizer instruments the chooser, which runs before it has started;
// its builds keep one version.
#if defined(__SANITIZE_THREAD__)
#define SORVAN_NO_CLONES
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define SORVAN_NO_CLONES
#endif
#endif

#ifdef SORVAN_NO_CLONES
#define SORVAN_ALSO_AVX2
#define SORVAN_ALSO_AVX512
#else
#define SORVAN_ALSO_AVX2 __attribute__((target_clones("avx2", "default")))
// A third version for AVX-512, for plain loops the compiler turns into
// vectors (not for the vector types written out in the filter chain's walk,
// which are built per processor in files of their own).
#define SORVAN_ALSO_AVX512 __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#endif

namespace sorvan {

// The widest family of vector instructions this processor runs, for the few
// walks written out in vectors and built once per family.
enum class ProcessorFamily { kBaseline, kAvx2, kAvx512 };

inline ProcessorFamily processorFamily() {
  static const ProcessorFamily family = [] {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
        __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512bw"))
      return ProcessorFamily::kAvx512;
    if (__builtin_cpu_supports("avx2")) return ProcessorFamily::kAvx2;
    return ProcessorFamily::kBaseline;
  }();
  return family;
}

}  // namespace sorvan
