// SPDX-License-Identifier: MIT
// Linux: CLOCK_MONOTONIC, and an absolute clock_nanosleep on it, so a sleep
// that a signal interrupts resumes towards the same instant.
#include <cerrno>
#include <cmath>
#include <ctime>

#include "tools/pace/clock.h"

namespace {

double MonotonicNow(void *)
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

void MonotonicSleepUntil(void *, double when)
{
    double whole;
    const double part = std::modf(when, &whole);
    timespec ts;
    ts.tv_sec = static_cast<time_t>(whole);
    ts.tv_nsec = static_cast<long>(part * 1e9);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

}  // namespace

PaceClock SystemClock() { return {MonotonicNow, MonotonicSleepUntil, nullptr}; }

const char *SystemSleepName() { return "clock_nanosleep"; }

void SystemClockRelease() {}
