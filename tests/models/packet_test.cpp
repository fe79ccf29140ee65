// The field conversions every codec relies on, checked against the values
// the boards' users have been given for years.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

#include "models/packet.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

TEST(ToInteger, TruncatesTowardZeroAndMapsTheUnrepresentableToMinimum)
{
    EXPECT_EQ(ToInteger(2.9), 2);
    EXPECT_EQ(ToInteger(-2.9), -2);
    EXPECT_EQ(ToInteger(-0.5), 0);
    EXPECT_EQ(ToInteger(2147483647.9), 2147483647);
    EXPECT_EQ(ToInteger(-2147483648.9), INT32_MIN);
    EXPECT_EQ(ToInteger(2147483648.0), INT32_MIN);
    EXPECT_EQ(ToInteger(-2147483649.0), INT32_MIN);
    EXPECT_EQ(ToInteger(3e9), INT32_MIN);
    EXPECT_EQ(ToInteger(kNaN), INT32_MIN);
    EXPECT_EQ(ToInteger(kInf), INT32_MIN);
    EXPECT_EQ(ToInteger(-kInf), INT32_MIN);
}

TEST(Clamp, ByteAndWordFieldsSaturateButHugeValuesOfEitherSignGiveZero)
{
    EXPECT_EQ(ByteField(256.7), 255);
    EXPECT_EQ(ByteField(-3), 0);
    EXPECT_EQ(ByteField(2.9), 2);
    EXPECT_EQ(ByteField(3.2), 3);
    EXPECT_EQ(ByteField(3e9), 0);
    EXPECT_EQ(ByteField(-3e9), 0);
    EXPECT_EQ(ByteField(kNaN), 0);
    EXPECT_EQ(WordField(65535.99), 65535);
    EXPECT_EQ(WordField(65536), 65535);
    EXPECT_EQ(WordField(-1), 0);
    EXPECT_EQ(WordField(1e12), 0);
}

TEST(DacCode, MapsPlusMinusTenVoltsOntoTheWordRoundingToNearest)
{
    EXPECT_EQ(DacCode(-10), 0);
    EXPECT_EQ(DacCode(-5), 16384);
    EXPECT_EQ(DacCode(0), 32768);
    EXPECT_EQ(DacCode(5), 49151);
    EXPECT_EQ(DacCode(10), 65535);
    EXPECT_EQ(DacCode(10.0003), 65535);
    EXPECT_EQ(DacCode(-10.5), 0);
    EXPECT_EQ(DacCode(kNaN), 0);  // the code of -10 V, not of 0 V
    EXPECT_EQ(DacCode(2), 39321);
    EXPECT_EQ(DacCode(-3), 22937);
}

TEST(WatchdogCode, CountsQuarterMilliseconds)
{
    EXPECT_EQ(WatchdogCode(1.0), 4000);
    EXPECT_EQ(WatchdogCode(0.1), 400);
    EXPECT_EQ(WatchdogCode(16.38375), 65534);  // the quotient falls just short of 65535
    EXPECT_EQ(WatchdogCode(16.384), 65535);
    EXPECT_EQ(WatchdogCode(1000), 65535);
    EXPECT_EQ(WatchdogCode(0), 0);
    EXPECT_EQ(WatchdogCode(-1), 0);
    EXPECT_EQ(WatchdogCode(kNaN), 0);
}

TEST(Fields, LittleEndianWordsAnd24BitValues)
{
    uint8_t bytes[3] = {};
    PutWord(bytes, 0x0FA0);
    EXPECT_EQ(bytes[0], 0xA0);
    EXPECT_EQ(bytes[1], 0x0F);
    EXPECT_EQ(GetWord(bytes), 0x0FA0);

    const uint8_t minusOne[3] = {0xFF, 0xFF, 0xFF};
    const uint8_t lowest[3] = {0x00, 0x00, 0x80};
    const uint8_t highest[3] = {0xFF, 0xFF, 0x7F};
    const uint8_t mixed[3] = {0x01, 0x02, 0x03};
    EXPECT_EQ(GetSigned24(minusOne), -1);
    EXPECT_EQ(GetSigned24(lowest), -8388608);
    EXPECT_EQ(GetSigned24(highest), 8388607);
    EXPECT_EQ(GetSigned24(mixed), 0x030201);
    EXPECT_EQ(GetUnsigned24(minusOne), 16777215u);
    EXPECT_EQ(GetUnsigned24(lowest), 8388608u);
}

TEST(Block, StatusDropsTheDirectionBitAndTimeIsInMicroseconds)
{
    uint8_t block[KELBINPUTBLOCKLEN] = {};
    block[31] = 0x85;
    block[16] = 0x10;
    block[17] = 0x27;  // 10000 us
    EXPECT_EQ(BlockStatus(block), 5);
    EXPECT_DOUBLE_EQ(BlockElapsed(block), 0.01);
    block[31] = 0x7F;
    EXPECT_EQ(BlockStatus(block), 127);
}

TEST(Position, TwoThousandCountsMakeOneTurn)
{
    EXPECT_DOUBLE_EQ(CountToRadians(2000), 2 * M_PI);
    EXPECT_DOUBLE_EQ(CountToRadians(-500), -M_PI / 2);
    EXPECT_EQ(CountToRadians(0), 0);
}

TEST(AverageSpeed, CountsPerTurnOverTheWholeStatusByteInMicroseconds)
{
    // The divisor is S x 2000 us: read as 2000 counts a turn, the status
    // byte S is the sample time in microseconds.
    int32_t previous = 100;
    double speed = AverageSpeed(300, &previous, 0x85);  // S = 133, bit 7 included
    EXPECT_EQ(previous, 300);
    EXPECT_NEAR(speed, 0.2 * M_PI / 133e-6, 1e-9);
    // Written order of operations: (delta x 2pi) / ((S x 2000) x 1e-6).
    EXPECT_EQ(speed, (200 * 6.283185307179586) / (266000 * 1e-6));

    speed = AverageSpeed(-100, &previous, 1);
    EXPECT_EQ(previous, -100);
    EXPECT_NEAR(speed, -400 * 2 * M_PI / 2000 / 1e-6, 1e-6);

    speed = AverageSpeed(0, &previous, 0);
    EXPECT_TRUE(std::isinf(speed));
    EXPECT_GT(speed, 0);
    speed = AverageSpeed(0, &previous, 0);
    EXPECT_TRUE(std::isnan(speed));

    previous = INT32_MIN;  // no overflow trap even for counts no board sends
    AverageSpeed(INT32_MAX, &previous, 1);
    EXPECT_EQ(previous, INT32_MAX);
}

}  // namespace
