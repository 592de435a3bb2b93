#include "relabel.h"

#include <omp.h>

#include <cstdint>
#include <cstring>

#include "key.h"
#include "scan.h"

int numCores = omp_get_num_procs();

void relabelWorker(const double* table, int n, const double* list, int count, double* result) {
  const int t = omp_get_thread_num();
  if (t >= n) return;
  const int granted = omp_get_num_threads();
  // numCores is at least 1 once loaded; a call before the static initializer
  // has run (another initializer) must still terminate, with a step of 1.
  const std::int64_t step = numCores > 0 ? numCores : 1;
  // Share s is the cyclic sequence s, s + step, ...; a full team runs one share
  // per worker. A smaller team deals the shares out cyclically again, so the
  // entries of workers that never started are still written exactly once.
  // 64-bit indices: i + step may pass INT32_MAX when n is close to it.
  for (std::int64_t s = t; s < step && s < n; s += granted) {
    for (std::int64_t i = s; i < n; i += step) {
      std::memcpy(&result[i], &table[i], sizeof(double));
      const int pos = relabelFirstMatch(relabelKey(table[i]), list, count);
      if (pos >= 0) result[i] = static_cast<double>(pos) + 1.0;
    }
  }
}

void relabelParallel(const double* table, int n, const double* list, int count, double* result) {
  // A team is started for every call, also for n == 0; the team size is
  // requested explicitly so the runtime's default (OMP_NUM_THREADS) plays no part.
#pragma omp parallel num_threads(numCores > 0 ? numCores : 1) default(none) \
    shared(table, n, list, count, result)
  relabelWorker(table, n, list, count, result);
}
