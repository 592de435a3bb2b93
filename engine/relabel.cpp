#include "relabel.h"

#include <omp.h>

#include <cstdint>

#include "record_writes.h"
#include "scan.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dlfcn.h>
#endif
#if defined(__linux__) && !defined(RELABEL_NO_WORKER_PLACEMENT)
#include <sched.h>
#include <strings.h>
#include <time.h>

#include <cstdlib>
#include <cstring>
#if defined(__x86_64__)
#include <x86intrin.h>
#endif
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
  // 64-bit indices: i + step may pass INT32_MAX when n is close to it. Each
  // share runs in two parts, from its restart to n and then up to it.
  for (std::int64_t s = t; s < step && s < n; s += granted) {
    const std::int64_t restart = shareRestart(s, n, step);
    share(table, restart, n, step, list, count, result);
    if (restart > s) share(table, s, restart, step, list, count, result);
  }
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
// A clock for telling a region that opened at once from one whose workers had
// to be woken: the time-stamp counter where there is one (a few cycles to
// read, at 1 GHz or more), the monotonic clock elsewhere.
#if defined(__x86_64__)
inline std::int64_t ticks() {
  return static_cast<std::int64_t>(__rdtsc());
}
// 4 us at 2.5 GHz, 10 us at 1 GHz: above any region that opens at once.
constexpr std::int64_t kWokenTicks = 10000;
#else
inline std::int64_t ticks() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}
constexpr std::int64_t kWokenTicks = 4000;
#endif

// Whether GCC's runtime keeps idle workers spinning, its default: read once,
// as the runtime itself reads them when it starts. Passive workers sleep at
// once and never hold up a thread queued behind them, and moving them would
// only add a migration to each call after a pause (docs/tuning.md, worker
// placement).
bool workersSpin() {
  const char* policy = std::getenv("OMP_WAIT_POLICY");
  const char* spins = std::getenv("GOMP_SPINCOUNT");
  if (policy && strcasecmp(policy, "passive") == 0) return false;
  return !(spins && std::strcmp(spins, "0") == 0);
}

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
  // Both read before the region and only read inside it. Workers that do not
  // spin are left where they wake (callerCpu -1): those of GCC's runtime when
  // it waits passively, and those of a runtime with a block time (LLVM's,
  // Intel's), set to 0 above, which sleep after every call and wake in tens of
  // microseconds; moving them would add a migration to every call (docs/tuning.md).
  static const bool spinning = workersSpin();
  bool place = spinning;
#ifdef RELABEL_BLOCKTIME
  place = place && !blocktime;
#endif
  const int callerCpu = place ? sched_getcpu() : -1;
  const std::int64_t opened = ticks();
#pragma omp parallel num_threads(numCores > 0 ? numCores : 1) default(none) \
    shared(table, n, list, count, result, callerCpu, opened)
  {
    const bool caller = omp_get_thread_num() == 0;
    // Spinning workers start the region within half a microsecond; workers
    // that had gone to sleep take the runtime a system call to wake, 10 us
    // and more, and it is then that they may be queued behind the caller.
    const bool wokeWorkers = caller && callerCpu >= 0 && ticks() - opened > kWokenTicks;
    if (!caller) leaveCallersCpu(callerCpu);
    relabelWorker(table, n, list, count, result);
    // A worker queued behind the caller gets the CPU now, and moves, rather
    // than at the tick: the caller would otherwise spin in the barrier in its
    // way. Back to back there is nobody to yield to, and no system call.
    if (wokeWorkers && omp_get_num_threads() > 1) sched_yield();
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
