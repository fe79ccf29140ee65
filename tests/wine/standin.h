// What the Wine host sees of its stand-in MATLAB (libmx.dll, libmex.dll)
// beyond MATLAB's own API: the recorded warnings and output, the lock count,
// the unload handler, and the error that mexErrMsgTxt raises.
#ifndef KELB_WINE_STANDIN_H
#define KELB_WINE_STANDIN_H

#include "mex.h"

#ifdef KELB_STANDIN_BUILD
#define STANDIN_API __declspec(dllexport)
#else
#define STANDIN_API __declspec(dllimport)
#endif

// Thrown by mexErrMsgTxt, as MATLAB unwinds the call.  Not derived from
// std::exception, so nothing in the plug-in can catch it by accident.
struct StandinError {
    char message[512];
};

extern "C" {
// Forgets warnings and printed text (the lock count and exit handler stay).
STANDIN_API void StandinClearLog(void);
STANDIN_API int StandinWarningCount(void);
STANDIN_API const char *StandinWarning(int i);
STANDIN_API const char *StandinPrinted(void);
STANDIN_API int StandinLockCount(void);
// How often mexUnlock was called with no lock held.
STANDIN_API int StandinUnlockUnderflows(void);
using StandinExitFcn = void (*)(void);
STANDIN_API StandinExitFcn StandinAtExit(void);
}

#endif
