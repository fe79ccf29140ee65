// Fixture for tests that drive the built plug-in through its mexFunction.
// Every test loads the module afresh, so each starts with an empty registry.
#ifndef KELB_GATEWAY_TEST_H
#define KELB_GATEWAY_TEST_H

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "mexhost.h"

namespace gwtest {

using kelbhost::Char;
using kelbhost::Double;
using Inputs = std::vector<const mxArray *>;

const std::vector<std::string> kFieldNames = {"Port",           "Device",    "Dac2Default",
                                              "WatchdogTimeout", "ReadError", "WriteError"};

class Gateway : public ::testing::Test {
protected:
    void SetUp() override {
        kelbhost::Reset();
        ASSERT_TRUE(mex.Load()) << mex.LastError();
    }
    void TearDown() override { mex.Exit(); }

    kelbhost::CallResult Call(int nlhs, Inputs in) { return mex.Call(nlhs, std::move(in)); }

    // The error text of a call that must fail ("(no error)" if it did not).
    std::string Error(int nlhs, Inputs in) {
        kelbhost::CallResult r = Call(nlhs, std::move(in));
        return r.failed ? r.error : "(no error)";
    }

    // The KELBport object of a port name, registering it if new.
    mxArray *Object(const std::string &name) {
        kelbhost::CallResult r = Call(1, {Char("GetParams"), Char(name)});
        EXPECT_FALSE(r.failed) << r.error;
        return r.out[0];
    }

    // The status a call left in the given slot (counted from 1), or NaN when
    // the slot is empty or holds no double scalar.
    static double Slot(const kelbhost::CallResult &r, std::size_t slot) {
        if (slot > r.out.size() || !r.out[slot - 1]) return std::nan("");
        const mxArray *a = r.out[slot - 1];
        if (kelbhost::ClassName(a) != "double" || mxGetNumberOfElements(a) != 1) return std::nan("");
        return mxGetScalar(a);
    }

    kelbhost::Module mex;
};

// A struct with the KELBport fields set to plain values, for objects that
// the tests build by hand; fields are named by the list, in its order, and
// given the values of the six fields in theirs.
inline mxArray *HandMadePort(const std::string &name, const std::vector<std::string> &fields = kFieldNames) {
    mxArray *s = kelbhost::Struct(fields);
    const std::vector<mxArray *> values = {Char(name),     kelbhost::Int32(0),  Double(std::nan("")),
                                           Double(1),      kelbhost::Uint32(0), kelbhost::Uint32(0)};
    for (std::size_t f = 0; f < fields.size() && f < values.size(); ++f) kelbhost::SetField(s, fields[f], values[f]);
    return s;
}

inline double Field(const mxArray *port, const std::string &field) {
    return mxGetScalar(kelbhost::GetField(port, field));
}

}  // namespace gwtest

#endif
