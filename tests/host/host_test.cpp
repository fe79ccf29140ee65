// The stand-in host keeps MATLAB's contract, and is strict where Octave is.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "mexhost.h"

using namespace kelbhost;

class Host : public ::testing::Test {
protected:
    void SetUp() override { Reset(); }
};

TEST_F(Host, ArraysHaveTheirClassShapeAndValue) {
    mxArray *m = Doubles(2, 3, {1, 2, 3, 4, 5, 6});
    EXPECT_EQ(mxGetM(m), 2u);
    EXPECT_EQ(mxGetN(m), 3u);
    EXPECT_EQ(mxGetPr(m)[5], 6.0);
    EXPECT_TRUE(std::isnan(mxGetScalar(Double(mxGetNaN()))));
    EXPECT_EQ(mxGetScalar(Int32(-7)), -7.0);
    EXPECT_EQ(*static_cast<uint32_t *>(mxGetData(Uint32(4294967289u))), 4294967289u);
    EXPECT_EQ(ClassName(Logical(true)), "logical");
    EXPECT_TRUE(mxIsEmpty(Empty()));
    EXPECT_TRUE(mxIsEmpty(Char("")));
    EXPECT_EQ(mxGetPr(Int32(1)), nullptr);

    mxArray *s = Struct({"a", "b"}, 1, 2);
    SetField(s, "b", Char("x"), 1);
    EXPECT_EQ(mxGetFieldByNumber(s, 0, 1), nullptr);  // never set
    EXPECT_EQ(Text(mxGetFieldByNumber(s, 1, 1)), "x");
    EXPECT_STREQ(mxGetFieldNameByNumber(s, 1), "b");
    EXPECT_EQ(mxGetFieldNameByNumber(s, 2), nullptr);
    EXPECT_EQ(mxGetNumberOfElements(Cell(2, 2)), 4u);
}

TEST_F(Host, StringsCopyWholeOrNotAtAll) {
    char buf[6];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(mxGetString(Char("hello"), buf, 6), 0);
    EXPECT_STREQ(buf, "hello");
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(mxGetString(Char("hello!"), buf, 6), 1);
    EXPECT_EQ(buf[0], '#');
    EXPECT_EQ(mxGetString(Double(1), buf, 6), 1);
}

TEST_F(Host, CallsThatOctaveRejectsAreFaults) {
    mxArray *none = Struct({"Port"}, 0, 0);
    EXPECT_EQ(mxGetNumberOfFields(none), 1);
    EXPECT_THROW(mxGetFieldByNumber(none, 0, 0), HostFault);
    char buf[20];
    EXPECT_THROW(mxGetString(Struct({"Port"}), buf, 20), HostFault);
    EXPECT_THROW(mxGetFieldNameByNumber(Double(1), 0), HostFault);
    EXPECT_THROW(mxGetScalar(Empty()), HostFault);
    EXPECT_THROW(mxIsDouble(nullptr), HostFault);
}

TEST_F(Host, TheNthAllocationFromNowFails) {
    mxCreateString("a");
    FailAllocation(2);
    EXPECT_TRUE(AllocationFailurePending());
    EXPECT_NE(mxCreateDoubleMatrix(1, 1, mxREAL), nullptr);
    const char *names[] = {"x"};
    EXPECT_EQ(mxCreateStructMatrix(1, 1, 1, names), nullptr);
    EXPECT_FALSE(AllocationFailurePending());
    EXPECT_NE(mxCreateNumericMatrix(1, 1, mxUINT32_CLASS, mxREAL), nullptr);
    EXPECT_EQ(Allocations(), 4);
}

TEST_F(Host, MexCallsAreRecorded) {
    try {
        mexErrMsgTxt("Exact text.");
        FAIL() << "mexErrMsgTxt returned";
    } catch (const MexError &e) {
        EXPECT_STREQ(e.what(), "Exact text.");
    }
    mexWarnMsgTxt("line 1\n  line 2");
    mexPrintf("%s %d", "n", 5);
    mexEvalString("drawnow;");
    EXPECT_EQ(Warnings(), std::vector<std::string>{"line 1\n  line 2"});
    EXPECT_EQ(Printed(), "n 5");
    EXPECT_EQ(Evals(), std::vector<std::string>{"drawnow;"});

    mexLock();
    mexLock();
    mexUnlock();
    EXPECT_TRUE(mexIsLocked());
    mexUnlock();
    mexUnlock();
    EXPECT_FALSE(mexIsLocked());
    EXPECT_EQ(LockCount(), 0);
    EXPECT_EQ(ExtraUnlocks(), 1);
}

TEST_F(Host, ModuleThatIsMissingDoesNotLoad) {
    Module m("no-such-module.mexa64");
    EXPECT_FALSE(m.Load());
    EXPECT_FALSE(m.LastError().empty());
    EXPECT_THROW(m.Call(0, {}), HostFault);
}
