// SPDX-License-Identifier: MIT
// kelbio_pace: the MEX entry point of the pacing call.  With no input it
// waits for the next deadline; a command string starts a schedule or reports
// on it.  The schedule is this file's one record, so a wait costs no
// allocation beyond its outputs.
#include <array>
#include <cmath>
#include <cstring>

#include "mex.h"
#include "tools/pace/clock.h"
#include "tools/pace/schedule.h"

#if defined(_WIN32)
#define KELB_EXPORT  // exported through the .def file
#else
#define KELB_EXPORT __attribute__((visibility("default")))
#endif

namespace {

PaceSchedule Schedule;
bool ExitRegistered = false;

constexpr int kWordLen = 12;

using PaceHandler = void (*)(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]);

mxArray *Checked(mxArray *array)
{
    if (!array) mexErrMsgTxt("Out of memory.");
    return array;
}

mxArray *Scalar(double value)
{
    mxArray *a = Checked(mxCreateDoubleMatrix(1, 1, mxREAL));
    if (a) *mxGetPr(a) = value;
    return a;
}

// Lower-case copy of a short string input; false when it is none.
bool Word(const mxArray *in, char word[kWordLen])
{
    if (!mxIsChar(in) || mxGetString(in, word, kWordLen) != 0) return false;
    for (char *c = word; *c; c++) {
        if (*c >= 'A' && *c <= 'Z') *c = static_cast<char>(*c - 'A' + 'a');
    }
    return true;
}

bool NeedsSchedule()
{
    if (Schedule.Started) return true;
    mexErrMsgTxt("No schedule: start one with kelbio_pace('start', period).");
    return false;
}

void Start(int nlhs, mxArray *[], int nrhs, const mxArray *prhs[])
{
    if (nrhs < 2 || nrhs > 3 || nlhs > 0) {
        mexErrMsgTxt("Use kelbio_pace('start', period) or kelbio_pace('start', period, 'skip' or 'catchup').");
        return;
    }
    const mxArray *p = prhs[1];
    const double period = mxIsDouble(p) && !mxIsEmpty(p) && mxGetNumberOfElements(p) == 1 ? mxGetScalar(p) : NAN;
    if (!(period > 0) || !std::isfinite(period)) {
        mexErrMsgTxt("The period must be a positive number of seconds.");
        return;
    }
    PaceMode mode = PaceSkip;
    if (nrhs == 3) {
        char word[kWordLen];
        if (Word(prhs[2], word) && std::strcmp(word, "catchup") == 0) {
            mode = PaceCatchUp;
        } else if (!Word(prhs[2], word) || std::strcmp(word, "skip") != 0) {
            mexErrMsgTxt("The overrun action must be 'skip' or 'catchup'.");
            return;
        }
    }
    PaceClock clock = SystemClock();
    PaceStart(&Schedule, period, mode, clock.Now(clock.Context));
}

void Stats(int nlhs, mxArray *plhs[], int nrhs, const mxArray *[])
{
    if (nrhs != 1 || nlhs > 1) {
        mexErrMsgTxt("Use s = kelbio_pace('stats').");
        return;
    }
    if (!NeedsSchedule()) return;
    static const char *names[] = {"Period", "Mode", "Periods", "Missed", "LatenessMean",
                                  "LatenessP99", "LatenessMax", "Elapsed", "Sleep"};
    constexpr int count = sizeof names / sizeof names[0];
    mxArray *s = Checked(mxCreateStructMatrix(1, 1, count, names));
    if (!s) return;
    const PaceStats &st = Schedule.Stats;
    PaceClock clock = SystemClock();
    const double values[] = {Schedule.Period, 0, static_cast<double>(st.Periods), static_cast<double>(st.Missed),
                             st.Periods ? st.LateSum / static_cast<double>(st.Periods) : 0, PaceP99(st),
                             st.LateMax, clock.Now(clock.Context) - Schedule.T0};
    for (int f = 0; f < count; f++) {
        mxArray *v = nullptr;
        if (f == 1) {
            v = Checked(mxCreateString(Schedule.Mode == PaceCatchUp ? "catchup" : "skip"));
        } else if (f == 8) {
            v = Checked(mxCreateString(SystemSleepName()));
        } else {
            v = Scalar(values[f]);
        }
        if (!v) return;
        mxSetFieldByNumber(s, 0, f, v);
    }
    plhs[0] = s;
}

// Seconds since the schedule's start on its clock, for time-stamping a record.
void Time(int nlhs, mxArray *plhs[], int nrhs, const mxArray *[])
{
    if (nrhs != 1 || nlhs > 1) {
        mexErrMsgTxt("Use t = kelbio_pace('time').");
        return;
    }
    if (!NeedsSchedule()) return;
    PaceClock clock = SystemClock();
    plhs[0] = Scalar(clock.Now(clock.Context) - Schedule.T0);
}

struct PaceCommand {
    const char *Name;
    PaceHandler Handler;
};

constexpr std::array<PaceCommand, 3> Commands = {{{"start", Start}, {"stats", Stats}, {"time", Time}}};

void Wait(int nlhs, mxArray *plhs[])
{
    if (nlhs > 2) {
        mexErrMsgTxt("Too many output arguments.");
        return;
    }
    if (!NeedsSchedule()) return;
    const PaceWaitResult r = PaceWait(&Schedule, SystemClock());
    if (nlhs >= 1) plhs[0] = Scalar(r.Late);
    if (nlhs >= 2) plhs[1] = Scalar(static_cast<double>(r.K));
}

void Unload(void)
{
    ExitRegistered = false;
    SystemClockRelease();
}

}  // namespace

extern "C" KELB_EXPORT void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[])
{
    if (!ExitRegistered) {
        mexAtExit(Unload);
        ExitRegistered = true;
    }
    if (nrhs == 0) {
        Wait(nlhs, plhs);
        return;
    }
    char word[kWordLen];
    if (Word(prhs[0], word)) {
        for (const PaceCommand &c : Commands) {
            if (std::strcmp(word, c.Name) == 0) {
                c.Handler(nlhs, plhs, nrhs, prhs);
                return;
            }
        }
    }
    mexErrMsgTxt("Unknown command: use kelbio_pace, or 'start', 'stats' or 'time'.");
}
