// Built against the recording engine: which worker ran each entry's share.
#include <gtest/gtest.h>
#include <omp.h>

#include <atomic>
#include <vector>

#include "relabel.h"

namespace {

struct Recorded {
  std::vector<int> writer;
  std::vector<std::atomic<int>> writes;
  explicit Recorded(int n) : writer(n, -1), writes(n) {
    relabelWriter = writer.data();
    relabelWriteCount = writes.data();
  }
  ~Recorded() {
    relabelWriter = nullptr;
    relabelWriteCount = nullptr;
  }
};

void run(int n, std::vector<double>& result) {
  std::vector<double> table(n, 1.5), list = {9, 1};
  result.assign(n, 0.0);
  relabelParallel(table.data(), n, list.data(), 2, result.data());
}

// With the team the runtime grants (OMP_THREAD_LIMIT and OMP_DYNAMIC vary it
// between runs of this test), every entry is written by exactly one worker,
// and with the full team worker t has exactly the entries t, t + numCores, ...
TEST(Shares, DisjointAndCoverEveryEntry) {
  for (int n : {0, 1, numCores - 1, numCores, numCores + 1, 1000, 1003}) {
    Recorded rec(n);
    std::vector<double> result;
    // The full team is certain only without dynamic teams or a thread limit.
    const bool fullTeam = !omp_get_dynamic() && omp_get_thread_limit() >= numCores;
    run(n, result);
    for (int i = 0; i < n; ++i) {
      ASSERT_EQ(rec.writes[i].load(), 1) << "entry " << i << " of " << n;
      ASSERT_EQ(result[i], 2.0);
      if (fullTeam) {
        ASSERT_EQ(rec.writer[i], i % numCores) << "entry " << i;
      }
    }
  }
}

TEST(Shares, SmallerTeamsFromInsideAParallelRegion) {
  const int n = 997;
  Recorded rec(n);
  std::vector<double> result;
#pragma omp parallel num_threads(2)
#pragma omp single
  run(n, result);  // nested: the runtime grants a team of one
  for (int i = 0; i < n; ++i) {
    ASSERT_EQ(rec.writes[i].load(), 1) << "entry " << i;
    ASSERT_EQ(rec.writer[i], 0);
  }
}

}  // namespace
