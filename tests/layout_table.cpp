// Prints each vector path's layout rule as a Markdown table: the engine
// document carries this output, and the docs check compares the two.
#include <cstdio>

#include "layout_rule.h"

template <int N>
void print(const char* path, const LayoutBand (&bands)[N]) {
  int from = 0;
  for (const LayoutBand& band : bands) {
    char steps[32] = "none";
    if (band.stepsUpTo > 0)
      std::snprintf(steps, sizeof steps, "1 to %lld", static_cast<long long>(band.stepsUpTo));
    std::printf("| %s | %d to %d | %s |\n", path, from, band.listsUpTo, steps);
    from = band.listsUpTo + 1;
  }
  std::printf("| %s | over %d | none |\n", path, from - 1);
}

int main() {
  std::printf("| path | list length | transposed at steps |\n|---|---:|---:|\n");
  print("avx512", kAvx512Bands);
  print("avx2", kAvx2Bands);
  return 0;
}
