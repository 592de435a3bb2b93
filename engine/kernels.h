// The kernel files' entry points, for the chooser alone: one file and one namespace per instruction
// set, each returning RelabelShare functions (scan.h).
#pragma once

#include <cstdint>

#include "scan.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// The vector paths rely on the x86 truncating conversions (cvttpd2dq, cvttsd2si): they truncate
// toward zero and return 0x80000000 for NaN and for every value whose truncation does not fit in
// int32 -- exactly relabelKey's rule, without a range test, for the table entry and the list
// entries alike.
#define RELABEL_X86_VECTOR 1
#endif

namespace kernels::generic {  // any processor, in plain C++
void share(const double* table, std::int64_t first, std::int64_t n, std::int64_t step,
           const double* list, int count, double* result);
}  // namespace kernels::generic

#ifdef RELABEL_X86_VECTOR
// Each set: whether the processor has it; the per-entry share for any count (the shortest lists
// take the scalar loop); the transposed share for a step, 16 (AVX-512) or 8 (AVX2) entries a block.
namespace kernels::avx512 {
bool supported();
RelabelShare perEntryShare(int count);
RelabelShare transposedShare(std::int64_t step);
}  // namespace kernels::avx512

namespace kernels::avx2 {
bool supported();
RelabelShare perEntryShare(int count);
RelabelShare transposedShare(std::int64_t step);
}  // namespace kernels::avx2
#endif
