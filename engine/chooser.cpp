// The chooser: which path and layout run, and the only place that knows which
// kernel that is.
#include "kernels.h"
#include "layout_rule.h"
#include "scan.h"
#include "scan_control.h"

namespace {

ScanPath widestSupported() {
  if (scanPathSupported(ScanPath::avx512)) return ScanPath::avx512;
  if (scanPathSupported(ScanPath::avx2)) return ScanPath::avx2;
  return ScanPath::scalar;
}

ScanPath current = widestSupported();
ShareLayout layout = ShareLayout::automatic;
TransposedCompare compareForm = TransposedCompare::automatic;
ProcessorClass processorClass = detectedProcessorClass();

bool transposedFor(int count, std::int64_t step) {
  if (layout == ShareLayout::perEntry || current == ScanPath::scalar) return false;
  return layout == ShareLayout::transposed || transposedWins(current, processorClass, count, step);
}

}  // namespace

RelabelShare shareFor(int count, std::int64_t step) {
#ifdef RELABEL_X86_VECTOR
  const bool transposed = transposedFor(count, step);
  if (current == ScanPath::avx512) {
    if (transposed)
      return kernels::avx512::transposedShare(step, compareForm != TransposedCompare::halves);
    if (count >= layoutRule(current, processorClass).perEntryMinimum)
      return kernels::avx512::perEntryShare(count);
  }
  if (current == ScanPath::avx2) {
    if (transposed) return kernels::avx2::transposedShare(step);
    if (count >= layoutRule(current, processorClass).perEntryMinimum)
      return kernels::avx2::perEntryShare();
  }
#else
  (void)count;
  (void)step;
#endif
  return kernels::generic::share;
}

bool scanPathSupported(ScanPath path) {
  switch (path) {
    case ScanPath::scalar:
      return true;
#ifdef RELABEL_X86_VECTOR
    case ScanPath::avx2:
      return __builtin_cpu_supports("avx2");
    case ScanPath::avx512:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
             __builtin_cpu_supports("bmi");
#else
    default:
      return false;
#endif
  }
  return false;
}

ScanPath scanPathInUse() {
  return current;
}

bool useScanPath(ScanPath path) {
  if (!scanPathSupported(path)) return false;
  current = path;
  return true;
}

const char* scanPathName(ScanPath path) {
  switch (path) {
    case ScanPath::scalar:
      return "scalar";
    case ScanPath::avx2:
      return "avx2";
    case ScanPath::avx512:
      return "avx512";
  }
  return "?";
}

ShareLayout shareLayoutInUse() {
  return layout;
}

void useShareLayout(ShareLayout chosen) {
  layout = chosen;
}

TransposedCompare transposedCompareInUse() {
  return compareForm;
}

void useTransposedCompare(TransposedCompare form) {
  compareForm = form;
}

ProcessorClass processorClassInUse() {
  return processorClass;
}

void useProcessorClass(ProcessorClass cls) {
  processorClass = cls;
}
