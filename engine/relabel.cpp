#include "relabel.h"

#include <omp.h>

#include <cstdint>

#include "host_runtime.h"
#include "scan.h"

int numCores = omp_get_num_procs();

// numCores is at least 1 once loaded; a call before the static initializer has run (from another
// initializer) must still terminate, with a team of one.
static int teamSize() {
  return numCores > 0 ? numCores : 1;
}

void relabelWorker(const double* table, int n, const double* list, int count, double* result) {
  const int t = omp_get_thread_num();
  if (t >= n) return;
  const int granted = omp_get_num_threads();
  const std::int64_t step = teamSize();
  const RelabelShare share = shareFor(count, step);
  // Share s is the cyclic sequence s, s + step, ...; a full team runs one share per worker, a
  // smaller one deals the shares out again, so that every entry is still written exactly once.
  // Each share runs in two parts, from its restart to n and then up to it.
  for (std::int64_t s = t; s < step && s < n; s += granted) {
    const std::int64_t restart = shareRestart(s, n, step);
    share(table, restart, n, step, list, count, result);
    if (restart > s) share(table, s, restart, step, list, count, result);
  }
}

void relabelParallel(const double* table, int n, const double* list, int count, double* result) {
  const TeamCall call = beginTeamCall();
#pragma omp parallel num_threads(teamSize()) default(none) \
    shared(table, n, list, count, result, call)
  {
    const bool yieldCpu = workerStarts(call);
    relabelWorker(table, n, list, count, result);
    workerEnds(yieldCpu);
  }
  endTeamCall(call);
}
