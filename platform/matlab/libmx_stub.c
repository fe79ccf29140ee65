// SPDX-License-Identifier: MIT
/* Link stub for MATLAB's libmx on Linux.  It lets kelbio.mexa64 link with
 * --no-undefined and record libmx.so as needed; MATLAB supplies the real
 * library when it loads the plug-in, so none of these bodies ever runs. */
#include "matrix.h"

mxArray *mxCreateDoubleMatrix(mwSize m, mwSize n, mxComplexity f) { (void)m; (void)n; (void)f; return 0; }
mxArray *mxCreateNumericMatrix(mwSize m, mwSize n, mxClassID c, mxComplexity f) { (void)m; (void)n; (void)c; (void)f; return 0; }
mxArray *mxCreateString(const char *s) { (void)s; return 0; }
mxArray *mxCreateStructMatrix(mwSize m, mwSize n, int k, const char **names) { (void)m; (void)n; (void)k; (void)names; return 0; }
int mxGetString(const mxArray *a, char *b, mwSize n) { (void)a; (void)b; (void)n; return 1; }
double *mxGetPr(const mxArray *a) { (void)a; return 0; }
void *mxGetData(const mxArray *a) { (void)a; return 0; }
double mxGetScalar(const mxArray *a) { (void)a; return 0; }
size_t mxGetM(const mxArray *a) { (void)a; return 0; }
size_t mxGetN(const mxArray *a) { (void)a; return 0; }
size_t mxGetNumberOfElements(const mxArray *a) { (void)a; return 0; }
int mxGetNumberOfFields(const mxArray *a) { (void)a; return 0; }
const char *mxGetFieldNameByNumber(const mxArray *a, int n) { (void)a; (void)n; return 0; }
mxArray *mxGetFieldByNumber(const mxArray *a, mwIndex i, int n) { (void)a; (void)i; (void)n; return 0; }
void mxSetFieldByNumber(mxArray *a, mwIndex i, int n, mxArray *v) { (void)a; (void)i; (void)n; (void)v; }
bool mxIsDouble(const mxArray *a) { (void)a; return 0; }
bool mxIsChar(const mxArray *a) { (void)a; return 0; }
bool mxIsStruct(const mxArray *a) { (void)a; return 0; }
bool mxIsEmpty(const mxArray *a) { (void)a; return 1; }
bool mxIsSparse(const mxArray *a) { (void)a; return 0; }
mxClassID mxGetClassID(const mxArray *a) { (void)a; return mxUNKNOWN_CLASS; }
double mxGetNaN(void) { return 0; }
bool mxIsNaN(double v) { (void)v; return 0; }
