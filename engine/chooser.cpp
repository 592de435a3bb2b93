// The chooser: which kernel runs a share, from the one thing that varies between processors here,
// the instruction set, and that set's layout rule.
#include <initializer_list>

#include "kernels.h"
#include "layout_rule.h"
#include "scan.h"
#include "scan_control.h"

bool scanPathSupported(ScanPath path) {
#ifdef RELABEL_X86_VECTOR
  if (path == ScanPath::avx512) return kernels::avx512::supported();
  if (path == ScanPath::avx2) return kernels::avx2::supported();
#endif
  return path == ScanPath::scalar;
}

namespace {

ScanPath widestSupported() {
  for (ScanPath path : {ScanPath::avx512, ScanPath::avx2})
    if (scanPathSupported(path)) return path;
  return ScanPath::scalar;
}

RelabelShare shareOn(ScanPath path, ShareLayout layout, int count, std::int64_t step) {
  [[maybe_unused]] const bool transposed =
      layout == ShareLayout::transposed ||
      (layout == ShareLayout::automatic && transposedWins(path, count, step));
#ifdef RELABEL_X86_VECTOR
  if (path == ScanPath::avx512)
    return transposed ? kernels::avx512::transposedShare(step)
                      : kernels::avx512::perEntryShare(count);
  if (path == ScanPath::avx2)
    return transposed ? kernels::avx2::transposedShare(step) : kernels::avx2::perEntryShare(count);
#endif
  return kernels::generic::share;
}

}  // namespace

#ifndef RELABEL_TEST_CONTROLS
RelabelShare shareFor(int count, std::int64_t step) {
  static const ScanPath widest = widestSupported();
  return shareOn(widest, ShareLayout::automatic, count, step);
}
#else
namespace {
ScanPath forcedPath = widestSupported();
ShareLayout forcedLayout = ShareLayout::automatic;
}  // namespace

RelabelShare shareFor(int count, std::int64_t step) {
  return shareOn(forcedPath, forcedLayout, count, step);
}
ScanPath scanPathInUse() {
  return forcedPath;
}
bool useScanPath(ScanPath path) {
  return scanPathSupported(path) && (forcedPath = path, true);
}
const char* scanPathName(ScanPath path) {
  return path == ScanPath::avx512 ? "avx512" : path == ScanPath::avx2 ? "avx2" : "scalar";
}
ShareLayout shareLayoutInUse() {
  return forcedLayout;
}
void useShareLayout(ShareLayout layout) {
  forcedLayout = layout;
}
#endif
