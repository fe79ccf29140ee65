// SPDX-License-Identifier: MIT
// The models' help routines, issued as MATLAB warnings.
#ifndef KELB_HELP_H
#define KELB_HELP_H

#include "kelbport.h"

int32_t HelpTIRK(KELBstruct *port, int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]);
int32_t HelpSORVANDEL(KELBstruct *port, int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]);
int32_t HelpFELDAR(KELBstruct *port, int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]);
int32_t HelpMORSIVAN(KELBstruct *port, int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]);
int32_t HelpGASPILODEN(KELBstruct *port, int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]);

#endif
