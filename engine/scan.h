// The loop that renumbers one worker's share of a table, in a scalar and in
// vector forms, and the choice among them.
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

// The share function for a list of `count` entries (>= 0) and a share's step
// (>= 1): the widest path this processor runs, laid out per entry or
// transposed as its processor class's layout rule says (layout_rule.h); lists
// too short for a path's vectors use the scalar loop. Never null.
RelabelShare shareFor(int count, std::int64_t step);
