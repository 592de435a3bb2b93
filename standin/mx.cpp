// Array library of the stand-in host: column-major arrays with dimensions, a
// class and flags, created zeroed.
#include <atomic>
#include <cstdint>
#include <cstdlib>

#include "host.h"

struct mxArray_tag {
  HostClass cls;
  int flags;
  int ndims;
  size_t* dims;
  void* data;  // NULL for empty arrays and those too large to back with memory
};

namespace {

std::atomic<long> created{0};
std::atomic<long> alive{0};

constexpr std::uint64_t kMaxDataBytes = std::uint64_t{1} << 30;

size_t elementSize(HostClass cls) {
  switch (cls) {
    case hostDouble:
      return sizeof(double);
    case hostSingle:
      return sizeof(float);
    case hostInt32:
      return sizeof(std::int32_t);
    case hostLogical:
      return 1;
    case hostChar:
      return 2;
    case hostCell:
    case hostStruct:
      return sizeof(void*);
  }
  return 1;
}

// Element count, saturated at SIZE_MAX so that absurd dimensions stay absurd.
size_t elementCount(int ndims, const size_t* dims, int from) {
  size_t count = 1;
  for (int d = from; d < ndims; ++d) {
    if (dims[d] != 0 && count > SIZE_MAX / dims[d]) return SIZE_MAX;
    count *= dims[d];
  }
  return count;
}

}  // namespace

extern "C" {

mxArray* hostCreateArray(HostClass cls, int ndims, const size_t* dims, int flags) {
  if (ndims < 2) std::abort();
  mxArray* a = static_cast<mxArray*>(std::calloc(1, sizeof(mxArray)));
  if (!a) std::abort();
  a->dims = static_cast<size_t*>(std::calloc(ndims, sizeof(size_t)));
  if (!a->dims) std::abort();
  a->cls = cls;
  a->flags = flags;
  a->ndims = ndims;
  for (int d = 0; d < ndims; ++d) a->dims[d] = dims[d];
  const size_t count = elementCount(ndims, dims, 0);
  const size_t size = elementSize(cls) * ((flags & hostComplexFlag) ? 2 : 1);
  // An empty array has no data behind it either (NULL), as hosts may hand
  // over: a module must not touch the data of an array with no elements.
  if (count > 0 && count <= kMaxDataBytes / size) {
    a->data = std::calloc(count, size);
    if (!a->data) std::abort();
  }
  ++created;
  ++alive;
  return a;
}

void hostDestroyArray(mxArray* array) {
  if (!array) return;
  std::free(array->data);
  std::free(array->dims);
  std::free(array);
  --alive;
}

long hostArraysCreated(void) {
  return created.load();
}
long hostArraysAlive(void) {
  return alive.load();
}

double* mxGetPr(const mxArray* array) {
  return array->cls == hostDouble ? static_cast<double*>(array->data) : nullptr;
}

size_t mxGetM(const mxArray* array) {
  return array->dims[0];
}
size_t mxGetN(const mxArray* array) {
  return elementCount(array->ndims, array->dims, 1);
}
size_t mxGetNumberOfElements(const mxArray* array) {
  return elementCount(array->ndims, array->dims, 0);
}

mxArray* mxCreateDoubleMatrix_730(mwSize m, mwSize n, mxComplexity complexity) {
  const size_t dims[2] = {m, n};
  return hostCreateArray(hostDouble, 2, dims, complexity == mxCOMPLEX ? hostComplexFlag : 0);
}

bool mxIsDouble(const mxArray* array) {
  return array->cls == hostDouble;
}
bool mxIsComplex(const mxArray* array) {
  return (array->flags & hostComplexFlag) != 0;
}
bool mxIsSparse(const mxArray* array) {
  return (array->flags & hostSparseFlag) != 0;
}

}  // extern "C"
