// The Windows transport behind mexFunction: board selection by product-string
// tag, transfer statuses and error codes, abort on time-out, close failures.
#include <memory>

#include "winport.h"

namespace {

using kelbhost::Char;
using kelbhost::Double;
using kelbhost::Doubles;
using winport::FieldValue;
using winport::Product;
using winport::Scalar;
using winport::Sent;

constexpr const char *NO_DEVICE = "No matching device found!";

class PortBinding : public ::testing::Test {
protected:
    void SetUp() override
    {
        kelbhost::Reset();
        cyusbsim::Reset();
        mex = std::make_unique<kelbhost::Module>();
        ASSERT_TRUE(mex->Load()) << mex->LastError();
    }

    void TearDown() override
    {
        cyusbsim::Faults() = {};
        mex.reset();
        cyusbsim::Reset();  // the boards' plants
    }

    kelbhost::CallResult Call(int nlhs, std::vector<const mxArray *> in) { return mex->Call(nlhs, std::move(in)); }

    // p = kelbio('Open', name), expected to succeed.
    const mxArray *Open(const char *name)
    {
        kelbhost::CallResult r = Call(2, {Char("Open"), Char(name)});
        EXPECT_EQ(r.error, "") << name;
        EXPECT_EQ(Scalar(r.out[1]), 0.0) << name;
        return r.out[0];
    }

    // Status of kelbio('GetParams', port): 0 open, 1 not open.
    double OpenState(const mxArray *port) { return Scalar(Call(2, {Char("GetParams"), port}).out[1]); }
    const mxArray *Params(const mxArray *port) { return Call(1, {Char("GetParams"), port}).out[0]; }

    // A motor-board packet: command, digital outputs, DAC 1.
    double WriteTIRK(const mxArray *port, double command = 1)
    {
        kelbhost::CallResult r = Call(0, {Char("Write"), port, Double(command), Double(5), Double(1.5)});
        EXPECT_EQ(r.error, "");
        return Scalar(r.out[0]);
    }

    // [d, s] = kelbio('Read', port): the status.
    double ReadStatus(const mxArray *port)
    {
        kelbhost::CallResult r = Call(2, {Char("Read"), port});
        EXPECT_EQ(r.error, "");
        return Scalar(r.out[1]);
    }

    std::unique_ptr<kelbhost::Module> mex;
};

TEST_F(PortBinding, BoardsAreChosenByTagAndDeviceNumber)
{
    cyusbsim::AddDevice(cyusbsim::Board(Product("TIRK", 0), 0));
    cyusbsim::AddDevice(cyusbsim::Board(Product("FELDAR", 2), 2));

    const mxArray *tirk = Open("TIRK1");
    const mxArray *feldar = Open("FELDAR1");
    EXPECT_EQ(kelbhost::LockCount(), 2);
    EXPECT_EQ(cyusbsim::Stats().OpenFiles, 2);

    EXPECT_EQ(WriteTIRK(tirk, 0x21), 0.0);
    ASSERT_EQ(Sent(0).size(), 1u);
    EXPECT_EQ(Sent(0)[0].size(), 8u);
    EXPECT_EQ(Sent(0)[0][0], 0x21);
    EXPECT_TRUE(Sent(1).empty());

    kelbhost::CallResult r = Call(0, {Char("Write"), feldar, Double(3), Double(0), Double(1),
                                      Doubles(1, 4, {10, 20, 30, 40})});
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(Scalar(r.out[0]), 0.0);
    ASSERT_FALSE(Sent(1).empty());
    EXPECT_EQ(Sent(1)[0].size(), 16u);
    EXPECT_EQ(Sent(0).size(), 1u);

    // A second FELDAR board is not there: refused, registered, not open, and
    // the scan leaves no handle behind.
    r = Call(2, {Char("Open"), Char("FELDAR2")});
    EXPECT_EQ(r.error, NO_DEVICE);
    EXPECT_EQ(OpenState(Char("FELDAR2")), 1.0);
    EXPECT_EQ(kelbhost::LockCount(), 2);
    EXPECT_EQ(cyusbsim::Stats().OpenFiles, 2);
    EXPECT_EQ(cyusbsim::Stats().OpenDevInfo, 0);
}

TEST_F(PortBinding, NoDeviceAtAll)
{
    kelbhost::CallResult r = Call(1, {Char("Open"), Char("TIRK1")});
    EXPECT_EQ(r.error, NO_DEVICE);
    EXPECT_EQ(OpenState(Char("tirk1")), 1.0);
    EXPECT_EQ(kelbhost::LockCount(), 0);
    EXPECT_TRUE(cyusbsim::Log().empty());
}

TEST_F(PortBinding, TagIsTakenFromTheLastParenthesis)
{
    cyusbsim::AddDevice(cyusbsim::Board("Spare (0.0) now a FELDAR (0.2)", 2));
    cyusbsim::AddDevice(cyusbsim::Board("(0.0)", 0));
    cyusbsim::AddDevice(cyusbsim::Board("TIRK rig (0.0) ", 0));  // trailing blank: no match

    const mxArray *feldar = Open("FELDAR1");
    const mxArray *tirk = Open("TIRK1");
    EXPECT_EQ(Call(1, {Char("Open"), Char("TIRK2")}).error, NO_DEVICE);

    EXPECT_EQ(WriteTIRK(tirk), 0.0);
    EXPECT_EQ(Sent(1).size(), 1u);
    EXPECT_EQ(Call(0, {Char("Write"), feldar, Double(0), Double(0), Double(0), Doubles(1, 1, {1})}).error, "");
    EXPECT_EQ(Sent(0).size(), 1u);
    EXPECT_TRUE(Sent(2).empty());
}

TEST_F(PortBinding, UnopenableDevicesAreSkipped)
{
    int broken = cyusbsim::AddDevice(cyusbsim::Board(Product("TIRK", 0), 0));
    cyusbsim::DeviceAt(broken).FailCreateFile = true;
    cyusbsim::AddDevice(cyusbsim::Board(Product("TIRK", 0), 0));

    const mxArray *tirk = Open("TIRK1");
    EXPECT_EQ(WriteTIRK(tirk), 0.0);
    EXPECT_EQ(Sent(1).size(), 1u);
    EXPECT_EQ(Call(1, {Char("Open"), Char("TIRK2")}).error, NO_DEVICE);
}

TEST_F(PortBinding, ShortReadIsStatus32AndLeavesReadError)
{
    cyusbsim::AddDevice(cyusbsim::Board(Product("TIRK", 0), 0));
    const mxArray *tirk = Open("TIRK1");

    cyusbsim::Outcome fail;
    fail.DriverStatus = 0xC000000Du;
    fail.UsbStatus = 0x80000300u;
    cyusbsim::Script(0, 0x86, fail);
    EXPECT_EQ(ReadStatus(tirk), 16.0);
    EXPECT_EQ(FieldValue(Params(tirk), "ReadError"), double(0xC000000Du));

    cyusbsim::Outcome shortRead;
    shortRead.Bytes = 20;
    cyusbsim::Script(0, 0x86, shortRead);
    EXPECT_EQ(ReadStatus(tirk), 32.0);
    EXPECT_EQ(FieldValue(Params(tirk), "ReadError"), double(0xC000000Du));

    // One request of the whole block per read.
    EXPECT_EQ(ReadStatus(tirk), 0.0);
    EXPECT_EQ(winport::Transfers(0, 0x86), 3);
    for (const cyusbsim::Request &r : cyusbsim::Log()) {
        if (winport::IsDataTransfer(r) && winport::EndpointOf(r) == 0x86) {
            EXPECT_EQ(r.OutputSize, 32u);
        }
    }
    EXPECT_EQ(OpenState(tirk), 0.0);
}

TEST_F(PortBinding, ShortWriteIsStatus16WithTheLastErrorCode)
{
    cyusbsim::AddDevice(cyusbsim::Board(Product("TIRK", 0), 0));
    const mxArray *tirk = Open("TIRK1");

    cyusbsim::Outcome fail;
    fail.DriverStatus = 0xC0000001u;
    cyusbsim::Script(0, 0x02, fail);
    EXPECT_EQ(WriteTIRK(tirk), 16.0);
    EXPECT_EQ(FieldValue(Params(tirk), "WriteError"), double(0xC0000001u));

    // The driver moved 5 of 8 bytes without error: failed all the same, and
    // the code is the system's last error, not the driver's status.
    cyusbsim::Outcome shortWrite;
    shortWrite.When = cyusbsim::Completion::Later;
    shortWrite.DelayMs = 3;
    shortWrite.Bytes = 5;
    cyusbsim::Script(0, 0x02, shortWrite);
    EXPECT_EQ(WriteTIRK(tirk), 16.0);
    EXPECT_EQ(FieldValue(Params(tirk), "WriteError"), double(oslayer::GetLastError()));
    ASSERT_EQ(Sent(0).size(), 2u);
    EXPECT_EQ(Sent(0)[1].size(), 5u);
    EXPECT_EQ(OpenState(tirk), 0.0);
}

TEST_F(PortBinding, WriteThatNeverCompletesIsAbortedAndThePortStaysOpen)
{
    cyusbsim::AddDevice(cyusbsim::Board(Product("TIRK", 0), 0));
    const mxArray *tirk = Open("TIRK1");

    cyusbsim::Outcome never;
    never.When = cyusbsim::Completion::Never;
    cyusbsim::Script(0, 0x02, never);
    cyusbsim::ClearLog();
    EXPECT_EQ(WriteTIRK(tirk), 16.0);

    bool aborted = false;
    for (const cyusbsim::Request &r : cyusbsim::Log())
        if (r.Code == CYIOCTL_ABORT_PIPE) aborted = r.Input == std::vector<uint8_t>{0x02};
    EXPECT_TRUE(aborted);
    // The wait was the endpoint's 10 s, then the aborted request was waited for.
    const std::vector<DWORD> &waits = cyusbsim::Waits();
    ASSERT_GE(waits.size(), 2u);
    EXPECT_EQ(waits[waits.size() - 2], 10000u);
    EXPECT_EQ(waits.back(), INFINITE);
    EXPECT_EQ(cyusbsim::Stats().Hangs, 0);
    EXPECT_EQ(cyusbsim::Stats().PendingRequests, 0);
    EXPECT_EQ(FieldValue(Params(tirk), "WriteError"), double(cyusbsim::STATUS_CANCELLED));

    EXPECT_EQ(OpenState(tirk), 0.0);
    EXPECT_EQ(WriteTIRK(tirk, 7), 0.0);
    ASSERT_EQ(Sent(0).size(), 2u);
    EXPECT_EQ(Sent(0)[1][0], 7);
}

TEST_F(PortBinding, CloseThenOpenReachesTheSameBoard)
{
    cyusbsim::AddDevice(cyusbsim::Board(Product("TIRK", 0), 0));
    cyusbsim::AddDevice(cyusbsim::Board(Product("TIRK", 0), 0));
    const mxArray *second = Open("TIRK2");
    EXPECT_EQ(WriteTIRK(second), 0.0);

    kelbhost::CallResult r = Call(0, {Char("Close"), second});
    EXPECT_EQ(Scalar(r.out[0]), 0.0);
    EXPECT_EQ(cyusbsim::Stats().OpenFiles, 0);
    EXPECT_EQ(kelbhost::LockCount(), 0);
    EXPECT_EQ(WriteTIRK(second), 1.0);  // closed: nothing sent

    r = Call(2, {Char("Open"), second});
    EXPECT_EQ(Scalar(r.out[1]), 0.0);
    EXPECT_EQ(WriteTIRK(second), 0.0);
    EXPECT_EQ(Sent(1).size(), 2u);
    EXPECT_TRUE(Sent(0).empty());
    EXPECT_EQ(cyusbsim::Stats().OpenFiles, 1);
    EXPECT_EQ(kelbhost::LockCount(), 1);
}

TEST_F(PortBinding, MissingBulkEndpointGivesStatus1WithoutTraffic)
{
    cyusbsim::Device board = cyusbsim::Board(Product("TIRK", 0), 0);
    board.Configs[0] = cyusbsim::ConfigSet({cyusbsim::InterfaceDescriptor(0, 0, 1),
                                            cyusbsim::EndpointDescriptor(0x02, 2, 512)});
    cyusbsim::AddDevice(board);
    const mxArray *tirk = Open("TIRK1");

    cyusbsim::ClearLog();
    EXPECT_EQ(ReadStatus(tirk), 1.0);
    EXPECT_TRUE(cyusbsim::Log().empty());
    EXPECT_EQ(WriteTIRK(tirk), 0.0);
    EXPECT_EQ(FieldValue(Params(tirk), "ReadError"), 0.0);
}

TEST_F(PortBinding, UnpluggedBoardFailsTransfersAndStillCloses)
{
    cyusbsim::AddDevice(cyusbsim::Board(Product("TIRK", 0), 0));
    const mxArray *tirk = Open("TIRK1");
    cyusbsim::Unplug(0);

    EXPECT_EQ(ReadStatus(tirk), 16.0);
    EXPECT_EQ(WriteTIRK(tirk), 16.0);
    EXPECT_EQ(OpenState(tirk), 0.0);
    EXPECT_EQ(cyusbsim::Stats().PendingRequests, 0);

    kelbhost::CallResult r = Call(0, {Char("Close"), tirk});
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(Scalar(r.out[0]), 0.0);
    EXPECT_EQ(cyusbsim::Stats().OpenFiles, 0);
    EXPECT_EQ(cyusbsim::Stats().OpenEvents, 0);
    EXPECT_EQ(kelbhost::LockCount(), 0);
}

TEST_F(PortBinding, CloseFailureReachesTheUserAndGivesTheLockBack)
{
    cyusbsim::AddDevice(cyusbsim::Board(Product("TIRK", 0), 0));
    const mxArray *tirk = Open("TIRK1");
    ASSERT_EQ(kelbhost::LockCount(), 1);

    cyusbsim::Faults().CloseHandle = true;
    cyusbsim::ClearLog();
    kelbhost::CallResult r = Call(0, {Char("Close"), tirk});
    EXPECT_EQ(r.error, "Failed to close handle to driver.");
    EXPECT_EQ(OpenState(tirk), 1.0);
    EXPECT_EQ(kelbhost::LockCount(), 0);
    EXPECT_EQ(WriteTIRK(tirk), 1.0);
    EXPECT_TRUE(cyusbsim::Log().empty());

    EXPECT_EQ(Call(0, {Char("CloseAll")}).error, "");
    EXPECT_EQ(kelbhost::ExtraUnlocks(), 0);
}

TEST_F(PortBinding, CloseFailureDuringTheScanEndsOpen)
{
    cyusbsim::AddDevice(cyusbsim::Board(Product("TIRK", 0), 0));
    cyusbsim::AddDevice(cyusbsim::Board(Product("TIRK", 0), 0));
    cyusbsim::Faults().CloseHandle = true;

    kelbhost::CallResult r = Call(1, {Char("Open"), Char("TIRK2")});
    EXPECT_EQ(r.error, "Failed to close handle to driver.");
    EXPECT_EQ(kelbhost::LockCount(), 0);
    // The scan stopped at the board it could not close.
    for (const cyusbsim::Request &req : cyusbsim::Log()) {
        EXPECT_NE(req.Device, 1);
    }

    cyusbsim::Faults().CloseHandle = false;
    EXPECT_EQ(OpenState(Char("TIRK2")), 1.0);
}

}  // namespace
