// Test builds only (RELABEL_RECORD_WRITERS, the engine_recording library): which worker wrote each
// result entry, and how often. While both are set, every write of a result entry is recorded where
// the entry is written.
#pragma once

#include <cstdint>

#ifdef RELABEL_RECORD_WRITERS
#include <omp.h>

#include <atomic>

inline int* relabelWriter = nullptr;
inline std::atomic<int>* relabelWriteCount = nullptr;
#endif

inline void recordWrite([[maybe_unused]] std::int64_t i) {
#ifdef RELABEL_RECORD_WRITERS
  if (relabelWriter && relabelWriteCount) {
    relabelWriter[i] = omp_get_thread_num();
    relabelWriteCount[i].fetch_add(1);
  }
#endif
}
