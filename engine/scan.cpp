#include "scan.h"

#include <cstring>

#include "key.h"

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

// Copies the entry's bits, then overwrites them with the 1-based position of
// the first match, if any. memcpy keeps NaN payloads and -0.0 exactly.
#define RELABEL_SHARE_LOOP(scan)                              \
  for (std::int64_t i = first; i < n; i += step) {            \
    std::memcpy(&result[i], &table[i], sizeof(double));       \
    const int pos = scan(relabelKey(table[i]), list, count);  \
    if (pos >= 0) result[i] = static_cast<double>(pos) + 1.0; \
  }

inline int scanScalar(std::int32_t key, const double* list, int count) {
  for (int j = 0; j < count; ++j)
    if (relabelKey(list[j]) == key) return j;
  return -1;
}

void shareScalar(const double* table, std::int64_t first, std::int64_t n, std::int64_t step,
                 const double* list, int count, double* result) {
  RELABEL_SHARE_LOOP(scanScalar)
}

#ifdef RELABEL_X86_VECTOR
// Both vector scans rely on the x86 truncating conversion (cvttpd2dq): it
// truncates toward zero and returns 0x80000000 for NaN and for every value
// whose truncation does not fit in int32 -- exactly relabelKey's rule, without
// a range test. The list is walked in groups of blocks; the blocks' compare
// results are OR-ed so that a group costs one branch, and only the group that
// matches is searched for its lowest set lane, which is the first match.

#define RELABEL_AVX512 __attribute__((target("avx512f,avx512vl"), always_inline)) inline

// Keys of the 16 entries at p, in one vector.
RELABEL_AVX512 __m512i keys16(const double* p) {
  const __m512i low = _mm512_castsi256_si512(_mm512_cvttpd_epi32(_mm512_loadu_pd(p)));
  return _mm512_inserti64x4(low, _mm512_cvttpd_epi32(_mm512_loadu_pd(p + 8)), 1);
}

RELABEL_AVX512 int scanAvx512(std::int32_t key, const double* list, int count) {
  const __m512i k = _mm512_set1_epi32(key);
  int j = 0;
  for (; j + 64 <= count; j += 64) {
    const double* p = list + j;
    const __mmask16 m0 = _mm512_cmpeq_epi32_mask(keys16(p), k);
    const __mmask16 m1 = _mm512_cmpeq_epi32_mask(keys16(p + 16), k);
    const __mmask16 m2 = _mm512_cmpeq_epi32_mask(keys16(p + 32), k);
    const __mmask16 m3 = _mm512_cmpeq_epi32_mask(keys16(p + 48), k);
    if (!_mm512_kortestz(_mm512_kor(m0, m1), _mm512_kor(m2, m3))) {
      const std::uint64_t m = std::uint64_t{m0} | std::uint64_t{m1} << 16 |
                              std::uint64_t{m2} << 32 | std::uint64_t{m3} << 48;
      return j + __builtin_ctzll(m);
    }
  }
  // Fewer than 64 left: up to four chunks of 16 whose masks are gathered
  // without an early exit, so the branches depend only on count and a short
  // list costs no mispredicted exit. Masked-off lanes are neither loaded (so
  // nothing past count is touched) nor compared (their zeros would otherwise
  // match key 0).
  std::uint64_t m = 0;
  int b = 0;
  for (; j + 16 * b + 16 <= count; ++b)
    m |= std::uint64_t{_mm512_cmpeq_epi32_mask(keys16(list + j + 16 * b), k)} << (16 * b);
  if (j + 16 * b < count) {
    const std::uint32_t lanes = (1u << (count - j - 16 * b)) - 1;
    const double* p = list + j + 16 * b;
    const __m512i keys = _mm512_inserti64x4(
        _mm512_castsi256_si512(
            _mm512_cvttpd_epi32(_mm512_maskz_loadu_pd(static_cast<__mmask8>(lanes), p))),
        _mm512_cvttpd_epi32(_mm512_maskz_loadu_pd(static_cast<__mmask8>(lanes >> 8), p + 8)), 1);
    m |= std::uint64_t{_mm512_mask_cmpeq_epi32_mask(static_cast<__mmask16>(lanes), keys, k)}
         << (16 * b);
  }
  return m ? j + __builtin_ctzll(m) : -1;
}

__attribute__((target("avx512f,avx512vl"))) void shareAvx512(const double* table,
                                                             std::int64_t first, std::int64_t n,
                                                             std::int64_t step, const double* list,
                                                             int count, double* result) {
  RELABEL_SHARE_LOOP(scanAvx512)
}

#define RELABEL_AVX2 __attribute__((target("avx2"), always_inline)) inline

// Match bits of the four entries at p.
RELABEL_AVX2 std::uint32_t bits4(const double* p, __m128i k) {
  const __m128i eq = _mm_cmpeq_epi32(_mm256_cvttpd_epi32(_mm256_loadu_pd(p)), k);
  return static_cast<std::uint32_t>(_mm_movemask_ps(_mm_castsi128_ps(eq)));
}

RELABEL_AVX2 int scanAvx2(std::int32_t key, const double* list, int count) {
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
    if (relabelKey(list[j]) == key) return j;
  return -1;
}

__attribute__((target("avx2"))) void shareAvx2(const double* table, std::int64_t first,
                                               std::int64_t n, std::int64_t step,
                                               const double* list, int count,
                                               double* result){RELABEL_SHARE_LOOP(scanAvx2)}
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
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl");
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
  if (count >= kAvx512Minimum && current == ScanPath::avx512) return shareAvx512;
  if (count >= kAvx2Minimum && current == ScanPath::avx2) return shareAvx2;
#else
  (void)count;
#endif
  return shareScalar;
}
