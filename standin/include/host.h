/* The stand-in host's own side: what a test or the mexhost program uses to make
 * arguments, load a module and call it. A plain C interface, so it can be
 * used across DLL boundaries built with different runtimes. */
#ifndef MESHLOOKUP_HOST_H
#define MESHLOOKUP_HOST_H

#include <stddef.h>

#include "mex.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum {
  hostDouble,
  hostSingle,
  hostInt32,
  hostLogical,
  hostChar,
  hostCell,
  hostStruct
} HostClass;

enum { hostComplexFlag = 1, hostSparseFlag = 2 };

/* A new array of zeros with the given class, dimensions (at least two) and
 * flags. Empty arrays, and arrays whose data would exceed 1 GiB, get no data
 * at all (their data address is NULL): the large ones exist to test size
 * checks, and any read of either faults. */
mxArray* hostCreateArray(HostClass cls, int ndims, const size_t* dims, int flags);
void hostDestroyArray(mxArray* array);
/* Number of arrays ever created, by the host or by modules. */
long hostArraysCreated(void);
/* Number of arrays alive now. */
long hostArraysAlive(void);

typedef void (*MexFunction)(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

/* Opens a module file and finds its mexFunction; NULL on failure, with the
 * reason in hostLastError(). A module stays loaded until hostUnloadModule. */
MexFunction hostLoadModule(const char* path);
/* Closes the module that entry came from, as a host's `clear mex` does: 0 on
 * success; 1, with the reason in hostLastError(), if entry was not loaded. */
int hostUnloadModule(MexFunction entry);

/* Loads an OpenMP runtime from path into the process, privately (global 0) or
 * into the global symbol scope (global 1), and runs one parallel region of two
 * threads on it through GCC's entry point GOMP_parallel, which the Linux builds
 * of GCC's, LLVM's and Intel's runtimes all serve: the process then runs that
 * runtime, as hosts that parallelise their own maths do. 0 on success; 1, with
 * the reason in hostLastError(), otherwise (always on Windows). */
int hostStartRuntime(const char* path, int global);

/* Threads of this process now. */
int hostThreadCount(void);

/* Calls a module's entry point as the host does. plhs must have room for at
 * least max(nlhs, 1) slots; they are cleared first. Returns 0 when the call
 * returned, 1 when it raised an error: then the message is in hostLastError()
 * and any array put into a result slot has been destroyed. */
int hostCall(MexFunction function, int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
const char* hostLastError(void);

/* Everything mexPrintf wrote since the last hostClearConsole(). With echo on,
 * it is also written to standard output as it is printed. */
const char* hostConsole(void);
void hostClearConsole(void);
void hostSetEcho(int on);

#ifdef __cplusplus
}
#endif

#endif
