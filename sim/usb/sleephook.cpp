// SPDX-License-Identifier: MIT
// The test executable's own sleep(): the product's pause after programming
// boards is recorded and moves the bus clock on, and the test does not wait.
// Exported from the executable, it is also what a dlopen'ed kelbio binds to.
#include <unistd.h>

#include "sim/usb/kelbsim.h"

extern "C" unsigned int sleep(unsigned int seconds) {
    kelbsim::Sleep(seconds);
    return 0;
}
