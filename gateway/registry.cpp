// SPDX-License-Identifier: MIT
// The port records, the lookup of a KELBport object, and opening and
// closing boards with the library lock that keeps MATLAB from unloading us
// while a board is open.
#include "gateway/registry.h"

#include <cstdint>
#include <cstring>

#include "gateway/params.h"
#include "handlers.h"
#include "kelbtext.h"
#include "models/modeltable.h"
#include "transport.h"

KELBstruct Port[KELBMAXPORTS];
int32_t KELBcount;

// Names are compared exactly first, as whole 20-byte fields: a record's Name
// is zero after its terminator (RegisterPort clears the record), and so is
// the name FindPort is given.  No two records are equal with letter case
// ignored, so the one record that matches exactly is also the first that
// matches that way.  Should the host have written past the terminator of a
// name it read for us, only the exact comparison misses.
static bool SameField(const char *a, const char *b) {
    uint64_t x, y;
    std::memcpy(&x, a, sizeof x);
    std::memcpy(&y, b, sizeof y);
    return x == y && std::memcmp(a + sizeof x, b + sizeof x, KELBNAMELEN - sizeof x) == 0;
}

KELBstruct *FindPort(const char (&name)[KELBNAMELEN]) {
    for (int32_t i = 0; i < KELBcount; ++i)
        if (SameField(Port[i].Name, name)) return &Port[i];
    for (int32_t i = 0; i < KELBcount; ++i)
        if (KELBsameText(Port[i].Name, name)) return &Port[i];
    return nullptr;
}

KELBstruct *RegisterPort(const char *name, const ModelEntry *model, int32_t device) {
    KELBstruct *port = &Port[KELBcount];
    std::memset(port, 0, sizeof *port);
    KELBcopyText(port->Name, name);
    KELBcopyText(port->ModelTag, model->ModelTag);
    port->Device = device;
    port->Dac2Default = mxGetNaN();
    port->WatchdogTimeout = 1.0;
    port->Handle = KELBnotOpen();
    port->ReadFcn = model->ReadFcn;
    port->WriteFcn = model->WriteFcn;
    port->HelpFcn = model->HelpFcn;
    ++KELBcount;
    return port;
}

// Only the Port field chooses the record.  An empty struct array carries the
// field names but no element to read them from.
KELBstruct *GetObjectPort(const mxArray *object) {
    bool isPort = mxIsStruct(object) && mxGetNumberOfElements(object) > 0;
    for (int f = 0; isPort && f < KELBFIELDCOUNT; ++f) {
        const char *name = mxGetFieldNameByNumber(object, f);
        const char *want = SetupFieldNames[static_cast<std::size_t>(f)];
        // The names CreateOutStructure gave are the usual case.
        isPort = name && (std::strcmp(name, want) == 0 || KELBsameText(name, want));
    }
    if (!isPort) {
        mexErrMsgTxt("The second input argument must be a \"KELBport\" object.");
        return nullptr;
    }
    const mxArray *field = mxGetFieldByNumber(object, 0, KELB_PORT);
    char name[KELBNAMELEN] = {};
    if (!field || !mxIsChar(field) || mxGetString(field, name, KELBNAMELEN) != 0) {
        mexErrMsgTxt("Invalid KELBport name (too long).");
        return nullptr;
    }
    KELBstruct *port = FindPort(name);
    if (!port) mexErrMsgTxt("The object is not found in the list of active KELBport devices.");
    return port;
}

int32_t Open(KELBstruct *port, int, mxArray *plhs[], int, const mxArray *prhs[]) {
    // Parameters come from an object, never from a name; they and the
    // output are settled before the board is touched, so "Out of memory."
    // leaves the record, the board and the lock as they were.
    KELBstruct updated = *port;
    if (!mxIsChar(prhs[0])) SetPortParams(&updated, prhs[0]);
    mxArray *out = CreateOutStructure(&updated);
    port->Dac2Default = updated.Dac2Default;
    port->WatchdogTimeout = updated.WatchdogTimeout;
    port->ReadError = updated.ReadError;
    port->WriteError = updated.WriteError;

    int32_t status = 1;
    if (!PortIsOpen(port)) USBopen(port);
    if (PortIsOpen(port)) {
        mexLock();
        status = 0;
    }
    plhs[0] = out;
    return status;
}

int32_t Close(KELBstruct *port, int, mxArray *[], int, const mxArray *[]) {
    if (!PortIsOpen(port)) return 1;
    // The port is closed even when the board reports a failure: its lock
    // goes back before the failure is raised.
    const char *failure = USBclose(port);
    mexUnlock();
    if (failure) mexErrMsgTxt(failure);
    return 0;
}

// Closes every open port and gives back every lock, whatever fails on the
// way, and gives the first close failure's message, or null.  Records that
// are not open still pass through USBclose, which ends a libusb context kept
// after a refused claim; otherwise libusb's thread would outlive the library.
static const char *CloseEveryPort() {
    const char *first = nullptr;
    for (int32_t i = 0; i < KELBcount; ++i) {
        bool open = PortIsOpen(&Port[i]);
        const char *failure = USBclose(&Port[i]);
        if (open) mexUnlock();
        if (!first) first = failure;
    }
    while (mexIsLocked()) mexUnlock();
    return first;
}

int32_t CloseAll(KELBstruct *, int, mxArray *[], int, const mxArray *[]) {
    if (const char *failure = CloseEveryPort()) mexErrMsgTxt(failure);
    return 0;
}

// MATLAB unloads the library right after this: nothing may be raised here.
void ExitFcn(void) {
    if (const char *failure = CloseEveryPort()) mexWarnMsgTxt(failure);
}
