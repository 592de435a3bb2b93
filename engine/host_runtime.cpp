#include "host_runtime.h"

#include <omp.h>

#include "relabel.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#if defined(__GNUC__) && !defined(_WIN32)
// The block time belongs to the calling thread, so it is set for this call's region only. Weak:
// with GCC's runtime alone in the process both stay null.
#define RELABEL_BLOCKTIME 1
extern "C" int kmp_get_blocktime(void) __attribute__((weak));
extern "C" void kmp_set_blocktime(int milliseconds) __attribute__((weak));
#endif

// RELABEL_NO_WORKER_PLACEMENT: the benchmarks' baseline modules only.
#if defined(__linux__) && !defined(RELABEL_NO_WORKER_PLACEMENT)
#define RELABEL_WORKER_PLACEMENT 1
#include <sched.h>
#include <strings.h>
#include <time.h>

#include <cstdlib>
#include <cstring>
#endif

namespace {

// Linux: the runtime is a shared library of its own, found from one of its functions as this module
// calls it (whichever runtime the module was linked or bound to in its host), and marked never to
// be unloaded; the module may still be unloaded, and a reload finds the same runtime and workers.
// Windows: the module is pinned (MATLAB's builds hold the runtime; Octave's run on libgomp-1.dll).
bool keepRuntimeLoaded() {
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
std::int64_t nowNs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

// Spinning workers start a region within a microsecond; sleeping ones take the runtime a system
// call each to wake, 10 us and more.
constexpr std::int64_t kWokenNs = 4000;

// Whether GCC's runtime keeps idle workers spinning, read as the runtime reads it. Passive workers
// never hold up a thread queued behind them, and moving them would only add a migration to each
// call after a pause (docs/tuning.md).
bool workersSpin() {
  const char* policy = std::getenv("OMP_WAIT_POLICY");
  const char* spins = std::getenv("GOMP_SPINCOUNT");
  if (policy && strcasecmp(policy, "passive") == 0) return false;
  return !(spins && std::strcmp(spins, "0") == 0);
}
#endif

}  // namespace

TeamCall beginTeamCall() {
  [[maybe_unused]] static const bool runtimeKept = keepRuntimeLoaded();
  TeamCall call{false, 0, -1, 0};
#ifdef RELABEL_BLOCKTIME
  call.blocktimeSet = kmp_get_blocktime && kmp_set_blocktime;
  if (call.blocktimeSet) {
    call.savedBlocktime = kmp_get_blocktime();
    kmp_set_blocktime(0);
  }
#endif
#ifdef RELABEL_WORKER_PLACEMENT
  // Workers with a block time of 0 sleep after every call and wake in tens of microseconds; moving
  // them would add a migration to every call.
  static const bool spinning = workersSpin();
  if (spinning && !call.blocktimeSet) {
    call.callerCpu = sched_getcpu();
    call.openNs = nowNs();
  }
#endif
  return call;
}

// After a pause the parked workers are woken by the calling thread, and a virtual machine's
// scheduler often queues them on the waker's own CPU (an idle vCPU may have been taken away by the
// hypervisor): the caller then spins in the runtime's barrier while the worker waits behind it, and
// the two trade the CPU only at the scheduler's tick (4 ms), at both ends of the region. Narrowing
// the worker's mask to the other CPUs migrates it at once; the mask is restored straight away, and
// the worker stays where it went.
bool workerStarts([[maybe_unused]] const TeamCall& call) {
#ifdef RELABEL_WORKER_PLACEMENT
  const int cpu = call.callerCpu;
  if (cpu < 0) return false;
  if (omp_get_thread_num() == 0)
    return omp_get_num_threads() > 1 && nowNs() - call.openNs > kWokenNs;
  if (cpu >= CPU_SETSIZE || sched_getcpu() != cpu) return false;
  cpu_set_t own;
  if (sched_getaffinity(0, sizeof own, &own) != 0) return false;
  if (!CPU_ISSET(cpu, &own) || CPU_COUNT(&own) < 2) return false;
  cpu_set_t others = own;
  CPU_CLR(cpu, &others);
  // A refused restore (a CPU set changed meanwhile) is tried once more.
  if (sched_setaffinity(0, sizeof others, &others) == 0 &&
      sched_setaffinity(0, sizeof own, &own) != 0)
    sched_setaffinity(0, sizeof own, &own);
#endif
  return false;
}

// Back to back there is nobody to yield to, and no system call is made.
void workerEnds([[maybe_unused]] bool yieldCpu) {
#ifdef RELABEL_WORKER_PLACEMENT
  if (yieldCpu) sched_yield();
#endif
}

void endTeamCall([[maybe_unused]] const TeamCall& call) {
#ifdef RELABEL_BLOCKTIME
  if (call.blocktimeSet) kmp_set_blocktime(call.savedBlocktime);
#endif
}
