// The comparison key of a table or list value.
#pragma once

#include <cstdint>

// Truncation toward zero to int32; -2^31 for NaN, +-inf and values whose
// truncation does not fit. A plain cast is undefined behaviour for those values
// (and differs between x86 and ARM), so the range is tested first. The bounds
// are exact doubles: every x in (-2^31 - 1, 2^31) truncates into int32, and NaN
// fails both comparisons.
inline std::int32_t relabelKey(double x) {
  return (x > -2147483649.0 && x < 2147483648.0) ? static_cast<std::int32_t>(x) : INT32_MIN;
}
