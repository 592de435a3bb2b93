// Where the vector paths lay a share out transposed rather than per entry: one small rule per
// instruction set, by list length and step.
#pragma once

#include <cstdint>

enum class ScanPath { scalar, avx2, avx512 };

// Lists longer than the band before and up to listsUpTo entries are laid out transposed at steps up
// to stepsUpTo (0: at none); longer lists per entry.
struct LayoutBand {
  int listsUpTo;
  std::int64_t stepsUpTo;
};

// The transposed shares convert every list entry once per block of the share's entries and stop a
// block only once all its lanes have matched; the per-entry scans stop at each entry's first match
// but pay for a mispredicted exit. Each rule is the one whose largest loss against a measured
// processor's own former rule, on the processor that loses most, is least (docs/tuning.md).
inline constexpr LayoutBand kAvx512Bands[] = {{20, 48}, {40, 5}, {64, 0}, {256, 256}, {512, 128}};
inline constexpr LayoutBand kAvx2Bands[] = {{128, 64}};

template <int N>
constexpr bool transposedIn(const LayoutBand (&bands)[N], int count, std::int64_t step) {
  for (const LayoutBand& band : bands)
    if (count <= band.listsUpTo) return step <= band.stepsUpTo;
  return false;
}
template <int N>
constexpr bool ascending(const LayoutBand (&bands)[N]) {
  for (int b = 1; b < N; ++b)
    if (bands[b].listsUpTo <= bands[b - 1].listsUpTo) return false;
  return true;
}
static_assert(ascending(kAvx512Bands) && ascending(kAvx2Bands), "a band out of order is shadowed");

// Whether path's rule lays a share of a list of count entries (>= 0) at step (>= 1) out transposed;
// the scalar path has one layout.
constexpr bool transposedWins(ScanPath path, int count, std::int64_t step) {
  return path == ScanPath::avx512 ? transposedIn(kAvx512Bands, count, step)
         : path == ScanPath::avx2 ? transposedIn(kAvx2Bands, count, step)
                                  : false;
}
