// SPDX-License-Identifier: MIT
// Windows: QueryPerformanceCounter, and a high-resolution waitable timer
// (Windows 10 1803 and later) for the sleep.  Where the system has none, the
// sleep is Sleep() for the part well beyond its 15.6 ms tick and the schedule
// spins on the counter for the rest.
#include <windows.h>

#include "tools/pace/clock.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace {

// Made on the first sleep and kept until unload: creating a timer per period
// would cost more than the wait it serves.
HANDLE Timer = nullptr;
bool TimerTried = false;

double CounterNow(void *)
{
    static LARGE_INTEGER frequency;
    if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    // Whole seconds and the rest apart, so the division loses nothing on a
    // counter that has run for days.
    const long long perSecond = frequency.QuadPart;
    return static_cast<double>(count.QuadPart / perSecond) +
           static_cast<double>(count.QuadPart % perSecond) / static_cast<double>(perSecond);
}

HANDLE HighResolutionTimer()
{
    if (!TimerTried) {
        TimerTried = true;
        Timer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
    }
    return Timer;
}

void CounterSleepUntil(void *, double when)
{
    const double left = when - CounterNow(nullptr);
    if (left <= 0) return;
    if (HANDLE timer = HighResolutionTimer()) {
        LARGE_INTEGER due;
        due.QuadPart = -static_cast<LONGLONG>(left * 1e7);  // relative, in 100 ns
        if (due.QuadPart < 0 && SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE)) {
            WaitForSingleObject(timer, INFINITE);
        }
        return;
    }
    if (left > 0.02) Sleep(static_cast<DWORD>((left - 0.016) * 1000));
}

}  // namespace

PaceClock SystemClock() { return {CounterNow, CounterSleepUntil, nullptr}; }

const char *SystemSleepName()
{
    return HighResolutionTimer() ? "high-resolution waitable timer" : "QueryPerformanceCounter";
}

void SystemClockRelease()
{
    if (Timer) CloseHandle(Timer);
    Timer = nullptr;
    TimerTried = false;
}
