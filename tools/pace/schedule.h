// SPDX-License-Identifier: MIT
// The pacing schedule: deadlines t0 + k*T on a monotonic clock, what an
// overrun does, and the statistics of a run.  One fixed record holds it all;
// the clock is passed in, so the logic runs the same on any clock.
#ifndef KELB_PACE_SCHEDULE_H
#define KELB_PACE_SCHEDULE_H

#include <cstdint>

// Lateness histogram: 1 us bins up to 1024 us, then 64 us bins up to about
// 66 ms; the last bin takes everything later.  Fixed, so a long run costs no
// memory and a p99 is still to within a microsecond where it matters.
constexpr int KELBPACEFINEBINS = 1024;
constexpr int KELBPACECOARSEBINS = 1024;
constexpr int KELBPACEBINS = KELBPACEFINEBINS + KELBPACECOARSEBINS;
constexpr double KELBPACECOARSEUS = 64;

enum PaceMode : int32_t { PaceSkip = 0, PaceCatchUp = 1 };

struct PaceStats {
    int64_t Periods;   // waits that returned
    int64_t Missed;    // deadlines that had passed before the wait began
    double LateSum;    // s
    double LateMax;    // s
    uint32_t Hist[KELBPACEBINS];
};

struct PaceSchedule {
    bool Started;
    double T0;       // s on the clock
    double Period;   // s
    int64_t K;       // index of the next deadline, t0 + K*T
    PaceMode Mode;
    double Margin;   // s before a deadline at which sleeping ends and spinning begins
    double Oversleep;  // running estimate of how late the sleep wakes, s
    PaceStats Stats;
};

// The clock and the sleep the schedule runs on.  SleepUntil may return late or
// early; the schedule spins on Now for the rest.
struct PaceClock {
    double (*Now)(void *context);
    void (*SleepUntil)(void *context, double when);
    void *Context;
};

struct PaceWaitResult {
    double Late;  // s after the deadline at which the wait returned
    int64_t K;    // the deadline's index
};

void PaceStart(PaceSchedule *schedule, double period, PaceMode mode, double now);
PaceWaitResult PaceWait(PaceSchedule *schedule, const PaceClock &clock);
// The lateness below which 99 % of the periods fall, in s: the upper edge of
// the histogram bin that reaches 99 %, never above the maximum seen.
double PaceP99(const PaceStats &stats);

#endif
