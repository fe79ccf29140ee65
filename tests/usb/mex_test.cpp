// The built plug-in in the stand-in MATLAB, on the virtual bus: what Open and
// Close do to the boards, the lock and the libusb objects.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "mexhost.h"
#include "sim/usb/kelbsim.h"

namespace {

class MexUsbTest : public ::testing::Test {
protected:
    void SetUp() override {
        kelbhost::Reset();
        kelbsim::Reset();
        unsetenv("ZARVUSB_HEX_FILE");
        const char *path = std::getenv("KELBHOST_MODULE");
        mex_ = std::make_unique<kelbhost::Module>(path != nullptr ? path : KELBHOST_MODULE);
        ASSERT_TRUE(mex_->Load()) << mex_->LastError();
    }
    void TearDown() override {
        mex_.reset();  // MATLAB quits: the exit function closes every port
        kelbsim::Counts n = kelbsim::Alive();
        EXPECT_EQ(n.contexts + n.handles + n.claims + n.lists + n.deviceRefs, 0);
        EXPECT_EQ(n.misuse, 0);
        unsetenv("ZARVUSB_HEX_FILE");
        kelbsim::Reset();
        kelbhost::Reset();
    }
    kelbhost::CallResult Call(int nlhs, std::vector<const mxArray *> in) {
        return mex_->Call(nlhs, std::move(in));
    }
    static uint32_t Field32(const mxArray *port, const char *name) {
        const mxArray *f = kelbhost::GetField(port, name);
        EXPECT_NE(f, nullptr);
        if (f == nullptr) return 0;
        EXPECT_EQ(kelbhost::ClassName(f), "uint32");
        return *static_cast<const uint32_t *>(mxGetData(f));
    }
    std::unique_ptr<kelbhost::Module> mex_;
};

TEST_F(MexUsbTest, OpenProgramsTheChipOpensTheBoardAndLocks) {
    int fx2 = kelbsim::AddFX2();
    setenv("ZARVUSB_HEX_FILE", KELBSIM_FIRMWARE_DIR "/feldar.hex", 1);
    auto r = Call(2, {kelbhost::Char("Open"), kelbhost::Char("feldar1")});
    ASSERT_FALSE(r.failed) << r.error;
    EXPECT_EQ(mxGetScalar(r.out[1]), 0.0);
    EXPECT_EQ(kelbhost::Text(kelbhost::GetField(r.out[0], "Port")), "feldar1");
    EXPECT_EQ(kelbhost::LockCount(), 1);

    EXPECT_EQ(r.printed, "FX2 device(s) initialized, waiting for re-enumeration.\n");
    EXPECT_EQ(r.evals, std::vector<std::string>{"drawnow;"});
    EXPECT_EQ(kelbsim::SleepCalls(), std::vector<unsigned int>{3});
    EXPECT_FALSE(kelbsim::CpuInReset(fx2));
    int board = kelbsim::Devices().at(0);
    EXPECT_EQ(kelbsim::Product(board), "KELBIO FELDAR board (0.2)");
    auto claims = kelbsim::Calls("libusb_claim_interface");
    ASSERT_FALSE(claims.empty());
    EXPECT_EQ(claims.back().device, board);
    kelbsim::Counts n = kelbsim::Alive();
    EXPECT_EQ(n.contexts, 1);
    EXPECT_EQ(n.handles, 1);
    EXPECT_EQ(n.claims, 1);
    EXPECT_EQ(n.lists, 0);

    // Close gives back interface, handle and context, and the lock.
    kelbsim::ClearLog();
    auto c = Call(1, {kelbhost::Char("Close"), r.out[0]});
    ASSERT_FALSE(c.failed) << c.error;
    EXPECT_EQ(mxGetScalar(c.out[0]), 0.0);
    std::vector<std::string> calls;
    for (const auto &call : kelbsim::Log()) calls.push_back(call.fn);
    EXPECT_EQ(calls, (std::vector<std::string>{"libusb_release_interface", "libusb_close",
                                               "libusb_exit"}));
    n = kelbsim::Alive();
    EXPECT_EQ(n.contexts + n.handles + n.claims, 0);
    EXPECT_EQ(kelbhost::LockCount(), 0);
}

TEST_F(MexUsbTest, FailedOpenRaisesTheMessageAndHoldsNothing) {
    kelbsim::AddBoard(0);
    auto r = Call(1, {kelbhost::Char("Open"), kelbhost::Char("FELDAR1")});
    EXPECT_TRUE(r.failed);
    EXPECT_EQ(r.error, "No matching device found!");
    EXPECT_EQ(kelbhost::LockCount(), 0);
    kelbsim::Counts n = kelbsim::Alive();
    EXPECT_EQ(n.contexts + n.handles + n.lists, 0);
}

// A refused claim leaves the port's context in the record for the next Open;
// CloseAll and unload must still end it, or libusb's thread outlives the
// library.
TEST_F(MexUsbTest, ContextKeptAfterARefusedClaimEndsWithCloseAllAndUnload) {
    int board = kelbsim::AddBoard(0);
    for (bool unload : {false, true}) {
        kelbsim::Script({kelbsim::Op::Claim, board, LIBUSB_ERROR_BUSY});
        auto r = Call(1, {kelbhost::Char("Open"), kelbhost::Char("TIRK1")});
        EXPECT_EQ(r.error, "Unable to claim USB interface: LIBUSB_ERROR_BUSY.\n");
        EXPECT_EQ(kelbsim::Alive().contexts, 1);
        if (unload) {
            EXPECT_TRUE(mex_->Unload());
            ASSERT_TRUE(mex_->Load()) << mex_->LastError();
        } else {
            EXPECT_EQ(Call(0, {kelbhost::Char("CloseAll")}).error, "");
        }
        EXPECT_EQ(kelbsim::Alive().contexts, 0) << (unload ? "unload" : "CloseAll");
        EXPECT_EQ(kelbhost::LockCount(), 0);
        EXPECT_EQ(kelbhost::ExtraUnlocks(), 0);
    }
    // Without CloseAll in between, the next Open still reuses the context.
    kelbsim::Script({kelbsim::Op::Claim, board, LIBUSB_ERROR_BUSY});
    EXPECT_TRUE(Call(1, {kelbhost::Char("Open"), kelbhost::Char("TIRK1")}).failed);
    kelbsim::ClearLog();
    auto r = Call(1, {kelbhost::Char("Open"), kelbhost::Char("TIRK1")});
    EXPECT_EQ(r.error, "");
    EXPECT_TRUE(kelbsim::Calls("libusb_init").empty());
    EXPECT_EQ(kelbhost::LockCount(), 1);
}

TEST_F(MexUsbTest, TransferErrorShowsUnsignedUntilSetParams) {
    int board = kelbsim::AddBoard(2);
    auto r = Call(1, {kelbhost::Char("Open"), kelbhost::Char("FELDAR1")});
    ASSERT_FALSE(r.failed) << r.error;
    const mxArray *port = r.out[0];

    kelbsim::Script({kelbsim::Op::BulkIn, board, LIBUSB_ERROR_TIMEOUT});
    auto read = Call(2, {kelbhost::Char("Read"), port});
    ASSERT_FALSE(read.failed) << read.error;
    EXPECT_EQ(mxGetScalar(read.out[1]), 16.0);

    EXPECT_EQ(mxGetScalar(Call(2, {kelbhost::Char("Read"), port}).out[1]), 0.0);
    auto params = Call(1, {kelbhost::Char("GetParams"), port});
    ASSERT_FALSE(params.failed) << params.error;
    EXPECT_EQ(Field32(params.out[0], "ReadError"), 4294967289u);
    EXPECT_EQ(Field32(params.out[0], "WriteError"), 0u);

    auto set = Call(1, {kelbhost::Char("SetParams"), params.out[0]});
    ASSERT_FALSE(set.failed) << set.error;
    EXPECT_EQ(Field32(set.out[0], "ReadError"), 0u);
}

}  // namespace
