// What the worker team does for the host it runs in, around the one parallel region of each call.
// None of it changes a result; a step that fails leaves the call to run as it would without it.
#pragma once

#include <cstdint>

// One call's state: set before the region, only read inside it.
struct TeamCall {
  bool blocktimeSet;    // the runtime's block time is 0 for this call
  int savedBlocktime;   // the host's, restored after the region
  int callerCpu;        // the caller's CPU while GCC's workers spin; else -1
  std::int64_t openNs;  // when the region was asked for (monotonic clock)
};

// On the calling thread, before the region. The first time, it keeps the OpenMP runtime's code
// mapped for as long as the process lives: the runtime parks the team's workers between calls, and
// a host that unloads the module (`clear mex`) must not be left with threads in code that is gone.
// With a runtime that has a block time (LLVM's, Intel's, which MATLAB bundles), it sets it to 0, so
// that the workers sleep at once rather than burn a core for 200 ms after every call.
TeamCall beginTeamCall();

// Every worker, inside the region, before its share: one that finds itself on the caller's CPU
// moves to another it may use (its mask is as before on return). Returns true to the caller alone,
// when its workers had to be woken.
bool workerStarts(const TeamCall& call);

// Every worker, inside the region, after its share, with what workerStarts returned: the caller
// then yields once, so that a worker queued behind it runs now rather than at the scheduler's next
// tick.
void workerEnds(bool yieldCpu);

// On the calling thread, after the region: the host's block time back.
void endTeamCall(const TeamCall& call);
