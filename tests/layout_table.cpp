// Prints the layout rule of every vector path and processor class as a
// Markdown table: the engine document carries this output, and the docs check
// compares the two.
#include <cstdio>
#include <initializer_list>

#include "layout_rule.h"
#include "scan_control.h"

int main() {
  std::printf("| path | processor class | list length | transposed at steps |\n");
  std::printf("|---|---|---:|---:|\n");
  const ProcessorClass classes[] = {ProcessorClass::intel, ProcessorClass::amdZen4,
                                    ProcessorClass::amdZen5};
  for (ScanPath path : {ScanPath::avx512, ScanPath::avx2}) {
    for (ProcessorClass cls : classes) {
      const char* name = processorClassName(cls);
      const LayoutRule r = layoutRule(path, cls);
      int from = 0;
      for (int b = 0; b < r.size; ++b) {
        const LayoutBand band = r.bands[b];
        char steps[32];
        if (band.stepsUpTo > 0)
          std::snprintf(steps, sizeof steps, "1 to %lld", static_cast<long long>(band.stepsUpTo));
        else
          std::snprintf(steps, sizeof steps, "none");
        std::printf("| %s | %s | %d to %d | %s |\n", scanPathName(path), name, from, band.listsUpTo,
                    steps);
        from = band.listsUpTo + 1;
      }
      std::printf("| %s | %s | over %d | none |\n", scanPathName(path), name, from - 1);
    }
  }
  std::printf(
      "\nLists shorter than %d (AVX-512) or %d (AVX2) entries that are laid out per entry"
      " go to the scalar loop.\n",
      layoutRule(ScanPath::avx512, ProcessorClass::intel).perEntryMinimum,
      layoutRule(ScanPath::avx2, ProcessorClass::intel).perEntryMinimum);
  return 0;
}
