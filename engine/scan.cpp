#include "scan.h"

#include <cstring>

#include "key.h"

#ifdef RELABEL_RECORD_WRITERS
#include <omp.h>

#include "relabel.h"
#endif

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define RELABEL_X86_VECTOR 1
#include <immintrin.h>
// GCC 12 warns inside its own _mm512_cvttpd_epi32, which starts from an
// undefined vector that the conversion overwrites completely.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#endif

namespace {

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
#ifdef RELABEL_RECORD_WRITERS
    if (relabelWriter && relabelWriteCount) {
      relabelWriter[i] = omp_get_thread_num();
      relabelWriteCount[i].fetch_add(1);
    }
#endif
  }
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

void shareScalar(const double* table, std::int64_t first, std::int64_t n, std::int64_t step,
                 const double* list, int count, double* result) {
  shareLoop(table, first, n, step, ScanScalar{list, count}, result);
}

#ifdef RELABEL_X86_VECTOR
// The vector paths rely on the x86 truncating conversions (cvttpd2dq,
// cvttsd2si): they truncate toward zero and return 0x80000000 for NaN and for
// every value whose truncation does not fit in int32 -- exactly relabelKey's
// rule, without a range test, for the table entry and the list entries alike.

// Helpers are forced inline; the scans are inlined where the flattened share
// function that uses them is compiled (forcing them would fail in the generic
// share loop, which has no target of its own).
#define RELABEL_AVX512_TARGET __attribute__((target("avx512f,avx512vl,avx2,bmi")))
#define RELABEL_AVX512 RELABEL_AVX512_TARGET __attribute__((always_inline)) inline

// Keys of the 8 entries at p.
RELABEL_AVX512 __m256i keys8(const double* p) {
  return _mm512_cvttpd_epi32(_mm512_loadu_pd(p));
}

// One bit per lane of a compare result.
RELABEL_AVX512 std::uint64_t bits8(__m256i equal) {
  return static_cast<std::uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(equal)));
}

// The list is walked in groups of 64 entries: eight blocks of 8 keys are
// compared as vectors and OR-ed, so a group costs one branch, and only the
// group that matches is searched for its lowest set lane, the first match.
// Vector compares rather than compares into mask registers: on Intel the
// 512-bit conversion already occupies the port that mask compares, inserts and
// mask shuffles need, and these forms keep that port to one operation per 8
// lanes (conversion 1, compare 0, OR 0 on that port); on AMD both forms cost
// the same. What follows the groups is compared block by block without an
// exit, so a list's branches depend only on its length and a short list costs
// no mispredicted exit; how many blocks there are, and which lanes of a last
// partial block are real, is worked out once per share, not per entry.
struct ScanAvx512 {
  const double* list;
  int groupsEnd;       // list entries covered by whole groups of 64
  int blocks;          // whole blocks of 8 after them
  __mmask8 lastLanes;  // lanes of a final partial block (0: none)

  ScanAvx512(const double* list, int count)
      : list(list),
        groupsEnd(count / 64 * 64),
        blocks(count % 64 / 8),
        lastLanes(static_cast<__mmask8>((1u << (count % 8)) - 1)) {}

  RELABEL_AVX512_TARGET int firstMatch(double entry) const {
    // The entry's key in every lane, converted by the same instruction.
    const __m256i k = _mm512_cvttpd_epi32(_mm512_set1_pd(entry));
    int j = 0;
    for (; j < groupsEnd; j += 64) {
      const double* p = list + j;
      const __m256i e0 = _mm256_cmpeq_epi32(keys8(p), k);
      const __m256i e1 = _mm256_cmpeq_epi32(keys8(p + 8), k);
      const __m256i e2 = _mm256_cmpeq_epi32(keys8(p + 16), k);
      const __m256i e3 = _mm256_cmpeq_epi32(keys8(p + 24), k);
      const __m256i e4 = _mm256_cmpeq_epi32(keys8(p + 32), k);
      const __m256i e5 = _mm256_cmpeq_epi32(keys8(p + 40), k);
      const __m256i e6 = _mm256_cmpeq_epi32(keys8(p + 48), k);
      const __m256i e7 = _mm256_cmpeq_epi32(keys8(p + 56), k);
      const __m256i any =
          _mm256_or_si256(_mm256_or_si256(_mm256_or_si256(e0, e1), _mm256_or_si256(e2, e3)),
                          _mm256_or_si256(_mm256_or_si256(e4, e5), _mm256_or_si256(e6, e7)));
      if (!_mm256_testz_si256(any, any)) {
        const std::uint64_t m = bits8(e0) | bits8(e1) << 8 | bits8(e2) << 16 | bits8(e3) << 24 |
                                bits8(e4) << 32 | bits8(e5) << 40 | bits8(e6) << 48 |
                                bits8(e7) << 56;
        return j + __builtin_ctzll(m);
      }
    }
    const double* p = list + j;
    std::uint64_t m = 0;
    for (int b = 0; b < blocks; ++b) m |= bits8(_mm256_cmpeq_epi32(keys8(p + 8 * b), k)) << (8 * b);
    if (lastLanes) {
      // Masked-off lanes are neither loaded (nothing past count is touched)
      // nor compared (their zeros would otherwise match key 0).
      const __m256i keys = _mm512_cvttpd_epi32(_mm512_maskz_loadu_pd(lastLanes, p + 8 * blocks));
      m |= std::uint64_t{_mm256_mask_cmpeq_epi32_mask(lastLanes, keys, k)} << (8 * blocks);
    }
    return m ? j + __builtin_ctzll(m) : -1;
  }
};

// Lists of at most 64 entries: kBlocks whole blocks of 8, and a final partial
// one when kPartial, all compared without a branch; one instance per shape, so
// nothing about the list's length is looked at per entry.
template <int kBlocks, bool kPartial>
struct ScanAvx512Short {
  const double* list;
  __mmask8 lastLanes;

  RELABEL_AVX512_TARGET int firstMatch(double entry) const {
    const __m256i k = _mm512_cvttpd_epi32(_mm512_set1_pd(entry));
    std::uint64_t m = 0;
    for (int b = 0; b < kBlocks; ++b)
      m |= bits8(_mm256_cmpeq_epi32(keys8(list + 8 * b), k)) << (8 * b);
    if (kPartial) {
      const __m256i keys =
          _mm512_cvttpd_epi32(_mm512_maskz_loadu_pd(lastLanes, list + 8 * kBlocks));
      m |= std::uint64_t{_mm256_mask_cmpeq_epi32_mask(lastLanes, keys, k)} << (8 * kBlocks);
    }
    // tzcnt of an empty mask is 64; the share loop keeps the entry then.
    const int first = static_cast<int>(_tzcnt_u64(m));
    return m ? first : -1;
  }
};

template <int kBlocks, bool kPartial>
RELABEL_AVX512_TARGET __attribute__((flatten)) void shareAvx512Short(
    const double* table, std::int64_t first, std::int64_t n, std::int64_t step, const double* list,
    int count, double* result) {
  const ScanAvx512Short<kBlocks, kPartial> scan{list,
                                                static_cast<__mmask8>((1u << (count % 8)) - 1)};
  shareLoop(table, first, n, step, scan, result);
}

// The short-list share for count entries, 1 to 64.
RelabelShare shareAvx512ShortFor(int count) {
  static constexpr RelabelShare byShape[9][2] = {
      {nullptr, shareAvx512Short<0, true>},
      {shareAvx512Short<1, false>, shareAvx512Short<1, true>},
      {shareAvx512Short<2, false>, shareAvx512Short<2, true>},
      {shareAvx512Short<3, false>, shareAvx512Short<3, true>},
      {shareAvx512Short<4, false>, shareAvx512Short<4, true>},
      {shareAvx512Short<5, false>, shareAvx512Short<5, true>},
      {shareAvx512Short<6, false>, shareAvx512Short<6, true>},
      {shareAvx512Short<7, false>, shareAvx512Short<7, true>},
      {shareAvx512Short<8, false>, nullptr}};
  return byShape[count / 8][count % 8 != 0];
}

RELABEL_AVX512_TARGET __attribute__((flatten)) void shareAvx512(const double* table,
                                                                std::int64_t first, std::int64_t n,
                                                                std::int64_t step,
                                                                const double* list, int count,
                                                                double* result) {
  shareLoop(table, first, n, step, ScanAvx512(list, count), result);
}

#define RELABEL_AVX2 __attribute__((target("avx2"), always_inline)) inline

// Match bits of the four entries at p.
RELABEL_AVX2 std::uint32_t bits4(const double* p, __m128i k) {
  const __m128i eq = _mm_cmpeq_epi32(_mm256_cvttpd_epi32(_mm256_loadu_pd(p)), k);
  return static_cast<std::uint32_t>(_mm_movemask_ps(_mm_castsi128_ps(eq)));
}

struct ScanAvx2 {
  const double* list;
  int count;
  __attribute__((target("avx2"))) int firstMatch(double entry) const {
    const std::int32_t key = _mm_cvttsd_si32(_mm_set_sd(entry));
    const __m128i k = _mm_set1_epi32(key);
    int j = 0;
    for (; j + 16 <= count; j += 16) {
      const double* p = list + j;
      const std::uint32_t m =
          bits4(p, k) | bits4(p + 4, k) << 4 | bits4(p + 8, k) << 8 | bits4(p + 12, k) << 12;
      if (m) return j + __builtin_ctz(m);
    }
    for (; j + 4 <= count; j += 4) {
      const std::uint32_t m = bits4(list + j, k);
      if (m) return j + __builtin_ctz(m);
    }
    for (; j < count; ++j)
      if (_mm_cvttsd_si32(_mm_set_sd(list[j])) == key) return j;
    return -1;
  }
};

__attribute__((target("avx2"), flatten)) void shareAvx2(const double* table, std::int64_t first,
                                                        std::int64_t n, std::int64_t step,
                                                        const double* list, int count,
                                                        double* result) {
  shareLoop(table, first, n, step, ScanAvx2{list, count}, result);
}
#endif

ScanPath widestSupported() {
  if (scanPathSupported(ScanPath::avx512)) return ScanPath::avx512;
  if (scanPathSupported(ScanPath::avx2)) return ScanPath::avx2;
  return ScanPath::scalar;
}

ScanPath current = widestSupported();

// Lists shorter than this go to the scalar loop, which wins for a single entry
// (nothing to mispredict). The AVX-512 scan handles any length with masked
// loads; the AVX2 one needs a whole block of 4 to gain.
constexpr int kAvx512Minimum = 2;
constexpr int kAvx512Short = 64;
constexpr int kAvx2Minimum = 4;

}  // namespace

bool scanPathSupported(ScanPath path) {
  switch (path) {
    case ScanPath::scalar:
      return true;
#ifdef RELABEL_X86_VECTOR
    case ScanPath::avx2:
      return __builtin_cpu_supports("avx2");
    case ScanPath::avx512:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
             __builtin_cpu_supports("bmi");
#else
    default:
      return false;
#endif
  }
  return false;
}

ScanPath scanPathInUse() {
  return current;
}

bool useScanPath(ScanPath path) {
  if (!scanPathSupported(path)) return false;
  current = path;
  return true;
}

const char* scanPathName(ScanPath path) {
  switch (path) {
    case ScanPath::scalar:
      return "scalar";
    case ScanPath::avx2:
      return "avx2";
    case ScanPath::avx512:
      return "avx512";
  }
  return "?";
}

RelabelShare shareFor(int count) {
#ifdef RELABEL_X86_VECTOR
  if (count >= kAvx512Minimum && current == ScanPath::avx512)
    return count <= kAvx512Short ? shareAvx512ShortFor(count) : shareAvx512;
  if (count >= kAvx2Minimum && current == ScanPath::avx2) return shareAvx2;
#else
  (void)count;
#endif
  return shareScalar;
}
