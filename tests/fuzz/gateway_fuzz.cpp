// The module file through the stand-in host with random argument and result
// counts, classes, flags, shapes (huge ones without data behind them) and
// values. Each call must either return exactly the reference result with one
// console line, or raise exactly the message the call deserves, having
// created and printed nothing. Argument data are exactly sized, and huge
// arrays have none, so any read outside them faults.
#include <omp.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "../reference.h"
#include "fuzz_input.h"
#include "host.h"

namespace {

MexFunction entry() {
  static MexFunction f = [] {
    const char* path = std::getenv("MESHLOOKUP_MODULE");
    MexFunction loaded = hostLoadModule(path ? path : MESHLOOKUP_MODULE);
    if (!loaded) {
      std::fprintf(stderr, "%s\n", hostLastError());
      std::abort();
    }
    return loaded;
  }();
  return f;
}

struct Arg {
  mxArray* array = nullptr;
  bool realFullDouble = false;
  std::uint64_t rows = 0, columns = 0, elements = 0;
  std::vector<double> values;
};

Arg makeArg(FuzzInput& in) {
  Arg a;
  const std::uint8_t kind = in.byte();
  const HostClass cls = (kind & 0x70) ? hostDouble : static_cast<HostClass>(kind % 7);
  const int flags = (kind & 0x80) ? static_cast<int>(kind & 3) : 0;
  const int ndims = 2 + (kind >> 3 & 1);
  size_t dims[3];
  for (int d = 0; d < ndims; ++d) {
    const std::uint8_t b = in.byte();
    if (b >= 0xf8) {  // huge: around 2^31, or beyond 2^32
      static const size_t huge[] = {size_t{1} << 31,       (size_t{1} << 31) - 1,
                                    (size_t{1} << 31) - 2, (size_t{1} << 32) + 1,
                                    size_t{1} << 16,       46341,
                                    size_t{1} << 30,       size_t{1} << 33};
      dims[d] = huge[b - 0xf8];
    } else {
      dims[d] = b % 7;
    }
  }
  a.array = hostCreateArray(cls, ndims, dims, flags);
  a.realFullDouble = cls == hostDouble && flags == 0;
  a.rows = dims[0];
  a.columns = mxGetN(a.array);
  a.elements = mxGetNumberOfElements(a.array);
  if (double* p = mxGetPr(a.array)) {
    a.values = in.values(a.elements);
    a.values.resize(a.elements, 0.0);
    std::copy(a.values.begin(), a.values.end(), p);
  }
  return a;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in{data, size};
  const int nlhs = in.byte() % 4, nrhs = in.byte() % 4;
  std::vector<Arg> args;
  std::vector<const mxArray*> handles;
  for (int k = 0; k < nrhs; ++k) {
    args.push_back(makeArg(in));
    handles.push_back(args.back().array);
  }

  const std::uint64_t limit = std::uint64_t{1} << 31;
  const int cores = omp_get_num_procs();
  std::string expected;
  if (nrhs != 2) {
    expected = "Mesh renumbering: wrong no. of input!";
  } else if (nlhs != 1) {
    expected = "Mesh renumbering: wrong no. of output";
  } else if (!args[0].realFullDouble) {
    expected = "Mesh renumbering: table must be a real full double array";
  } else if (!args[1].realFullDouble) {
    expected = "Mesh renumbering: list must be a real full double array";
  } else if (args[0].rows >= limit || args[0].columns >= limit ||
             args[0].rows * args[0].columns > limit - cores) {
    expected = "Mesh renumbering: table too large";
  } else if (args[1].elements >= limit) {
    expected = "Mesh renumbering: list too large";
  }

  // Arrays too large for this process have no data behind them. A call that
  // the module must accept would read that data, as it should: a real host has
  // it. Such calls are only checkable on a bigger machine.
  bool dataMissing = false;
  for (const Arg& a : args) dataMissing |= a.elements > 0 && a.realFullDouble && !mxGetPr(a.array);
  if (expected.empty() && dataMissing) {
    for (Arg& a : args) hostDestroyArray(a.array);
    return 0;
  }

  hostClearConsole();
  const long created = hostArraysCreated();
  mxArray* plhs[4] = {};
  const int failed = hostCall(entry(), nlhs, plhs, nrhs, handles.data());
  if (!expected.empty()) {
    if (!failed || expected != hostLastError() || *hostConsole() != '\0' ||
        hostArraysCreated() != created || plhs[0])
      std::abort();
  } else {
    if (failed || !plhs[0] || mxGetM(plhs[0]) != args[0].rows || mxGetN(plhs[0]) != args[0].columns)
      std::abort();
    const std::string line = "Renumbering Mesh: running on: " + std::to_string(cores) + " cores\n";
    if (line != hostConsole()) std::abort();
    const std::vector<double> want = referenceRelabel(args[0].values, args[1].values);
    const double* got = mxGetPr(plhs[0]);
    for (std::size_t i = 0; i < want.size(); ++i)
      if (bitsOf(got[i]) != bitsOf(want[i])) std::abort();
  }
  for (mxArray* r : plhs) hostDestroyArray(r);
  for (Arg& a : args) hostDestroyArray(a.array);
  return 0;
}
