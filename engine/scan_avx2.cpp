// The AVX2 kernels, for processors without AVX-512. Every function carries its target attribute, so
// this file builds with the baseline flags and runs only where the chooser found AVX2.
#include "kernels.h"

#ifdef RELABEL_X86_VECTOR
#include <immintrin.h>

#include "share_loop.h"

namespace kernels::avx2 {
namespace {

#define RELABEL_AVX2 __attribute__((target("avx2"), always_inline)) inline

// Match bits of the kWidth (4 or 16) entries at p.
template <int kWidth>
RELABEL_AVX2 std::uint32_t bits(const double* p, __m128i k) {
  std::uint32_t m = 0;
  for (int b = 0; b < kWidth; b += 4) {
    const __m128i eq = _mm_cmpeq_epi32(_mm256_cvttpd_epi32(_mm256_loadu_pd(p + b)), k);
    m |= static_cast<std::uint32_t>(_mm_movemask_ps(_mm_castsi128_ps(eq))) << b;
  }
  return m;
}

// The first match in list[0..count), count >= kWidth, kWidth entries a branch; the last kWidth end
// with the list and overlap the ones before, which did not match.
template <int kWidth>
RELABEL_AVX2 int firstIn(const double* list, int count, __m128i k) {
  int j = 0;
  for (; j < count - kWidth; j += kWidth)
    if (const std::uint32_t m = bits<kWidth>(list + j, k)) return j + __builtin_ctz(m);
  const std::uint32_t m = bits<kWidth>(list + count - kWidth, k);
  return m ? count - kWidth + __builtin_ctz(m) : -1;
}

// Lists of 4 entries or more: in groups of 16, or blocks of 4 below 16.
struct ScanAvx2 {
  const double* list;
  int count;
  __attribute__((target("avx2"))) int firstMatch(double entry) const {
    const __m128i k = _mm_set1_epi32(_mm_cvttsd_si32(_mm_set_sd(entry)));
    return count >= 16 ? firstIn<16>(list, count, k) : firstIn<4>(list, count, k);
  }
};

__attribute__((target("avx2"), flatten)) void shareAvx2(const double* table, std::int64_t first,
                                                        std::int64_t n, std::int64_t step,
                                                        const double* list, int count,
                                                        double* result) {
  shareLoop(table, first, n, step, ScanAvx2{list, count}, result);
}

// The transposed shares (share_loop.h) in blocks of two vectors of 4 of the share's entries (one,
// three or four vectors measured slower); the two conversions of list[j] are joined to compare all
// 8 lanes at once, which measured faster than comparing the halves apart. Without unsigned minima
// or masks, a lane keeps the largest rank count - j of a matching j (and, signed maximum), 0 while
// there is none: the largest rank is the lowest position.
RELABEL_AVX2 __m256d opaque(__m256d v) {
  asm volatile("" : "+x"(v));
  return v;
}

// Two vectors of 4 keys as one of 8, low then high.
RELABEL_AVX2 __m256i join(__m128i low, __m128i high) {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
}

// Half `half` of a block's results: the positions where a rank was kept, the entries' own bits
// where `missing` is set.
RELABEL_AVX2 __m256d choose(__m256i positions, __m256i missing, int half, __m256d values) {
  const __m128i p =
      half ? _mm256_extracti128_si256(positions, 1) : _mm256_castsi256_si128(positions);
  const __m128i m = half ? _mm256_extracti128_si256(missing, 1) : _mm256_castsi256_si128(missing);
  return _mm256_blendv_pd(_mm256_cvtepi32_pd(p), values,
                          _mm256_castsi256_pd(_mm256_cvtepi32_epi64(m)));
}

// How four of a share's entries, i, i + step, ..., i + 3 * step, are read and written; fits(i, n)
// says whether the 8 entries from i lie below n. Entries4 takes any step, element by element,
// touching only the share's own entries.
struct Entries4 {
  std::int64_t step;
  explicit Entries4(std::int64_t step) : step(step) {}
  bool fits(std::int64_t i, std::int64_t n) const { return i + 7 * step < n; }
  RELABEL_AVX2 __m256d load(const double* table, std::int64_t i) const {
    const double* p = table + i;
    return _mm256_set_pd(p[3 * step], p[2 * step], p[step], p[0]);
  }
  RELABEL_AVX2 void store(double* result, std::int64_t i, __m256d v) const {
    const __m128d low = _mm256_castpd256_pd128(v), high = _mm256_extractf128_pd(v, 1);
    _mm_storel_pd(result + i, low);
    _mm_storeh_pd(result + i + step, low);
    _mm_storel_pd(result + i + 2 * step, high);
    _mm_storeh_pd(result + i + 3 * step, high);
  }
};

struct ContiguousEntries4 {  // step 1
  explicit ContiguousEntries4(std::int64_t) {}
  bool fits(std::int64_t i, std::int64_t n) const { return i + 8 <= n; }
  RELABEL_AVX2 __m256d load(const double* table, std::int64_t i) const {
    return _mm256_loadu_pd(table + i);
  }
  RELABEL_AVX2 void store(double* result, std::int64_t i, __m256d v) const {
    _mm256_storeu_pd(result + i, v);
  }
};

template <class Entries>
__attribute__((target("avx2"), flatten)) void shareTransposedAvx2(const double* table,
                                                                  std::int64_t first,
                                                                  std::int64_t n, std::int64_t step,
                                                                  const double* list, int count,
                                                                  double* result) {
  constexpr int kLanes = 8;
  const Entries entries(step);
  const __m256i none = _mm256_setzero_si256(), one = _mm256_set1_epi32(1),
                last = _mm256_set1_epi32(count);
  std::int64_t i = first;
  for (; entries.fits(i, n); i += kLanes * step) {
    const __m256d low = entries.load(table, i), high = entries.load(table, i + 4 * step);
    const __m256i keys = join(_mm256_cvttpd_epi32(low), _mm256_cvttpd_epi32(high));
    __m256i best = none, rank = last;
    for (int j = 0; j < count;) {
      for (const int end = j + kChunk < count ? j + kChunk : count; j < end; ++j) {
        const __m256i listKeys = join(_mm256_cvttpd_epi32(opaque(_mm256_set1_pd(list[j]))),
                                      _mm256_cvttpd_epi32(opaque(_mm256_set1_pd(list[j]))));
        best = _mm256_max_epi32(best, _mm256_and_si256(_mm256_cmpeq_epi32(keys, listKeys), rank));
        rank = _mm256_sub_epi32(rank, one);
      }
      if (j < count && !_mm256_movemask_epi8(_mm256_cmpeq_epi32(best, none))) break;
    }
    // Position count - rank + 1; the entry's own bits where no rank was kept.
    const __m256i positions = _mm256_add_epi32(_mm256_sub_epi32(last, best), one);
    const __m256i missing = _mm256_cmpeq_epi32(best, none);
    entries.store(result, i, choose(positions, missing, 0, low));
    entries.store(result, i + 4 * step, choose(positions, missing, 1, high));
    for (int k = 0; k < kLanes; ++k) recordWrite(i + k * step);
  }
  shareLoop(table, i, n, step, ScanScalar{list, count}, result);
}

}  // namespace

bool supported() {
  return __builtin_cpu_supports("avx2");
}

// The AVX2 scan gains only from a whole block of 4.
RelabelShare perEntryShare(int count) {
  return count < 4 ? kernels::generic::share : shareAvx2;
}

RelabelShare transposedShare(std::int64_t step) {
  // Step 1 reads and writes whole vectors; a step-2 form with paired loads gained under 1.06x
  // (docs/tuning.md), so every other step goes element-wise.
  return step == 1 ? shareTransposedAvx2<ContiguousEntries4> : shareTransposedAvx2<Entries4>;
}

}  // namespace kernels::avx2
#endif
