/* The host interface that the meshLookup gateway is written against, for
 * platforms without MATLAB or Octave. It declares the operations under the
 * names that a MATLAB build with large array dimensions imports, so a module
 * built against it asks its host for exactly these symbols. Hosts that ship
 * their own mex.h (MATLAB, Octave) are built against theirs instead. */
#ifndef MESHLOOKUP_MEX_H
#define MESHLOOKUP_MEX_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#define MEX_NORETURN [[noreturn]]
#else
#include <stdbool.h>
#define MEX_NORETURN _Noreturn
#endif

typedef struct mxArray_tag mxArray;
typedef size_t mwSize;
typedef size_t mwIndex;
typedef enum { mxREAL = 0, mxCOMPLEX = 1 } mxComplexity;

/* Address of the real double data of a double array (NULL for other classes
 * and for arrays without data). */
double* mxGetPr(const mxArray* array);
/* Rows; columns as the product of all dimensions after the first; elements. */
size_t mxGetM(const mxArray* array);
size_t mxGetN(const mxArray* array);
size_t mxGetNumberOfElements(const mxArray* array);
/* A new m-by-n double matrix of zeros, owned by the host once returned. */
mxArray* mxCreateDoubleMatrix_730(mwSize m, mwSize n, mxComplexity complexity);
#define mxCreateDoubleMatrix mxCreateDoubleMatrix_730
bool mxIsDouble(const mxArray* array);
bool mxIsComplex(const mxArray* array);
bool mxIsSparse(const mxArray* array);

/* Raises a host error with the message: ends the call, does not return. */
MEX_NORETURN void mexErrMsgTxt(const char* message);
/* printf-style output on the host's console. */
int mexPrintf(const char* format, ...);

/* The module's entry point, called by the host. */
void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

#ifdef __cplusplus
}
#endif

#endif
