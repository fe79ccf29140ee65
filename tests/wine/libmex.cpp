// Stand-in for MATLAB's libmex.dll.  mexErrMsgTxt throws, so the error
// unwinds through the plug-in to the host the way MATLAB's does.
#define KELB_STANDIN_BUILD
#include "standin.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {
std::vector<std::string> warnings;
std::string printed;
int locks;
int underflows;
StandinExitFcn exitFcn;
}  // namespace

extern "C" {

void mexErrMsgTxt(const char *message)
{
    StandinError error{};
    std::snprintf(error.message, sizeof error.message, "%s", message);
    throw error;
}

void mexWarnMsgTxt(const char *message) { warnings.emplace_back(message); }

int mexPrintf(const char *format, ...)
{
    char text[4096];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    printed += text;
    return n;
}

int mexEvalString(const char *) { return 0; }

int mexAtExit(void (*exit_fcn)(void))
{
    exitFcn = exit_fcn;
    return 0;
}

void mexLock(void) { ++locks; }

void mexUnlock(void)
{
    if (locks == 0)
        ++underflows;
    else
        --locks;
}

bool mexIsLocked(void) { return locks > 0; }

void StandinClearLog(void)
{
    warnings.clear();
    printed.clear();
}
int StandinWarningCount(void) { return int(warnings.size()); }
const char *StandinWarning(int i) { return warnings.at(i).c_str(); }
const char *StandinPrinted(void) { return printed.c_str(); }
int StandinLockCount(void) { return locks; }
int StandinUnlockUnderflows(void) { return underflows; }
StandinExitFcn StandinAtExit(void) { return exitFcn; }

}  // extern "C"
