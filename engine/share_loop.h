// What every kernel file shares: the loop over one worker's share with a Scan per table entry, and
// the scalar scan. Everything here has internal linkage, so each kernel file compiles its own copy
// for its own target and the linker cannot merge one file's instance into another's.
#pragma once

#include <cstdint>
#include <cstring>

#include "record_writes.h"

namespace {

// One worker's share, with a Scan made once for it from the list: for one table entry, firstMatch
// gives the position of the first list entry with the same key, or -1. The result is chosen on the
// bits, so no value passes through arithmetic. The scan is inlined into each path's flattened share
// function, so it may use that path's instructions.
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

// The transposed shares: scanning one entry at a time, a short list costs little but the fixed work
// around it (the entry's key broadcast and converted, a list of 4 filling half a block). These
// shares take a block of the worker's own entries at a time, in two vectors, their keys converted
// once; then for each list position j upward, list[j] is broadcast into each vector and converted
// there, so every lane converts its own copy of list[j] for its own comparison, and keeps the first
// position that matches. The compiler must not merge the two vectors' conversions of one list
// entry, nor hoist one out of the loop over the table, as it would for a value it can see is the
// same: each broadcast passes through an empty volatile asm statement (opaque), which is never
// merged or hoisted. A block of the transposed shares stops after every kChunk list entries once
// all its lanes have matched: later entries cannot lower a first match. Early matches then cost
// about what the per-entry scan's exits cost, at one test per kChunk entries.
constexpr int kChunk = 16;

// The key of a value: truncation toward zero to int32; -2^31 for NaN, +-inf and values whose
// truncation does not fit. A plain cast is undefined for those (and differs between x86 and ARM),
// so the range is tested first: every x in (-2^31 - 1, 2^31) truncates into int32, and NaN fails
// both comparisons.
inline std::int32_t relabelKey(double x) {
  return (x > -2147483649.0 && x < 2147483648.0) ? static_cast<std::int32_t>(x) : INT32_MIN;
}

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
