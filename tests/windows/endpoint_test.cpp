// Endpoint transfers: the request records, buffer arrangements, waits,
// time-outs and aborts that reach the driver.
#include "cyusbtest.h"

#include <cstring>

#include "sim/plant/plant.h"

using cyusbsim::Completion;
using cyusbsim::Outcome;

namespace {

std::vector<uint8_t> HeaderWithEndpoint(uint8_t address) {
    std::vector<uint8_t> header(38, 0);
    header[13] = address;
    return header;
}

class EndpointTest : public CyUsbTest {
protected:
    // A board at index 0, opened; its first bulk IN and OUT endpoints.
    CCyDevice &Open(uint32_t driverVersion = 0x01060000) {
        cyusbsim::Device board = cyusbsim::Board("Board (0.0)", -1);
        board.DriverVersion = driverVersion;
        cyusbsim::AddDevice(board);
        device_ = std::make_unique<CCyDevice>(nullptr, CYUSB_INTERFACE_GUID);
        EXPECT_TRUE(device_->IsOpen());
        EXPECT_NE(device_->BulkInEndpoint, nullptr);
        EXPECT_NE(device_->BulkOutEndpoint, nullptr);
        cyusbsim::ClearLog();
        return *device_;
    }
    void TearDown() override {
        if (device_) device_->CloseDevice();
        EXPECT_EQ(cyusbsim::Stats().OpenEvents, 0);
        EXPECT_EQ(cyusbsim::Stats().PendingRequests, 0);
        EXPECT_EQ(cyusbsim::Stats().Hangs, 0);
        device_.reset();
        CyUsbTest::TearDown();
    }
    std::unique_ptr<CCyDevice> device_;
};

TEST_F(EndpointTest, DirectReadSendsTheRecordAloneAndFillsTheCallersBuffer) {
    CCyDevice &dev = Open();
    cyusbsim::QueueInput(0, Counting(32));
    cyusbsim::Script(0, 0x86, Outcome{Completion::Later, 3});
    uint8_t buffer[32] = {};
    LONG length = 32;
    ASSERT_TRUE(dev.BulkInEndpoint->Transfer(buffer, length));
    EXPECT_EQ(length, 32);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 32), Counting(32));

    ASSERT_EQ(cyusbsim::Log().size(), 1u);
    const auto &r = cyusbsim::Log()[0];
    EXPECT_EQ(r.Code, 0x22004Bu);
    EXPECT_EQ(r.Input, HeaderWithEndpoint(0x86));
    EXPECT_EQ(r.OutputSize, 32u);
    EXPECT_TRUE(r.Overlapped);
    EXPECT_EQ(cyusbsim::Waits(), std::vector<DWORD>{10000});
}

TEST_F(EndpointTest, OldDriverGetsTheBufferedFormAndTheDataIsCopiedOut) {
    CCyDevice &dev = Open(0x01050400);
    EXPECT_EQ(dev.BulkInEndpoint->TransferMode, Buffered);
    EXPECT_EQ(dev.BulkOutEndpoint->TransferMode, Buffered);
    cyusbsim::QueueInput(0, Counting(32, 0x40));
    uint8_t buffer[32];
    std::memset(buffer, 0xEE, sizeof(buffer));
    LONG length = 32;
    ASSERT_TRUE(dev.BulkInEndpoint->Transfer(buffer, length));
    EXPECT_EQ(length, 32);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 32), Counting(32, 0x40));

    ASSERT_EQ(cyusbsim::Log().size(), 1u);
    const auto &r = cyusbsim::Log()[0];
    EXPECT_EQ(r.Code, 0x220024u);
    std::vector<uint8_t> expected = HeaderWithEndpoint(0x86);
    expected[30] = 38;  // data offset
    expected[34] = 32;  // data length
    expected.insert(expected.end(), 32, 0xEE);  // the caller's bytes go along, IN or not
    EXPECT_EQ(r.Input, expected);
    EXPECT_EQ(r.OutputSize, 70u);
}

TEST_F(EndpointTest, DriverVersionAtTheLimitKeepsDirectMode) {
    CCyDevice &dev = Open(0x01050500);
    EXPECT_EQ(dev.BulkInEndpoint->TransferMode, Direct);
    EXPECT_EQ(dev.BulkOutEndpoint->TransferMode, Direct);
}

TEST_F(EndpointTest, BufferedWriteCarriesThePacketBehindTheRecord) {
    CCyDevice &dev = Open(0x01000000);
    std::vector<uint8_t> packet = Counting(8, 0x10);
    LONG length = 8;
    ASSERT_TRUE(dev.BulkOutEndpoint->Transfer(packet.data(), length));
    EXPECT_EQ(length, 8);
    const auto &r = cyusbsim::Log().at(0);
    EXPECT_EQ(r.Input.size(), 46u);
    EXPECT_EQ(r.Input[13], 0x02);
    EXPECT_EQ(std::vector<uint8_t>(r.Input.begin() + 38, r.Input.end()), packet);
    EXPECT_EQ(r.Data, packet);
}

TEST_F(EndpointTest, ShortReadWithCleanStatusSucceedsWithTheCount) {
    CCyDevice &dev = Open();
    cyusbsim::Script(0, 0x86, Outcome{Completion::Later, 1, 20});
    uint8_t buffer[32];
    LONG length = 32;
    EXPECT_TRUE(dev.BulkInEndpoint->Transfer(buffer, length));
    EXPECT_EQ(length, 20);
    EXPECT_EQ(dev.BulkInEndpoint->BytesTransferred, 20u);
}

TEST_F(EndpointTest, ARequestThatNeverCompletesIsAbortedAfterTheTimeLimit) {
    CCyDevice &dev = Open();
    cyusbsim::Script(0, 0x02, Outcome{Completion::Never});
    uint8_t packet[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    LONG length = 8;
    EXPECT_FALSE(dev.BulkOutEndpoint->Transfer(packet, length));
    EXPECT_EQ(length, 0);
    ASSERT_EQ(cyusbsim::Log().size(), 2u);
    const auto &abort = cyusbsim::Log()[1];
    EXPECT_EQ(abort.Code, 0x220044u);
    EXPECT_EQ(abort.Input, std::vector<uint8_t>{0x02});
    EXPECT_FALSE(abort.Overlapped);
    EXPECT_EQ(cyusbsim::Waits(), (std::vector<DWORD>{10000, ABORT_WAIT_MS}));
    EXPECT_EQ(cyusbsim::Stats().Cancels, 0);
    // What the driver wrote for the aborted request.
    EXPECT_EQ(dev.BulkOutEndpoint->DriverStatus, cyusbsim::STATUS_CANCELLED);
    EXPECT_EQ(dev.BulkOutEndpoint->UsbStatus, cyusbsim::USBD_STATUS_CANCELED);
}

// The abort fails, or the driver does not end the aborted request: the
// request is cancelled, and when that does not end it either the transfer is
// given up after bounded waits.  The driver may still complete into its
// record, data and OVERLAPPED later (here when the handle is closed), so
// those stay allocated; the endpoint takes no further transfer.
TEST_F(EndpointTest, AnUnendedRequestIsCancelledAndThenGivenUpInBoundedTime) {
    struct Case {
        const char *name;
        bool abortFails, keeps;
        std::vector<DWORD> waits;
        uint32_t driverStatus;
    } cases[] = {
        {"abort fails, cancel ends it", true, false, {10000, CANCEL_WAIT_MS}, cyusbsim::STATUS_CANCELLED},
        {"abort fails, driver keeps it", true, true, {10000, CANCEL_WAIT_MS}, XFER_ABANDONED},
        {"abort taken, driver keeps it", false, true, {10000, ABORT_WAIT_MS, CANCEL_WAIT_MS}, XFER_ABANDONED},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        cyusbsim::Reset();
        CCyDevice &dev = Open();
        dev.BulkOutEndpoint->TransferMode = Buffered;  // the data behind the record; IN direct
        cyusbsim::Faults().AbortPipe = c.abortFails;
        cyusbsim::Faults().KeepsRequests = c.keeps;
        for (CCyBulkEndPoint *ep : {dev.BulkInEndpoint, dev.BulkOutEndpoint}) {
            cyusbsim::Script(0, ep->Address, Outcome{Completion::Never});
            uint8_t buffer[32] = {};
            LONG length = 32;
            const size_t waitsBefore = cyusbsim::Waits().size();
            EXPECT_FALSE(ep->Transfer(buffer, length));
            EXPECT_EQ(length, 0);
            EXPECT_EQ(std::vector<DWORD>(cyusbsim::Waits().begin() + waitsBefore, cyusbsim::Waits().end()), c.waits);
            EXPECT_EQ(ep->DriverStatus, c.driverStatus);
            EXPECT_EQ(ep->Abandoned, c.keeps);
            EXPECT_EQ(cyusbsim::Stats().OpenEvents, 0);

            // A given-up endpoint sends nothing more; the others go on.
            cyusbsim::ClearLog();
            length = 32;
            EXPECT_EQ(ep->Transfer(buffer, length), !c.keeps);
            EXPECT_EQ(cyusbsim::Log().size(), c.keeps ? 0u : 1u);
            if (c.keeps) {
                EXPECT_EQ(ep->DriverStatus, XFER_ABANDONED);
            }
        }
        EXPECT_EQ(cyusbsim::Stats().PendingRequests, c.keeps ? 2 : 0);
        // Closing the handle completes what the driver kept, into memory that
        // is still allocated.
        cyusbsim::Faults() = {};
        dev.CloseDevice();
        EXPECT_EQ(cyusbsim::Stats().PendingRequests, 0);
        device_.reset();
    }
}

TEST_F(EndpointTest, TimeLimitCountsAgainstThePendingRequest) {
    CCyDevice &dev = Open();
    uint8_t buffer[32];
    cyusbsim::Script(0, 0x86, Outcome{Completion::Later, 10000});
    LONG length = 32;
    EXPECT_TRUE(dev.BulkInEndpoint->Transfer(buffer, length));
    EXPECT_TRUE(RequestsWith(0x220044).empty());

    cyusbsim::Script(0, 0x86, Outcome{Completion::Later, 10001});
    length = 32;
    EXPECT_FALSE(dev.BulkInEndpoint->Transfer(buffer, length));
    EXPECT_EQ(RequestsWith(0x220044).size(), 1u);

    // Timeout 0 gives up at once on anything pending.
    dev.BulkInEndpoint->Timeout = 0;
    cyusbsim::Script(0, 0x86, Outcome{Completion::Later, 1});
    length = 32;
    EXPECT_FALSE(dev.BulkInEndpoint->Transfer(buffer, length));
    EXPECT_EQ(RequestsWith(0x220044).size(), 2u);
    EXPECT_EQ(cyusbsim::Waits().back(), ABORT_WAIT_MS);
}

TEST_F(EndpointTest, FailuresAtOnceAndNonzeroStatusWordsFailTheTransfer) {
    CCyDevice &dev = Open();
    uint8_t buffer[32];
    LONG length = 32;
    cyusbsim::Script(0, 0x86, Outcome{Completion::Now, 0, -1, 31, 0xC0000001u});
    EXPECT_FALSE(dev.BulkInEndpoint->Transfer(buffer, length));
    EXPECT_EQ(dev.BulkInEndpoint->LastError, 31u);
    EXPECT_TRUE(cyusbsim::Waits().empty());

    // No event: nothing is sent, and the code is this failure's, not the
    // status word of the transfer before.
    cyusbsim::ClearLog();
    cyusbsim::Faults().CreateEvent = true;
    length = 32;
    EXPECT_FALSE(dev.BulkInEndpoint->Transfer(buffer, length));
    cyusbsim::Faults().CreateEvent = false;
    EXPECT_EQ(length, 0);
    EXPECT_EQ(dev.BulkInEndpoint->DriverStatus, ERROR_GEN_FAILURE);
    EXPECT_TRUE(cyusbsim::Log().empty());

    // Bytes moved, but the driver reports a failure in the record.
    cyusbsim::Script(0, 0x86, Outcome{Completion::Later, 1, -1, 0, 0xC0000001u, 0x80000300u});
    length = 32;
    EXPECT_FALSE(dev.BulkInEndpoint->Transfer(buffer, length));
    EXPECT_EQ(dev.BulkInEndpoint->BytesTransferred, 32u);
    EXPECT_EQ(dev.BulkInEndpoint->DriverStatus, 0xC0000001u);
    EXPECT_EQ(dev.BulkInEndpoint->UsbStatus, 0x80000300u);
}

TEST_F(EndpointTest, ControlTransferRecordAndTimeLimitInWholeSeconds) {
    CCyDevice &dev = Open();
    CCyControlEndPoint *ep0 = dev.ControlEndpoint;
    EXPECT_EQ(ep0->TransferMode, Buffered);
    EXPECT_EQ(ep0->MaxPacketSize, 64);
    ep0->Direction = DIR_TO_DEVICE;
    ep0->RequestType = REQ_VENDOR;
    ep0->Target = TGT_ENDPOINT;
    ep0->RequestCode = 0xA3;
    ep0->Value = 0x1234;
    ep0->Index = 0x5678;
    struct { uint32_t timeout, seconds; } limits[] = {{500, 1}, {2500, 2}, {0, 0}, {999, 1}, {1000, 1}, {10000, 10}};
    for (auto limit : limits) {
        cyusbsim::ClearLog();
        ep0->Timeout = limit.timeout;
        uint8_t data[4] = {9, 8, 7, 6};
        LONG length = 4;
        EXPECT_TRUE(ep0->Transfer(data, length));
        const auto &r = cyusbsim::Log().at(0);
        EXPECT_EQ(r.Code, 0x220020u);
        EXPECT_EQ(Le32(r.Input, 8), limit.seconds) << "Timeout " << limit.timeout;
        std::vector<uint8_t> head(r.Input.begin(), r.Input.begin() + 8);
        EXPECT_EQ(head, (std::vector<uint8_t>{0x42, 0xA3, 0x34, 0x12, 0x78, 0x56, 4, 0}));
        EXPECT_EQ(r.Input[13], 0);
        EXPECT_EQ(Le32(r.Input, 30), 38u);
        EXPECT_EQ(Le32(r.Input, 34), 4u);
        EXPECT_EQ(std::vector<uint8_t>(r.Input.begin() + 38, r.Input.end()), (std::vector<uint8_t>{9, 8, 7, 6}));
    }
    // Device to host sets bit 7 and brings the data back.
    ep0->Direction = DIR_FROM_DEVICE;
    ep0->RequestType = REQ_STD;
    ep0->Target = TGT_DEVICE;
    ep0->RequestCode = 6;
    ep0->Value = 0x0100;
    ep0->Index = 0;
    uint8_t descriptor[18] = {};
    LONG length = 18;
    EXPECT_TRUE(ep0->Transfer(descriptor, length));
    EXPECT_TRUE(ep0->IsIn);
    EXPECT_EQ(length, 18);
    EXPECT_EQ(std::vector<uint8_t>(descriptor, descriptor + 18), cyusbsim::DeviceAt(0).DeviceDescriptor);
}

TEST_F(CyUsbTest, BoardsServeThePlantModelBehindThem) {
    cyusbsim::AddDevice(cyusbsim::Board("Board (0.0)", 0));
    CCyDevice dev(nullptr, CYUSB_INTERFACE_GUID);
    ASSERT_TRUE(dev.IsOpen());
    kelbsim::Plant *reference = kelbsim::PlantCreate(0);
    std::vector<uint8_t> packet = {0, 0, 0x00, 0x60, 0x00, 0x20, 0, 0};
    kelbsim::PlantReceive(reference, packet.data(), static_cast<int>(packet.size()));
    LONG length = 8;
    ASSERT_TRUE(dev.BulkOutEndpoint->Transfer(packet.data(), length));
    for (int i = 0; i < 3; i++) {
        uint8_t expected[kelbsim::kInputBlockSize], block[kelbsim::kInputBlockSize];
        kelbsim::PlantBlock(reference, expected);
        length = kelbsim::kInputBlockSize;
        ASSERT_TRUE(dev.BulkInEndpoint->Transfer(block, length));
        EXPECT_EQ(std::vector<uint8_t>(block, block + 32), std::vector<uint8_t>(expected, expected + 32));
    }
    kelbsim::PlantDestroy(reference);
    dev.CloseDevice();
}

TEST(EndpointDescriptor, HighBandwidthPacketSizeAndDirection) {
    const uint8_t descriptor[7] = {7, 5, 0x83, 1, 0x00, 0x14, 1};  // wMaxPacketSize 0x1400
    CCyIsocEndPoint ep(INVALID_HANDLE_VALUE, descriptor);
    EXPECT_EQ(ep.PacketsPerFrame, 3);
    EXPECT_EQ(ep.MaxPacketSize, 3072);
    EXPECT_TRUE(ep.IsIn);
    EXPECT_EQ(ep.Timeout, 10000u);
    EXPECT_EQ(ep.TransferMode, Direct);
    EXPECT_EQ(ep.Interval, 1);
}

TEST_F(CyUsbTest, IsochronousTransfersCarryOnePacketInfoEntryPerPacket) {
    cyusbsim::Device board = cyusbsim::Board("Iso", -1);
    board.Configs[0] = cyusbsim::ConfigSet({cyusbsim::InterfaceDescriptor(0, 0, 1),
                                            cyusbsim::EndpointDescriptor(0x81, 1, 512, 1)});
    cyusbsim::AddDevice(board);
    CCyDevice dev(nullptr, CYUSB_INTERFACE_GUID);
    ASSERT_NE(dev.IsocInEndpoint, nullptr);
    cyusbsim::ClearLog();

    std::vector<uint8_t> buffer(1000);
    IsoPacketInfo infos[2] = {};
    LONG length = 1000;
    EXPECT_TRUE(dev.IsocInEndpoint->Transfer(buffer.data(), length, infos));
    EXPECT_EQ(length, 1000);
    const auto &direct = cyusbsim::Log().at(0);
    EXPECT_EQ(direct.Code, 0x22004Bu);
    EXPECT_EQ(direct.Input.size(), 38u + 16u);
    EXPECT_EQ(Le32(direct.Input, 22), 38u);
    EXPECT_EQ(Le32(direct.Input, 26), 16u);
    EXPECT_EQ(Le32(direct.Input, 30), 0u);
    EXPECT_EQ(direct.OutputSize, 1000u);
    EXPECT_EQ(infos[0].Length, 512u);
    EXPECT_EQ(infos[1].Length, 488u);

    dev.IsocInEndpoint->TransferMode = Buffered;
    length = 1000;
    EXPECT_TRUE(dev.IsocInEndpoint->Transfer(buffer.data(), length, infos));
    const auto &buffered = cyusbsim::Log().at(1);
    EXPECT_EQ(buffered.Code, 0x220024u);
    EXPECT_EQ(buffered.Input.size(), 38u + 16u + 1000u);
    EXPECT_EQ(Le32(buffered.Input, 30), 54u);
    EXPECT_EQ(Le32(buffered.Input, 34), 1000u);
    EXPECT_EQ(length, 1000);

    // Nothing to send: no request at all.
    cyusbsim::ClearLog();
    length = 0;
    EXPECT_FALSE(dev.IsocInEndpoint->Transfer(buffer.data(), length, infos));
    EXPECT_TRUE(cyusbsim::Log().empty());
    dev.CloseDevice();
}

TEST_F(CyUsbTest, TransferWithoutAContextSendsNothingAndFails) {
    const uint8_t descriptor[7] = {7, 5, 0x86, 2, 0x00, 0x02, 0};
    CCyBulkEndPoint ep(INVALID_HANDLE_VALUE, descriptor);
    uint8_t buffer[32];
    LONG length = 32;
    EXPECT_EQ(ep.BeginTransfer(buffer, length, nullptr), nullptr);
    OVERLAPPED ov{};
    EXPECT_FALSE(ep.FinishTransfer(buffer, length, &ov, nullptr));
    // A pending code left by an earlier call must not start a wait.
    cyusbsim::SetLastErrorCode(ERROR_IO_PENDING);
    length = 32;
    EXPECT_FALSE(ep.Transfer(buffer, length));
    EXPECT_EQ(length, 0);
    EXPECT_TRUE(cyusbsim::Log().empty());
    EXPECT_TRUE(cyusbsim::Waits().empty());
    EXPECT_EQ(cyusbsim::Stats().OpenEvents, 0);
}

}  // namespace
