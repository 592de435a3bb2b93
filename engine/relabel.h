// Mesh renumbering engine: plain arrays and counts, no host types.
#pragma once

// Worker count: the number of processors the OpenMP runtime reports when the
// module is loaded (omp_get_num_procs). Set once by a static initializer and
// never written again by the module (tests set it between calls to stand for
// other machines); zero only before that initializer has run.
extern int numCores;

// Renumbers table[0..n) into result[0..n).
//   Every result entry starts as the exact 64-bit pattern of the table entry at
//   the same index (NaN payloads and -0.0 survive). If the entry's key occurs
//   among the keys of list[0..count), the copy is replaced by the 1-based
//   position of the first list entry with that key (lowest position wins).
//   Entries whose key occurs nowhere keep their copy; with count 0 the result
//   is a bit-for-bit copy of the table.
//   Key: truncation toward zero to a signed 32-bit integer; NaN, +-inf and
//   values whose truncation lies outside [-2^31, 2^31 - 1] have the key -2^31.
// Work is split over a team of numCores workers (the calling thread is worker
// 0): with the full team, worker t handles entries t, t + numCores, ...,
// starting t/numCores of the way through them and wrapping round. If the
// runtime grants a smaller team, the granted workers take over the missing
// workers' shares, so every entry is still written exactly once.
// On Linux, a spinning worker woken onto the calling thread's CPU moves itself
// to another CPU it may use; every thread's CPU mask is as before on return.
// n and count must be >= 0; nothing outside table/result[0..n) or
// list[0..count) is read or written. Allocates nothing, reports nothing.
void relabelParallel(const double* table, int n, const double* list, int count, double* result);

// The body that each worker of relabelParallel's team runs on the same five
// values; it takes its worker number and the team size from the OpenMP
// runtime. Outside a parallel region it is a team of one and does all of
// [0..n). Not meant to be called by anything but relabelParallel.
void relabelWorker(const double* table, int n, const double* list, int count, double* result);
