// Internals shared by the files of the stand-in host.
#ifndef KELB_HOSTSTATE_H
#define KELB_HOSTSTATE_H

#include "mexhost.h"

namespace kelbhost {

struct HostState {
    std::vector<std::string> warnings;
    std::string printed;
    std::vector<std::string> evals;
    int locks = 0;
    int extraUnlocks = 0;
    ExitFunction exitFcn = nullptr;
    int exitRegistrations = 0;
    long allocations = 0;
    long failAt = 0;  // allocation number that returns null; 0 = none
};

HostState &State();
// Counts one mx allocation; true when this one is to fail.
bool TakeAllocation();
void FreeArrays();

}  // namespace kelbhost

#endif
