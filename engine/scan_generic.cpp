// The scalar kernel: any processor, and the vector paths' shortest lists.
#include "kernels.h"
#include "share_loop.h"

namespace kernels::generic {

void share(const double* table, std::int64_t first, std::int64_t n, std::int64_t step,
           const double* list, int count, double* result) {
  shareLoop(table, first, n, step, ScanScalar{list, count}, result);
}

}  // namespace kernels::generic
