// SPDX-License-Identifier: MIT
// The port record shared by the gateway, the model codecs and the transports,
// and the signature of every command handler and model routine.
#ifndef KELB_PORT_H
#define KELB_PORT_H

#include <cstdint>

#include "mex.h"

#if defined(KELB_CYUSB)
class CCyDevice;
using KELBhandle = CCyDevice *;
#else
struct libusb_device_handle;
struct libusb_context;
using KELBhandle = libusb_device_handle *;
#endif

constexpr int KELBNAMELEN = 20;  // every text field, terminator included
constexpr int KELBMAXPORTS = 8;

struct KELBstruct;

// One signature for CmdTable handlers and model routines: the port record
// (null when the call has none), MATLAB's outputs, and the inputs that follow
// the command string, so that the port input is prhs[0].
using KELBhandler = int32_t (*)(KELBstruct *port, int nlhs, mxArray *plhs[], int nrhs,
                                const mxArray *prhs[]);

struct KELBstruct {
    char Name[KELBNAMELEN];
    char ModelTag[KELBNAMELEN];
    int32_t Device;
    KELBhandler ReadFcn;
    KELBhandler WriteFcn;
    KELBhandler HelpFcn;
    double Dac2Default;
    double WatchdogTimeout;
    uint32_t ReadError;
    uint32_t WriteError;
    KELBhandle Handle;
#if !defined(KELB_CYUSB)
    libusb_context *Context;
#endif
    int32_t PrevPosition1;
    int32_t PrevPosition2;
};

// The all-ones handle marks a port that is not open.
inline KELBhandle KELBnotOpen() { return reinterpret_cast<KELBhandle>(~std::uintptr_t{0}); }
inline bool PortIsOpen(const KELBstruct *port) { return port->Handle != KELBnotOpen(); }

#endif
