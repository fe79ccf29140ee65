// The mex calls of platform/matlab/mex.h and the host's records of them.
#include <cstdarg>
#include <cstdio>

#include "hoststate.h"

namespace kelbhost {

HostState &State() {
    static HostState state;
    return state;
}

bool TakeAllocation() {
    HostState &s = State();
    ++s.allocations;
    if (s.failAt != 0 && s.allocations == s.failAt) {
        s.failAt = 0;
        return true;
    }
    return false;
}

void Reset() {
    State() = HostState{};
    FreeArrays();
}

const std::vector<std::string> &Warnings() { return State().warnings; }
const std::string &Printed() { return State().printed; }
const std::vector<std::string> &Evals() { return State().evals; }
int LockCount() { return State().locks; }
int ExtraUnlocks() { return State().extraUnlocks; }
ExitFunction AtExitFunction() { return State().exitFcn; }
int AtExitRegistrations() { return State().exitRegistrations; }

void FailAllocation(int n) { State().failAt = n > 0 ? State().allocations + n : 0; }
bool AllocationFailurePending() { return State().failAt != 0; }
long Allocations() { return State().allocations; }

}  // namespace kelbhost

extern "C" {

void mexErrMsgTxt(const char *message) {
    if (!message) throw kelbhost::HostFault("mexErrMsgTxt: null text");
    throw kelbhost::MexError(message);
}

void mexWarnMsgTxt(const char *message) {
    if (!message) throw kelbhost::HostFault("mexWarnMsgTxt: null text");
    kelbhost::State().warnings.emplace_back(message);
}

int mexPrintf(const char *format, ...) {
    if (!format) throw kelbhost::HostFault("mexPrintf: null format");
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (n > 0) {
        std::string text(static_cast<std::size_t>(n) + 1, '\0');
        std::vsnprintf(&text[0], text.size(), format, again);
        text.pop_back();
        kelbhost::State().printed += text;
    }
    va_end(again);
    return n;
}

int mexEvalString(const char *command) {
    if (!command) throw kelbhost::HostFault("mexEvalString: null text");
    kelbhost::State().evals.emplace_back(command);
    return 0;
}

int mexAtExit(void (*exit_fcn)(void)) {
    kelbhost::State().exitFcn = exit_fcn;
    ++kelbhost::State().exitRegistrations;
    return 0;
}

void mexLock(void) { ++kelbhost::State().locks; }

void mexUnlock(void) {
    kelbhost::HostState &s = kelbhost::State();
    if (s.locks > 0)
        --s.locks;
    else
        ++s.extraUnlocks;
}

bool mexIsLocked(void) { return kelbhost::State().locks > 0; }

}  // extern "C"
