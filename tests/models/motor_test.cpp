// TIRK, SORVANDEL and MORSIVAN through mexFunction: packets as the virtual
// bus saw them, reads decoded from blocks queued on it.
#include <cmath>
#include <limits>

#include "board.h"

namespace kelbtest {
namespace {

using kelbhost::Char;
using kelbhost::Double;
using kelbhost::Doubles;
using kelbhost::Empty;

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kTwoPi = 6.283185307179586;

// Bytes 1 to 4 of a motor packet: DAC 1 and DAC 2 codes, little-endian.
Bytes Dacs(const Bytes &packet) { return Bytes(packet.begin() + 1, packet.begin() + 5); }

class MotorWrite : public BoardTest {};
class MotorRead : public BoardTest {};

TEST_F(MotorWrite, CommandOneSendsTheDocumentedPacketAndRestartsTheAverageSpeed)
{
    Open(TIRK);
    std::vector<double> d;
    Queue(Block({0, 0, 0xF4, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 100}));  // count 500
    ASSERT_EQ(Read(&d), 0);

    EXPECT_EQ(Write({Double(1), Double(0), Double(0)}), 0);
    ASSERT_EQ(Sent().size(), 1u);
    EXPECT_EQ(Sent()[0], (Bytes{0x01, 0x00, 0x80, 0x00, 0x80, 0x00, 0xA0, 0x0F}));

    // count 600: the average speed runs from 0, not from 500
    Queue(Block({0, 0, 0x58, 0x02, 0x00, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 100}));
    ASSERT_EQ(Read(&d), 0);
    ASSERT_EQ(d.size(), 9u);
    EXPECT_EQ(d[8], (600 * kTwoPi) / ((100 * 2000) * 1e-6));
}

TEST_F(MotorWrite, Dac2ComesFromTheArrayTheFifthInputTheDefaultOrDac1InThatOrder)
{
    Open(SORVANDEL);
    SetParam("Dac2Default", Double(1.5));
    // code of 2 = 39321 (99 99), -3 = 22937 (59 99), 1.5 = 37683 (33 93),
    // 3 = 42598 (66 A6), 1 = 36044 (CC 8C)
    Write({Double(0), Double(0), Doubles(1, 2, {2, -3})});
    Write({Double(0), Double(0), Doubles(2, 1, {2, -3})});
    Write({Double(0), Double(0), Double(2)});
    Write({Double(0), Double(0), Double(2), Double(3)});
    Write({Double(0), Double(0), Doubles(1, 2, {1, 2}), Double(3)});
    auto sent = Sent();
    SetParam("Dac2Default", Double(kNaN));
    Write({Double(0), Double(0), Double(2)});
    Write({Double(0), Double(0), Double(2), Double(3)});
    for (const Bytes &packet : Sent()) sent.push_back(packet);
    ASSERT_EQ(sent.size(), 7u) << error();
    EXPECT_EQ(Dacs(sent[0]), (Bytes{0x99, 0x99, 0x99, 0x59}));
    EXPECT_EQ(Dacs(sent[1]), (Bytes{0x99, 0x99, 0x99, 0x59}));
    EXPECT_EQ(Dacs(sent[2]), (Bytes{0x99, 0x99, 0x33, 0x93}));
    EXPECT_EQ(Dacs(sent[3]), (Bytes{0x99, 0x99, 0x66, 0xA6}));
    EXPECT_EQ(Dacs(sent[4]), (Bytes{0xCC, 0x8C, 0x99, 0x99}));
    EXPECT_EQ(Dacs(sent[5]), (Bytes{0x99, 0x99, 0x99, 0x99}));
    EXPECT_EQ(Dacs(sent[6]), (Bytes{0x99, 0x99, 0x66, 0xA6}));
}

TEST_F(MotorWrite, SixInputsIgnoreTheFifthAndSixthUnchecked)
{
    Open(MORSIVAN);
    SetParam("Dac2Default", Double(1.5));
    EXPECT_EQ(Write({Double(0), Double(0), Double(2), Empty(), Char("x")}), 0) << error();
    EXPECT_EQ(Write({Double(0), Double(0), Double(2), Double(3), Double(4)}), 0) << error();
    auto sent = Sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(Dacs(sent[0]), (Bytes{0x99, 0x99, 0x33, 0x93}));
    EXPECT_EQ(Dacs(sent[1]), (Bytes{0x99, 0x99, 0x33, 0x93}));
}

TEST_F(MotorWrite, CommandAndDigitalBytesClampAndOnlyBitZeroRestartsTheAverage)
{
    Open(TIRK);
    std::vector<double> d;
    auto readCount = [&](uint8_t low) {
        Queue(Block({0, 0, low, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 1}));
        EXPECT_EQ(Read(&d), 0);
        return d.size() == 9 ? d[8] / kTwoPi * 2000e-6 : kNaN;  // counts since the previous
    };
    Write({Double(256.7), Double(0x5A), Double(0)});  // 255: bit 0 set
    readCount(0x00);  // 256
    Write({Double(-3), Double(300), Double(0)});
    Write({Double(2.9), Double(-1), Double(0)});
    EXPECT_DOUBLE_EQ(readCount(0x64), 100);  // 356: bit 0 was never set
    Write({Double(3.2), Double(2.5), Double(0)});
    EXPECT_DOUBLE_EQ(readCount(0xC8), 456);  // from 0 after command 3
    Write({Double(3e9), Double(kNaN), Double(0)});
    auto sent = Sent();
    ASSERT_EQ(sent.size(), 5u);
    const uint8_t command[] = {0xFF, 0x00, 0x02, 0x03, 0x00};
    const uint8_t digital[] = {0x5A, 0xFF, 0x00, 0x02, 0x00};
    for (int i = 0; i < 5; i++) {
        EXPECT_EQ(sent[i][0], command[i]) << i;
        EXPECT_EQ(sent[i][5], digital[i]) << i;
    }
}

TEST_F(MotorWrite, DacAndWatchdogCodes)
{
    Open(TIRK);
    const double volts[] = {-10, -5, 0, 5, 10, 10.0003, kNaN, -1e10, 1e10};
    const uint16_t codes[] = {0, 16384, 32768, 49151, 65535, 65535, 0, 0, 0};
    for (double v : volts) Write({Double(0), Double(0), Double(v)});
    auto sent = Sent();
    ASSERT_EQ(sent.size(), 9u);
    for (int i = 0; i < 9; i++) {
        EXPECT_EQ(sent[i][1] | sent[i][2] << 8, codes[i]) << volts[i];
        EXPECT_EQ(sent[i][3] | sent[i][4] << 8, codes[i]) << volts[i];
    }

    const double seconds[] = {kNaN, 16.38375, 0, 0.1, 20};
    const uint16_t steps[] = {0, 65534, 0, 400, 65535};
    for (int i = 0; i < 5; i++) {
        SetParam("WatchdogTimeout", Double(seconds[i]));
        Write({Double(0), Double(0), Double(0)});
        sent = Sent();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0][6] | sent[0][7] << 8, steps[i]) << seconds[i];
    }
}

TEST_F(MotorWrite, ArgumentErrorsInOrderSendNothingAndChangeNothing)
{
    Open(TIRK);
    std::vector<double> d;
    Queue(Block({0, 0, 0xE8, 0x03, 0x00, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 1}));  // 1000
    ASSERT_EQ(Read(&d), 0);

    struct Case {
        std::vector<const mxArray *> values;
        const char *message;
    };
    const char *missing = "Missing parameter(s).";
    const char *notDouble = "All parameters must be of type \"double\".";
    const Case cases[] = {
        {{Empty(), Double(0), Double(0)}, missing},
        {{Double(1), Empty(), Double(0)}, missing},
        {{Double(1), Double(0), Empty(), Double(3)}, missing},
        {{Char("a"), Double(0), Empty()}, missing},
        {{Double(1), Double(0), Double(0), Empty()}, "Missing parameter."},
        {{kelbhost::Int32(1), Double(0), Double(0), Empty()}, "Missing parameter."},
        {{Char("a"), Double(0), Double(0)}, notDouble},
        {{Double(1), kelbhost::Logical(true), Double(0)}, notDouble},
        {{Double(1), Double(0), kelbhost::Int32(0)}, notDouble},
        {{Double(1), Double(0), Double(0), kelbhost::Uint32(3)}, notDouble},
        // Sparse storage keeps only nonzero values: dac2 of [0 2] is not at pr[1].
        {{Double(1), Double(0), kelbhost::Sparse(1, 2, {0, 2})}, notDouble},
        {{kelbhost::Sparse(1, 1, {1}), Double(0), Double(0)}, notDouble},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(Write(c.values), -1);
        EXPECT_EQ(error(), c.message);
    }
    EXPECT_TRUE(Sent().empty());
    // Command 1 was never applied: the average still runs from 1000.
    Queue(Block({0, 0, 0xD0, 0x07, 0x00, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 1}));  // 2000
    ASSERT_EQ(Read(&d), 0);
    EXPECT_DOUBLE_EQ(d[8] / kTwoPi * 2000e-6, 1000);
}

TEST_F(MotorRead, TirkRows)
{
    Open(TIRK);
    std::vector<double> d;
    // elapsed 0x1234, position -1, no period, digital A5, A = FFFF, B = 8000, C unused
    Queue(Block({0x34, 0x12, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xA5, 0xFF, 0xFF, 0x00, 0x80,
                 0x11, 0x22, 0x85}));
    ASSERT_EQ(Read(&d), 0);
    ASSERT_EQ(d.size(), 9u);
    EXPECT_EQ(d[0], 5);
    EXPECT_EQ(d[1], 4660 * 1e-6);
    EXPECT_EQ(d[2], -1 * kTwoPi / 2000);
    EXPECT_EQ(d[3], 0) << "no period: standing still whatever the direction bit";
    EXPECT_EQ(d[4], 3);
    EXPECT_EQ(d[5], 32768 * 25.0 / 65535 - 12.5);
    EXPECT_EQ(d[6], 32768 * 20.0 / 65535 - 10) << "from bytes 27-28, like the motor voltage";
    EXPECT_EQ(d[7], 0xA5);
    EXPECT_EQ(d[8], (-1 * kTwoPi) / ((133 * 2000) * 1e-6));

    // period 1000 reversed; position -8388608
    Queue(Block({0, 0, 0x00, 0x00, 0x80, 0xE8, 0x03, 0x00, 0, 0, 0, 0, 0, 0, 0, 0x85}));
    ASSERT_EQ(Read(&d), 0);
    EXPECT_EQ(d[0], 5);
    EXPECT_EQ(d[2], -8388608 * kTwoPi / 2000);
    EXPECT_EQ(d[3], -603.1857894892403);
    EXPECT_EQ(d[4], -3);
    EXPECT_EQ(d[8], (-8388607 * kTwoPi) / ((133 * 2000) * 1e-6));

    // S = 0: the divisor is 0
    Queue(Block({0, 0, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0, 0x00}));
    ASSERT_EQ(Read(&d), 0);
    EXPECT_TRUE(std::isinf(d[3]) && d[3] > 0) << "period 0";
    EXPECT_TRUE(std::isnan(d[8])) << "no motion over no time";
    Queue(Block({0, 0, 0x01, 0x00, 0x80, 0xE8, 0x03, 0x00, 0, 0, 0, 0, 0, 0, 0, 0x80}));
    ASSERT_EQ(Read(&d), 0);
    EXPECT_EQ(d[0], 0);
    EXPECT_EQ(d[3], -603.1857894892403);
    EXPECT_EQ(d[8], (1 * kTwoPi) / ((128 * 2000) * 1e-6));
    Queue(Block({0, 0, 0x02, 0x00, 0x80, 0xE8, 0x03, 0x00, 0, 0, 0, 0, 0, 0, 0, 0x00}));
    ASSERT_EQ(Read(&d), 0);
    EXPECT_TRUE(std::isinf(d[8]) && d[8] > 0);
}

TEST_F(MotorRead, SorvandelRowsAndBothRememberedPositions)
{
    Open(SORVANDEL);
    std::vector<double> d;
    // positions 0x010203 and -2; A = 1, B = 0xFFFF; bytes 29 and 30 apart
    Queue(Block({0xE8, 0x03, 0x03, 0x02, 0x01, 0xFE, 0xFF, 0xFF, 0x3C, 0x01, 0x00, 0xFF, 0xFF,
                 0xFF, 0x80, 0x02}));
    ASSERT_EQ(Read(&d), 0);
    ASSERT_EQ(d.size(), 11u);
    EXPECT_EQ(d[0], 2);
    EXPECT_EQ(d[1], 1000 * 1e-6);
    EXPECT_EQ(d[2], 0x010203 * kTwoPi / 2000);
    EXPECT_EQ(d[3], -2 * kTwoPi / 2000);
    EXPECT_EQ(d[4], 1 * 5.0 / 65535);
    EXPECT_EQ(d[5], 5);
    EXPECT_EQ(d[6], 3.3);
    EXPECT_EQ(d[7], 128 * 3.3 / 255);
    EXPECT_EQ(d[8], 0x3C);
    EXPECT_EQ(d[9], (0x010203 * kTwoPi) / ((2 * 2000) * 1e-6));
    EXPECT_EQ(d[10], (-2 * kTwoPi) / ((2 * 2000) * 1e-6));

    Queue(Block({0, 0, 0x03, 0x02, 0x01, 0x08, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0, 0x02}));
    ASSERT_EQ(Read(&d), 0);
    EXPECT_EQ(d[9], 0);
    EXPECT_EQ(d[10], (10 * kTwoPi) / ((2 * 2000) * 1e-6));
}

TEST_F(MotorRead, MorsivanRows)
{
    Open(MORSIVAN);
    std::vector<double> d;
    Queue(Block({0x01, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0xFF, 0x81, 0x00, 0x80, 0xFF, 0x7F,
                 0x00, 0x00, 0x7F}));
    ASSERT_EQ(Read(&d), 0);
    ASSERT_EQ(d.size(), 8u);
    EXPECT_EQ(d[0], 127);
    EXPECT_EQ(d[1], 1e-6);
    EXPECT_EQ(d[2], 16 * kTwoPi / 2000);
    EXPECT_EQ(d[3], -65536 * kTwoPi / 2000);
    EXPECT_EQ(d[4], 32768 * 10.2 / 65535 - 5.1);
    EXPECT_EQ(d[5], 32767 * 5.0 / 65535);
    EXPECT_EQ(d[6], 0);
    EXPECT_EQ(d[7], 0x81);
}

TEST_F(MotorRead, AFailedReadReturnsItsStatusLeavesDataUnassignedAndPositionsAlone)
{
    Open(TIRK);
    std::vector<double> d;
    Queue(Block({0, 0, 0x64, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 1}));  // 100
    ASSERT_EQ(Read(&d), 0);

    kelbsim::Fault fault;
    fault.op = kelbsim::Op::BulkIn;
    fault.code = LIBUSB_ERROR_IO;
    kelbsim::Script(fault);
    EXPECT_EQ(Read(&d), 16);
    EXPECT_TRUE(d.empty());

    Queue(Block({0, 0, 0x2C, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 1}));  // 300
    ASSERT_EQ(Read(&d), 0);
    EXPECT_DOUBLE_EQ(d[8] / kTwoPi * 2000e-6, 200);
}

TEST_F(MotorRead, OutOfMemoryForTheColumnIsAnErrorThatChangesNothing)
{
    Open(SORVANDEL);
    std::vector<double> d;
    Queue(Block({0, 0, 0x64, 0x00, 0x00, 0x64, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0, 1}));  // 100, 100
    ASSERT_EQ(Read(&d), 0);
    Queue(Block({0, 0, 0xC8, 0x00, 0x00, 0xC8, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0, 1}));
    kelbhost::FailAllocation(2);  // the status scalar is made first, then the column
    EXPECT_EQ(Read(&d), -1);
    EXPECT_EQ(error(), "Out of memory.");
    Queue(Block({0, 0, 0x2C, 0x01, 0x00, 0x2C, 0x01, 0x00, 0, 0, 0, 0, 0, 0, 0, 1}));  // 300, 300
    ASSERT_EQ(Read(&d), 0);
    EXPECT_DOUBLE_EQ(d[9] / kTwoPi * 2000e-6, 200);
    EXPECT_DOUBLE_EQ(d[10] / kTwoPi * 2000e-6, 200);
}

TEST_F(MotorRead, OnAClosedPortReadAndWriteReturnOneUntouched)
{
    Open(TIRK);
    auto r = mex_->Call(1, {Char("Close"), port_});
    ASSERT_FALSE(r.failed) << r.error;
    kelbsim::ClearLog();
    std::vector<double> d;
    EXPECT_EQ(Read(&d), 1);
    EXPECT_TRUE(d.empty());
    EXPECT_EQ(Write({Char("x"), Empty(), Empty()}), 1) << error();
    EXPECT_TRUE(kelbsim::Log().empty());
}

}  // namespace
}  // namespace kelbtest
