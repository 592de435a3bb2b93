// A module that stands for a rebuilt meshLookup at the same path: it answers
// every call with one console line of its own, so a host test can tell which
// of the two files a load ran.
#include "mex.h"

extern "C" __attribute__((visibility("default"))) void mexFunction(int, mxArray*[], int,
                                                                   const mxArray*[]) {
  mexPrintf("rebuilt module\n");
}
