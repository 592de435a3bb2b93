// Linear search of a list by key.
#pragma once

#include <cstdint>

// Position (0-based) of the first entry of list[0..count) whose key equals
// `key`, or -1 when none does. Scans upward and stops at the first match; the
// key of each list entry is computed as it is compared.
int relabelFirstMatch(std::int32_t key, const double* list, int count);
