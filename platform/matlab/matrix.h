// SPDX-License-Identifier: MIT
/* MX array interface of MATLAB's MEX API, 32-bit-dimension form.
 *
 * Written from MATLAB's published External Interfaces reference; it declares
 * the calls kelbio makes, with the types MATLAB gives them when dimensions
 * are 32-bit (mwSize and mwIndex are int).  In that form six calls are
 * exported by libmx under a _700 suffix; the defines below map the plain
 * names onto them, as MATLAB's own headers do, so sources use plain names. */
#ifndef KELB_MATRIX_H
#define KELB_MATRIX_H

#include <stddef.h>
#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef int mwSize;
typedef int mwIndex;
typedef int mwSignedIndex;

typedef struct mxArray_tag mxArray;

#ifdef __cplusplus
typedef char16_t mxChar;
#else
typedef uint16_t mxChar;
#endif
typedef bool mxLogical;

typedef enum {
    mxUNKNOWN_CLASS = 0,
    mxCELL_CLASS,
    mxSTRUCT_CLASS,
    mxLOGICAL_CLASS,
    mxCHAR_CLASS,
    mxVOID_CLASS,
    mxDOUBLE_CLASS,
    mxSINGLE_CLASS,
    mxINT8_CLASS,
    mxUINT8_CLASS,
    mxINT16_CLASS,
    mxUINT16_CLASS,
    mxINT32_CLASS,
    mxUINT32_CLASS,
    mxINT64_CLASS,
    mxUINT64_CLASS,
    mxFUNCTION_CLASS
} mxClassID;

typedef enum { mxREAL = 0, mxCOMPLEX } mxComplexity;

#define mxGetString mxGetString_700
#define mxCreateDoubleMatrix mxCreateDoubleMatrix_700
#define mxCreateNumericMatrix mxCreateNumericMatrix_700
#define mxCreateStructMatrix mxCreateStructMatrix_700
#define mxGetFieldByNumber mxGetFieldByNumber_700
#define mxSetFieldByNumber mxSetFieldByNumber_700

/* Creation.  Each returns NULL when memory runs out. */
mxArray *mxCreateDoubleMatrix(mwSize m, mwSize n, mxComplexity flag);
mxArray *mxCreateNumericMatrix(mwSize m, mwSize n, mxClassID classid, mxComplexity flag);
mxArray *mxCreateString(const char *str);
mxArray *mxCreateStructMatrix(mwSize m, mwSize n, int nfields, const char **fieldnames);

/* Contents. */
int mxGetString(const mxArray *array, char *buf, mwSize buflen);
double *mxGetPr(const mxArray *array);
void *mxGetData(const mxArray *array);
double mxGetScalar(const mxArray *array);
size_t mxGetM(const mxArray *array);
size_t mxGetN(const mxArray *array);
size_t mxGetNumberOfElements(const mxArray *array);

/* Structures. */
int mxGetNumberOfFields(const mxArray *array);
const char *mxGetFieldNameByNumber(const mxArray *array, int n);
mxArray *mxGetFieldByNumber(const mxArray *array, mwIndex index, int fieldnumber);
void mxSetFieldByNumber(mxArray *array, mwIndex index, int fieldnumber, mxArray *value);

/* Tests. */
bool mxIsDouble(const mxArray *array);
bool mxIsChar(const mxArray *array);
bool mxIsStruct(const mxArray *array);
bool mxIsEmpty(const mxArray *array);
bool mxIsSparse(const mxArray *array);
mxClassID mxGetClassID(const mxArray *array);

double mxGetNaN(void);
bool mxIsNaN(double value);

#ifdef __cplusplus
}
#endif

#endif
