// Linear search of a list by key, in a scalar and in vector forms, and the
// loop that renumbers one worker's share of a table with it.
#pragma once

#include <cstdint>

// Position (0-based) of the first entry of list[0..count) whose key equals
// `key`, or -1 when none does. Scans upward and stops at the first match; the
// key of each list entry is computed as it is compared. Reads nothing outside
// list[0..count).
using RelabelScan = int (*)(std::int32_t key, const double* list, int count);

// Renumbers the entries first, first + step, ... below n of table into result
// (see relabelParallel for the rule), with one scan of the list per entry.
using RelabelShare = void (*)(const double* table, std::int64_t first, std::int64_t n,
                              std::int64_t step, const double* list, int count, double* result);

enum class ScanPath { scalar, avx2, avx512 };

// Whether this build and this processor can run a path.
bool scanPathSupported(ScanPath path);
// The path relabelWorker uses: at load, the widest supported one. Switching is
// for tests and benchmarks, between calls, to paths that are supported
// (returns false and changes nothing otherwise).
ScanPath scanPathInUse();
bool useScanPath(ScanPath path);
const char* scanPathName(ScanPath path);

// What the path in use runs for a list of `count` entries: lists too short for
// a path's vectors use the scalar loop.
RelabelScan scanFor(int count);
RelabelShare shareFor(int count);
