// GASPILODEN through mexFunction: pulse packets on the wire, the counters read.
#include <limits>

#include "board.h"

namespace kelbtest {
namespace {

using kelbhost::Char;
using kelbhost::Double;
using kelbhost::Empty;

const double kNaN = std::numeric_limits<double>::quiet_NaN();

class Gaspiloden : public BoardTest {
protected:
    void SetUp() override
    {
        BoardTest::SetUp();
        Open(GASPILODEN);
    }
    double Pulses(double command, double frequency, double r1, double r2, double r3)
    {
        return Write({Double(command), Double(frequency), Double(r1), Double(r2), Double(r3)});
    }
};

TEST_F(Gaspiloden, TheDocumentedPacketsByteForByte)
{
    EXPECT_EQ(Pulses(0, 1000, 0.5, -0.25, 0), 0) << error();
    EXPECT_EQ(Pulses(3, 50, -1, 0, 1), 0) << error();
    EXPECT_EQ(Pulses(255, 500, 0.1, 0.2, 0.3), 0) << error();
    auto sent = Sent();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0], (Bytes{0x20, 0x80, 0x0C, 0x40, 0x06, 0x80, 0x0C, 0x20, 0x03, 0x80, 0x0C, 0x00, 0x00}));
    EXPECT_EQ(sent[1], (Bytes{0x03, 0x00, 0xFA, 0x40, 0x0B, 0x00, 0xFA, 0xC0, 0x12, 0x00, 0xFA, 0x40, 0x1A}));
    // servo mode at 500 Hz: period 6400, pulses 4992, 5184, 5376
    EXPECT_EQ(sent[2], (Bytes{0x0F, 0x00, 0x19, 0x80, 0x13, 0x00, 0x19, 0x40, 0x14, 0x00, 0x19, 0x00, 0x15}));
}

TEST_F(Gaspiloden, DutyModeAtTheTopFrequencyAndTheControlBits)
{
    Pulses(17, 25000, 0.999, 1, -1);  // period 128
    Pulses(0, 500.0001, -0.5, -0.0, 0.5);  // period 6399, duty mode
    Pulses(0, 100, -0.5, -1, -0.2);        // servo: no direction bits
    auto sent = Sent();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0], (Bytes{0x41, 0x80, 0x00, 0x7F, 0x00, 0x80, 0x00, 0x80, 0x00, 0x80, 0x00, 0x80, 0x00}));
    EXPECT_EQ(sent[1][0], 0x10) << "-0 is not negative";
    EXPECT_EQ(sent[1][1] | sent[1][2] << 8, 6399);
    EXPECT_EQ(sent[1][3] | sent[1][4] << 8, 3199);  // 3199.5 truncated
    EXPECT_EQ(sent[2][0], 0x00);
}

TEST_F(Gaspiloden, NaNFrequencyAndNaNRatios)
{
    Pulses(0, kNaN, -0.5, 0.5, -1);
    Pulses(0, 1000, kNaN, 0.5, kNaN);
    Pulses(0, 100, kNaN, kNaN, kNaN);
    auto sent = Sent();
    ASSERT_EQ(sent.size(), 3u);
    // period 0, duty mode, pulses 0, direction bits from the ratios
    EXPECT_EQ(sent[0], (Bytes{0x50, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(sent[1], (Bytes{0x00, 0x80, 0x0C, 0x00, 0x00, 0x80, 0x0C, 0x40, 0x06, 0x80, 0x0C, 0x00, 0x00}));
    EXPECT_EQ(sent[2], (Bytes{0x00, 0x00, 0x7D, 0x00, 0x00, 0x00, 0x7D, 0x00, 0x00, 0x00, 0x7D, 0x00, 0x00}));
}

TEST_F(Gaspiloden, RangeErrorsInOrderWithNothingSent)
{
    struct Case {
        double f, r1, r2, r3;
        const char *message;
    } cases[] = {
        {49.99, 0, 0, 0, "Frequency out of range."},
        {25000.01, 0, 0, 0, "Frequency out of range."},
        {-1, 2, 2, 2, "Frequency out of range."},
        {1000, -1.0001, 2, 2, "Ratio 1 out of range."},
        {1000, 1, 1.5, -2, "Ratio 2 out of range."},
        {50, -1, 1, 1.0001, "Ratio 3 out of range."},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(Pulses(1, c.f, c.r1, c.r2, c.r3), -1);
        EXPECT_EQ(error(), c.message);
    }
    const char *missing = "Missing parameter(s).";
    const char *notDouble = "All parameters must be of type \"double\".";
    struct Inputs {
        std::vector<const mxArray *> values;
        const char *message;
    } inputs[] = {
        {{Double(1), Double(1000), Double(0.5)}, missing},
        {{Double(1), Double(1000), Double(0.5), Double(0)}, missing},
        {{Double(1), Double(1000), Double(0.5), Double(0), Empty()}, missing},
        {{Char("c"), Double(1000), Empty(), Double(0), Double(0)}, missing},
        {{Double(1), Double(1000), Double(0.5), kelbhost::Int32(0), Double(0)}, notDouble},
        {{Char("c"), Double(10), Double(5), Double(0), Double(0)}, notDouble},
    };
    for (const Inputs &c : inputs) {
        EXPECT_EQ(Write(c.values), -1);
        EXPECT_EQ(error(), c.message);
    }
    EXPECT_TRUE(Sent().empty());
}

TEST_F(Gaspiloden, CountersDecodeAsSignedTwentyBitValues)
{
    std::vector<double> d;
    // counter 1: FF FF and low nibble F of byte 18 = -1, whatever its high nibble;
    // counter 2: high nibble 0 of byte 18, 00 80 = -524288;
    // counter 3: 0x7FFFF; counter 4: high nibble F of byte 23, FF FF = -1;
    // counter 5: 0x12345 around a high nibble; counter 6: 1.
    Queue(Block({0xFF, 0xFF, 0x0F, 0x00, 0x80, 0xFF, 0xFF, 0xF7, 0xFF, 0xFF, 0x45, 0x23, 0x11,
                 0x00, 0x00, 0x83}));
    ASSERT_EQ(Read(&d), 0);
    ASSERT_EQ(d.size(), 7u);
    EXPECT_EQ(d, (std::vector<double>{3, -1, -524288, 524287, -1, 0x12345, 1}));

    Queue(Block({0x00, 0x00, 0xF0, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    ASSERT_EQ(Read(&d), 0);
    EXPECT_EQ(d[1], 0) << "the high nibble of byte 18 belongs to counter 2";
    EXPECT_EQ(d[2], -1);

    kelbsim::Script({kelbsim::Op::BulkIn, 0, LIBUSB_ERROR_IO, 0});
    EXPECT_EQ(Read(&d), 16);
    EXPECT_TRUE(d.empty());
}

}  // namespace
}  // namespace kelbtest
