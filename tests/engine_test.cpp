#include <gtest/gtest.h>
#include <omp.h>

#include <cstdlib>
#include <limits>
#include <numeric>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/mman.h>
#include <unistd.h>
#endif
#ifdef __linux__
#include <sched.h>
#endif

#include "reference.h"
#include "relabel.h"
#include "scan.h"
#include "scan_control.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();
const std::uint64_t kCanary = 0x7ff4deadbeef0001ull;  // a NaN no rule could produce

// Runs the engine with canaries on both sides of the result, and checks that
// they are untouched.
std::vector<double> relabel(const std::vector<double>& table, const std::vector<double>& list) {
  std::vector<double> padded(table.size() + 2, fromBits(kCanary));
  relabelParallel(table.data(), static_cast<int>(table.size()), list.data(),
                  static_cast<int>(list.size()), padded.data() + 1);
  EXPECT_EQ(bitsOf(padded.front()), kCanary) << "write before the result";
  EXPECT_EQ(bitsOf(padded.back()), kCanary) << "write after the result";
  return std::vector<double>(padded.begin() + 1, padded.end() - 1);
}

void expectBitsEqual(const std::vector<double>& got, const std::vector<double>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < got.size(); ++i)
    ASSERT_EQ(bitsOf(got[i]), bitsOf(want[i]))
        << "entry " << i << ": got " << got[i] << ", want " << want[i];
}

TEST(FirstMatchWins, LowestPositionAmongEqualKeys) {
  EXPECT_EQ(relabel({3.7}, {5, 3.2, 3}), std::vector<double>{2});
  const std::vector<double> list = {1, 2, 3, 7.5, 5, 6, 8, 9, 7.0, 10};
  EXPECT_EQ(relabel({7, 7.9, -1, 7.2}, list), (std::vector<double>{4, 4, -1, 4}));
}

TEST(KeyIgnoresFraction, UnmatchedKeepsFractionAndZeroKeysMeet) {
  expectBitsEqual(relabel({2.5, -0.7, 0.0, -0.0, 0.99}, {0.4, 7}), {2.5, 1, 1, 1, 1});
  expectBitsEqual(relabel({-2.5, 1.5}, {-2.9, 2}), {1, 1.5});
}

TEST(KeyBoundaries, OutOfRangeValuesShareTheLowestKey) {
  const double lowest = -2147483648.0;
  const std::vector<double> list = {2147483647.0, -2147483648.0, 1.0};
  // 2147483647.9 still fits; everything that does not fit, NaN and the
  // infinities fall to -2^31 together with -2147483648.9 and -2^31 itself.
  expectBitsEqual(relabel({2147483647.9, 2147483648.0, -2147483648.9, -2147483649.0, lowest, kNaN,
                           kInf, -kInf, 1e300, -1e300},
                          list),
                  {1, 2, 2, 2, 2, 2, 2, 2, 2, 2});
  // Without -2^31 in the list those entries are copied unchanged.
  expectBitsEqual(relabel({2147483648.0, kNaN, -kInf}, {2147483647.0}),
                  {2147483648.0, kNaN, -kInf});
  // NaN in the list matches out-of-range table entries.
  EXPECT_EQ(relabel({-3e9}, {5, kNaN}), std::vector<double>{2});
}

TEST(EmptyList, ResultIsABitCopy) {
  const std::vector<double> table = {fromBits(0x7ff8000000000123ull),
                                     fromBits(0xfff0000000000042ull), -0.0, 3.25, -kInf};
  expectBitsEqual(relabel(table, {}), table);
}

TEST(SmallTables, EmptyTableAndFewerEntriesThanWorkers) {
  EXPECT_TRUE(relabel({}, {1, 2}).empty());
  EXPECT_TRUE(relabel({}, {}).empty());
  for (int n = 1; n <= numCores + 1; ++n) {
    std::vector<double> table(n, 2.0);
    table[0] = 9.5;
    std::vector<double> want(n, 1.0);
    want[0] = 9.5;
    expectBitsEqual(relabel(table, {2}), want);
  }
}

// The 0-based list position the engine gives one table entry, or -1 when it
// keeps the entry's bits.
int positionOf(double value, const double* list, int count) {
  double out;
  relabelParallel(&value, 1, list, count, &out);
  return bitsOf(out) == bitsOf(value) ? -1 : static_cast<int>(out) - 1;
}

const ShareLayout kLayouts[] = {ShareLayout::perEntry, ShareLayout::transposed};
const char* layoutName(ShareLayout l) {
  return l == ShareLayout::perEntry ? "per entry" : "transposed";
}

struct ForcedLayout {
  ShareLayout saved = shareLayoutInUse();
  explicit ForcedLayout(ShareLayout l) { useShareLayout(l); }
  ~ForcedLayout() { useShareLayout(saved); }
};

// Each test below runs once per scan path, forced; a path this processor
// lacks is skipped, and the widest is left in use afterwards.
class OnPath : public testing::TestWithParam<ScanPath> {
 protected:
  ScanPath saved = scanPathInUse();
  void SetUp() override {
    if (!useScanPath(GetParam()))
      GTEST_SKIP() << "this processor has no " << scanPathName(GetParam()) << " path";
  }
  void TearDown() override { useScanPath(saved); }
};
INSTANTIATE_TEST_SUITE_P(Paths, OnPath,
                         testing::Values(ScanPath::scalar, ScanPath::avx2, ScanPath::avx512),
                         [](const testing::TestParamInfo<ScanPath>& p) {
                           return std::string(scanPathName(p.param));
                         });

// On the emulated processors, MESHLOOKUP_EXPECT_PATH names the widest path
// they have; that one must be in use, or the run tests another path.
TEST(ScanPaths, TheWidestPathTheProcessorHasIsInUse) {
  if (const char* expected = std::getenv("MESHLOOKUP_EXPECT_PATH")) {
    EXPECT_STREQ(scanPathName(scanPathInUse()), expected);
  }
  EXPECT_TRUE(scanPathSupported(scanPathInUse()));
}

TEST_P(OnPath, FirstMatchAtEveryPositionAndTail) {
  // One matching entry (or two, the second later) at every position of lists
  // of every length around the block and group sizes, in each layout; the
  // entries around the list are matches too, so a read past either end would
  // show.
  std::vector<double> buffer(300, 5.5);
  for (ShareLayout layout : kLayouts) {
    ForcedLayout forced(layout);
    SCOPED_TRACE(layoutName(layout));
    for (int count = 0; count <= 140; ++count) {
      double* list = buffer.data() + 64;
      for (int k = 0; k < count; ++k) list[k] = -7.0 - k;  // keys -7, -8, ...
      EXPECT_EQ(positionOf(5.25, list, count), -1) << "count " << count;
      for (int pos = 0; pos < count; ++pos) {
        const double saved = list[pos];
        list[pos] = 5.9;
        if (pos + 3 < count) list[pos + 3] = 5.0;
        ASSERT_EQ(positionOf(5.25, list, count), pos) << "count " << count;
        list[pos] = saved;
        if (pos + 3 < count) list[pos + 3] = -7.0 - (pos + 3);
      }
      // Zeros outside the list must not match key 0 in a partial block.
      std::fill(buffer.begin(), buffer.end(), 0.0);
      for (int k = 0; k < count; ++k) list[k] = 1.0 + k;
      EXPECT_EQ(positionOf(0.25, list, count), -1) << "count " << count;
      std::fill(buffer.begin(), buffer.end(), 5.5);
    }
  }
}

#ifndef _WIN32
// Lists that end at every 8-byte place up to 128 bytes before an unmapped
// page, or start right after one: a read outside the list would fault, and
// the blocks read from a window that ends with the list must still give each
// entry its first match.
TEST_P(OnPath, ListsAgainstUnmappedPages) {
  const long page = sysconf(_SC_PAGESIZE);
  char* pages = static_cast<char*>(
      mmap(nullptr, 3 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(pages, MAP_FAILED);
  ASSERT_EQ(mprotect(pages, page, PROT_NONE), 0);
  ASSERT_EQ(mprotect(pages + 2 * page, page, PROT_NONE), 0);
  std::mt19937_64 rng(5);
  for (ShareLayout layout : kLayouts) {
    ForcedLayout forcedLayout(layout);
    for (int count = 1; count <= 80; ++count) {
      const auto list = randomValues(rng, count, 12);
      const auto table = randomValues(rng, 100, 12);
      const auto want = referenceRelabel(table, list);
      for (int before = 0; before <= 128 + 8; before += 8) {
        // before == 136: the list starts where the unmapped page below ends.
        double* at = before <= 128 ? reinterpret_cast<double*>(pages + 2 * page - before) - count
                                   : reinterpret_cast<double*>(pages + page);
        std::copy(list.begin(), list.end(), at);
        std::vector<double> got(table.size());
        relabelParallel(table.data(), static_cast<int>(table.size()), at, count, got.data());
        for (std::size_t i = 0; i < got.size(); ++i)
          ASSERT_EQ(bitsOf(got[i]), bitsOf(want[i]))
              << layoutName(layout) << ", count " << count << " ends " << before
              << " bytes before the page, entry " << i;
      }
    }
  }
  munmap(pages, 3 * page);
}
#endif

TEST_P(OnPath, KeyBoundaries) {
  const double values[] = {2147483647.9, 2147483648.0, -2147483648.9, -2147483649.0, kNaN,
                           kInf,         -kInf,        1e300,         -0.0,          -0.999,
                           0.999,        4.9e-324,     -1.5,          1.5,           2147483647.0};
  for (ShareLayout layout : kLayouts) {
    ForcedLayout forced(layout);
    for (double v : values) {
      // The value sits behind 40 non-matching entries so every path vectorizes it.
      std::vector<double> list(48, 1000.0);
      list[41] = v;
      EXPECT_EQ(positionOf(v, list.data(), 48), 41) << layoutName(layout) << " " << v;
    }
  }
}

// Each share a worker can run, in both layouts, called as a worker of a team
// of `step` would call it, with every first index: each entry of its share is
// the reference's, bit for bit, and no other entry is written. Tables hold 32
// to 64 of a share's entries, so its end falls at every place in a block;
// lists of every length to past the layouts' switch.
TEST_P(OnPath, EveryLayoutAndStepGivesTheReferenceOnItsOwnEntriesOnly) {
  std::vector<int> counts(71);
  std::iota(counts.begin(), counts.end(), 0);
  counts.insert(counts.end(), {100, 140, 257, 513});
  std::mt19937_64 rng(20261209);
  for (ShareLayout layout : kLayouts) {
    ForcedLayout forcedLayout(layout);
    for (int step = 1; step <= 9; ++step) {
      for (int count : counts) {
        SCOPED_TRACE(testing::Message()
                     << layoutName(layout) << ", step " << step << " count " << count);
        const int keyRange = 1 + count / 2 + static_cast<int>(rng() % 8);
        const int n = step * (32 + static_cast<int>(rng() % 33)) + static_cast<int>(rng() % step);
        const auto table = randomValues(rng, n, keyRange);
        const auto list = randomValues(rng, count, keyRange);
        const auto want = referenceRelabel(table, list);
        const RelabelShare share = shareFor(count, step);
        // Whole, and in the two parts a worker runs: from its restart, which
        // lies past `step`, to n, then from `first` to the restart.
        for (int first = 0; first < step; ++first) {
          const std::int64_t restart = shareRestart(first, n, step);
          for (bool split : {false, true}) {
            std::vector<double> got(n, fromBits(kCanary));
            if (split) {
              share(table.data(), restart, n, step, list.data(), count, got.data());
              share(table.data(), first, restart, step, list.data(), count, got.data());
            } else {
              share(table.data(), first, n, step, list.data(), count, got.data());
            }
            for (int i = 0; i < n; ++i)
              ASSERT_EQ(bitsOf(got[i]), (i - first) % step == 0 ? bitsOf(want[i]) : kCanary)
                  << "entry " << i << " of " << n << ", first " << first
                  << (split ? ", split at " : "") << (split ? restart : 0);
          }
        }
      }
    }
  }
}

// The layout the path's rule chooses, through the whole engine.
TEST_P(OnPath, RandomDataAtAwkwardSizes) {
  std::mt19937_64 rng(20261208);
  const std::size_t tableSizes[] = {0, 1, 2, 3, 5, 7, 9, 15, 17, 31, 33, 63, 65, 1001, 4099};
  const std::size_t listSizes[] = {0, 1, 2, 3, 7, 8, 9, 15, 16, 17, 31, 33, 100, 257};
  for (std::size_t n : tableSizes) {
    for (std::size_t count : listSizes) {
      const int keyRange = 1 + static_cast<int>(rng() % 64);
      const auto table = randomValues(rng, n, keyRange);
      const auto list = randomValues(rng, count, keyRange);
      SCOPED_TRACE(testing::Message() << "n=" << n << " count=" << count);
      expectBitsEqual(relabel(table, list), referenceRelabel(table, list));
    }
  }
}

#ifdef __linux__
// The worker count follows the processors the process may run on when the
// engine is loaded (a CPU mask, as taskset sets), not the runtime's defaults.
TEST(WorkerTeam, OneWorkerPerProcessorTheProcessMayUse) {
  cpu_set_t mask;
  ASSERT_EQ(sched_getaffinity(0, sizeof mask, &mask), 0);
  EXPECT_EQ(numCores, CPU_COUNT(&mask));
}
#endif

// Whatever team the runtime grants (nested regions, thread limits, dynamic
// teams), every entry is written once and matches the reference.
TEST(WorkerTeam, EveryEntryWrittenFromInsideAParallelRegion) {
  std::mt19937_64 rng(7);
  const auto table = randomValues(rng, 1003, 20);
  const auto list = randomValues(rng, 29, 20);
  const auto want = referenceRelabel(table, list);
  for (int levels : {1, 2}) {
    const int saved = omp_get_max_active_levels();
    omp_set_max_active_levels(levels);
    std::vector<std::vector<double>> got(3, std::vector<double>(table.size(), fromBits(kCanary)));
#pragma omp parallel for num_threads(3)
    for (int k = 0; k < 3; ++k)
      relabelParallel(table.data(), static_cast<int>(table.size()), list.data(),
                      static_cast<int>(list.size()), got[k].data());
    omp_set_max_active_levels(saved);
    for (const auto& g : got) expectBitsEqual(g, want);
  }
}

extern "C" int kmp_get_blocktime(void) __attribute__((weak));
extern "C" void kmp_set_blocktime(int milliseconds) __attribute__((weak));

// The host's runtime settings are the host's: a call may change nothing that
// is still in force when it returns.
TEST(WorkerTeam, CallsLeaveTheRuntimeSettingsAsTheyWere) {
  const int maxThreads = omp_get_max_threads(), dynamic = omp_get_dynamic();
  const bool blocktime = kmp_get_blocktime && kmp_set_blocktime;
  const int savedBlocktime = blocktime ? kmp_get_blocktime() : 0;
  if (blocktime) kmp_set_blocktime(37);
  relabel({1, 2, 3}, {3, 2});
  relabel({}, {});
  EXPECT_EQ(omp_get_max_threads(), maxThreads);
  EXPECT_EQ(omp_get_dynamic(), dynamic);
  if (blocktime) {
    EXPECT_EQ(kmp_get_blocktime(), 37);
    kmp_set_blocktime(savedBlocktime);
  }
}

TEST(WorkerTeam, WorkerAloneCoversEverything) {
  std::mt19937_64 rng(11);
  const auto table = randomValues(rng, 37, 5);
  const auto list = randomValues(rng, 6, 5);
  std::vector<double> got(table.size(), fromBits(kCanary));
  relabelWorker(table.data(), static_cast<int>(table.size()), list.data(),
                static_cast<int>(list.size()), got.data());
  expectBitsEqual(got, referenceRelabel(table, list));
}

}  // namespace
