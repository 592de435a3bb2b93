// The loop that renumbers one worker's share of a table, and the choice of the form that runs it.
#pragma once

#include <cstdint>

// Renumbers the entries first, first + step, ... below n of table into result (the rule of
// relabelParallel), scanning the list upward from position 0 for each entry, with each list entry's
// key computed as it is compared. Reads nothing outside table/result[0..n) and list[0..count).
using RelabelShare = void (*)(const double* table, std::int64_t first, std::int64_t n,
                              std::int64_t step, const double* list, int count, double* result);

// Where a worker starts its share `first` of a team of `step` (first < step, first < n): first/step
// of the way through, at one of its own entries; it runs from there to n, then from `first` up to
// there. Started together at the front, a team's shares would write the same cache lines at the
// same time, and each line would move between their caches once per write.
inline std::int64_t shareRestart(std::int64_t first, std::int64_t n, std::int64_t step) {
  const std::int64_t entries = (n - first + step - 1) / step;
  return first + entries * first / step * step;
}

// The share function for a list of `count` entries (>= 0) at a share's step (>= 1): the widest
// instruction set this processor has, laid out as that set's rule says (layout_rule.h). Never null.
RelabelShare shareFor(int count, std::int64_t step);
