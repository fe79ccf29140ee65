// The schedule's logic runs on a clock that the test moves: deadlines,
// overruns and statistics are checked exactly, with no real waiting.  The
// built plug-in is then called as MATLAB would, for its commands and errors.
#include <gtest/gtest.h>

#include <cmath>

#include "mexhost.h"
#include "tools/pace/schedule.h"

namespace {

// Time moves by `tick` on each reading (so a spin ends) and a sleep wakes
// `oversleep` after the instant it was asked for.
struct FakeClock {
    double now = 100.0;
    double tick = 1e-6;
    double oversleep = 0;
    int sleeps = 0;
};

double FakeNow(void *c)
{
    auto *f = static_cast<FakeClock *>(c);
    f->now += f->tick;
    return f->now;
}

void FakeSleepUntil(void *c, double when)
{
    auto *f = static_cast<FakeClock *>(c);
    f->sleeps++;
    f->now = std::max(f->now, when + f->oversleep);
}

struct PaceRun {
    FakeClock fake;
    PaceClock clock{FakeNow, FakeSleepUntil, &fake};
    PaceSchedule s{};
    PaceRun(double period, PaceMode mode, double oversleep = 0)
    {
        fake.oversleep = oversleep;
        PaceStart(&s, period, mode, fake.now);
    }
};

TEST(PaceSchedule, WaitsEndOnTheDeadlinesT0PlusKTWhateverTheLoopAndTheSleepCost)
{
    // The sleep wakes up to 0.3 ms late: the margin must learn it, and the
    // deadlines must not drift with it.
    for (double oversleep : {0.0, 50e-6, 300e-6}) {
        PaceRun run(1e-3, PaceSkip, oversleep);
        const double t0 = run.s.T0;
        for (int k = 1; k <= 2000; k++) {
            run.fake.now += 0.4e-3;  // the loop's own work
            PaceWaitResult r = PaceWait(&run.s, run.clock);
            ASSERT_EQ(r.K, k);
            const double deadline = t0 + k * 1e-3;
            EXPECT_NEAR(run.fake.now - r.Late, deadline, 1e-9) << "k " << k;
            if (k > 100) {
                EXPECT_LT(r.Late, 2e-6) << "oversleep " << oversleep << ", k " << k;
            }
        }
        EXPECT_EQ(run.s.Stats.Periods, 2000);
        EXPECT_EQ(run.s.Stats.Missed, 0);
        EXPECT_GT(run.fake.sleeps, 1900);  // it slept, it did not busy-wait
    }
}

TEST(PaceSchedule, OverrunSkipsToTheNextDeadlineOrCatchesUpOneByOne)
{
    struct Case {
        PaceMode mode;
        std::vector<int64_t> ks;          // deadlines the waits after the overrun return
        std::vector<double> lateMs;       // and how late each returns
    };
    const Case cases[] = {
        {PaceSkip, {5, 6}, {0, 0}},
        {PaceCatchUp, {2, 3, 4, 5, 6}, {2.5, 1.5, 0.5, 0, 0}},
    };
    for (const Case &c : cases) {
        PaceRun run(1e-3, c.mode);
        const double t0 = run.s.T0;
        ASSERT_EQ(PaceWait(&run.s, run.clock).K, 1);
        run.fake.now = t0 + 4.5e-3;  // the loop body took 3.5 periods
        for (size_t i = 0; i < c.ks.size(); i++) {
            PaceWaitResult r = PaceWait(&run.s, run.clock);
            EXPECT_EQ(r.K, c.ks[i]) << "mode " << c.mode << ", wait " << i;
            EXPECT_NEAR(r.Late, c.lateMs[i] * 1e-3, 5e-6) << "mode " << c.mode << ", wait " << i;
            EXPECT_NEAR(run.fake.now, t0 + std::max(4.5, double(c.ks[i])) * 1e-3, 1e-5);
        }
        EXPECT_EQ(run.s.Stats.Missed, 3) << "mode " << c.mode;
        EXPECT_EQ(run.s.Stats.Periods, int64_t(c.ks.size()) + 1);
    }
}

TEST(PaceSchedule, StatisticsCountTheLatenessOfEveryPeriodInAFixedHistogram)
{
    // Catch-up returns at once when late, so an overrun sets the lateness exactly.
    PaceRun run(1e-3, PaceCatchUp);
    run.fake.tick = 0;
    const double lates[] = {0, 0.2e-3, 3e-3, 70e-3};  // 70 ms lies beyond the histogram
    double sum = 0;
    int n = 0;
    for (int i = 0; i < 1000; i++) {
        const double late = i % 100 == 99 ? lates[(i / 100) % 4] : 0;
        run.fake.now = run.s.T0 + double(run.s.K) * 1e-3 + late;
        PaceWaitResult r = PaceWait(&run.s, run.clock);
        ASSERT_NEAR(r.Late, late, 1e-9);
        sum += r.Late;
        n++;
    }
    const PaceStats &st = run.s.Stats;
    EXPECT_EQ(st.Periods, 1000);
    EXPECT_NEAR(st.LateSum / double(st.Periods), sum / n, 1e-12);
    EXPECT_NEAR(st.LateMax, 70e-3, 1e-9);
    // 10 of 1000 are late: the 99th percentile is still on time.
    EXPECT_LE(PaceP99(st), 1e-6);

    // With 2 % late by 3 ms, the 99th percentile is within one 64 us bin of 3 ms.
    PaceRun late(1e-3, PaceCatchUp);
    late.fake.tick = 0;
    for (int i = 0; i < 500; i++) {
        late.fake.now = late.s.T0 + double(late.s.K) * 1e-3 + (i % 50 == 0 ? 3e-3 : 0);
        PaceWait(&late.s, late.clock);
    }
    EXPECT_GE(PaceP99(late.s.Stats), 3e-3);
    EXPECT_LE(PaceP99(late.s.Stats), 3e-3 + 64e-6);
    EXPECT_EQ(late.s.Stats.Missed, 10);
}

using kelbhost::Char;
using kelbhost::Double;

TEST(PaceMex, CommandsAndTheirErrors)
{
    kelbhost::Reset();
    kelbhost::Module mex;
    ASSERT_TRUE(mex.Load()) << mex.LastError();
    EXPECT_EQ(mex.Call(1, {}).error, "No schedule: start one with kelbio_pace('start', period).");
    EXPECT_EQ(mex.Call(1, {Char("stats")}).error, "No schedule: start one with kelbio_pace('start', period).");
    EXPECT_EQ(mex.Call(0, {Char("go")}).error, "Unknown command: use kelbio_pace, or 'start', 'stats' or 'time'.");
    EXPECT_EQ(mex.Call(0, {Double(3)}).error, "Unknown command: use kelbio_pace, or 'start', 'stats' or 'time'.");
    for (double bad : {0.0, -1.0, double(NAN), double(INFINITY)}) {
        EXPECT_EQ(mex.Call(0, {Char("start"), Double(bad)}).error, "The period must be a positive number of seconds.");
    }
    EXPECT_EQ(mex.Call(0, {Char("start"), Char("x")}).error, "The period must be a positive number of seconds.");
    EXPECT_EQ(mex.Call(0, {Char("start"), Double(1e-3), Char("drop")}).error,
              "The overrun action must be 'skip' or 'catchup'.");

    ASSERT_FALSE(mex.Call(0, {Char("Start"), Double(2e-3), Char("CatchUp")}).failed);
    EXPECT_EQ(mex.Call(3, {}).error, "Too many output arguments.");
    for (int k = 1; k <= 5; k++) {
        auto r = mex.Call(2, {});
        ASSERT_FALSE(r.failed) << r.error;
        EXPECT_GE(*mxGetPr(r.out[0]), 0.0);
        EXPECT_EQ(*mxGetPr(r.out[1]), k);
    }
    auto r = mex.Call(1, {Char("stats")});
    ASSERT_FALSE(r.failed) << r.error;
    EXPECT_EQ(kelbhost::FieldNames(r.out[0]),
              (std::vector<std::string>{"Period", "Mode", "Periods", "Missed", "LatenessMean", "LatenessP99",
                                        "LatenessMax", "Elapsed", "Sleep"}));
    EXPECT_EQ(*mxGetPr(kelbhost::GetField(r.out[0], "Period")), 2e-3);
    EXPECT_EQ(kelbhost::Text(kelbhost::GetField(r.out[0], "Mode")), "catchup");
    EXPECT_EQ(*mxGetPr(kelbhost::GetField(r.out[0], "Periods")), 5);
    EXPECT_EQ(kelbhost::Text(kelbhost::GetField(r.out[0], "Sleep")), "clock_nanosleep");
    // Five waits of 2 ms lie behind: the elapsed time on the schedule's clock says so.
    EXPECT_GE(*mxGetPr(kelbhost::GetField(r.out[0], "Elapsed")), 10e-3);
    auto t = mex.Call(1, {Char("time")});
    EXPECT_GE(*mxGetPr(t.out[0]), 10e-3);

    kelbhost::FailAllocation(2);
    EXPECT_EQ(mex.Call(1, {Char("stats")}).error, "Out of memory.");
    // A new start forgets the old run.
    ASSERT_FALSE(mex.Call(0, {Char("start"), Double(1e-3)}).failed);
    r = mex.Call(1, {Char("stats")});
    EXPECT_EQ(*mxGetPr(kelbhost::GetField(r.out[0], "Periods")), 0);
    EXPECT_EQ(kelbhost::Text(kelbhost::GetField(r.out[0], "Mode")), "skip");
    EXPECT_TRUE(mex.Unload());  // it holds no lock
}

}  // namespace
