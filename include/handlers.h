// SPDX-License-Identifier: MIT
// Command handlers named in CmdTable, and the gateway helpers the models use.
#ifndef KELB_HANDLERS_H
#define KELB_HANDLERS_H

#include "kelbport.h"

int32_t Open(KELBstruct *port, int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]);
int32_t Close(KELBstruct *port, int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]);
int32_t CloseAll(KELBstruct *port, int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]);
int32_t GetParams(KELBstruct *port, int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]);
int32_t SetParams(KELBstruct *port, int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]);
int32_t Read(KELBstruct *port, int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]);
int32_t Write(KELBstruct *port, int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]);
int32_t Help(KELBstruct *port, int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]);

// Every array the library creates passes through here: "Out of memory." on null.
mxArray *AllocCheck(mxArray *array);

#endif
