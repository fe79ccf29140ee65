// Opening and closing boards on the virtual bus: the library lock, what a
// MATLAB clear keeps and what a reload starts afresh.
#include <dlfcn.h>

#include <cstdlib>

#include "gateway_test.h"
#include "sim/usb/kelbsim.h"

using namespace gwtest;
using kelbhost::LockCount;

namespace {

constexpr int kTIRK = 0;
constexpr int kFELDAR = 2;

class Registry : public Gateway {
protected:
    void SetUp() override {
        unsetenv("ZARVUSB_HEX_FILE");
        kelbsim::Reset();
        Gateway::SetUp();
    }
    void TearDown() override {
        Gateway::TearDown();
        kelbsim::Reset();
    }

    mxArray *Open(const mxArray *port) {
        kelbhost::CallResult r = Call(1, {Char("Open"), port});
        EXPECT_FALSE(r.failed) << r.error;
        return r.out[0];
    }
    double Close(const mxArray *port) { return Slot(Call(0, {Char("Close"), port}), 1); }
    std::size_t Opens() { return kelbsim::Calls("libusb_open").size(); }
};

TEST_F(Registry, EveryOpenTakesALockAndEveryCloseOfAnOpenPortGivesOneBack) {
    int board = kelbsim::AddBoard(kTIRK);
    kelbhost::CallResult first = Call(2, {Char("Open"), Char("TIRK1")});
    ASSERT_FALSE(first.failed) << first.error;
    EXPECT_EQ(kelbhost::ClassName(first.out[0]), "struct");
    EXPECT_EQ(Slot(first, 2), 0);
    EXPECT_EQ(LockCount(), 1);
    EXPECT_EQ(kelbsim::Alive().claims, 1);
    std::size_t opens = Opens();

    // Open of an open port: no new connection, one more lock.
    mxArray *p = Open(Char("tirk1"));
    EXPECT_EQ(Opens(), opens);
    EXPECT_EQ(LockCount(), 2);

    EXPECT_EQ(Close(p), 0);
    EXPECT_EQ(LockCount(), 1);  // locked with no port open
    EXPECT_EQ(kelbsim::Alive().handles, 0);
    EXPECT_EQ(kelbsim::Alive().contexts, 0);
    EXPECT_EQ(Close(p), 1);
    EXPECT_EQ(LockCount(), 1);

    EXPECT_EQ(Error(0, {Char("CloseAll")}), "(no error)");
    EXPECT_EQ(LockCount(), 0);
    EXPECT_EQ(kelbhost::ExtraUnlocks(), 0);
    EXPECT_EQ(Slot(Call(2, {Char("GetParams"), p}), 2), 1);  // the record outlives CloseAll

    // Closed, then opened again through the same object: same record, same board.
    kelbhost::CallResult again = Call(2, {Char("Open"), p});
    EXPECT_EQ(Slot(again, 2), 0);
    EXPECT_EQ(Field(again.out[0], "Device"), 0);
    EXPECT_EQ(kelbsim::Calls("libusb_claim_interface").back().device, board);
    EXPECT_EQ(kelbsim::Alive().misuse, 0);
}

TEST_F(Registry, CloseAllClosesEveryOpenPortAndReleasesEveryLock) {
    kelbsim::AddBoard(kTIRK);
    kelbsim::AddBoard(kFELDAR);
    kelbsim::AddBoard(kTIRK);
    EXPECT_EQ(Error(0, {Char("CloseAll")}), "(no error)");  // nothing registered: nothing to do
    mxArray *t1 = Open(Char("TIRK1"));
    Open(Char("FELDAR1"));
    Open(Char("TIRK2"));
    Open(t1);
    Object("MORSIVAN1");  // registered, never opened
    EXPECT_EQ(LockCount(), 4);
    EXPECT_EQ(kelbsim::Alive().handles, 3);

    EXPECT_EQ(Error(0, {Char("closeall")}), "(no error)");
    EXPECT_EQ(LockCount(), 0);
    EXPECT_EQ(kelbsim::Alive().handles, 0);
    EXPECT_EQ(kelbsim::Alive().contexts, 0);
    EXPECT_EQ(kelbsim::Calls("libusb_release_interface").size(), 3u);
    for (const char *name : {"TIRK1", "FELDAR1", "TIRK2", "MORSIVAN1"})
        EXPECT_EQ(Slot(Call(2, {Char("GetParams"), Char(name)}), 2), 1) << name;
}

TEST_F(Registry, OpenWithAnObjectAppliesItsParameters) {
    kelbsim::AddBoard(kTIRK);
    mxArray *p = Object("TIRK1");
    kelbhost::SetField(p, "Dac2Default", Double(-2));
    kelbhost::SetField(p, "WatchdogTimeout", Double(0.5));
    mxArray *opened = Open(p);
    EXPECT_EQ(Field(opened, "Dac2Default"), -2);
    EXPECT_EQ(Field(opened, "WatchdogTimeout"), 0.5);
    EXPECT_EQ(Close(opened), 0);

    // By name the record keeps what it has, across closing and reopening.
    mxArray *byName = Open(Char("TIRK1"));
    EXPECT_EQ(Field(byName, "Dac2Default"), -2);
    EXPECT_EQ(Field(byName, "WatchdogTimeout"), 0.5);

    // Bad parameters: the record is unchanged, no board is touched, no lock.
    Call(0, {Char("CloseAll")});
    kelbsim::ClearLog();
    kelbhost::SetField(p, "Dac2Default", Double(1));
    kelbhost::SetField(p, "WatchdogTimeout", kelbhost::Uint32(1));
    EXPECT_EQ(Error(1, {Char("Open"), p}), "Invalid \"WatchdogTimeout\" property value.");
    EXPECT_TRUE(kelbsim::Log().empty());
    EXPECT_EQ(LockCount(), 0);
    EXPECT_EQ(Field(Object("TIRK1"), "Dac2Default"), -2);
}

TEST_F(Registry, AnOpenThatFindsNoBoardLeavesTheRecordRegisteredAndUnlocked) {
    kelbsim::AddBoard(kFELDAR);
    kelbhost::CallResult r = Call(2, {Char("Open"), Char("TIRK3")});
    ASSERT_TRUE(r.failed);
    EXPECT_EQ(r.error, "No matching device found!");
    EXPECT_EQ(LockCount(), 0);
    kelbhost::CallResult get = Call(2, {Char("GetParams"), Char("tirk3")});
    EXPECT_EQ(Slot(get, 2), 1);
    EXPECT_EQ(Field(get.out[0], "Device"), 2);
}

TEST_F(Registry, TransferErrorsAreShownUnsignedAndClearedBySetParams) {
    int board = kelbsim::AddBoard(kTIRK);
    mxArray *p = Open(Char("TIRK1"));
    kelbsim::Fault timeout;
    timeout.op = kelbsim::Op::BulkIn;
    timeout.device = board;
    timeout.code = LIBUSB_ERROR_TIMEOUT;  // -7
    kelbsim::Script(timeout);
    EXPECT_EQ(Slot(Call(2, {Char("Read"), p}), 2), 16);

    kelbhost::CallResult get = Call(1, {Char("GetParams"), p});
    const mxArray *readError = kelbhost::GetField(get.out[0], "ReadError");
    ASSERT_EQ(kelbhost::ClassName(readError), "uint32");
    EXPECT_EQ(*static_cast<uint32_t *>(mxGetData(readError)), 4294967289u);

    kelbhost::CallResult set = Call(1, {Char("SetParams"), p});
    EXPECT_EQ(Field(set.out[0], "ReadError"), 0);
    EXPECT_EQ(Field(Object("TIRK1"), "ReadError"), 0);
}

TEST_F(Registry, OutOfMemoryNeitherOpensNorClosesABoard) {
    kelbsim::AddBoard(kTIRK);
    mxArray *p = Object("TIRK1");
    int n = 1;
    for (;; ++n) {
        kelbhost::FailAllocation(n);
        kelbhost::CallResult r = Call(2, {Char("Open"), p});
        if (kelbhost::AllocationFailurePending()) break;
        EXPECT_EQ(r.error, "Out of memory.") << n;
        EXPECT_EQ(kelbsim::Alive().handles, 0) << n;
        EXPECT_EQ(LockCount(), 0) << n;
    }
    kelbhost::FailAllocation(0);
    EXPECT_EQ(n - 1, 8);  // the status, the structure and its six fields
    EXPECT_EQ(LockCount(), 1);

    kelbhost::FailAllocation(1);
    EXPECT_EQ(Error(0, {Char("Close"), p}), "Out of memory.");
    EXPECT_EQ(kelbsim::Alive().handles, 1);
    EXPECT_EQ(LockCount(), 1);
    EXPECT_EQ(Close(p), 0);
}

TEST_F(Registry, ALockedLibrarySurvivesAClearAndAReloadStartsAfresh) {
    kelbsim::AddBoard(kTIRK);
    mxArray *p = Open(Char("TIRK1"));
    kelbhost::SetField(p, "WatchdogTimeout", Double(4));
    ASSERT_EQ(Error(0, {Char("SetParams"), p}), "(no error)");

    EXPECT_FALSE(mex.Unload());  // locked: MATLAB keeps it
    EXPECT_TRUE(mex.Loaded());
    EXPECT_EQ(Field(Object("TIRK1"), "WatchdogTimeout"), 4);
    EXPECT_EQ(kelbsim::Alive().handles, 1);

    EXPECT_EQ(Close(p), 0);
    EXPECT_TRUE(mex.Unload());
    EXPECT_FALSE(mex.Resident());

    ASSERT_TRUE(mex.Load()) << mex.LastError();
    EXPECT_EQ(Error(0, {Char("SetParams"), p}),
              "The object is not found in the list of active KELBport devices.");
    kelbhost::CallResult again = Call(2, {Char("Open"), Char("TIRK1")});
    EXPECT_EQ(Slot(again, 2), 0);
    EXPECT_EQ(Field(again.out[0], "WatchdogTimeout"), 1);  // a new record
    EXPECT_EQ(Error(0, {Char("SetParams"), p}), "(no error)");
}

// The exit function is registered once per load.  A host that runs it and
// then keeps the file mapped (here a second reference to it) reloads nothing,
// so the library must still register it with the next call.
TEST_F(Registry, EveryLoadRegistersTheExitFunctionEvenWhenTheFileStaysMapped) {
    kelbsim::AddBoard(kTIRK);
    void *pin = dlopen(mex.Path().c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(pin, nullptr);
    for (int load = 1; load <= 2; ++load) {
        Open(Char("TIRK1"));
        Object("TIRK1");
        EXPECT_EQ(kelbhost::AtExitRegistrations(), load);
        mex.Exit();  // runs the exit function and forgets it
        EXPECT_TRUE(mex.Resident());
        EXPECT_EQ(kelbsim::Alive().handles, 0) << load;
        EXPECT_EQ(LockCount(), 0);
        ASSERT_TRUE(mex.Load()) << mex.LastError();
        EXPECT_EQ(kelbhost::AtExitFunction(), nullptr);
    }
    dlclose(pin);
    mex.Exit();
    EXPECT_FALSE(mex.Resident());
    ASSERT_TRUE(mex.Load()) << mex.LastError();
    Open(Char("TIRK1"));
    EXPECT_EQ(kelbhost::AtExitRegistrations(), 3);  // a fresh load registers it too
    mex.Exit();
    EXPECT_EQ(kelbsim::Alive().handles, 0);
}

TEST_F(Registry, UnloadingRunsTheExitFunctionWhichClosesEveryBoard) {
    kelbsim::AddBoard(kTIRK);
    kelbsim::AddBoard(kFELDAR);
    Open(Char("TIRK1"));
    Open(Char("FELDAR1"));
    ASSERT_EQ(LockCount(), 2);
    mex.Exit();  // MATLAB quitting: the exit function runs even while locked
    EXPECT_FALSE(mex.Resident());
    EXPECT_EQ(LockCount(), 0);
    EXPECT_EQ(kelbhost::ExtraUnlocks(), 0);
    EXPECT_EQ(kelbsim::Alive().handles, 0);
    EXPECT_EQ(kelbsim::Alive().contexts, 0);
    EXPECT_EQ(kelbsim::Alive().claims, 0);
    EXPECT_EQ(kelbsim::Alive().misuse, 0);
}

}  // namespace
