// The KELBport object: its fields, the lookup of a record by object, and the
// two user parameters.
#include "gateway_test.h"

using namespace gwtest;
using kelbhost::GetField;
using kelbhost::SetField;

namespace {

class Params : public Gateway {
protected:
    // The record as GetParams reports it: the values of the six fields.
    std::vector<double> Record(const std::string &name) {
        mxArray *p = Object(name);
        std::vector<double> v;
        for (std::size_t f = 1; f < kFieldNames.size(); ++f) v.push_back(Field(p, kFieldNames[f]));
        return v;
    }
    static bool SameValues(const std::vector<double> &a, const std::vector<double> &b) {
        if (a.size() != b.size()) return false;
        for (std::size_t i = 0; i < a.size(); ++i)
            if (!(a[i] == b[i] || (std::isnan(a[i]) && std::isnan(b[i])))) return false;
        return true;
    }
};

const char kObject[] = "The second input argument must be a \"KELBport\" object.";
const char kTooLong[] = "Invalid KELBport name (too long).";
const char kNotFound[] = "The object is not found in the list of active KELBport devices.";
const char kDac2[] = "Invalid \"Dac2Default\" property value.";
const char kWatchdog[] = "Invalid \"WatchdogTimeout\" property value.";

TEST_F(Params, AFreshPortHasSixFieldsOfFixedClasses) {
    kelbhost::CallResult r = Call(2, {Char("GetParams"), Char("TIRK1")});
    ASSERT_FALSE(r.failed) << r.error;
    const mxArray *p = r.out[0];
    EXPECT_EQ(mxGetM(p), 1u);
    EXPECT_EQ(mxGetN(p), 1u);
    EXPECT_EQ(kelbhost::FieldNames(p), kFieldNames);
    const std::vector<std::string> classes = {"char", "int32", "double", "double", "uint32", "uint32"};
    for (std::size_t f = 0; f < classes.size(); ++f) {
        const mxArray *v = GetField(p, kFieldNames[f]);
        EXPECT_EQ(kelbhost::ClassName(v), classes[f]) << kFieldNames[f];
        if (f > 0) {
            EXPECT_EQ(mxGetNumberOfElements(v), 1u) << kFieldNames[f];
        }
    }
    EXPECT_EQ(kelbhost::Text(GetField(p, "Port")), "TIRK1");
    EXPECT_EQ(*static_cast<int32_t *>(mxGetData(GetField(p, "Device"))), 0);
    EXPECT_TRUE(std::isnan(Field(p, "Dac2Default")));
    EXPECT_EQ(Field(p, "WatchdogTimeout"), 1);
    EXPECT_EQ(*static_cast<uint32_t *>(mxGetData(GetField(p, "ReadError"))), 0u);
    EXPECT_EQ(*static_cast<uint32_t *>(mxGetData(GetField(p, "WriteError"))), 0u);
    EXPECT_EQ(Slot(r, 2), 1);
}

TEST_F(Params, SetParamsTakesAnyDoubleAndOnlyItsFirstElement) {
    mxArray *p = Object("TIRK1");
    SetField(p, "Dac2Default", Double(2.5));
    SetField(p, "WatchdogTimeout", kelbhost::Doubles(1, 2, {2, 3}));
    kelbhost::CallResult r = Call(1, {Char("SetParams"), p});
    ASSERT_FALSE(r.failed) << r.error;
    EXPECT_EQ(Field(r.out[0], "Dac2Default"), 2.5);
    EXPECT_EQ(Field(r.out[0], "WatchdogTimeout"), 2);
    EXPECT_TRUE(SameValues(Record("TIRK1"), {0, 2.5, 2, 0, 0}));

    SetField(p, "Dac2Default", Double(std::nan("")));
    SetField(p, "WatchdogTimeout", Double(-INFINITY));
    ASSERT_EQ(Error(0, {Char("SetParams"), p}), "(no error)");
    EXPECT_TRUE(SameValues(Record("TIRK1"), {0, std::nan(""), -INFINITY, 0, 0}));
}

TEST_F(Params, SetParamsChangesTheRecordInOnePieceOrNotAtAll) {
    mxArray *p = Object("TIRK1");
    SetField(p, "Dac2Default", Double(1.5));
    ASSERT_EQ(Error(0, {Char("SetParams"), p}), "(no error)");
    const std::vector<double> before = Record("TIRK1");

    SetField(p, "Dac2Default", kelbhost::Int32(3));
    EXPECT_EQ(Error(1, {Char("SetParams"), p}), kDac2);
    EXPECT_TRUE(SameValues(Record("TIRK1"), before));

    // The watchdog is read second; its failure keeps even a valid new Dac2Default out.
    SetField(p, "Dac2Default", Double(4));
    SetField(p, "WatchdogTimeout", Char("x"));
    EXPECT_EQ(Error(1, {Char("SetParams"), p}), kWatchdog);
    EXPECT_TRUE(SameValues(Record("TIRK1"), before));

    // Both wrong: the first in field order is reported.
    SetField(p, "Dac2Default", kelbhost::Logical(true));
    EXPECT_EQ(Error(1, {Char("SetParams"), p}), kDac2);
}

TEST_F(Params, ParametersWithoutAValueAreRefused) {
    mxArray *p = Object("TIRK1");
    const std::vector<double> before = Record("TIRK1");
    SetField(p, "Dac2Default", nullptr);
    EXPECT_EQ(Error(1, {Char("SetParams"), p}), kDac2);
    SetField(p, "Dac2Default", kelbhost::Empty());
    EXPECT_EQ(Error(1, {Char("SetParams"), p}), kDac2);
    SetField(p, "Dac2Default", Double(1));
    SetField(p, "WatchdogTimeout", nullptr);
    EXPECT_EQ(Error(1, {Char("SetParams"), p}), kWatchdog);
    SetField(p, "WatchdogTimeout", kelbhost::Doubles(1, 0));
    EXPECT_EQ(Error(1, {Char("SetParams"), p}), kWatchdog);
    // A sparse [0 2] stores only the 2: its "first element" would be read wrongly.
    SetField(p, "WatchdogTimeout", kelbhost::Sparse(1, 2, {0, 2}));
    EXPECT_EQ(Error(1, {Char("SetParams"), p}), kWatchdog);
    EXPECT_TRUE(SameValues(Record("TIRK1"), before));
}

TEST_F(Params, GetParamsNeverChangesTheRecordAndReportsFieldsAreIgnored) {
    mxArray *p = Object("TIRK1");
    SetField(p, "Dac2Default", Double(9));
    SetField(p, "Device", kelbhost::Int32(5));
    SetField(p, "ReadError", kelbhost::Uint32(77));
    kelbhost::CallResult r = Call(1, {Char("GetParams"), p});
    ASSERT_FALSE(r.failed) << r.error;
    EXPECT_TRUE(std::isnan(Field(r.out[0], "Dac2Default")));

    kelbhost::CallResult set = Call(1, {Char("SetParams"), p});
    ASSERT_FALSE(set.failed) << set.error;
    EXPECT_EQ(Field(set.out[0], "Device"), 0);
    EXPECT_EQ(Field(set.out[0], "ReadError"), 0);
    EXPECT_EQ(Field(set.out[0], "Dac2Default"), 9);
}

TEST_F(Params, AnObjectIsFoundByItsPortFieldAlone) {
    Object("tirk1");
    Object("FELDAR1");
    // Field names in any letter case, a seventh field, a hand-made struct.
    mxArray *hand = HandMadePort("TIRK1", {"port", "DEVICE", "dac2default", "WatchdogTimeout", "readERROR",
                                           "WriteError"});
    EXPECT_EQ(Error(0, {Char("SetParams"), hand}), "(no error)");
    std::vector<std::string> seven = kFieldNames;
    seven.push_back("Extra");
    EXPECT_EQ(Error(0, {Char("SetParams"), HandMadePort("FELDAR1", seven)}), "(no error)");

    // A changed Port field refers to another record.
    mxArray *p = Object("TIRK1");
    SetField(p, "Port", Char("feldar1"));
    SetField(p, "WatchdogTimeout", Double(3));
    kelbhost::CallResult r = Call(1, {Char("SetParams"), p});
    ASSERT_FALSE(r.failed) << r.error;
    EXPECT_EQ(kelbhost::Text(GetField(r.out[0], "Port")), "FELDAR1");
    EXPECT_EQ(Field(Object("FELDAR1"), "WatchdogTimeout"), 3);
    EXPECT_EQ(Field(Object("TIRK1"), "WatchdogTimeout"), 1);

    // Of a struct array only the first element counts.
    mxArray *two = kelbhost::Struct(kFieldNames, 1, 2);
    SetField(two, "Port", Char("TIRK1"), 0);
    SetField(two, "Dac2Default", Double(6), 0);
    SetField(two, "WatchdogTimeout", Double(1), 0);
    SetField(two, "Port", Char("nothing1"), 1);
    EXPECT_EQ(Error(0, {Char("SetParams"), two}), "(no error)");
    EXPECT_EQ(Field(Object("TIRK1"), "Dac2Default"), 6);
}

TEST_F(Params, ObjectsThatAreNoKELBportAreRefused) {
    Object("TIRK1");
    std::vector<std::string> swapped = kFieldNames;
    std::swap(swapped[2], swapped[3]);
    std::vector<std::string> five(kFieldNames.begin(), kFieldNames.end() - 1);
    std::vector<std::string> renamed = kFieldNames;
    renamed[5] = "WriteErrors";
    const std::vector<const mxArray *> bad = {
        Double(1),
        kelbhost::Cell(1, 1),
        kelbhost::Empty(),
        HandMadePort("TIRK1", swapped),
        HandMadePort("never9", five),  // the field names are checked before the name
        HandMadePort("TIRK1", renamed),
        kelbhost::Struct(kFieldNames, 0, 0),  // struct('Port', {}, ...): no element to read
        kelbhost::Struct(kFieldNames, 1, 0),
    };
    for (std::size_t i = 0; i < bad.size(); ++i) {
        EXPECT_EQ(Error(0, {Char("Close"), bad[i]}), kObject) << i;
        EXPECT_EQ(Error(0, {Char("GetParams"), bad[i]}), kObject) << i;
        EXPECT_EQ(Error(0, {Char("Open"), bad[i]}), kObject) << i;
    }
}

TEST_F(Params, ThePortFieldMustNameARegisteredRecord) {
    Object("TIRK1");
    mxArray *p = HandMadePort("TIRK1");
    SetField(p, "Port", nullptr);
    EXPECT_EQ(Error(0, {Char("SetParams"), p}), kTooLong);
    SetField(p, "Port", Double(1));
    EXPECT_EQ(Error(0, {Char("SetParams"), p}), kTooLong);
    SetField(p, "Port", Char("TIRK1xxxxxxxxxxxxxxx"));  // 20
    EXPECT_EQ(Error(0, {Char("SetParams"), p}), kTooLong);
    SetField(p, "Port", Char("TIRK1xxxxxxxxxxxxxx"));  // 19: read, but never registered
    EXPECT_EQ(Error(0, {Char("SetParams"), p}), kNotFound);
    SetField(p, "Port", Char("TIRK2"));  // a valid name is not registered by an object
    EXPECT_EQ(Error(0, {Char("SetParams"), p}), kNotFound);
    EXPECT_EQ(Error(0, {Char("GetParams"), p}), kNotFound);
    SetField(p, "Port", Char(""));
    EXPECT_EQ(Error(0, {Char("Read"), p}), kNotFound);
}

// Every array the gateway makes, made to fail in turn: "Out of memory." and
// the record as it was.
TEST_F(Params, RunningOutOfMemoryLeavesTheRecordAsItWas) {
    mxArray *p = Object("TIRK1");
    SetField(p, "Dac2Default", Double(2));
    ASSERT_EQ(Error(0, {Char("SetParams"), p}), "(no error)");
    SetField(p, "Dac2Default", Double(5));

    struct Case {
        const char *what;
        int nlhs;
        Inputs in;
        int allocations;
    };
    const std::vector<Case> cases = {
        {"GetParams", 1, {Char("GetParams"), Char("TIRK1")}, 7},
        {"GetParams with status", 2, {Char("GetParams"), p}, 8},
        {"SetParams", 2, {Char("SetParams"), p}, 8},
        {"Close", 0, {Char("Close"), p}, 1},
        {"Write", 0, {Char("Write"), p, Double(0), Double(0), Double(0)}, 1},
        {"Read", 2, {Char("Read"), p}, 1},
    };
    for (const Case &c : cases) {
        const std::vector<double> before = Record("TIRK1");
        int n = 1;
        for (;; ++n) {
            kelbhost::FailAllocation(n);
            kelbhost::CallResult r = Call(c.nlhs, c.in);
            if (!kelbhost::AllocationFailurePending()) {
                EXPECT_EQ(r.error, "Out of memory.") << c.what << ", allocation " << n;
            } else {
                kelbhost::FailAllocation(0);
                EXPECT_FALSE(r.failed) << c.what << ": " << r.error;
                break;
            }
            EXPECT_TRUE(SameValues(Record("TIRK1"), before)) << c.what << ", allocation " << n;
        }
        EXPECT_EQ(n - 1, c.allocations) << c.what;
    }
}

TEST_F(Params, ANameRegisteredBeforeAFailureStaysRegistered) {
    kelbhost::FailAllocation(1);
    EXPECT_EQ(Error(0, {Char("GetParams"), Char("FELDAR4")}), "Out of memory.");
    mxArray *p = HandMadePort("feldar4");
    kelbhost::CallResult r = Call(1, {Char("SetParams"), p});
    ASSERT_FALSE(r.failed) << r.error;
    EXPECT_EQ(kelbhost::Text(GetField(r.out[0], "Port")), "FELDAR4");
    EXPECT_EQ(Field(r.out[0], "Device"), 3);
}

}  // namespace
