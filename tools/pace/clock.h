// SPDX-License-Identifier: MIT
// The system's monotonic clock and its sleep, one source per platform.
#ifndef KELB_PACE_CLOCK_H
#define KELB_PACE_CLOCK_H

#include "tools/pace/schedule.h"

// The clock a schedule runs on in the plug-in.
PaceClock SystemClock();
// How the system sleeps, for the statistics: "clock_nanosleep",
// "high-resolution waitable timer" or "QueryPerformanceCounter".
const char *SystemSleepName();
// Gives back what the sleep holds (the Windows timer); called at unload.
void SystemClockRelease();

#endif
