// SPDX-License-Identifier: MIT
/* MEX interface of MATLAB's MEX API: the entry point kelbio exports and the
 * calls it makes back into MATLAB.  Written from MATLAB's published External
 * Interfaces reference; see matrix.h for the array calls. */
#ifndef KELB_MEX_H
#define KELB_MEX_H

#include "matrix.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The one symbol a MEX file exports. */
void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]);

/* Raises a MATLAB error; MATLAB unwinds the call and does not come back. */
void mexErrMsgTxt(const char *message);
void mexWarnMsgTxt(const char *message);
int mexPrintf(const char *format, ...);
int mexEvalString(const char *command);

int mexAtExit(void (*exit_fcn)(void));
void mexLock(void);
void mexUnlock(void);
bool mexIsLocked(void);

#ifdef __cplusplus
}
#endif

#endif
