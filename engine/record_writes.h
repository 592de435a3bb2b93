// Test builds only (RELABEL_RECORD_WRITERS): which worker wrote each result
// entry, and how often. Never compiled into a module.
#pragma once

#ifdef RELABEL_RECORD_WRITERS
#include <omp.h>

#include <atomic>
#include <cstdint>

// When both are set, every write of a result entry records the number of the
// worker that made it and counts the writes, at the place where the entry is
// written.
extern int* relabelWriter;
extern std::atomic<int>* relabelWriteCount;

inline void relabelRecordWrite(std::int64_t i) {
  if (relabelWriter && relabelWriteCount) {
    relabelWriter[i] = omp_get_thread_num();
    relabelWriteCount[i].fetch_add(1);
  }
}
#endif
