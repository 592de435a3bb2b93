// The kernel files' entry points, for the chooser alone: one file, and one
// namespace, per instruction set. Each returns a share function with the
// contract of RelabelShare (scan.h).
#pragma once

#include <cstdint>

#include "scan.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// The vector paths rely on the x86 truncating conversions (cvttpd2dq,
// cvttsd2si): they truncate toward zero and return 0x80000000 for NaN and for
// every value whose truncation does not fit in int32 -- exactly relabelKey's
// rule, without a range test, for the table entry and the list entries alike.
#define RELABEL_X86_VECTOR 1
#endif

namespace kernels::generic {
// Any processor: each entry against the list in order, in plain C++.
void share(const double* table, std::int64_t first, std::int64_t n, std::int64_t step,
           const double* list, int count, double* result);
}  // namespace kernels::generic

#ifdef RELABEL_X86_VECTOR
namespace kernels::avx512 {
// One entry at a time against the list; count >= 1.
RelabelShare perEntryShare(int count);
// 16 of the share's entries against each list entry in turn, for this step,
// with the joined or the halves compare form.
RelabelShare transposedShare(std::int64_t step, bool joined);
}  // namespace kernels::avx512

namespace kernels::avx2 {
RelabelShare perEntryShare();
// 8 of the share's entries against each list entry in turn, for this step.
RelabelShare transposedShare(std::int64_t step);
}  // namespace kernels::avx2
#endif
