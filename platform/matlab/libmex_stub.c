// SPDX-License-Identifier: MIT
/* Link stub for MATLAB's libmex on Linux; see libmx_stub.c. */
#include "mex.h"

void mexErrMsgTxt(const char *m) { (void)m; }
void mexWarnMsgTxt(const char *m) { (void)m; }
int mexPrintf(const char *f, ...) { (void)f; return 0; }
int mexEvalString(const char *c) { (void)c; return 0; }
int mexAtExit(void (*f)(void)) { (void)f; return 0; }
void mexLock(void) {}
void mexUnlock(void) {}
bool mexIsLocked(void) { return 0; }
