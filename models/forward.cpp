// SPDX-License-Identifier: MIT
// Read, Write and Help hand a call on to the port's model routines.
#include <cstdio>

#include "handlers.h"

// A model routine never runs on a closed port: no argument is checked and
// the status is 1.
int32_t Read(KELBstruct *port, int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
    if (!PortIsOpen(port) || !port->ReadFcn) return 1;
    return port->ReadFcn(port, nlhs, plhs, nrhs, prhs);
}

int32_t Write(KELBstruct *port, int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
    if (!PortIsOpen(port) || !port->WriteFcn) return 1;
    return port->WriteFcn(port, nlhs, plhs, nrhs, prhs);
}

int32_t Help(KELBstruct *port, int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
    if (port->HelpFcn) return port->HelpFcn(port, nlhs, plhs, nrhs, prhs);
    char message[60];
    std::snprintf(message, sizeof message, "No help available for %s", port->Name);
    mexErrMsgTxt(message);
    return 1;
}
