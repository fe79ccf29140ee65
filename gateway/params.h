// SPDX-License-Identifier: MIT
// The KELBport object: the MATLAB side of a port record.
#ifndef KELB_PARAMS_H
#define KELB_PARAMS_H

#include <array>

#include "kelbport.h"

enum KELBFIELDNUM : int {
    KELB_PORT = 0,
    KELB_DEVICE,
    KELB_DAC2DEFAULT,
    KELB_WATCHDOGTIMEOUT,
    KELB_READERROR,
    KELB_WRITEERROR,
    KELBFIELDCOUNT
};

extern const std::array<const char *, KELBFIELDCOUNT> SetupFieldNames;

void SetOutStructDouble(mxArray *structure, KELBFIELDNUM field, double value);
void SetOutStructUnsigned32(mxArray *structure, KELBFIELDNUM field, uint32_t value);
mxArray *CreateOutStructure(const KELBstruct *port);
double GetInStructDouble(const mxArray *object, KELBFIELDNUM field);
void SetPortParams(KELBstruct *port, const mxArray *object);

#endif
