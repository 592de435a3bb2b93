// Built against the recording engine: which worker ran each entry's share.
#include <gtest/gtest.h>
#include <omp.h>

#include <atomic>
#include <vector>

#include "record_writes.h"
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

// The table's entries all have key 1, which the list holds last, at position
// count; with count 0 the result is a copy of the table.
void run(int n, int count, std::vector<double>& result) {
  std::vector<double> table(n, 1.5), list(count, 9.0);
  if (count > 0) list.back() = 1.0;
  result.assign(n, 0.0);
  relabelParallel(table.data(), n, list.data(), count, result.data());
}

// With the team the runtime grants (OMP_THREAD_LIMIT and OMP_DYNAMIC vary it
// between runs of this test), every entry is written by exactly one worker,
// and with the full team worker t has exactly the entries t, t + numCores, ...
// Writes are recorded where each share writes them, for list lengths that take
// each kind of share (none, a single entry, short lists, long ones), and for
// teams of this machine's size and of others (each worker starts part way into
// its share, at a place that depends on the team's size). Windows builds keep
// the machine's size: under Wine, a plain program with MinGW's libgomp that runs
// a team of 8 on 2 CPUs and then a smaller one hangs at exit in some runs.
TEST(Shares, DisjointAndCoverEveryEntry) {
  const int machine = numCores;
  struct Restore {
    int cores;
    ~Restore() { numCores = cores; }
  } restore{machine};
#ifdef _WIN32
  for (int team : {machine}) {
#else
  for (int team : {machine, 3, 5, 8}) {
#endif
    numCores = team;
    for (int count : {0, 1, 2, 20, 100}) {
      for (int n : {0, 1, team - 1, team, team + 1, 2 * team + 1, 1000, 1003}) {
        Recorded rec(n);
        std::vector<double> result;
        // The full team is certain only without dynamic teams or a thread limit.
        const bool fullTeam = !omp_get_dynamic() && omp_get_thread_limit() >= team;
        run(n, count, result);
        for (int i = 0; i < n; ++i) {
          ASSERT_EQ(rec.writes[i].load(), 1)
              << "entry " << i << " of " << n << ", list " << count << ", team " << team;
          ASSERT_EQ(result[i], count > 0 ? count : 1.5);
          if (fullTeam) {
            ASSERT_EQ(rec.writer[i], i % team)
                << "entry " << i << ", list " << count << ", team " << team;
          }
        }
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
  run(n, 2, result);  // nested: the runtime grants a team of one
  for (int i = 0; i < n; ++i) {
    ASSERT_EQ(rec.writes[i].load(), 1) << "entry " << i;
    ASSERT_EQ(rec.writer[i], 0);
  }
}

}  // namespace
