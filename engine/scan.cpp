#include "scan.h"

#include "key.h"

int relabelFirstMatch(std::int32_t key, const double* list, int count) {
  for (int j = 0; j < count; ++j)
    if (relabelKey(list[j]) == key) return j;
  return -1;
}
