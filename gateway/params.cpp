// SPDX-License-Identifier: MIT
// Building the KELBport object from a record, and reading the two user
// parameters back from one.
#include "gateway/params.h"

#include <cstdio>
#include <cstring>

#include "handlers.h"

const std::array<const char *, KELBFIELDCOUNT> SetupFieldNames = {
    "Port", "Device", "Dac2Default", "WatchdogTimeout", "ReadError", "WriteError",
};

mxArray *AllocCheck(mxArray *array) {
    if (!array) mexErrMsgTxt("Out of memory.");
    return array;
}

void SetOutStructDouble(mxArray *structure, KELBFIELDNUM field, double value) {
    mxArray *v = AllocCheck(mxCreateDoubleMatrix(1, 1, mxREAL));
    *mxGetPr(v) = value;
    mxSetFieldByNumber(structure, 0, field, v);
}

void SetOutStructUnsigned32(mxArray *structure, KELBFIELDNUM field, uint32_t value) {
    mxArray *v = AllocCheck(mxCreateNumericMatrix(1, 1, mxUINT32_CLASS, mxREAL));
    std::memcpy(mxGetData(v), &value, sizeof value);
    mxSetFieldByNumber(structure, 0, field, v);
}

mxArray *CreateOutStructure(const KELBstruct *port) {
    const char *names[KELBFIELDCOUNT];
    for (int f = 0; f < KELBFIELDCOUNT; ++f) names[f] = SetupFieldNames[static_cast<std::size_t>(f)];
    mxArray *s = AllocCheck(mxCreateStructMatrix(1, 1, KELBFIELDCOUNT, names));
    mxSetFieldByNumber(s, 0, KELB_PORT, AllocCheck(mxCreateString(port->Name)));
    mxArray *device = AllocCheck(mxCreateNumericMatrix(1, 1, mxINT32_CLASS, mxREAL));
    std::memcpy(mxGetData(device), &port->Device, sizeof port->Device);
    mxSetFieldByNumber(s, 0, KELB_DEVICE, device);
    SetOutStructDouble(s, KELB_DAC2DEFAULT, port->Dac2Default);
    SetOutStructDouble(s, KELB_WATCHDOGTIMEOUT, port->WatchdogTimeout);
    SetOutStructUnsigned32(s, KELB_READERROR, port->ReadError);
    SetOutStructUnsigned32(s, KELB_WRITEERROR, port->WriteError);
    return s;
}

// Only the class is checked: NaN and infinities are valid values.  A field
// with no value, or an empty double, has no first element to take; a sparse
// one keeps only its nonzero elements, so its first stored value may not be
// its first element.
double GetInStructDouble(const mxArray *object, KELBFIELDNUM field) {
    const mxArray *value = mxGetNumberOfElements(object) > 0 ? mxGetFieldByNumber(object, 0, field) : nullptr;
    if (!value || !mxIsDouble(value) || mxIsSparse(value) || mxIsEmpty(value)) {
        char message[60];
        std::snprintf(message, sizeof message, "Invalid \"%s\" property value.",
                      SetupFieldNames[static_cast<std::size_t>(field)]);
        mexErrMsgTxt(message);
        return mxGetNaN();
    }
    return mxGetScalar(value);
}

// Both values are read before either is stored, so the record changes in
// one piece or not at all.
void SetPortParams(KELBstruct *port, const mxArray *object) {
    double dac2 = GetInStructDouble(object, KELB_DAC2DEFAULT);
    double watchdog = GetInStructDouble(object, KELB_WATCHDOGTIMEOUT);
    port->Dac2Default = dac2;
    port->WatchdogTimeout = watchdog;
    port->ReadError = 0;
    port->WriteError = 0;
}

// Every array is made before the record changes, so "Out of memory." leaves
// the record as it was.
int32_t SetParams(KELBstruct *port, int, mxArray *plhs[], int, const mxArray *prhs[]) {
    KELBstruct updated = *port;
    SetPortParams(&updated, prhs[0]);
    plhs[0] = CreateOutStructure(&updated);
    *port = updated;
    return 0;
}

int32_t GetParams(KELBstruct *port, int, mxArray *plhs[], int, const mxArray *[]) {
    plhs[0] = CreateOutStructure(port);
    return PortIsOpen(port) ? 0 : 1;
}
