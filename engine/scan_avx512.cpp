// The AVX-512 kernels: the per-entry scans (groups of 64 for long lists, one
// branch-free instance per shape for lists up to 64) and the transposed shares
// (16 of a share's entries against each list entry in turn). Every function
// carries its target attribute, so this file builds with the baseline flags
// and runs only where the chooser found AVX-512.
#include "kernels.h"

#ifdef RELABEL_X86_VECTOR
#include <immintrin.h>

#include "share_loop.h"

// GCC 12 warns inside its own _mm512_cvttpd_epi32, which starts from an
// undefined vector that the conversion overwrites completely.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace kernels::avx512 {
namespace {

// Helpers are forced inline; the scans are inlined where the flattened share
// function that uses them is compiled (forcing them would fail in the generic
// share loop, which has no target of its own). Every processor with AVX-512
// has PREFETCHW (older ones run it as a no-op).
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

// The last r (1 to 7) entries of a list, at p, read with a masked load of 8
// lanes; masked-off lanes are neither loaded (nothing outside the list is
// touched) nor compared (their zeros would otherwise match key 0). A masked
// load whose 64 bytes cross into the next page is very slow on some
// processors, even when every lane beyond the page is masked off, so such a
// block is read from a window that ends with the list instead: its real lanes
// are then the upper r, and its bits are shifted down. The window starts on the
// list's own page, whose bytes before the list exist, and those lanes are
// masked off too.
struct PartialBlock {
  const double* at;
  __mmask8 lanes;
  unsigned shift;

  PartialBlock(const double* p, int r)
      : at(p), lanes(static_cast<__mmask8>((1u << r) - 1)), shift(0) {
    const std::uintptr_t offset = reinterpret_cast<std::uintptr_t>(p) % 4096;
    if (r > 0 && offset > 4096 - 64) {
      shift = 8u - static_cast<unsigned>(r);
      at = p - shift;
      lanes = static_cast<__mmask8>(lanes << shift);
    }
  }

  // One bit per real entry, lowest for the first, of the entries whose key is k.
  RELABEL_AVX512 std::uint64_t bits(__m256i k) const {
    const __m256i keys = _mm512_cvttpd_epi32(_mm512_maskz_loadu_pd(lanes, at));
    return std::uint64_t{_mm256_mask_cmpeq_epi32_mask(lanes, keys, k)} >> shift;
  }
};

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
  int groupsEnd;      // list entries covered by whole groups of 64
  int blocks;         // whole blocks of 8 after them
  PartialBlock last;  // a final partial block (no lanes: none)

  ScanAvx512(const double* list, int count)
      : list(list),
        groupsEnd(count / 64 * 64),
        blocks(count % 64 / 8),
        last(list + count / 8 * 8, count % 8) {}

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
    if (last.lanes) m |= last.bits(k) << (8 * blocks);
    return m ? j + __builtin_ctzll(m) : -1;
  }
};

// Lists of at most 64 entries: kBlocks whole blocks of 8, and a final partial
// one when kPartial, all compared without a branch; one instance per shape, so
// nothing about the list's length is looked at per entry.
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
    // tzcnt of an empty mask is 64; the share loop keeps the entry then.
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

// Transposed shares for short lists. Scanning one entry at a time, a short
// list costs little but the fixed work around it: the entry's key broadcast
// and converted, a list of 4 filling half a block. These shares turn the layout
// around: 16 of the worker's own entries at a time, in two vectors of 8, their
// keys converted once; then, for each list position j upward from 0, list[j]
// is broadcast into every lane of each vector and that vector converted, so
// every lane converts its own copy of list[j] for its own comparison. A lane
// keeps the first position whose key equals its own. The lanes' results are
// chosen on the bits.
//
// The compiler must not merge the two vectors' conversions of one list entry,
// nor move a conversion out of the loop over the table, as it would for a value
// it can see is the same: each broadcast passes through an empty volatile asm
// statement, which makes its value opaque and is never merged or hoisted, so
// its conversion is done where it is written.
RELABEL_AVX512 __m512d opaque(__m512d v) {
  asm volatile("" : "+v"(v));
  return v;
}

// Two vectors of 8 keys as one of 16, low then high.
RELABEL_AVX512 __m512i join(__m256i low, __m256i high) {
  return _mm512_inserti64x4(_mm512_castsi256_si512(low), high, 1);
}

// How a share's own entries i, i + step, ..., i + 15 * step are read and
// written, for one step or for any: fits(i, n) says whether every element the
// access touches lies below n.
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

// Step 2: the even elements of 32 loaded, and written back with masked stores,
// which leave the other worker's entries untouched. A masked store to a line
// that is not in the cache waits for the line, so the lines 16 blocks ahead
// are fetched for writing first; out of cache this brings a team of 2 to its
// cyclic copy's rate, in cache it changes nothing (docs/tuning.md, AMD Zen 5).
// Prefetches never fault, past n either.
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
    for (int k = 0; k < 32; k += 8) __builtin_prefetch(result + i + 16 * 32 + k, 1);
    spread(result + i, a);
    spread(result + i + 16, b);
  }
};

// Any step: element by element, into vectors and out of them (gathers and
// scatters measured slower).
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

// How a block of 16 entries keeps, per lane, the lowest position j + 1 whose
// key equals the lane's (all ones while there is none), as list entries are
// compared in order: made from the block's two vectors a and b, then
// compare(list[j]) for j upward from 0, then the results for a and b, chosen on
// the bits. Two forms, the same results:
//
// JoinedFirsts joins the two vectors' conversions of list[j] into one register
// of 16 keys, compares it with the 16 entries' keys at once into a fresh mask,
// and keeps the earliest match with a masked unsigned minimum: 8 vector
// operations per list entry. It measured faster than HalvesFirsts on every
// processor tried (docs/tuning.md), and is the one the chooser takes.
//
// HalvesFirsts compares the two halves of 8 apart, into vectors, and keeps
// position | ~equal's minimum: 11 operations, but none of them beyond the
// conversions needs Intel's port 5, which takes half of each conversion and
// every 512-bit shuffle and mask compare. llvm-mca's Intel models put it ahead
// of the joined form, yet it measured slower on every processor tried; it
// stays selectable to measure a new processor against.
struct JoinedFirsts {
  __m512i keys, firsts, position;
  RELABEL_AVX512 JoinedFirsts(__m512d a, __m512d b)
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

struct HalvesFirsts {
  __m256i keysA, keysB, firstA, firstB, position;
  RELABEL_AVX512 HalvesFirsts(__m512d a, __m512d b)
      : keysA(_mm512_cvttpd_epi32(a)),
        keysB(_mm512_cvttpd_epi32(b)),
        firstA(_mm256_set1_epi32(-1)),
        firstB(_mm256_set1_epi32(-1)),
        position(_mm256_set1_epi32(1)) {}
  RELABEL_AVX512 void compare(double entry) {
    const __m256i equalA =
        _mm256_cmpeq_epi32(keysA, _mm512_cvttpd_epi32(opaque(_mm512_set1_pd(entry))));
    const __m256i equalB =
        _mm256_cmpeq_epi32(keysB, _mm512_cvttpd_epi32(opaque(_mm512_set1_pd(entry))));
    // position | ~equal in one operation (truth table 0xCF: B or not A).
    firstA = _mm256_min_epu32(firstA, _mm256_ternarylogic_epi32(equalA, position, position, 0xCF));
    firstB = _mm256_min_epu32(firstB, _mm256_ternarylogic_epi32(equalB, position, position, 0xCF));
    position = _mm256_add_epi32(position, _mm256_set1_epi32(1));
  }
  RELABEL_AVX512 static __m512d chosen(__m512d v, __m256i first) {
    return _mm512_mask_mov_pd(v, _mm256_cmpneq_epi32_mask(first, _mm256_set1_epi32(-1)),
                              _mm512_cvtepi32_pd(first));
  }
  RELABEL_AVX512 bool all() const {
    return (_mm256_cmpeq_epi32_mask(firstA, _mm256_set1_epi32(-1)) |
            _mm256_cmpeq_epi32_mask(firstB, _mm256_set1_epi32(-1))) == 0;
  }
  RELABEL_AVX512 __m512d low(__m512d a) const { return chosen(a, firstA); }
  RELABEL_AVX512 __m512d high(__m512d b) const { return chosen(b, firstB); }
};

template <class Entries, class Firsts>
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

RelabelShare perEntryShare(int count) {
  return count <= 64 ? shareAvx512ShortFor(count) : shareAvx512;
}

RelabelShare transposedShare(std::int64_t step, bool joined) {
  if (joined)
    return step == 1   ? shareTransposed<ContiguousEntries, JoinedFirsts>
           : step == 2 ? shareTransposed<PairedEntries, JoinedFirsts>
                       : shareTransposed<LoadedEntries, JoinedFirsts>;
  return step == 1   ? shareTransposed<ContiguousEntries, HalvesFirsts>
         : step == 2 ? shareTransposed<PairedEntries, HalvesFirsts>
                     : shareTransposed<LoadedEntries, HalvesFirsts>;
}

}  // namespace kernels::avx512
#endif
