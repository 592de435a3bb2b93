// A plain serial statement of the renumbering rule, written independently of
// the engine, and random data that exercises its corners.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

inline std::int32_t referenceKey(double x) {
  const double t = std::trunc(x);  // NaN stays NaN and fails the range test
  if (t >= -2147483648.0 && t <= 2147483647.0) return static_cast<std::int32_t>(t);
  return std::numeric_limits<std::int32_t>::min();
}

inline std::vector<double> referenceRelabel(const std::vector<double>& table,
                                            const std::vector<double>& list) {
  std::vector<double> out(table.size());
  for (std::size_t i = 0; i < table.size(); ++i) {
    out[i] = table[i];
    for (std::size_t j = 0; j < list.size(); ++j) {
      if (referenceKey(list[j]) == referenceKey(table[i])) {
        out[i] = static_cast<double>(j + 1);
        break;
      }
    }
  }
  return out;
}

inline std::uint64_t bitsOf(double x) {
  std::uint64_t b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

inline double fromBits(std::uint64_t b) {
  double x;
  std::memcpy(&x, &b, sizeof x);
  return x;
}

// Values drawn from a small key range (so duplicates and matches are common),
// with NaNs carrying payloads, infinities, signed zeros, huge magnitudes and
// the int32 boundaries mixed in.
inline double randomValue(std::mt19937_64& rng, int keyRange) {
  std::uniform_int_distribution<int> kind(0, 19);
  std::uniform_int_distribution<int> key(-keyRange, keyRange);
  std::uniform_real_distribution<double> frac(-0.999, 0.999);
  static const double special[] = {std::numeric_limits<double>::infinity(),
                                   -std::numeric_limits<double>::infinity(),
                                   -0.0,
                                   0.0,
                                   2147483647.9,
                                   2147483648.0,
                                   -2147483648.9,
                                   -2147483649.0,
                                   -2147483648.0,
                                   2147483647.0,
                                   1e300,
                                   -1e300,
                                   4.9e-324,
                                   -4.9e-324,
                                   9007199254740993.0};
  switch (kind(rng)) {
    case 0:  // quiet or signalling NaN with a random payload, either sign
      return fromBits(0x7ff0000000000000ull | (rng() & 0x800fffffffffffffull) | 1u);
    case 1:
    case 2:
      return special[rng() % (sizeof special / sizeof special[0])];
    case 3:
      return std::ldexp(frac(rng), 20 + static_cast<int>(rng() % 60));
    default:
      return key(rng) + frac(rng);
  }
}

inline std::vector<double> randomValues(std::mt19937_64& rng, std::size_t size, int keyRange) {
  std::vector<double> v(size);
  for (double& x : v) x = randomValue(rng, keyRange);
  return v;
}
