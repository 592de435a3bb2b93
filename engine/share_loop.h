// What every kernel file shares: the loop over one worker's share with a Scan
// per table entry, the scalar scan, and the test builds' write recording.
// Everything here has internal linkage, so each kernel file compiles its own
// copy for its own target and the linker cannot merge one file's instance
// into another's.
#pragma once

#include <cstdint>
#include <cstring>

#include "key.h"
#include "record_writes.h"

namespace {

// Test builds only: records a write of result entry i (see record_writes.h).
inline void recordWrite(std::int64_t i) {
#ifdef RELABEL_RECORD_WRITERS
  relabelRecordWrite(i);
#else
  (void)i;
#endif
}

// One worker's share: entries first, first + step, ... below n. A Scan is made
// once for the share from the list, and answers for one table entry the
// position of the first list entry with the same key, or -1: it computes the
// entry's key once and each list entry's key for its own comparison. Each
// entry's result is either its own exact bit pattern (NaN payloads and -0.0
// survive) or that position + 1; the choice is made on the bits, so no value
// passes through arithmetic. The scan is inlined into each path's instance
// (the path's function is flattened), so it may use that path's instructions.
template <class Scan>
inline void shareLoop(const double* table, std::int64_t first, std::int64_t n, std::int64_t step,
                      const Scan& scan, double* result) {
  for (std::int64_t i = first; i < n; i += step) {
    const double entry = table[i];
    const int pos = scan.firstMatch(entry);
    std::uint64_t bits;
    std::memcpy(&bits, &entry, sizeof bits);
    const double position = static_cast<double>(pos) + 1.0;
    std::uint64_t positionBits;
    std::memcpy(&positionBits, &position, sizeof positionBits);
    bits = pos >= 0 ? positionBits : bits;
    std::memcpy(&result[i], &bits, sizeof bits);
    recordWrite(i);
  }
}

// A block of the transposed shares stops after every kChunk list entries once
// all its lanes have matched: later entries cannot lower a first match. A list
// whose matches come early then costs about what the per-entry scan's exits
// cost; on random matches a block rarely stops (its lanes' last match is near
// the list's end), and the check is one test per kChunk entries.
constexpr int kChunk = 16;

struct ScanScalar {
  const double* list;
  int count;
  int firstMatch(double entry) const {
    const std::int32_t key = relabelKey(entry);
    for (int j = 0; j < count; ++j)
      if (relabelKey(list[j]) == key) return j;
    return -1;
  }
};

}  // namespace
