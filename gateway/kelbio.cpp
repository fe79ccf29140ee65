// SPDX-License-Identifier: MIT
// The MEX entry point: command table, command matching, argument counts,
// port resolution, and the status output.
#include <array>
#include <cstring>

#include "gateway/registry.h"
#include "handlers.h"
#include "kelbtext.h"
#include "models/modeltable.h"

#if defined(_WIN32)
#define KELB_EXPORT  // exported through the .def file
#else
#define KELB_EXPORT __attribute__((visibility("default")))
#endif

struct CmdEntry {
    const char *Command;
    KELBhandler Handler;
    int32_t PortByName;  // the port input may be a name as well as an object
    int32_t MinArgs;     // inputs after the command string
    int32_t MaxArgs;
    int32_t MaxOut;      // also the output slot, from 1, that receives the status
};

// Scanned in this order: "Close" must come before "CloseAll".
static constexpr std::array<CmdEntry, 8> CmdTable = {{
    {"Open", Open, 1, 1, 1, 2},
    {"Close", Close, 0, 1, 1, 1},
    {"CloseAll", CloseAll, 0, 0, 0, 0},
    {"GetParams", GetParams, 1, 1, 1, 2},
    {"SetParams", SetParams, 0, 1, 1, 2},
    {"Read", Read, 0, 1, 2, 2},
    {"Write", Write, 0, 4, 6, 1},
    {"Help", Help, 1, 1, 1, 0},
}};

constexpr int CMDLEN = 20;   // command text, terminator included
constexpr int NAMELEN = 19;  // port name, terminator included

// Each row's first letter in lower case: most rows differ there, so the
// scan passes them at one comparison each.
static constexpr std::array<char, CmdTable.size()> CmdInitials = [] {
    std::array<char, CmdTable.size()> initials{};
    for (std::size_t i = 0; i < CmdTable.size(); ++i) initials[i] = KELBlower(CmdTable[i].Command[0]);
    return initials;
}();

// Unique prefix, letter case ignored; an exact match wins if it comes
// before a second prefix match.
static const CmdEntry *FindCommand(const char *text) {
    const CmdEntry *found = nullptr;
    const char first = KELBlower(text[0]);
    for (std::size_t i = 0; i < CmdTable.size(); ++i) {
        // The empty text begins every name.
        if (first != '\0' && CmdInitials[i] != first) continue;
        const char *rest = KELBafterPrefix(CmdTable[i].Command, text);
        if (!rest) continue;
        if (*rest == '\0') return &CmdTable[i];
        if (found) {
            mexErrMsgTxt("Ambiguous command name.");
            return nullptr;
        }
        found = &CmdTable[i];
    }
    if (!found) mexErrMsgTxt("Unknown command.");
    return found;
}

// A name is looked up, or registered on first use; anything else must be a
// KELBport object.
static KELBstruct *ResolvePort(const mxArray *input, bool byName) {
    char name[KELBNAMELEN] = {};  // zero-padded, as FindPort takes it
    if (!byName || !mxIsChar(input) || mxGetString(input, name, NAMELEN) != 0) return GetObjectPort(input);

    if (KELBstruct *port = FindPort(name)) return port;
    if (KELBcount >= KELBMAXPORTS) {
        mexErrMsgTxt("Too many KELBport devices referenced.");
        return nullptr;
    }
    const ModelEntry *model = FindModel(name);
    if (!model) {
        mexErrMsgTxt("Invalid KELBport device.");
        return nullptr;
    }
    int32_t device = name[std::strlen(model->ModelName)] - '1';
    if (device < 0 || device > 8) {
        mexErrMsgTxt("Device number is incorrect.");
        return nullptr;
    }
    return RegisterPort(name, model, device);
}

// ExitFcn is registered once per load rather than on every call.  The host
// forgets the registration when it runs it at unload, so running it clears
// the mark too: a host that keeps the file mapped after a clear (static data
// not set up again) still gets the handler registered by the next call.
static bool exitRegistered;

static void UnloadHandler(void) {
    exitRegistered = false;
    ExitFcn();
}

extern "C" KELB_EXPORT void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
    if (!exitRegistered) {
        mexAtExit(UnloadHandler);
        exitRegistered = true;
    }
    if (nrhs < 1) {
        mexErrMsgTxt("Too few input arguments.");
        return;
    }
    char text[CMDLEN];
    if (!mxIsChar(prhs[0]) || mxGetString(prhs[0], text, CMDLEN) != 0) {
        mexErrMsgTxt("The first input argument must be a command string.");
        return;
    }
    const CmdEntry *cmd = FindCommand(text);
    if (!cmd) return;

    int n = nrhs - 1;
    if (n < cmd->MinArgs) {
        mexErrMsgTxt("Too few input arguments.");
        return;
    }
    if (n > cmd->MaxArgs) {
        mexErrMsgTxt("Too many input arguments.");
        return;
    }
    if (nlhs > cmd->MaxOut) {
        mexErrMsgTxt("Too many output arguments.");
        return;
    }

    KELBstruct *port = nullptr;
    if (n > 0) {
        port = ResolvePort(prhs[1], cmd->PortByName != 0);
        if (!port) return;
    }

    // The status array is made before the handler runs, so that running out
    // of memory cannot report a failure for a board that was opened or closed.
    mxArray *status = nullptr;
    if (nlhs > 1 || cmd->MaxOut == 1) status = AllocCheck(mxCreateDoubleMatrix(1, 1, mxREAL));

    int32_t result = cmd->Handler(port, nlhs, plhs, n, prhs + 1);

    if (status) {
        *mxGetPr(status) = static_cast<double>(result);
        plhs[cmd->MaxOut - 1] = status;
    }
}
