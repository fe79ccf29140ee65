// FELDAR through mexFunction: set-point packets on the wire, the ten-row read.
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

class Feldar : public BoardTest {
protected:
    void SetUp() override
    {
        BoardTest::SetUp();
        Open(FELDAR);
    }
    double Setpoints(const mxArray *setpoints)
    {
        return Write({Double(0), Double(0), Double(0), setpoints});
    }
};

// The four slot words of a packet.
std::vector<unsigned> Slots(const Bytes &packet)
{
    std::vector<unsigned> words;
    for (int i = 8; i < 16; i += 2) words.push_back(packet.at(i) | packet.at(i + 1) << 8);
    return words;
}

TEST_F(Feldar, PairsFormFromTheDocumentedExample)
{
    EXPECT_EQ(Setpoints(Doubles(2, 2, {3, 5, 100, -600})), 0) << error();
    auto sent = Sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (Bytes{0x00, 0x00, 0x80, 0x00, 0x80, 0x00, 0xA0, 0x0F, 0x58, 0x0E, 0x00, 0x14,
                              0x00, 0x00, 0x00, 0x00}));
}

TEST_F(Feldar, FiveSetpointsGoOutAsTwoPacketsWithTheSameHeader)
{
    SetParam("Dac2Default", Double(5));
    EXPECT_EQ(Write({Double(5), Double(0x33), Double(-5), Doubles(1, 5, {10, 20, 30, 40, 50})}), 0)
        << error();
    auto sent = Sent();
    ASSERT_EQ(sent.size(), 2u);
    const Bytes header{0x05, 0x00, 0x40, 0xFF, 0xBF, 0x33, 0xA0, 0x0F};
    for (const Bytes &packet : sent) {
        ASSERT_EQ(packet.size(), 16u);
        EXPECT_EQ(Bytes(packet.begin(), packet.begin() + 8), header);
    }
    EXPECT_EQ(Bytes(sent[0].begin() + 8, sent[0].end()),
              (Bytes{0xFE, 0x05, 0x08, 0x0A, 0x12, 0x0E, 0x1C, 0x12}));
    EXPECT_EQ(Bytes(sent[1].begin() + 8, sent[1].end()),
              (Bytes{0x26, 0x16, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
}

TEST_F(Feldar, EveryShapeOfTheSetpointsInput)
{
    // address a, set-point s -> a * 1024 + s + 500
    auto word = [](unsigned a, int s) { return a * 1024 + s + 500; };
    Setpoints(Doubles(8, 2, {9, 8, 7, 6, 5, 4, 3, 2, 1, 2, 3, 4, 5, 6, 7, 8}));  // 8x2 pairs
    Setpoints(Doubles(1, 2, {7, -7}));                                            // 1x2 pair
    Setpoints(Doubles(1, 8, {1, 2, 3, 4, 5, 6, 7, 8}));                           // 1x8 list
    Setpoints(Doubles(8, 1, {1, 2, 3, 4, 5, 6, 7, 8}));                           // 8x1 list
    Setpoints(Double(-42));                                                       // 1x1 list
    Setpoints(Doubles(3, 3, {11, 12, 13, 21, 22, 23, 31, 32, 33}));               // first column
    auto sent = Sent();
    ASSERT_EQ(sent.size(), 2u + 1 + 2 + 2 + 1 + 1);
    EXPECT_EQ(Slots(sent[0]), (std::vector<unsigned>{word(9, 1), word(8, 2), word(7, 3), word(6, 4)}));
    EXPECT_EQ(Slots(sent[1]), (std::vector<unsigned>{word(5, 5), word(4, 6), word(3, 7), word(2, 8)}));
    EXPECT_EQ(Slots(sent[2]), (std::vector<unsigned>{word(7, -7), 0, 0, 0}));
    for (int form : {0, 1}) {
        EXPECT_EQ(Slots(sent[3 + 2 * form]),
                  (std::vector<unsigned>{word(1, 1), word(2, 2), word(3, 3), word(4, 4)}));
        EXPECT_EQ(Slots(sent[4 + 2 * form]),
                  (std::vector<unsigned>{word(5, 5), word(6, 6), word(7, 7), word(8, 8)}));
    }
    EXPECT_EQ(Slots(sent[7]), (std::vector<unsigned>{word(1, -42), 0, 0, 0}));
    EXPECT_EQ(Slots(sent[8]), (std::vector<unsigned>{word(1, 11), word(2, 12), word(3, 13), 0}));
}

TEST_F(Feldar, SetpointAndAddressClamps)
{
    Setpoints(Doubles(1, 4, {500.9, 501, -500.9, kNaN}));
    Setpoints(Doubles(4, 2, {64, -1, kNaN, 63.9, 0, 0, 0, -501}));
    Setpoints(Doubles(1, 2, {1e10, 1e10}));
    // Truncation toward zero, and the int32 bounds of both fields.
    Setpoints(Doubles(4, 2, {-0.9, 63.99, 2147483648.0, 1e300, 2147483647.9, -2147483648.9, 0.9, -0.9}));
    auto sent = Sent();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(Slots(sent[0]), (std::vector<unsigned>{1 * 1024 + 1000, 2 * 1024 + 1000, 3 * 1024 + 0, 4 * 1024}));
    EXPECT_EQ(Slots(sent[1]), (std::vector<unsigned>{500, 500, 500, 63 * 1024}));
    EXPECT_EQ(Slots(sent[2]), (std::vector<unsigned>{0, 0, 0, 0})) << "huge values give -2147483648";
    EXPECT_EQ(Slots(sent[3]), (std::vector<unsigned>{1000, 63 * 1024, 500, 500}));
}

TEST_F(Feldar, ListsBeyondSixtyThreeEntriesGetAddressZero)
{
    mxArray *list = Doubles(1, 65);
    for (int i = 0; i < 65; i++) mxGetPr(list)[i] = i;
    EXPECT_EQ(Setpoints(list), 0);
    auto sent = Sent();
    ASSERT_EQ(sent.size(), 17u);
    EXPECT_EQ(Slots(sent[15])[2], 63u * 1024 + 62 + 500);
    EXPECT_EQ(Slots(sent[15])[3], 0u * 1024 + 63 + 500);
    EXPECT_EQ(Slots(sent[16]), (std::vector<unsigned>{64 + 500, 0, 0, 0}));
}

TEST_F(Feldar, DacTwoFromTheArrayTheDefaultOrDacOne)
{
    auto dacs = [](const Bytes &packet) { return Bytes(packet.begin() + 1, packet.begin() + 5); };
    Write({Double(0), Double(0), Doubles(1, 2, {1, 2}), Double(0)});
    Write({Double(0), Double(0), Double(2), Double(0)});
    auto sent = Sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(dacs(sent[0]), (Bytes{0xCC, 0x8C, 0x99, 0x99}));
    EXPECT_EQ(dacs(sent[1]), (Bytes{0x99, 0x99, 0x99, 0x99}));
    SetParam("Dac2Default", Double(-3));
    Write({Double(0), Double(0), Double(2), Double(0)});
    sent = Sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(dacs(sent[0]), (Bytes{0x99, 0x99, 0x99, 0x59}));
}

TEST_F(Feldar, ArgumentErrorsSendNothing)
{
    const char *missing = "Missing parameter(s).";
    const char *notDouble = "All parameters must be of type \"double\".";
    struct Case {
        std::vector<const mxArray *> values;
        const char *message;
    } cases[] = {
        {{Double(0), Double(0), Double(0)}, missing},
        {{Double(0), Double(0), Double(0), Double(1), Double(2)}, missing},
        {{Empty(), Double(0), Double(0), Double(1)}, missing},
        {{Char("x"), Double(0), Empty(), Double(1)}, missing},
        {{Double(0), Double(0), Double(0), Empty()}, missing},
        {{Char("x"), Double(0), Double(0), Double(1)}, notDouble},
        {{Double(0), Double(0), Double(0), kelbhost::Int32(1)}, notDouble},
        {{Double(0), Double(0), kelbhost::Logical(true), Double(1)}, notDouble},
        {{Double(0), Double(0), Double(0), kelbhost::Sparse(2, 2, {0, 5, 0, 100})}, notDouble},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(Write(c.values), -1);
        EXPECT_EQ(error(), c.message);
    }
    EXPECT_TRUE(Sent().empty());
}

TEST_F(Feldar, AFailedFirstPacketEndsTheWrite)
{
    kelbsim::Fault fault;
    fault.op = kelbsim::Op::BulkOut;
    fault.code = LIBUSB_ERROR_PIPE;
    kelbsim::Script(fault);
    EXPECT_EQ(Setpoints(Doubles(1, 5, {1, 2, 3, 4, 5})), 16);
    EXPECT_EQ(Sent().size(), 1u) << "the second packet is never tried";

    fault.code = 0;
    fault.transferred = 10;  // a short transfer
    kelbsim::Script(fault);
    kelbsim::ClearLog();
    EXPECT_EQ(Setpoints(Doubles(1, 5, {1, 2, 3, 4, 5})), 32);
    EXPECT_EQ(Sent().size(), 1u);

    kelbsim::Script({kelbsim::Op::BulkOut, 0, LIBUSB_ERROR_TIMEOUT, 1});  // the second fails
    kelbsim::ClearLog();
    EXPECT_EQ(Setpoints(Doubles(1, 9, {1, 2, 3, 4, 5, 6, 7, 8, 9})), 16);
    EXPECT_EQ(Sent().size(), 2u);
}

TEST_F(Feldar, ReadRowsAndBothAverages)
{
    std::vector<double> d;
    kelbsim::Script({kelbsim::Op::BulkIn, 0, LIBUSB_ERROR_IO, 0});
    EXPECT_EQ(Read(&d), 16);
    EXPECT_TRUE(d.empty());

    Queue(Block({0x10, 0x00, 0xD0, 0x07, 0x00, 0x30, 0xF8, 0xFF, 0x0F, 0xFF, 0xFF, 0x00, 0x00,
                 0x00, 0x80, 0x8A}));
    ASSERT_EQ(Read(&d), 0);
    ASSERT_EQ(d.size(), 10u);
    EXPECT_EQ(d[0], 10);
    EXPECT_EQ(d[1], 16e-6);
    EXPECT_EQ(d[2], 2000 * kTwoPi / 2000);
    EXPECT_EQ(d[3], -2000 * kTwoPi / 2000);
    EXPECT_EQ(d[4], 65535 * 10.2 / 65535 - 5.1);
    EXPECT_EQ(d[5], 0);
    EXPECT_EQ(d[6], 32768 * 5.0 / 65535);
    EXPECT_EQ(d[7], 15);
    EXPECT_EQ(d[8], (2000 * kTwoPi) / ((138 * 2000) * 1e-6));
    EXPECT_EQ(d[9], (-2000 * kTwoPi) / ((138 * 2000) * 1e-6));

    // Command bit 0 zeroes the first remembered position only, even when the
    // packet then fails.
    kelbsim::Script({kelbsim::Op::BulkOut, 0, LIBUSB_ERROR_IO, 0});
    EXPECT_EQ(Write({Double(1), Double(0), Double(0), Double(0)}), 16);
    Queue(Block({0, 0, 0xD0, 0x07, 0x00, 0x30, 0xF8, 0xFF, 0, 0, 0, 0, 0, 0, 0, 1}));
    ASSERT_EQ(Read(&d), 0);
    EXPECT_EQ(d[8], (2000 * kTwoPi) / ((1 * 2000) * 1e-6));
    EXPECT_EQ(d[9], 0);
}

}  // namespace
}  // namespace kelbtest
