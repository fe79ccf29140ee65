// The Windows transport behind mexFunction: board selection by product-string
// tag, transfer statuses and error codes, abort on time-out, close failures,
// running out of memory.
#include <dlfcn.h>

#include <cstdlib>
#include <memory>
#include <new>

#include "winport.h"

// The plug-in's own C++ allocations can be made to fail: the nth one from now
// made from code inside the loaded plug-in throws std::bad_alloc (the nothrow
// forms give null).  Allocations of the test, the host and the simulated
// driver are not counted, since the real driver never throws into the caller.
namespace {

long failCountdown = 0;
const void *pluginBase = nullptr;

bool FailsHere(const void *caller)
{
    if (failCountdown <= 0 || !pluginBase) return false;
    Dl_info info;
    if (!dladdr(caller, &info) || info.dli_fbase != pluginBase) return false;
    return --failCountdown == 0;
}

void *Allocate(std::size_t size, const void *caller)
{
    if (FailsHere(caller)) throw std::bad_alloc();
    if (void *p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}

void *AllocateOrNull(std::size_t size, const void *caller) noexcept
{
    return FailsHere(caller) ? nullptr : std::malloc(size ? size : 1);
}

// The base address of the plug-in that module loaded, for FailsHere.
void WatchPlugin(const kelbhost::Module &module)
{
    void *handle = dlopen(module.Path().c_str(), RTLD_NOW | RTLD_NOLOAD);
    Dl_info info{};
    pluginBase = handle && dladdr(dlsym(handle, "mexFunction"), &info) ? info.dli_fbase : nullptr;
    if (handle) dlclose(handle);
}

}  // namespace

void *operator new(std::size_t size) { return Allocate(size, __builtin_return_address(0)); }
void *operator new[](std::size_t size) { return Allocate(size, __builtin_return_address(0)); }
void *operator new(std::size_t size, const std::nothrow_t &) noexcept
{
    return AllocateOrNull(size, __builtin_return_address(0));
}
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept
{
    return AllocateOrNull(size, __builtin_return_address(0));
}
void operator delete(void *p) noexcept { std::free(p); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
void operator delete[](void *p, std::size_t) noexcept { std::free(p); }

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
        WatchPlugin(*mex);
    }

    void TearDown() override
    {
        failCountdown = 0;
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

TEST_F(PortBinding, DeviceWithoutAReadableProductStringMatchesNoTag)
{
    // Between two TIRK boards, a device with no product string (iProduct 0,
    // as a chip without firmware has) or one whose string request stalls: it
    // must not pass for a TIRK board with the string seen before it.
    for (bool stalls : {false, true}) {
        cyusbsim::AddDevice(cyusbsim::Board(Product("TIRK", 0), 0));
        cyusbsim::Device other = cyusbsim::Board("", -1);
        if (stalls) {
            other.FailingDescriptors.insert(0x0302);
        } else {
            other.DeviceDescriptor[15] = 0;
        }
        cyusbsim::AddDevice(other);
        cyusbsim::AddDevice(cyusbsim::Board(Product("TIRK", 0), 0));

        const mxArray *second = Open("TIRK2");
        EXPECT_EQ(WriteTIRK(second), 0.0);
        EXPECT_TRUE(Sent(1).empty()) << (stalls ? "stalls" : "no string");
        EXPECT_EQ(Sent(2).size(), 1u) << (stalls ? "stalls" : "no string");
        EXPECT_EQ(Call(0, {Char("Close"), second}).error, "");
        cyusbsim::Reset();
    }
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

    // No event for the transfer: nothing is sent, and WriteError takes this
    // failure's code, not the status word of a transfer before.
    cyusbsim::Script(0, 0x02, fail);
    EXPECT_EQ(WriteTIRK(tirk), 16.0);
    cyusbsim::Faults().CreateEvent = true;
    EXPECT_EQ(WriteTIRK(tirk), 16.0);
    cyusbsim::Faults().CreateEvent = false;
    EXPECT_EQ(FieldValue(Params(tirk), "WriteError"), double(ERROR_GEN_FAILURE));
    EXPECT_EQ(Sent(0).size(), 3u);
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
    EXPECT_EQ(waits.back(), ABORT_WAIT_MS);
    EXPECT_EQ(cyusbsim::Stats().Hangs, 0);
    EXPECT_EQ(cyusbsim::Stats().PendingRequests, 0);
    EXPECT_EQ(FieldValue(Params(tirk), "WriteError"), double(cyusbsim::STATUS_CANCELLED));

    EXPECT_EQ(OpenState(tirk), 0.0);
    EXPECT_EQ(WriteTIRK(tirk, 7), 0.0);
    ASSERT_EQ(Sent(0).size(), 2u);
    EXPECT_EQ(Sent(0)[1][0], 7);
}

// The abort fails and the driver ends the request neither on the abort nor on
// CancelIoEx: the write gives up after bounded waits with its own code, and
// the port takes no transfer until it is closed.  Closing completes the kept
// request into memory that is still allocated; the board then opens again.
TEST_F(PortBinding, WriteTheDriverNeverGivesBackEndsInBoundedTimeAndBlocksThePortUntilClosed)
{
    cyusbsim::AddDevice(cyusbsim::Board(Product("TIRK", 0), 0));
    const mxArray *tirk = Open("TIRK1");
    cyusbsim::Outcome never;
    never.When = cyusbsim::Completion::Never;
    cyusbsim::Script(0, 0x02, never);
    cyusbsim::Faults().AbortPipe = true;
    cyusbsim::Faults().KeepsRequests = true;
    cyusbsim::ClearLog();
    const uint64_t start = cyusbsim::Stats().NowMs;

    EXPECT_EQ(WriteTIRK(tirk), 16.0);
    EXPECT_EQ(cyusbsim::Stats().NowMs - start, 10000u + CANCEL_WAIT_MS);
    EXPECT_EQ(cyusbsim::Stats().Cancels, 1);
    EXPECT_EQ(cyusbsim::Stats().Hangs, 0);
    EXPECT_EQ(FieldValue(Params(tirk), "WriteError"), double(XFER_ABANDONED));
    EXPECT_EQ(FieldValue(Params(tirk), "ReadError"), 0.0);
    EXPECT_EQ(cyusbsim::Stats().PendingRequests, 1);

    const size_t requests = cyusbsim::Log().size();
    EXPECT_EQ(WriteTIRK(tirk, 2), 1.0);
    EXPECT_EQ(ReadStatus(tirk), 1.0);
    EXPECT_EQ(cyusbsim::Log().size(), requests);
    EXPECT_EQ(OpenState(tirk), 0.0);

    cyusbsim::Faults() = {};
    EXPECT_EQ(Call(0, {Char("Close"), tirk}).error, "");
    EXPECT_EQ(cyusbsim::Stats().PendingRequests, 0);
    EXPECT_EQ(cyusbsim::Stats().OpenFiles, 0);
    EXPECT_EQ(cyusbsim::Stats().OpenEvents, 0);
    EXPECT_EQ(kelbhost::LockCount(), 0);
    EXPECT_EQ(Scalar(Call(2, {Char("Open"), tirk}).out[1]), 0.0);
    EXPECT_EQ(WriteTIRK(tirk, 3), 0.0);
    EXPECT_EQ(Sent(0).back()[0], 3);
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

TEST_F(PortBinding, CloseAllEndsEveryPortWhateverFailsAndExitNeverRaises)
{
    for (int i = 0; i < 3; ++i) cyusbsim::AddDevice(cyusbsim::Board(Product("TIRK", 0), 0));
    const mxArray *ports[] = {Open("TIRK1"), Open("TIRK2"), Open("TIRK3")};
    Open("TIRK1");  // a second lock on the same port
    ASSERT_EQ(kelbhost::LockCount(), 4);

    // Every close fails: each port is closed all the same, every lock is
    // given back, and the first failure is raised once, at the end.
    cyusbsim::Faults().CloseHandle = true;
    cyusbsim::ClearLog();
    EXPECT_EQ(Call(0, {Char("CloseAll")}).error, "Failed to close handle to driver.");
    for (const mxArray *port : ports) EXPECT_EQ(OpenState(port), 1.0);
    EXPECT_EQ(kelbhost::LockCount(), 0);
    EXPECT_EQ(kelbhost::ExtraUnlocks(), 0);
    for (const mxArray *port : ports) EXPECT_EQ(WriteTIRK(port), 1.0);
    EXPECT_TRUE(cyusbsim::Log().empty());

    // Unloading may not raise: the failure is only a warning.
    cyusbsim::Faults().CloseHandle = false;
    Open("TIRK2");
    Open("TIRK3");
    cyusbsim::Faults().CloseHandle = true;
    size_t warned = kelbhost::Warnings().size();
    EXPECT_NO_THROW(mex->Exit());
    EXPECT_FALSE(mex->Loaded());
    ASSERT_EQ(kelbhost::Warnings().size(), warned + 1);
    EXPECT_EQ(kelbhost::Warnings().back(), "Failed to close handle to driver.");
}

// Opening allocates configurations, endpoint objects and request records,
// every transfer a request record.  Any of them may fail: the call ends with
// "Out of memory.", the registry, the lock and the driver's handles are as
// they were, and no C++ exception leaves mexFunction.
TEST_F(PortBinding, RunningOutOfMemoryIsTheMatlabErrorAndChangesNothing)
{
    cyusbsim::AddDevice(cyusbsim::Board(Product("TIRK", 0), 0));
    int failures = 0;
    const mxArray *tirk = nullptr;
    for (long n = 1; n < 200; ++n) {
        failCountdown = n;
        kelbhost::CallResult r;
        EXPECT_NO_THROW(r = Call(2, {Char("Open"), Char("TIRK1")})) << n;
        bool reached = failCountdown == 0;
        failCountdown = 0;
        if (!reached) {
            EXPECT_EQ(r.error, "");
            tirk = r.out[0];
            break;
        }
        ++failures;
        EXPECT_EQ(r.error, "Out of memory.") << n;
        EXPECT_EQ(OpenState(Char("TIRK1")), 1.0) << n;
        EXPECT_EQ(kelbhost::LockCount(), 0) << n;
        EXPECT_EQ(cyusbsim::Stats().OpenFiles, 0) << n;
        EXPECT_EQ(cyusbsim::Stats().OpenDevInfo, 0) << n;
    }
    EXPECT_GT(failures, 5);
    ASSERT_EQ(kelbhost::LockCount(), 1);
    ASSERT_NE(tirk, nullptr);
    for (int read = 0; read < 2; ++read) {
        failCountdown = 1;
        kelbhost::CallResult r;
        if (read) {
            EXPECT_NO_THROW(r = Call(2, {Char("Read"), tirk}));
        } else {
            EXPECT_NO_THROW(r = Call(1, {Char("Write"), tirk, Double(1), Double(5), Double(1.5)}));
        }
        EXPECT_EQ(failCountdown, 0);
        EXPECT_EQ(r.error, "Out of memory.") << (read ? "Read" : "Write");
        EXPECT_EQ(cyusbsim::Stats().OpenEvents, 0);
        EXPECT_EQ(winport::Transfers(0, read ? 0x86 : 0x02), 0);
    }
    EXPECT_EQ(OpenState(tirk), 0.0);
    EXPECT_EQ(FieldValue(Params(tirk), "ReadError"), 0.0);
    EXPECT_EQ(FieldValue(Params(tirk), "WriteError"), 0.0);
    EXPECT_EQ(WriteTIRK(tirk), 0.0);
    EXPECT_EQ(ReadStatus(tirk), 0.0);
    EXPECT_EQ(kelbhost::LockCount(), 1);
}

}  // namespace
