// meshLookup(table, list): the module's entry point. It checks the call, takes
// the arguments, creates the result, prints the console line and hands the
// work to the engine; it is the only code that talks to the host.
#include <cstdint>

#include "mex.h"
#include "relabel.h"

#ifdef _WIN32
#define MESHLOOKUP_EXPORT __declspec(dllexport)
#else
#define MESHLOOKUP_EXPORT __attribute__((visibility("default")))
#endif

namespace {

// Tables, their dimensions and lists are counted in signed 32 bits.
constexpr std::uint64_t kCountLimit = std::uint64_t{1} << 31;

bool isRealFullDouble(const mxArray* array) {
  return mxIsDouble(array) && !mxIsComplex(array) && !mxIsSparse(array);
}

}  // namespace

// Errors end the call inside mexErrMsgTxt, before anything is created or
// printed; nothing here needs cleaning up when that happens.
extern "C" MESHLOOKUP_EXPORT void mexFunction(int nlhs, mxArray* plhs[], int nrhs,
                                              const mxArray* prhs[]) {
  if (nrhs != 2) mexErrMsgTxt("Mesh renumbering: wrong no. of input!");
  if (nlhs != 1) mexErrMsgTxt("Mesh renumbering: wrong no. of output");
  if (!isRealFullDouble(prhs[0]))
    mexErrMsgTxt("Mesh renumbering: table must be a real full double array");
  if (!isRealFullDouble(prhs[1]))
    mexErrMsgTxt("Mesh renumbering: list must be a real full double array");

  const double* table = mxGetPr(prhs[0]);
  const std::uint64_t rows = mxGetM(prhs[0]);
  const std::uint64_t columns = mxGetN(prhs[0]);
  // Both factors are below 2^31 when the product is formed, so it cannot wrap.
  // The entry count is held in 32 bits and stays within the module's stated
  // limit of 2^31 - numCores entries (README); the engine's own indices are
  // 64-bit and would take any count up to INT32_MAX.
  if (rows >= kCountLimit || columns >= kCountLimit ||
      rows * columns > kCountLimit - static_cast<std::uint64_t>(numCores))
    mexErrMsgTxt("Mesh renumbering: table too large");
  const double* list = mxGetPr(prhs[1]);
  const std::uint64_t count = mxGetNumberOfElements(prhs[1]);
  if (count >= kCountLimit) mexErrMsgTxt("Mesh renumbering: list too large");

  plhs[0] = mxCreateDoubleMatrix(rows, columns, mxREAL);
  double* result = mxGetPr(plhs[0]);
  mexPrintf("Renumbering Mesh: running on: %i cores\n", numCores);
  relabelParallel(table, static_cast<int>(rows * columns), list, static_cast<int>(count), result);
}
