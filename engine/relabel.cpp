#include "relabel.h"

#include <omp.h>

#include <cstdint>

#include "scan.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dlfcn.h>
#endif
#if defined(__linux__) && !defined(RELABEL_NO_WORKER_PLACEMENT)
#include <sched.h>
#define RELABEL_WORKER_PLACEMENT 1
#endif

int numCores = omp_get_num_procs();

#ifdef RELABEL_RECORD_WRITERS
int* relabelWriter = nullptr;
std::atomic<int>* relabelWriteCount = nullptr;
#endif

void relabelWorker(const double* table, int n, const double* list, int count, double* result) {
  const int t = omp_get_thread_num();
  if (t >= n) return;
  const int granted = omp_get_num_threads();
  // numCores is at least 1 once loaded; a call before the static initializer
  // has run (another initializer) must still terminate, with a step of 1.
  const std::int64_t step = numCores > 0 ? numCores : 1;
  const RelabelShare share = shareFor(count, step);
  // Share s is the cyclic sequence s, s + step, ...; a full team runs one share
  // per worker. A smaller team deals the shares out cyclically again, so the
  // entries of workers that never started are still written exactly once.
  // 64-bit indices: i + step may pass INT32_MAX when n is close to it.
  for (std::int64_t s = t; s < step && s < n; s += granted)
    share(table, s, n, step, list, count, result);
}

#if defined(__GNUC__) && !defined(_WIN32)
// LLVM's runtime (libomp) and Intel's (which MATLAB bundles, and to which the
// MATLAB module is linked) keep a finished team's workers spinning for their
// block time, 200 ms by default: a core burnt after every call. With a block time of 0 they sleep
// at once, and a call after a pause wakes them in tens of microseconds. The setting belongs to the
// calling thread, so it is set for this call's region only and restored before returning to the
// host. The declarations are weak: with GCC's runtime alone in the process they stay null and
// nothing is changed.
#define RELABEL_BLOCKTIME 1
extern "C" int kmp_get_blocktime(void) __attribute__((weak));
extern "C" void kmp_set_blocktime(int milliseconds) __attribute__((weak));
#endif

namespace {

// The runtime parks a team's workers for the next region when a call returns,
// so their code must stay mapped for as long as they live, even after the host
// unloads the module (`clear mex`). Were it unmapped, the host would be left
// with threads waiting in code that is gone, which crash it when woken, and
// every reload would start another team.
// Linux: the runtime is a shared library of its own. It is marked never to be
// unloaded, while the module itself may still be unloaded and reloaded; a
// reload finds the same runtime and its parked workers. The runtime is found
// from one of its functions as this module calls it, so it is whichever runtime
// the module was linked to or bound to in its host.
// Windows: the runtime is linked into the module, so the module itself is
// pinned: it stays loaded until the host process ends.
bool keepWorkersCodeLoaded() {
#ifdef _WIN32
  HMODULE self;
  return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                            reinterpret_cast<LPCWSTR>(reinterpret_cast<void*>(&relabelParallel)),
                            &self) != 0;
#else
  Dl_info runtime;
  if (!dladdr(reinterpret_cast<void*>(&omp_get_num_procs), &runtime) || !runtime.dli_fname)
    return false;
  // The handle is never closed: it holds the runtime as well as the flag does.
  return dlopen(runtime.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
#endif
}

#ifdef RELABEL_WORKER_PLACEMENT
// A worker that finds itself on the calling thread's CPU moves to another CPU
// it may use. After a pause the runtime's parked workers are woken by the
// calling thread, and a virtual machine's scheduler, which takes an idle vCPU
// for one its hypervisor has taken away, often queues them on the waker's own
// CPU: the caller then spins in the runtime's barrier while the worker waits
// behind it, and the two trade the CPU only at the scheduler's tick (4 ms), at
// both ends of the region. Narrowing the worker's own mask to the other CPUs
// migrates it at once; its mask is restored straight away, and it stays where
// it went. Only this thread's own mask is touched, and a failing call changes
// where it runs, never what it computes.
void leaveCallersCpu(int callerCpu) {
  if (callerCpu < 0 || callerCpu >= CPU_SETSIZE || sched_getcpu() != callerCpu) return;
  cpu_set_t own;
  if (sched_getaffinity(0, sizeof own, &own) != 0) return;
  if (!CPU_ISSET(callerCpu, &own) || CPU_COUNT(&own) < 2) return;
  cpu_set_t others = own;
  CPU_CLR(callerCpu, &others);
  if (sched_setaffinity(0, sizeof others, &others) != 0) return;
  // The mask just read is the one in force before; should the first restore
  // be refused (a CPU set changed meanwhile), it is tried once more.
  if (sched_setaffinity(0, sizeof own, &own) != 0) sched_setaffinity(0, sizeof own, &own);
}
#endif

}  // namespace

// A team is started for every call, also for n == 0; the team size is requested
// explicitly so the runtime's default (OMP_NUM_THREADS) plays no part.
void relabelParallel(const double* table, int n, const double* list, int count, double* result) {
  // Once, before the first team starts; if it fails, the call still runs.
  static const bool workersCodeKept = keepWorkersCodeLoaded();
  (void)workersCodeKept;
#ifdef RELABEL_BLOCKTIME
  const bool blocktime = kmp_get_blocktime && kmp_set_blocktime;
  const int savedBlocktime = blocktime ? kmp_get_blocktime() : 0;
  if (blocktime) kmp_set_blocktime(0);
#endif
#ifdef RELABEL_WORKER_PLACEMENT
  // Read before the region and only read inside it.
  const int callerCpu = sched_getcpu();
#pragma omp parallel num_threads(numCores > 0 ? numCores : 1) default(none) \
    shared(table, n, list, count, result, callerCpu)
  {
    const bool caller = omp_get_thread_num() == 0;
    if (!caller) leaveCallersCpu(callerCpu);
    relabelWorker(table, n, list, count, result);
    // A worker still queued behind the caller gets the CPU now, and moves,
    // rather than at the tick: the caller would otherwise spin in the
    // barrier in its way.
    if (caller && omp_get_num_threads() > 1) sched_yield();
  }
#else
#pragma omp parallel num_threads(numCores > 0 ? numCores : 1) default(none) \
    shared(table, n, list, count, result)
  relabelWorker(table, n, list, count, result);
#endif
#ifdef RELABEL_BLOCKTIME
  if (blocktime) kmp_set_blocktime(savedBlocktime);
#endif
}
