// The loop that renumbers one worker's share of a table, in a scalar and in
// vector forms.
#pragma once

#include <cstdint>

// Renumbers the entries first, first + step, ... below n of table into result
// (see relabelParallel for the rule). For each entry the list is scanned
// upward from position 0 and the scan stops at the first match; the key of
// each list entry is computed as it is compared. Reads nothing outside
// table/result[0..n) and list[0..count).
using RelabelShare = void (*)(const double* table, std::int64_t first, std::int64_t n,
                              std::int64_t step, const double* list, int count, double* result);

// Where a worker starts its share `first` of a team of `step` (first < step,
// first < n): first/step of the way through, at one of its own entries; it
// runs from there to n, then from `first` up to there. The shares of a team
// then write different parts of the result at any moment: started together at
// the front, they would write the same cache lines at the same time, and a
// line would move between their caches once per write rather than once per
// worker.
inline std::int64_t shareRestart(std::int64_t first, std::int64_t n, std::int64_t step) {
  const std::int64_t entries = (n - first + step - 1) / step;
  return first + entries * first / step * step;
}

enum class ScanPath { scalar, avx2, avx512 };

// Whether this build and this processor can run a path.
bool scanPathSupported(ScanPath path);
// The path relabelWorker uses: at load, the widest supported one. Switching is
// for tests and benchmarks, between calls, to paths that are supported
// (returns false and changes nothing otherwise).
ScanPath scanPathInUse();
bool useScanPath(ScanPath path);
const char* scanPathName(ScanPath path);

// How the vector paths lay a share out against a short list: one entry at a
// time against blocks of the list, or transposed, 16 (AVX-512) or 8 (AVX2) of
// the share's entries at a time against each list entry in turn. automatic
// chooses by path, list length and step, as measured; forcing one is for tests
// and benchmarks, between calls. The scalar path has one layout only.
enum class ShareLayout { automatic, perEntry, transposed };
ShareLayout shareLayoutInUse();
void useShareLayout(ShareLayout layout);

// How the AVX-512 transposed shares compare a list entry's conversions with
// their 16 entries' keys: joined into one 16-lane compare, or in two halves of
// 8. Both give the same results; automatic takes the joined form, which
// measured faster on every processor tried. Forcing one is for tests and
// benchmarks, between calls. The AVX2 shares have one form.
enum class TransposedCompare { automatic, joined, halves };
TransposedCompare transposedCompareInUse();
void useTransposedCompare(TransposedCompare form);

// What the path and layout in use run for a list of `count` entries and a
// share's step: lists too short for a path's vectors use the scalar loop.
RelabelShare shareFor(int count, std::int64_t step);
