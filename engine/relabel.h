// Mesh renumbering engine: plain arrays and counts, no host types.
#pragma once

// Worker count: the number of processors the OpenMP runtime reports when the module is loaded
// (omp_get_num_procs). Set once by a static initializer and never written again by the module
// (tests set it between calls to stand for other machines); zero only before that initializer has
// run.
extern int numCores;

// Renumbers table[0..n) into result[0..n). Every result entry is the exact 64-bit pattern of the
// table entry at the same index (NaN payloads and -0.0 survive), unless the entry's key occurs
// among the keys of list[0..count): then it is the 1-based position of the first list entry with
// that key. Key: truncation toward zero to int32; NaN, +-inf and values whose truncation does not
// fit have the key -2^31. The work is split over a team of numCores workers, requested for this
// call's region only, also when n is 0; the calling thread is worker 0. With the full team, worker
// t handles entries t, t + numCores, ..., starting t/numCores of the way through them and wrapping
// round; a smaller team takes over the missing workers' shares, so every entry is written exactly
// once. Around the region the team does what its host needs (host_runtime.h); the runtime's
// settings and every thread's CPU mask are as before on return. n and count must be >= 0; nothing
// outside table/result[0..n) or list[0..count) is read or written. Allocates nothing, reports
// nothing.
void relabelParallel(const double* table, int n, const double* list, int count, double* result);

// The body each worker of relabelParallel's team runs on the same five values, with its worker
// number and team size from the OpenMP runtime. Outside a parallel region it is a team of one and
// does all of [0..n).
void relabelWorker(const double* table, int n, const double* list, int count, double* result);
