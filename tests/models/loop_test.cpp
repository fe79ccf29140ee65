// Write, read, repeated, against the plants behind the virtual boards: what a
// user's control loop sees.
#include <cmath>

#include "board.h"

namespace kelbtest {
namespace {

using kelbhost::Double;
using kelbhost::Doubles;

class ControlLoop : public BoardTest {
protected:
    std::vector<double> Step(std::vector<const mxArray *> values)
    {
        EXPECT_EQ(Write(values), 0) << error();
        std::vector<double> d;
        EXPECT_EQ(Read(&d), 0) << error();
        return d;
    }
};

TEST_F(ControlLoop, TirkPositiveDacTurnsForwardAndTheSpeedsAgree)
{
    Open(TIRK);
    // Average speed x elapsed time adds up to the distance moved, and over a
    // steady stretch the averages agree with the speed from the period.
    auto run = [&](double volts, std::vector<double> *d) {
        const std::vector<double> start = *d;
        double distance = 0, averages = 0, speeds = 0;
        for (int i = 0; i < 3000; i++) {
            *d = Step({Double(0), Double(0), Double(volts)});
            distance += (*d)[8] * (*d)[1];
            if (i >= 2000) {
                averages += (*d)[8];
                speeds += (*d)[3];
            }
        }
        EXPECT_NEAR(distance, (*d)[2] - start[2], 1e-6);
        EXPECT_NEAR(averages, speeds, 0.02 * std::fabs(speeds));
    };
    std::vector<double> d = Step({Double(0), Double(0), Double(0)});
    ASSERT_EQ(d.size(), 9u);
    const double before = d[2];
    run(4, &d);
    EXPECT_GT(d[2], before + 1) << "position rises";
    EXPECT_GT(d[3], 10) << "speed from the period";
    EXPECT_GT(d[4], 0) << "current";
    EXPECT_NEAR(d[5], 4, 0.01) << "motor voltage";
    EXPECT_NEAR(d[1], 100e-6, 1e-12);

    run(-4, &d);
    EXPECT_LT(d[3], -10) << "reversed";
    EXPECT_NEAR(d[1], 228e-6, 1e-12) << "a reversed sample is S = 228 us long";
}

TEST_F(ControlLoop, TirkPositionControlSettlesOnTheTarget)
{
    Open(TIRK);
    const double target = 10;  // rad
    std::vector<double> d = Step({Double(0), Double(0), Double(0)});
    double time = 0;
    while (time < 3) {
        const double u = std::fmax(-10, std::fmin(10, 20 * (target - d[2]) - 0.3 * d[3]));
        d = Step({Double(0), Double(0), Double(u)});
        time += d[1];
    }
    EXPECT_NEAR(d[2], target, 0.05);
    EXPECT_NEAR(d[3], 0, 1);
}

TEST_F(ControlLoop, WatchdogStopsTheMotorWhenTheWritesStop)
{
    Open(TIRK);
    SetParam("WatchdogTimeout", Double(0.02));
    std::vector<double> d;
    for (int i = 0; i < 2000; i++) d = Step({Double(0), Double(0), Double(10)});
    EXPECT_GT(d[3], 20);
    for (int i = 0; i < 20000; i++) ASSERT_EQ(Read(&d), 0);  // 2 s without a packet
    EXPECT_EQ(d[3], 0);
    EXPECT_NEAR(d[5], 0, 0.001) << "no voltage on the motor";
}

TEST_F(ControlLoop, TwoAxisBoardsDriveEachAxisFromItsDac)
{
    for (Model model : {SORVANDEL, FELDAR, MORSIVAN}) {
        TearDown();
        SetUp();
        Open(model);
        std::vector<double> d;
        for (int i = 0; i < 2000; i++) {
            std::vector<const mxArray *> values{Double(0), Double(0x0F), Doubles(1, 2, {5, -5})};
            if (model == FELDAR) values.push_back(Double(0));
            d = Step(values);
        }
        EXPECT_GT(d[2], 1) << model;
        EXPECT_LT(d[3], -1) << model;
        if (model != MORSIVAN) {
            const size_t avg = model == SORVANDEL ? 9 : 8;
            EXPECT_GT(d[avg], 10) << model;
            EXPECT_LT(d[avg + 1], -10) << model;
        }
    }
}

TEST_F(ControlLoop, GaspilodenServosAndPulseCounters)
{
    Open(GASPILODEN);
    std::vector<double> d;
    for (int i = 0; i < 5000; i++)  // 0.5 s
        d = Step({Double(0), Double(50), Double(1), Double(-0.5), Double(0)});
    ASSERT_EQ(d.size(), 7u);
    EXPECT_EQ(d[1], 1000);
    EXPECT_EQ(d[2], -500);
    EXPECT_EQ(d[3], 0);
    EXPECT_NEAR(d[4], 25, 1) << "50 Hz for half a second";
}

}  // namespace
}  // namespace kelbtest
