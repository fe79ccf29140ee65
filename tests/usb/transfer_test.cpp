// Bulk transfers and close on an open port: status codes, error fields, the
// bytes on the wire and where they land.
#include <cstring>

#include "usbtest.h"

namespace usbtest {
namespace {

using kelbsim::Op;

constexpr uint32_t kTimeoutCode = 4294967289u;  // LIBUSB_ERROR_TIMEOUT as uint32

Bytes Block(uint8_t first) {
    Bytes b(32);
    for (int i = 0; i < 32; i++) b[i] = static_cast<uint8_t>(first + i);
    return b;
}

class TransferTest : public UsbTest {
protected:
    void SetUp() override {
        UsbTest::SetUp();
        board_ = kelbsim::AddBoard(2);
        ASSERT_EQ(Open(&port_), "");
        kelbsim::ClearLog();
        port_.ReadError = 111;
        port_.WriteError = 222;
    }
    int Write(Bytes packet) { return USBwrite(&port_, packet.data(), static_cast<int>(packet.size())); }
    int Read(uint8_t buffer[32]) { return USBread(&port_, buffer, 32); }
    std::vector<kelbsim::Call> Bulk() { return kelbsim::Calls("libusb_bulk_transfer"); }
    int board_ = 0;
};

TEST_F(TransferTest, WriteSendsOnePacketOnEndpoint2With100ms) {
    Bytes packet = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
    EXPECT_EQ(Write(packet), 0);
    auto bulk = Bulk();
    ASSERT_EQ(bulk.size(), 1u);
    EXPECT_EQ(bulk[0].endpoint, 0x02);
    EXPECT_EQ(bulk[0].length, 13);
    EXPECT_EQ(bulk[0].timeout, 100u);
    EXPECT_EQ(bulk[0].data, packet);
    EXPECT_EQ(kelbsim::Received(board_), std::vector<Bytes>{packet});
    EXPECT_EQ(port_.WriteError, 222u);
}

TEST_F(TransferTest, WriteFailures) {
    kelbsim::Script({Op::BulkOut, board_, LIBUSB_ERROR_PIPE});
    EXPECT_EQ(Write(Bytes(8, 0x55)), 16);
    EXPECT_EQ(port_.WriteError, static_cast<uint32_t>(LIBUSB_ERROR_PIPE));

    // A time-out counts as an error even with part of the packet out.
    kelbsim::Script({Op::BulkOut, board_, LIBUSB_ERROR_TIMEOUT, 0, 1, 3});
    EXPECT_EQ(Write(Bytes(8, 0x55)), 16);
    EXPECT_EQ(port_.WriteError, kTimeoutCode);
    EXPECT_EQ(Bulk().back().transferred, 3);

    // Short without an error: 32, and the error field stays.
    kelbsim::Script({Op::BulkOut, board_, 0, 0, 1, 5});
    EXPECT_EQ(Write(Bytes(8, 0x55)), 32);
    EXPECT_EQ(port_.WriteError, kTimeoutCode);

    // Success does not clear it either.
    EXPECT_EQ(Write(Bytes(8, 0x55)), 0);
    EXPECT_EQ(port_.WriteError, kTimeoutCode);
    EXPECT_EQ(port_.ReadError, 111u);
}

TEST_F(TransferTest, ReadTakesTwoHalvesOnEndpoint86) {
    kelbsim::QueueInput(board_, Block(0x40));
    uint8_t buffer[32] = {};
    EXPECT_EQ(Read(buffer), 0);
    EXPECT_EQ(Bytes(buffer, buffer + 32), Block(0x40));
    auto bulk = Bulk();
    ASSERT_EQ(bulk.size(), 2u);
    for (const auto &c : bulk) {
        EXPECT_EQ(c.endpoint, 0x86);
        EXPECT_EQ(c.length, 16);
        EXPECT_EQ(c.timeout, 10000u);
    }
    EXPECT_EQ(port_.ReadError, 111u);
}

TEST_F(TransferTest, ShortFirstHalfStillPutsTheSecondAt16) {
    kelbsim::QueueInput(board_, Block(0x40));
    kelbsim::Script({Op::BulkIn, board_, 0, 0, 1, 10});
    uint8_t buffer[32];
    std::memset(buffer, 0xEE, sizeof buffer);
    EXPECT_EQ(Read(buffer), 32);
    Bytes want = Block(0x40);
    std::memset(want.data() + 10, 0xEE, 6);
    EXPECT_EQ(Bytes(buffer, buffer + 32), want);
    EXPECT_EQ(port_.ReadError, 111u);
}

TEST_F(TransferTest, FailedFirstHalfMakesNoSecondTransfer) {
    kelbsim::Script({Op::BulkIn, board_, LIBUSB_ERROR_OVERFLOW});
    uint8_t buffer[32];
    EXPECT_EQ(Read(buffer), 16);
    EXPECT_EQ(Bulk().size(), 1u);
    EXPECT_EQ(port_.ReadError, static_cast<uint32_t>(LIBUSB_ERROR_OVERFLOW));
}

TEST_F(TransferTest, FailedSecondHalf) {
    kelbsim::Script({Op::BulkIn, board_, LIBUSB_ERROR_PIPE, 1});
    uint8_t buffer[32];
    EXPECT_EQ(Read(buffer), 16);
    EXPECT_EQ(Bulk().size(), 2u);
    EXPECT_EQ(port_.ReadError, static_cast<uint32_t>(LIBUSB_ERROR_PIPE));
    // The next read tries again and works; the code stays.
    EXPECT_EQ(Read(buffer), 0);
    EXPECT_EQ(port_.ReadError, static_cast<uint32_t>(LIBUSB_ERROR_PIPE));
}

TEST_F(TransferTest, SilentBoardGivesUpAfterTheReadLimit) {
    USBclose(&port_);
    kelbsim::BoardSetup setup;
    setup.model = 2;
    setup.silent = true;
    kelbsim::Unplug(board_);
    board_ = kelbsim::AddBoard(setup);
    ASSERT_EQ(Open(&port_), "");
    kelbsim::ClearLog();
    uint8_t buffer[32];
    EXPECT_EQ(Read(buffer), 16);
    EXPECT_EQ(port_.ReadError, kTimeoutCode);
    auto bulk = Bulk();
    ASSERT_EQ(bulk.size(), 1u);
    EXPECT_EQ(bulk[0].timeout, 10000u);
    EXPECT_FALSE(bulk[0].forever);
}

TEST_F(TransferTest, UnplugMidSession) {
    kelbsim::Unplug(board_);
    uint8_t buffer[32];
    EXPECT_EQ(Read(buffer), 16);
    EXPECT_EQ(Write(Bytes(8)), 16);
    EXPECT_EQ(port_.ReadError, static_cast<uint32_t>(LIBUSB_ERROR_NO_DEVICE));
    EXPECT_EQ(port_.WriteError, static_cast<uint32_t>(LIBUSB_ERROR_NO_DEVICE));
}

TEST_F(TransferTest, NotOpenMeansNoTraffic) {
    KELBstruct closed = Record("(0.2)");
    closed.ReadError = 5;
    closed.WriteError = 6;
    uint8_t buffer[32];
    EXPECT_EQ(USBread(&closed, buffer, 32), 1);
    EXPECT_EQ(USBwrite(&closed, buffer, 8), 1);

    // A handle without its context is no open port either.
    KELBstruct half = port_;
    half.Context = nullptr;
    EXPECT_EQ(USBread(&half, buffer, 32), 1);
    EXPECT_EQ(USBwrite(&half, buffer, 8), 1);

    EXPECT_TRUE(kelbsim::Log().empty());
    EXPECT_EQ(closed.ReadError, 5u);
    EXPECT_EQ(closed.WriteError, 6u);
}

TEST_F(TransferTest, CloseReleasesInOrderAndTwiceIsOnce) {
    USBclose(&port_);
    std::vector<std::string> calls;
    for (const auto &c : kelbsim::Log()) calls.push_back(c.fn);
    EXPECT_EQ(calls, (std::vector<std::string>{"libusb_release_interface", "libusb_close",
                                               "libusb_exit"}));
    EXPECT_EQ(kelbsim::Calls("libusb_release_interface")[0].iface, 0);
    EXPECT_FALSE(PortIsOpen(&port_));
    EXPECT_EQ(port_.Context, nullptr);
    EXPECT_EQ(port_.ReadError, 111u);

    USBclose(&port_);
    EXPECT_EQ(kelbsim::Log().size(), 3u);
    uint8_t buffer[32];
    EXPECT_EQ(Read(buffer), 1);
}

}  // namespace
}  // namespace usbtest
