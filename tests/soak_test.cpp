// Many calls of the module file through the stand-in host, good and bad mixed:
// every valid result is right, and memory in use stays flat.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdio>
#include <random>
#include <vector>

#include "reference.h"
#include "standin_call.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

long residentKiB() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * 4;
}

TEST(Soak, HundredThousandMixedCalls) {
  const int calls = std::getenv("MESHLOOKUP_SOAK_CALLS")
                        ? std::atoi(std::getenv("MESHLOOKUP_SOAK_CALLS"))
                        : 100000;
  std::mt19937_64 rng(99);
  long aliveAt1000 = 0, residentAt1000 = 0;
  size_t heapAt1000 = 0;
  int accepted = 0;
  for (int k = 0; k < calls; ++k) {
    if (k == 1000) {
      aliveAt1000 = hostArraysAlive();
      residentAt1000 = residentKiB();
      heapAt1000 = mallinfo2().uordblks;
    }
    const size_t rows = rng() % 7, cols = rng() % 9, count = rng() % 20;
    const auto tableValues = randomValues(rng, rows * cols, 8);
    const auto listValues = randomValues(rng, count, 8);
    Array table({rows, cols}, tableValues);
    Array list({1, count}, listValues);
    Array wrong(static_cast<HostClass>(rng() % 7), {2, 3}, rng() % 2 ? hostSparseFlag : 0);
    switch (rng() % 4) {
      case 0: {  // a bad call: wrong counts or a wrong class
        const int kind = static_cast<int>(rng() % 3);
        Outcome o = kind == 0   ? call(1, {table.a})
                    : kind == 1 ? call(0, {table.a, list.a})
                                : call(1, {wrong.a, list.a});
        ASSERT_TRUE(o.failed || (kind == 2 && o.result));  // a full double `wrong` is fine
        hostDestroyArray(o.result);
        break;
      }
      default: {
        Outcome o = call(1, {table.a, list.a});
        ASSERT_FALSE(o.failed) << o.error;
        ASSERT_EQ(mxGetM(o.result), rows);
        ASSERT_EQ(mxGetN(o.result), cols);
        const auto want = referenceRelabel(tableValues, listValues);
        const auto got = values(o.result);
        for (size_t i = 0; i < want.size(); ++i) ASSERT_EQ(bitsOf(got[i]), bitsOf(want[i]));
        hostDestroyArray(o.result);
        ++accepted;
      }
    }
  }
  EXPECT_GT(accepted, calls / 2);
  if (calls <= 1000) return;
  EXPECT_EQ(hostArraysAlive(), aliveAt1000);
  // Under a sanitizer or valgrind their own bookkeeping grows; they check
  // leaks themselves.
  if (kSanitized || std::getenv("MESHLOOKUP_SOAK_UNDER_VALGRIND")) return;
  const long heapGrowth = static_cast<long>(mallinfo2().uordblks) - static_cast<long>(heapAt1000);
  const long residentGrowth = residentKiB() - residentAt1000;
  std::printf("after %d calls: heap %+ld bytes, resident %+ld KiB since call 1000\n", calls,
              heapGrowth, residentGrowth);
  EXPECT_LT(heapGrowth, 64 * 1024);
  EXPECT_LT(residentGrowth, 2048);
}

}  // namespace
