// The AVX-512 kernels: the per-entry scans (groups of 64 for long lists, one branch-free instance
// per shape up to 64) and the transposed shares. Every function carries its target attribute, so
// this file builds with the baseline flags and runs only where the chooser found AVX-512.
#include "kernels.h"

#ifdef RELABEL_X86_VECTOR
#include <immintrin.h>

#include <array>
#include <utility>

#include "share_loop.h"

// GCC 12 warns inside its own _mm512_cvttpd_epi32, which starts from an undefined vector that the
// conversion overwrites completely.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace kernels::avx512 {
namespace {

// Helpers are forced inline; the scans are inlined into the flattened share functions (forcing them
// would fail in the share loop, which has no target). Every processor with AVX-512 has PREFETCHW
// (older ones run it as a no-op).
#define RELABEL_AVX512_TARGET __attribute__((target("avx512f,avx512vl,avx2,bmi,prfchw")))
#define RELABEL_AVX512 RELABEL_AVX512_TARGET __attribute__((always_inline)) inline

// Keys of the 8 entries at p.
RELABEL_AVX512 __m256i keys8(const double* p) {
  return _mm512_cvttpd_epi32(_mm512_loadu_pd(p));
}

// One bit per lane of a compare result.
RELABEL_AVX512 std::uint64_t bits8(__m256i equal) {
  return static_cast<std::uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(equal)));
}

// The last r (1 to 7) entries of a list, at p, read with a masked load of 8 lanes; masked-off lanes
// are neither loaded (nothing outside the list is touched) nor compared (their zeros would
// otherwise match key 0). A masked load whose 64 bytes cross into the next page is very slow on
// some processors, even when every lane beyond the page is masked off, so such a block is read from
// a window that ends with the list instead: its real lanes are then the upper r, and its bits are
// shifted down. The window starts on the list's own page, and its lanes before the list are masked
// off too; since it may start before the list's first entry, its address is formed as an integer
// and only the masked load turns it into a pointer.
struct PartialBlock {
  std::uintptr_t at;
  __mmask8 lanes;
  unsigned shift;

  PartialBlock(const double* p, int r)
      : at(reinterpret_cast<std::uintptr_t>(p)),
        lanes(static_cast<__mmask8>((1u << r) - 1)),
        shift(0) {
    if (r > 0 && at % 4096 > 4096 - 64) {
      shift = 8u - static_cast<unsigned>(r);
      at -= shift * sizeof(double);
      lanes = static_cast<__mmask8>(lanes << shift);
    }
  }

  // One bit per real entry, lowest for the first, of the entries whose key is k.
  RELABEL_AVX512 std::uint64_t bits(__m256i k) const {
    const __m256i keys =
        _mm512_cvttpd_epi32(_mm512_maskz_loadu_pd(lanes, reinterpret_cast<const void*>(at)));
    return std::uint64_t{_mm256_mask_cmpeq_epi32_mask(lanes, keys, k)} >> shift;
  }
};

// Lists of more than 64 entries, walked in groups of 64: eight blocks of 8 keys are compared as
// vectors and OR-ed, so a group costs one branch, and only a group that matches is searched for its
// first match. Vector compares rather than compares into masks: on Intel the 512-bit conversion
// already occupies the port that mask compares need. The last group ends with the list and overlaps
// the one before, whose entries did not match.
struct ScanAvx512 {
  const double* list;
  int count;

  // The first match among the 64 entries at p, or -1.
  RELABEL_AVX512 static int group(const double* p, __m256i k) {
    __m256i equal[8], any = _mm256_setzero_si256();
    for (int b = 0; b < 8; ++b) {
      equal[b] = _mm256_cmpeq_epi32(keys8(p + 8 * b), k);
      any = _mm256_or_si256(any, equal[b]);
    }
    if (_mm256_testz_si256(any, any)) return -1;
    std::uint64_t m = 0;
    for (int b = 0; b < 8; ++b) m |= bits8(equal[b]) << (8 * b);
    return __builtin_ctzll(m);
  }

  RELABEL_AVX512_TARGET int firstMatch(double entry) const {
    const __m256i k = _mm512_cvttpd_epi32(_mm512_set1_pd(entry));
    int j = 0;
    for (; j < count - 64; j += 64)
      if (const int g = group(list + j, k); g >= 0) return j + g;
    const int g = group(list + count - 64, k);
    return g >= 0 ? count - 64 + g : -1;
  }
};

// Lists of at most 64 entries: kBlocks whole blocks of 8, and a final partial one when kPartial,
// compared without a branch: up to 2x faster than a loop over the blocks (docs/tuning.md).
template <int kBlocks, bool kPartial>
struct ScanAvx512Short {
  const double* list;
  PartialBlock last;

  RELABEL_AVX512_TARGET int firstMatch(double entry) const {
    const __m256i k = _mm512_cvttpd_epi32(_mm512_set1_pd(entry));
    std::uint64_t m = 0;
    for (int b = 0; b < kBlocks; ++b)
      m |= bits8(_mm256_cmpeq_epi32(keys8(list + 8 * b), k)) << (8 * b);
    if constexpr (kPartial) m |= last.bits(k) << (8 * kBlocks);
    // tzcnt of an empty mask is 64, so the choice needs no branch.
    const int first = static_cast<int>(_tzcnt_u64(m));
    return m ? first : -1;
  }
};

template <int kBlocks, bool kPartial>
RELABEL_AVX512_TARGET __attribute__((flatten)) void shareAvx512Short(
    const double* table, std::int64_t first, std::int64_t n, std::int64_t step, const double* list,
    int count, double* result) {
  const ScanAvx512Short<kBlocks, kPartial> scan{list, PartialBlock(list + 8 * kBlocks, count % 8)};
  shareLoop(table, first, n, step, scan, result);
}

RELABEL_AVX512_TARGET __attribute__((flatten)) void shareAvx512(const double* table,
                                                                std::int64_t first, std::int64_t n,
                                                                std::int64_t step,
                                                                const double* list, int count,
                                                                double* result) {
  shareLoop(table, first, n, step, ScanAvx512{list, count}, result);
}

// The transposed shares (share_loop.h), 16 entries at a time in two vectors.
RELABEL_AVX512 __m512d opaque(__m512d v) {
  asm volatile("" : "+v"(v));
  return v;
}

// Two vectors of 8 keys as one of 16, low then high.
RELABEL_AVX512 __m512i join(__m256i low, __m256i high) {
  return _mm512_inserti64x4(_mm512_castsi256_si512(low), high, 1);
}

// How a share's own entries i, i + step, ..., i + 15 * step are read and written, for one step or
// for any: fits(i, n) says whether every element the access touches lies below n.
struct ContiguousEntries {  // step 1: plain loads and stores
  explicit ContiguousEntries(std::int64_t) {}
  bool fits(std::int64_t i, std::int64_t n) const { return i + 16 <= n; }
  RELABEL_AVX512 void load(const double* table, std::int64_t i, __m512d& a, __m512d& b) const {
    a = _mm512_loadu_pd(table + i);
    b = _mm512_loadu_pd(table + i + 8);
  }
  RELABEL_AVX512 void store(double* result, std::int64_t i, __m512d a, __m512d b) const {
    _mm512_storeu_pd(result + i, a);
    _mm512_storeu_pd(result + i + 8, b);
  }
};

// Step 2: the even elements of 32 loaded, and written back with masked stores, which leave the
// other worker's entries untouched. A masked store to a line that is not in the cache waits for the
// line, so the lines 16 blocks ahead are fetched for writing first; out of cache this brings a team
// of 2 to its cyclic copy's rate, in cache it changes nothing (docs/tuning.md). Near a share's end
// those lines lie past n: prefetches never fault, and their addresses are formed as integers, never
// as pointers outside the result.
struct PairedEntries {
  explicit PairedEntries(std::int64_t) {}
  bool fits(std::int64_t i, std::int64_t n) const { return i + 32 <= n; }
  RELABEL_AVX512 static __m512d evens(const double* p) {
    const __m512i even = _mm512_set_epi64(14, 12, 10, 8, 6, 4, 2, 0);
    return _mm512_permutex2var_pd(_mm512_loadu_pd(p), even, _mm512_loadu_pd(p + 8));
  }
  RELABEL_AVX512 static void spread(double* p, __m512d v) {
    const __m512i low = _mm512_set_epi64(3, 3, 2, 2, 1, 1, 0, 0);
    const __m512i high = _mm512_set_epi64(7, 7, 6, 6, 5, 5, 4, 4);
    _mm512_mask_storeu_pd(p, 0x55, _mm512_permutexvar_pd(low, v));
    _mm512_mask_storeu_pd(p + 8, 0x55, _mm512_permutexvar_pd(high, v));
  }
  RELABEL_AVX512 void load(const double* table, std::int64_t i, __m512d& a, __m512d& b) const {
    a = evens(table + i);
    b = evens(table + i + 16);
  }
  RELABEL_AVX512 void store(double* result, std::int64_t i, __m512d a, __m512d b) const {
    const std::uintptr_t ahead = reinterpret_cast<std::uintptr_t>(result + i) + 16 * 32 * 8;
    for (int k = 0; k < 4; ++k)
      __builtin_prefetch(reinterpret_cast<const void*>(ahead + 64 * k), 1);
    spread(result + i, a);
    spread(result + i + 16, b);
  }
};

// Any step: element by element, into vectors and out of them (gathers and scatters measured
// slower).
struct LoadedEntries {
  std::int64_t step;
  explicit LoadedEntries(std::int64_t step) : step(step) {}
  bool fits(std::int64_t i, std::int64_t n) const { return i + 15 * step < n; }
  RELABEL_AVX512 static __m512d eight(const double* p, std::int64_t s) {
    return _mm512_set_pd(p[7 * s], p[6 * s], p[5 * s], p[4 * s], p[3 * s], p[2 * s], p[s], p[0]);
  }
  RELABEL_AVX512 void load(const double* table, std::int64_t i, __m512d& a, __m512d& b) const {
    a = eight(table + i, step);
    b = eight(table + i + 8 * step, step);
  }
  RELABEL_AVX512 void store(double* result, std::int64_t i, __m512d a, __m512d b) const {
    alignas(64) double out[16];
    _mm512_store_pd(out, a);
    _mm512_store_pd(out + 8, b);
    for (int k = 0; k < 16; ++k) result[i + k * step] = out[k];
  }
};

// How a block of 16 entries keeps, per lane, the lowest position j + 1 whose key equals the lane's
// (all ones while there is none), as list entries are compared in order: made from the block's two
// vectors a and b, then compare(list[j]) for j upward from 0, then the results for a and b, chosen
// on the bits. The two vectors' conversions of list[j] are joined into one register of 16 keys,
// compared with the 16 entries' keys at once into a fresh mask, and the earliest match is kept with
// a masked unsigned minimum: 8 vector operations per list entry (comparing the halves apart, in 11
// operations that spare Intel's port 5, measured slower everywhere: docs/tuning.md).
struct Firsts {
  __m512i keys, firsts, position;
  RELABEL_AVX512 Firsts(__m512d a, __m512d b)
      : keys(join(_mm512_cvttpd_epi32(a), _mm512_cvttpd_epi32(b))),
        firsts(_mm512_set1_epi32(-1)),
        position(_mm512_set1_epi32(1)) {}
  RELABEL_AVX512 void compare(double entry) {
    const __m512i listKeys = join(_mm512_cvttpd_epi32(opaque(_mm512_set1_pd(entry))),
                                  _mm512_cvttpd_epi32(opaque(_mm512_set1_pd(entry))));
    firsts =
        _mm512_mask_min_epu32(firsts, _mm512_cmpeq_epi32_mask(keys, listKeys), firsts, position);
    position = _mm512_add_epi32(position, _mm512_set1_epi32(1));
  }
  RELABEL_AVX512 __mmask16 found() const {
    return _mm512_cmpneq_epi32_mask(firsts, _mm512_set1_epi32(-1));
  }
  RELABEL_AVX512 bool all() const { return found() == 0xffff; }
  RELABEL_AVX512 __m512d low(__m512d a) const {
    return _mm512_mask_mov_pd(a, static_cast<__mmask8>(found()),
                              _mm512_cvtepi32_pd(_mm512_castsi512_si256(firsts)));
  }
  RELABEL_AVX512 __m512d high(__m512d b) const {
    return _mm512_mask_mov_pd(b, static_cast<__mmask8>(found() >> 8),
                              _mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(firsts, 1)));
  }
};

template <class Entries>
RELABEL_AVX512_TARGET __attribute__((flatten)) void shareTransposed(
    const double* table, std::int64_t first, std::int64_t n, std::int64_t step, const double* list,
    int count, double* result) {
  const Entries entries(step);
  std::int64_t i = first;
  for (; entries.fits(i, n); i += 16 * step) {
    __m512d a, b;
    entries.load(table, i, a, b);
    Firsts firsts(a, b);
    for (int j = 0; j < count;) {
      for (const int end = j + kChunk < count ? j + kChunk : count; j < end; ++j)
        firsts.compare(list[j]);
      if (j < count && firsts.all()) break;
    }
    entries.store(result, i, firsts.low(a), firsts.high(b));
    for (int k = 0; k < 16; ++k) recordWrite(i + k * step);
  }
  // The rest of the share, fewer than 16 entries (32 elements at step 2).
  shareLoop(table, i, n, step, ScanScalar{list, count}, result);
}

}  // namespace

bool supported() {
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
         __builtin_cpu_supports("bmi");
}

// The branch-free instance for each list length up to 64, by length.
template <int... kCounts>
constexpr std::array<RelabelShare, sizeof...(kCounts)> byCount(
    std::integer_sequence<int, kCounts...>) {
  return {shareAvx512Short<kCounts / 8, kCounts % 8 != 0>...};
}

// A single entry costs least in the scalar loop (nothing to mispredict).
RelabelShare perEntryShare(int count) {
  static constexpr auto shapes = byCount(std::make_integer_sequence<int, 65>{});
  if (count < 2) return kernels::generic::share;
  return count <= 64 ? shapes[count] : shareAvx512;
}

RelabelShare transposedShare(std::int64_t step) {
  return step == 1   ? shareTransposed<ContiguousEntries>
         : step == 2 ? shareTransposed<PairedEntries>
                     : shareTransposed<LoadedEntries>;
}

}  // namespace kernels::avx512
#endif
