#include "layout_rule.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>
#endif

namespace {

// The transposed shares convert every list entry once per 16 (AVX-512) or 8
// (AVX2) of a share's entries, and stop a block only once all its lanes have
// matched; the per-entry scans stop at each entry's first match but pay for a
// mispredicted exit. Which wins depends on the list's length, on the step (the
// strided loads and stores cost both layouts alike from step 6 on) and on how
// fast the processor converts. Each band below was set from the short-list
// bench's step table, one worker at each step with the workers' shares taken
// in turn and each match at a random place; docs/tuning.md has each
// processor's record, and the bench prints its measured bands in this form.

// Intel (a Xeon of the Sapphire Rapids class): ahead or within 10% at every
// step to 48 up to 64 entries, at every step to 256 from 96 to 256, even at
// 512 only at steps to 12. Other Intel generations are not measured.
constexpr LayoutBand kIntelAvx512[] = {{64, 48}, {256, 256}, {512, 12}};

// AMD Zen 4 runs each 512-bit operation as two 256-bit halves: its
// conversions take twice Zen 5's time, so the per-entry scan's exits overtake
// the transposed shares at shorter lists.
constexpr LayoutBand kZen4Avx512[] = {{12, 32}, {20, 5}, {32, 2}, {64, 0}, {256, 64}};

// AMD Zen 5: beyond 64 entries the group scan's exits mispredict on random
// matches, and the transposed shares win to 512 entries at every step to 256.
constexpr LayoutBand kZen5Avx512[] = {{28, 48}, {40, 5}, {64, 2}, {512, 256}};

// AVX2, for every class (AMD Zen 3, and Zen 4, Zen 5 and the Intel Xeon with
// the path forced): ahead to 128 entries at every step to 64.
constexpr LayoutBand kAvx2[] = {{128, 64}};

template <int N>
constexpr LayoutRule rule(const LayoutBand (&bands)[N], int perEntryMinimum) {
  return {bands, N, perEntryMinimum};
}

}  // namespace

// The per-entry minimums: the AVX-512 scan takes any length with masked loads,
// but a single entry costs least in the scalar loop (nothing to mispredict);
// the AVX2 scan needs a whole block of 4 to gain.
LayoutRule layoutRule(ScanPath path, ProcessorClass cls) {
  switch (path) {
    case ScanPath::avx512:
      return cls == ProcessorClass::amdZen4   ? rule(kZen4Avx512, 2)
             : cls == ProcessorClass::amdZen5 ? rule(kZen5Avx512, 2)
                                              : rule(kIntelAvx512, 2);
    case ScanPath::avx2:
      return rule(kAvx2, 4);
    case ScanPath::scalar:
      break;
  }
  return {nullptr, 0, 0};
}

bool transposedWins(ScanPath path, ProcessorClass cls, int count, std::int64_t step) {
  const LayoutRule r = layoutRule(path, cls);
  for (int b = 0; b < r.size; ++b)
    if (count <= r.bands[b].listsUpTo) return step <= r.bands[b].stepsUpTo;
  return false;
}

ProcessorClass detectedProcessorClass() {
  static const ProcessorClass detected = [] {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    // Read from CPUID, since compilers of Debian 12 do not name Zen 4 in
    // __builtin_cpu_is. AMD's family 25 with AVX-512 is Zen 4 (Zen 3, the same
    // family, has no AVX-512 and so only runs the AVX2 rule).
    if (__builtin_cpu_is("amd")) {
      unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
      unsigned family = 0;
      if (__get_cpuid(1, &eax, &ebx, &ecx, &edx)) {
        family = (eax >> 8) & 0xf;
        if (family == 0xf) family += (eax >> 20) & 0xff;
      }
      return family == 25 ? ProcessorClass::amdZen4 : ProcessorClass::amdZen5;
    }
#endif
    return ProcessorClass::intel;
  }();
  return detected;
}

const char* processorClassName(ProcessorClass cls) {
  switch (cls) {
    case ProcessorClass::intel:
      return "intel";
    case ProcessorClass::amdZen4:
      return "amd-zen4";
    case ProcessorClass::amdZen5:
      return "amd-zen5";
  }
  return "?";
}
