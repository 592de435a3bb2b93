// The engine against the plain serial reference, bit for bit, on every scan
// path this processor runs, in each layout. Buffers are exactly sized, so AddressSanitizer
// sees any access outside them.
#include <cstdlib>

#include "../reference.h"
#include "fuzz_input.h"
#include "relabel.h"
#include "scan.h"
#include "scan_control.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in{data, size};
  const ScanPath path = static_cast<ScanPath>(in.byte() % 3);
  if (!useScanPath(path)) return 0;
  useShareLayout(static_cast<ShareLayout>(in.byte() % 3));
  const std::size_t count = in.byte() % 200;
  const std::vector<double> list = in.values(count);
  const std::vector<double> table = in.values(4096);
  std::vector<double> result(table.size());
  relabelParallel(table.data(), static_cast<int>(table.size()), list.data(),
                  static_cast<int>(list.size()), result.data());
  const std::vector<double> want = referenceRelabel(table, list);
  for (std::size_t i = 0; i < want.size(); ++i)
    if (bitsOf(result[i]) != bitsOf(want[i])) std::abort();
  return 0;
}
