// What the fuzzers share: a fresh virtual bus for every input.
#ifndef KELB_FUZZBUS_H
#define KELB_FUZZBUS_H

#include "fuzzcheck.h"
#include "sim/usb/bus.h"

// kelbsim::Reset keeps every old bus for stale pointers; millions of inputs
// cannot afford that.  The harness has checked that the product holds no
// object of the bus (or has forgotten the ones it leaked), so the old one goes.
inline void FreshBus() {
    kelbsim::Bus &bus = kelbsim::TheBus();
    uint64_t clock = bus.virtualMs;
    int nextId = bus.nextId;
    bus = kelbsim::Bus();
    bus.virtualMs = clock;
    bus.nextId = nextId;
}

#endif
