#include "scan.h"

#include <cstring>

#include "key.h"

#ifdef RELABEL_RECORD_WRITERS
#include <omp.h>

#include "relabel.h"
#endif

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define RELABEL_X86_VECTOR 1
#include <cpuid.h>
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
// Test builds only: records a write of result entry i (see relabel.h).
inline void recordWrite(std::int64_t i) {
#ifdef RELABEL_RECORD_WRITERS
  if (relabelWriter && relabelWriteCount) {
    relabelWriter[i] = omp_get_thread_num();
    relabelWriteCount[i].fetch_add(1);
  }
#else
  (void)i;
#endif
}

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
// are fetched for writing first: out of cache (a table of 4,000,000), a team
// of 2 measured 0.45-0.49 ns per entry at 4 to 16 list entries with the
// prefetches, 0.60-0.72 without, at its cyclic copy's 0.45-0.55 (AMD Zen 5);
// in cache they changed nothing. Prefetches never fault, past n either.
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
// operations per list entry. On AMD Zen 5 it measured 1.25x to 1.35x faster
// than HalvesFirsts from 4 to 64 entries, on an Intel Xeon (Sapphire Rapids
// class) 1.2x to 1.4x from 8 to 512.
//
// HalvesFirsts compares the two halves of 8 apart, into vectors, and keeps
// position | ~equal's minimum: 11 operations, but none of them beyond the
// conversions needs Intel's port 5, which takes half of each conversion and
// every 512-bit shuffle and mask compare. llvm-mca's Skylake-X, Ice Lake and
// Sapphire Rapids models give it 4.0 cycles per list entry against the joined
// form's 4.35, yet it measured slower on every processor tried, the Sapphire
// Rapids class Xeon included.
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

// A block of the transposed shares stops after every kChunk list entries once
// all its lanes have matched: later entries cannot lower a first match. A list
// whose matches come early then costs about what the per-entry scan's exits
// cost; on random matches a block rarely stops (its 16 lanes' last match is
// near the list's end), and the check is one test per kChunk entries.
constexpr int kChunk = 16;

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

// The transposed shares in AVX2, for processors without AVX-512: blocks of
// two vectors of 4 of the share's entries (one block of 4, or three or four
// vectors, measured slower), the rest as above: each vector converts its own
// broadcast of list[j], made opaque the same way, and the two conversions are
// joined to compare all 8 lanes at once. Without unsigned minima or masks, a
// lane keeps the largest rank count - j of a matching j, in two operations
// (and, signed maximum), 0 while there is none: the largest rank is the lowest
// position.
RELABEL_AVX2 __m256d opaque(__m256d v) {
  asm volatile("" : "+x"(v));
  return v;
}

// Two vectors of 4 keys as one of 8, low then high: one compare, AND and
// maximum for 8 lanes, which measured 1.1x to 1.2x faster than comparing the
// halves apart on AMD Zen 5 (4 to 64 entries) and even on Zen 3; llvm-mca's
// models put it ahead on Intel from Skylake on as well, so every processor
// takes this form.
RELABEL_AVX2 __m256i join(__m128i low, __m128i high) {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
}

// Half `half` of a block's results: the positions where a rank was kept, the
// entries' own bits where `missing` is set.
RELABEL_AVX2 __m256d choose(__m256i positions, __m256i missing, int half, __m256d values) {
  const __m128i p =
      half ? _mm256_extracti128_si256(positions, 1) : _mm256_castsi256_si128(positions);
  const __m128i m = half ? _mm256_extracti128_si256(missing, 1) : _mm256_castsi256_si128(missing);
  return _mm256_blendv_pd(_mm256_cvtepi32_pd(p), values,
                          _mm256_castsi256_pd(_mm256_cvtepi32_epi64(m)));
}

// How four of a share's entries, i, i + step, i + 2 * step, i + 3 * step, are
// read and written; fits(i, n, lanes) says whether every element that `lanes`
// entries from i touch lies below n. Entries4 takes any step, one element at a
// time; its stores touch nothing but the share's own entries.
struct Entries4 {
  std::int64_t step;
  explicit Entries4(std::int64_t step) : step(step) {}
  bool fits(std::int64_t i, std::int64_t n, int lanes) const { return i + (lanes - 1) * step < n; }
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
  bool fits(std::int64_t i, std::int64_t n, int lanes) const { return i + lanes <= n; }
  RELABEL_AVX2 __m256d load(const double* table, std::int64_t i) const {
    return _mm256_loadu_pd(table + i);
  }
  RELABEL_AVX2 void store(double* result, std::int64_t i, __m256d v) const {
    _mm256_storeu_pd(result + i, v);
  }
};

// Step 2: the even elements of 8, loaded as two vectors and shuffled; the
// stores are element by element, as the other worker's entries lie between.
struct PairedEntries4 : Entries4 {
  explicit PairedEntries4(std::int64_t) : Entries4(2) {}
  bool fits(std::int64_t i, std::int64_t n, int lanes) const { return i + 2 * lanes <= n; }
  RELABEL_AVX2 __m256d load(const double* table, std::int64_t i) const {
    const __m256d evens =
        _mm256_unpacklo_pd(_mm256_loadu_pd(table + i), _mm256_loadu_pd(table + i + 4));
    return _mm256_permute4x64_pd(evens, _MM_SHUFFLE(3, 1, 2, 0));
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
  for (; entries.fits(i, n, kLanes); i += kLanes * step) {
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
#endif

ScanPath widestSupported() {
  if (scanPathSupported(ScanPath::avx512)) return ScanPath::avx512;
  if (scanPathSupported(ScanPath::avx2)) return ScanPath::avx2;
  return ScanPath::scalar;
}

ScanPath current = widestSupported();

// Lists shorter than this go to the scalar loop in the per-entry layout, which
// wins for a single entry (nothing to mispredict). The AVX-512 scan handles any
// length with masked loads; the AVX2 one needs a whole block of 4 to gain.
constexpr int kAvx512Minimum = 2;
constexpr int kAvx512Short = 64;
constexpr int kAvx2Minimum = 4;

ShareLayout layout = ShareLayout::automatic;
TransposedCompare compareForm = TransposedCompare::automatic;

#ifdef RELABEL_X86_VECTOR
bool amdProcessor() {
  static const bool amd = __builtin_cpu_is("amd");
  return amd;
}

// AMD's family 25 with AVX-512 is Zen 4 (Zen 3, the same family, has none),
// which runs each 512-bit operation as two 256-bit halves: its conversions
// measured 0.054 ns per lane against Zen 5's 0.026, so there the per-entry
// scan's early exits overtake the transposed shares at shorter lists. Read from
// CPUID, since compilers of Debian 12 do not name Zen 4 in __builtin_cpu_is.
bool halvedAvx512() {
  static const bool halved = [] {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!amdProcessor() || !__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    unsigned family = (eax >> 8) & 0xf;
    if (family == 0xf) family += (eax >> 20) & 0xff;
    return family == 25;
  }();
  return halved;
}

// Where the transposed shares beat the per-entry scans, by path, list length
// and step, as measured one worker at each step with the worker shares taken
// in turn, each match at a random place (the README has the tables). Longer
// lists keep the group scans, whose exits win there.
// AVX-512 on AMD beyond 64 entries: the group scan's exits mispredict on
// random matches. On Zen 5 the transposed shares measured 1.3x to 2.5x faster
// from 96 to 512 entries at every step to 256 (1.3x at 512 and step 1, even at
// 512 and step 256), even at 768 and 1.1x behind at 1,024; on Zen 4 1.3x to
// 1.5x faster at 96 and 128 entries and up to 1.15x at 256 at every step to
// 64, 1.1x slower at 512. With every match among the first 8 entries they stop
// early and took 1.7 to 2.0 ns per entry at every length from 16 to 256,
// against the per-entry scan's 2.1 to 7.8 (Zen 4).
// AVX-512 on Zen 5 (AMD EPYC, family 26), to 64 entries: contiguous and paired
// loads (steps 1 and 2) win or tie at every length to 64; element loads at
// steps 3 to 5 win to 28 entries, tie from 32 to 48 and are 1.15x behind at 64;
// at steps 6 to 48 the strided element loads and stores cost as much as the
// scan saves beyond 28 entries (1.1x to 1.3x ahead at 20 and 28, even at 16
// and 24, 1.1x behind at 32 to 64); at step 64 they never gain.
// AVX-512 on Zen 4 (AMD EPYC, family 25 model 17), whose conversions take
// twice as long: steps 1 and 2 win to 32 entries (tie at 32, 1.1x behind at
// 40, 1.2x to 1.4x at 48 and 64), steps 3 to 5 to 20 (within 10% at 24 and
// 28, 1.1x to 1.2x behind at 32), steps 6 to 32 to a dozen.
// AVX-512 on Intel (a Xeon of the Sapphire Rapids class, three runs): to 64
// entries the transposed shares were faster, or within 10%, at every length
// and every step to 48 (at step 1 4x at 1 to 4 entries, 1.8x at 16, 1.25x at
// 64; from step 6 on the strided loads and stores set both layouts' cost below
// 24 entries, and the transposed shares pull ahead from 32); at step 64 they
// were up to 1.14x behind at 32 and 48 entries, and from step 128 on up to
// 1.15x behind at 1 to 16. From 96 to 256 entries they won at every step to
// 256 (1.2x to 1.7x at 96 and 128 entries, even to 1.4x at 256); at 512 they
// were even at steps 1 to 12, 48 and 128 and 1.02x to 1.15x behind at 16, 32,
// 64 and 256. With every match among the first 8 entries they took 1.2 to 1.4
// ns per entry at every length from 16 to 512, against the per-entry scan's
// 2.3 to 6.8. (The Ice Lake prototype's step-6 share, 3-4 ns per entry, had
// been set against the per-entry scan's step-1 figures, 2.3-2.7; at step 6 the
// strided copy alone took 3.0-3.5 there and 2.8-3.0 here.) Other Intel
// generations (Skylake-X, Cascade Lake, Ice Lake), and other vendors'
// processors with AVX-512, are not measured and take the same rule.
// AVX2 (AMD EPYC, Zen 3; again on Zen 5 and Zen 4 with the AVX2 path forced):
// up to step 9 they win at every length to 64, by 1.2x to 15x (the per-entry
// scan's exits mispredict on short lists), lists of exactly 16, one group for
// that scan, aside. At steps 12 to 64 they measured even beyond 12 entries on
// Zen 3 while each step's timing replayed one share, which let the branch
// predictor learn the per-entry scan's exits; with the shares taken in turn
// (Zen 4) they won there too, by 1.5x to 2.7x from 24 to 64 entries. Beyond 64
// entries, where the per-entry scan's groups mispredict, they won with the
// shares in turn at every step to 256 on Zen 5 (AVX2 forced) by 1.4x to 1.8x
// at 96 and 128 entries, even at 256, 1.4x behind at 512 (Zen 4: ahead to
// 256). Steps beyond 64 lose at lists of 1 to 8 on Zen 5 and keep the
// per-entry scan. On the Intel Xeon above with the AVX2 path forced they won at
// every length to 128 at every step to 256 (1.3x to 1.4x at 128 entries), were
// even at 256 and 1.2x to 1.4x behind at 512.
bool transposedWins(ScanPath path, int count, std::int64_t step) {
  if (path == ScanPath::avx512) {
    if (!amdProcessor()) {
      if (count > 256) return count <= 512 && step <= 12;
      if (count > 64) return step <= 256;
      return step <= 48;
    }
    if (halvedAvx512()) {
      if (count > 64) return count <= 256 && step <= 64;
      if (step <= 2) return count <= 32;
      if (step <= 5) return count <= 20;
      return step <= 32 && count <= 12;
    }
    if (count > 64) return count <= 512 && step <= 256;
    if (step <= 2) return true;
    if (step <= 5) return count <= 40;
    return step <= 48 && count <= 28;
  }
  if (path == ScanPath::avx2) return step <= 64 && count <= 128;
  return false;
}

bool transposedFor(int count, std::int64_t step) {
  if (layout == ShareLayout::perEntry || current == ScanPath::scalar) return false;
  return layout == ShareLayout::transposed || transposedWins(current, count, step);
}

// The AVX-512 comparison form: joined, which measured faster on every
// processor tried (AMD Zen 4 and Zen 5, Intel Xeon of the Sapphire Rapids
// class); the halves stay selectable to measure new processors against.
bool joinedCompares() {
  return compareForm != TransposedCompare::halves;
}

template <class Firsts>
RelabelShare transposedShare(std::int64_t step) {
  return step == 1   ? shareTransposed<ContiguousEntries, Firsts>
         : step == 2 ? shareTransposed<PairedEntries, Firsts>
                     : shareTransposed<LoadedEntries, Firsts>;
}
#endif

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

ShareLayout shareLayoutInUse() {
  return layout;
}

void useShareLayout(ShareLayout chosen) {
  layout = chosen;
}

TransposedCompare transposedCompareInUse() {
  return compareForm;
}

void useTransposedCompare(TransposedCompare form) {
  compareForm = form;
}

RelabelShare shareFor(int count, std::int64_t step) {
#ifdef RELABEL_X86_VECTOR
  if (current == ScanPath::avx512 && transposedFor(count, step))
    return joinedCompares() ? transposedShare<JoinedFirsts>(step)
                            : transposedShare<HalvesFirsts>(step);
  if (current == ScanPath::avx2 && transposedFor(count, step))
    return step == 1   ? shareTransposedAvx2<ContiguousEntries4>
           : step == 2 ? shareTransposedAvx2<PairedEntries4>
                       : shareTransposedAvx2<Entries4>;
  if (count >= kAvx512Minimum && current == ScanPath::avx512)
    return count <= kAvx512Short ? shareAvx512ShortFor(count) : shareAvx512;
  if (count >= kAvx2Minimum && current == ScanPath::avx2) return shareAvx2;
#else
  (void)count;
  (void)step;
#endif
  return shareScalar;
}
