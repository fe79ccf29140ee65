// SPDX-License-Identifier: MIT
#include "tools/pace/schedule.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// The spin before a deadline lasts at least kMinMargin, at most kMaxMargin
// and never more than half a period (longer would be a busy wait).
constexpr double kMinMargin = 20e-6;
constexpr double kMaxMargin = 2e-3;
constexpr double kFirstOversleep = 60e-6;

int LateBin(double late)
{
    const double us = late * 1e6;
    if (!(us > 0)) return 0;
    if (us < KELBPACEFINEBINS) return static_cast<int>(us);
    const double coarse = (us - KELBPACEFINEBINS) / KELBPACECOARSEUS;
    return coarse < KELBPACECOARSEBINS - 1 ? KELBPACEFINEBINS + static_cast<int>(coarse) : KELBPACEBINS - 1;
}

double BinTop(int bin)
{
    if (bin < KELBPACEFINEBINS) return (bin + 1) * 1e-6;
    return (KELBPACEFINEBINS + (bin - KELBPACEFINEBINS + 1) * KELBPACECOARSEUS) * 1e-6;
}

void Record(PaceStats *stats, double late)
{
    stats->Periods++;
    stats->LateSum += late;
    stats->LateMax = std::max(stats->LateMax, late);
    stats->Hist[LateBin(late)]++;
}

// The margin follows how late the sleep wakes: twice its running mean plus a
// little, so most waits end in a short spin and few in a late wake.
void SetMargin(PaceSchedule *s);

void LearnOversleep(PaceSchedule *s, double oversleep)
{
    s->Oversleep += (std::max(0.0, oversleep) - s->Oversleep) / 16;
    SetMargin(s);
}

void SetMargin(PaceSchedule *s)
{
    s->Margin = std::min({2 * s->Oversleep + kMinMargin, kMaxMargin, s->Period / 2});
}

}  // namespace

void PaceStart(PaceSchedule *schedule, double period, PaceMode mode, double now)
{
    std::memset(schedule, 0, sizeof *schedule);
    schedule->Started = true;
    schedule->T0 = now;
    schedule->Period = period;
    schedule->K = 1;
    schedule->Mode = mode;
    schedule->Oversleep = kFirstOversleep;
    SetMargin(schedule);
}

PaceWaitResult PaceWait(PaceSchedule *s, const PaceClock &clock)
{
    double now = clock.Now(clock.Context);
    double deadline = s->T0 + s->K * s->Period;
    if (now > deadline) {
        if (s->Mode == PaceCatchUp) {
            // Return at once; the loop works off the missed periods one by one.
            s->Stats.Missed++;
            Record(&s->Stats, now - deadline);
            return {now - deadline, s->K++};
        }
        // Skip every deadline that has passed and wait for the next one, so
        // the loop stays on the grid t0 + k*T.
        int64_t next = static_cast<int64_t>(std::floor((now - s->T0) / s->Period)) + 1;
        next = std::max(next, s->K + 1);
        while (s->T0 + next * s->Period < now) next++;  // rounding of the division
        s->Stats.Missed += next - s->K;
        s->K = next;
        deadline = s->T0 + s->K * s->Period;
    }
    const double wake = deadline - s->Margin;
    if (now < wake) {
        clock.SleepUntil(clock.Context, wake);
        now = clock.Now(clock.Context);
        LearnOversleep(s, now - wake);
    }
    while (now < deadline) now = clock.Now(clock.Context);
    Record(&s->Stats, now - deadline);
    return {now - deadline, s->K++};
}

double PaceP99(const PaceStats &stats)
{
    if (stats.Periods == 0) return 0;
    const int64_t want = static_cast<int64_t>(std::ceil(0.99 * static_cast<double>(stats.Periods)));
    int64_t seen = 0;
    for (int bin = 0; bin < KELBPACEBINS; bin++) {
        seen += stats.Hist[bin];
        if (seen >= want) return std::min(BinTop(bin), stats.LateMax);
    }
    return stats.LateMax;
}
