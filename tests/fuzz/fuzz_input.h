// Turns fuzzer bytes into values that exercise the key rule: mostly small
// integers with fractions (so keys collide), sometimes raw 64-bit patterns
// (NaN payloads, infinities, huge values, -0.0).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

struct FuzzInput {
  const std::uint8_t* data;
  std::size_t size;

  std::uint8_t byte() {
    if (size == 0) return 0;
    --size;
    return *data++;
  }
  bool empty() const { return size == 0; }

  double value() {
    const std::uint8_t tag = byte();
    if ((tag & 3) == 0 && size >= 8) {
      double x;
      std::memcpy(&x, data, 8);
      data += 8;
      size -= 8;
      return x;
    }
    return static_cast<std::int8_t>(byte()) + (tag >> 2) / 64.0;
  }

  std::vector<double> values(std::size_t count) {
    std::vector<double> v;
    for (std::size_t k = 0; k < count && !empty(); ++k) v.push_back(value());
    return v;
  }
};
