// kelbio_pace.mexw64/.mexw32 under Wine: the Windows clock and sleep behind
// the same schedule.  It prints the statistics of a 1 kHz run; what it
// asserts is logic only (deadline numbers, skip and catch-up counts), with
// overruns of many periods so that scheduling noise cannot change them.
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "winehost.h"

namespace {

const mxArray *Num(double v)
{
    mxArray *a = mxCreateDoubleMatrix(1, 1, mxREAL);
    *mxGetPr(a) = v;
    return a;
}

double FieldOf(const mxArray *s, const char *name)
{
    for (int f = 0; f < mxGetNumberOfFields(s); f++) {
        if (std::strcmp(mxGetFieldNameByNumber(s, f), name) == 0) return mxGetScalar(Field(s, f));
    }
    return -1;
}

std::string TextOf(const mxArray *s, const char *name)
{
    for (int f = 0; f < mxGetNumberOfFields(s); f++) {
        if (std::strcmp(mxGetFieldNameByNumber(s, f), name) == 0) return Text(Field(s, f));
    }
    return "";
}

TEST(WinePace, OneKilohertzRunReportsItsStatistics)
{
    ASSERT_EQ(Call(0, {Str("start"), Num(1e-3)}).error, "");
    for (int k = 1; k <= 1000; k++) {
        CallResult r = Call(2, {});
        ASSERT_EQ(r.error, "");
        ASSERT_GE(mxGetScalar(r.out[1]), k);  // skipped deadlines advance k further
    }
    CallResult s = Call(1, {Str("stats")});
    ASSERT_EQ(s.error, "");
    const mxArray *st = s.out[0];
    std::printf("kelbio_pace under Wine, 1 kHz: periods %.0f, missed %.0f, lateness mean %.1f us, p99 %.1f us, "
                "max %.1f us, elapsed %.3f s, sleep: %s\n",
                FieldOf(st, "Periods"), FieldOf(st, "Missed"), FieldOf(st, "LatenessMean") * 1e6,
                FieldOf(st, "LatenessP99") * 1e6, FieldOf(st, "LatenessMax") * 1e6, FieldOf(st, "Elapsed"),
                TextOf(st, "Sleep").c_str());
    EXPECT_EQ(FieldOf(st, "Periods"), 1000);
    EXPECT_GE(FieldOf(st, "Elapsed"), 1.0);  // 1000 deadlines 1 ms apart lie behind
    EXPECT_LE(FieldOf(st, "LatenessP99"), FieldOf(st, "LatenessMax"));
    EXPECT_GE(FieldOf(st, "LatenessMean"), 0);
}

TEST(WinePace, OverrunIsSkippedOrCaughtUp)
{
    // 50 ms periods and a body of 175 ms or more: deadlines 2, 3, 4 pass during it.
    for (const char *mode : {"skip", "catchup"}) {
        ASSERT_EQ(Call(0, {Str("start"), Num(0.05), Str(mode)}).error, "");
        ASSERT_EQ(mxGetScalar(Call(2, {}).out[1]), 1);
        Sleep(175);
        // The last deadline passed, on the schedule's clock: more than 4 on a slow machine.
        const double n = std::floor(mxGetScalar(Call(1, {Str("time")}).out[0]) / 0.05);
        std::vector<double> ks;
        for (int i = 0; i < 3; i++) ks.push_back(mxGetScalar(Call(2, {}).out[1]));
        CallResult s = Call(1, {Str("stats")});
        if (std::strcmp(mode, "skip") == 0) {
            EXPECT_EQ(FieldOf(s.out[0], "Missed"), n - 1);
            EXPECT_EQ(ks, (std::vector<double>{n + 1, n + 2, n + 3}));
        } else {
            EXPECT_EQ(FieldOf(s.out[0], "Missed"), 3);
            EXPECT_EQ(ks, (std::vector<double>{2, 3, 4}));
        }
    }
}

TEST(WinePace, ErrorsUnwindToTheHost)
{
    EXPECT_EQ(Call(0, {Str("start"), Num(-1)}).error, "The period must be a positive number of seconds.");
    EXPECT_EQ(Call(0, {Str("nap")}).error, "Unknown command: use kelbio_pace, or 'start', 'stats' or 'time'.");
}

}  // namespace
