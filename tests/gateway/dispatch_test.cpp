// Command matching, argument counts, port names and where the status goes.
#include "gateway_test.h"

using namespace gwtest;

namespace {

class Dispatch : public Gateway {
protected:
    // What a command text does in four probes that need no board.  Together
    // they tell the eight commands apart by their counts, by whether they
    // take a port name, and by whether they read an object's parameters.
    std::vector<std::string> Probe(const std::string &text) {
        mxArray *badParams = Object("TIRK1");
        kelbhost::SetField(badParams, "Dac2Default", kelbhost::Int32(3));
        return {
            Error(0, {Char(text)}),
            Error(2, {Char(text), Double(0), Double(0)}),
            Error(2, {Char(text), Char("XYZ1")}),
            Error(1, {Char(text), badParams}),
        };
    }
};

const char kFew[] = "Too few input arguments.";
const char kMany[] = "Too many input arguments.";
const char kOut[] = "Too many output arguments.";
const char kObject[] = "The second input argument must be a \"KELBport\" object.";
const char kInvalid[] = "Invalid KELBport device.";
const char kDac2[] = "Invalid \"Dac2Default\" property value.";
const char kNone[] = "(no error)";

TEST_F(Dispatch, EachCommandHasItsCountsAndPortRules) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> expected = {
        {"Open", {kFew, kMany, kInvalid, kDac2}},
        {"Close", {kFew, kMany, kOut, kNone}},
        {"CloseAll", {kNone, kMany, kMany, kMany}},
        {"GetParams", {kFew, kMany, kInvalid, kNone}},
        {"SetParams", {kFew, kMany, kObject, kDac2}},
        {"Read", {kFew, kObject, kObject, kNone}},
        {"Write", {kFew, kFew, kFew, kFew}},
        {"Help", {kFew, kMany, kOut, kOut}},
    };
    for (const auto &[command, probe] : expected) EXPECT_EQ(Probe(command), probe) << command;
}

TEST_F(Dispatch, CommandsMatchByUniquePrefixIgnoringCase) {
    const std::vector<std::pair<std::string, std::string>> same = {
        {"close", "Close"},    {"CLOSE", "Close"},     {"closea", "CloseAll"}, {"CLOSEALL", "CloseAll"},
        {"o", "Open"},         {"OPE", "Open"},        {"get", "GetParams"},   {"s", "SetParams"},
        {"r", "Read"},         {"wRiTe", "Write"},     {"h", "Help"},          {"getparams", "GetParams"},
    };
    for (const auto &[text, command] : same) EXPECT_EQ(Probe(text), Probe(command)) << text;

    for (const char *text : {"c", "clo", "clos", ""})
        EXPECT_EQ(Error(0, {Char(text)}), "Ambiguous command name.") << '"' << text << '"';
    for (const char *text : {"opened", "x", "CloseAllx", "CloseAllxxxxxxxxxxx"})
        EXPECT_EQ(Error(0, {Char(text)}), "Unknown command.") << text;
}

TEST_F(Dispatch, TheCommandMustBeTextOfAtMost19Characters) {
    EXPECT_EQ(Error(0, {}), kFew);
    const char kCommand[] = "The first input argument must be a command string.";
    EXPECT_EQ(Error(0, {Double(5)}), kCommand);
    EXPECT_EQ(Error(0, {kelbhost::Struct({"Port"})}), kCommand);
    EXPECT_EQ(Error(0, {kelbhost::Cell(1, 1)}), kCommand);
    EXPECT_EQ(Error(0, {Char("CloseAllxxxxxxxxxxxx")}), kCommand);  // 20
    EXPECT_EQ(Error(0, {Char("CloseAllxxxxxxxxxxx")}), "Unknown command.");  // 19
}

TEST_F(Dispatch, ChecksRunInTheirOrder) {
    mxArray *p = Object("TIRK1");
    EXPECT_EQ(Error(3, {Char("clo"), p, p}), "Ambiguous command name.");
    EXPECT_EQ(Error(0, {Char("Help")}), kFew);
    EXPECT_EQ(Error(0, {Char("CloseAll"), p}), kMany);
    EXPECT_EQ(Error(2, {Char("Close"), p}), kOut);
    EXPECT_EQ(Error(2, {Char("Write"), p, Double(0), Double(0), Double(0)}), kOut);
    EXPECT_EQ(Error(2, {Char("Write"), p}), kFew);                      // inputs before outputs
    EXPECT_EQ(Error(2, {Char("Close"), Char("XYZ1"), p}), kMany);       // counts before the port
    EXPECT_EQ(Error(3, {Char("GetParams"), Char("XYZ1")}), kOut);
}

TEST_F(Dispatch, PortNamesRegisterOnceIgnoringCase) {
    mxArray *first = Object("tirk1");
    EXPECT_EQ(kelbhost::Text(kelbhost::GetField(first, "Port")), "tirk1");
    EXPECT_EQ(kelbhost::Text(kelbhost::GetField(Object("TIRK1"), "Port")), "tirk1");

    mxArray *feldar = Object("Feldar3");
    EXPECT_EQ(Field(feldar, "Device"), 2);
    mxArray *twelve = Object("TIRK12");
    EXPECT_EQ(kelbhost::Text(kelbhost::GetField(twelve, "Port")), "TIRK12");
    EXPECT_EQ(Field(twelve, "Device"), 0);
    EXPECT_EQ(Field(Object("GASPILODEN9"), "Device"), 8);

    // 'TIRK1b' is a record of its own: a parameter set on it leaves 'TIRK1' alone.
    mxArray *b = Object("TIRK1b");
    kelbhost::SetField(b, "WatchdogTimeout", Double(7));
    ASSERT_EQ(Error(0, {Char("SetParams"), b}), kNone);
    EXPECT_EQ(Field(Object("TIRK1b"), "WatchdogTimeout"), 7);
    EXPECT_EQ(Field(Object("tirk1"), "WatchdogTimeout"), 1);

    for (const char *name : {"TIRK0", "TIRK", "TIRKx", "tirk:"})
        EXPECT_EQ(Error(0, {Char("GetParams"), Char(name)}), "Device number is incorrect.") << name;
    for (const char *name : {"XYZ1", "TIR1", "", "1TIRK"})
        EXPECT_EQ(Error(0, {Char("GetParams"), Char(name)}), kInvalid) << name;
}

TEST_F(Dispatch, TheModelIsTheOneWhoseNameBeginsThePortName) {
    kelbhost::CallResult r = Call(0, {Char("Help"), Char("FELDAR2x")});
    ASSERT_FALSE(r.failed) << r.error;
    ASSERT_EQ(r.warnings.size(), 1u);
    EXPECT_EQ(r.warnings[0].substr(0, 13), "Feldar help:\n");
    EXPECT_EQ(Field(Object("feldar2X"), "Device"), 1);
}

TEST_F(Dispatch, EightNamesAtMostAndFailedNamesDoNotCount) {
    EXPECT_EQ(Error(0, {Char("GetParams"), Char("XYZ1")}), kInvalid);
    EXPECT_EQ(Error(0, {Char("GetParams"), Char("TIRK0")}), "Device number is incorrect.");
    const std::vector<std::string> names = {"TIRK1", "TIRK2", "FELDAR1", "SORVANDEL1",
                                            "MORSIVAN1", "GASPILODEN1", "TIRK3", "TIRK4"};
    for (std::size_t i = 0; i < names.size(); ++i) {
        // Help and GetParams register like Open.
        const char *command = i % 2 ? "Help" : "GetParams";
        EXPECT_EQ(Error(0, {Char(command), Char(names[i])}), kNone) << names[i];
    }
    const char kFull[] = "Too many KELBport devices referenced.";
    EXPECT_EQ(Error(0, {Char("GetParams"), Char("TIRK5")}), kFull);
    EXPECT_EQ(Error(0, {Char("Help"), Char("XYZ1")}), kFull);
    EXPECT_EQ(Error(0, {Char("GetParams"), Char("TIRK0")}), kFull);
    EXPECT_EQ(Error(0, {Char("GetParams"), Char("tirk4")}), kNone);
    EXPECT_EQ(Error(0, {Char("Help"), Char("Feldar1")}), kNone);
}

TEST_F(Dispatch, NamesOf19CharactersAreTakenAsObjects) {
    const std::string longest = "TIRK1xxxxxxxxxxxxx";  // 18
    mxArray *p = Object(longest);
    EXPECT_EQ(kelbhost::Text(kelbhost::GetField(p, "Port")), longest);
    EXPECT_EQ(Error(0, {Char("GetParams"), Char(longest + "x")}), kObject);
    EXPECT_EQ(Error(0, {Char("Help"), Char(longest + "x")}), kObject);
    EXPECT_EQ(Error(0, {Char("Open"), Char(longest + "xx")}), kObject);

    // Commands that take objects only refuse names, even registered ones.
    Object("TIRK1");
    EXPECT_EQ(Error(0, {Char("Close"), Char("TIRK1")}), kObject);
    EXPECT_EQ(Error(0, {Char("SetParams"), Char("TIRK1")}), kObject);
    EXPECT_EQ(Error(0, {Char("Read"), Char("TIRK1")}), kObject);
    EXPECT_EQ(Error(0, {Char("Write"), Char("TIRK1"), Double(0), Double(0), Double(0)}), kObject);
}

TEST_F(Dispatch, StatusGoesToSlotMaxOutOnlyWhenAsked) {
    mxArray *p = Object("TIRK1");  // registered, not open

    for (int nlhs : {0, 1}) {
        kelbhost::CallResult close = Call(nlhs, {Char("Close"), p});
        EXPECT_EQ(Slot(close, 1), 1) << nlhs;
        kelbhost::CallResult write = Call(nlhs, {Char("Write"), p, Double(0), Double(0), Double(0)});
        EXPECT_EQ(Slot(write, 1), 1) << nlhs;

        kelbhost::CallResult read = Call(nlhs, {Char("Read"), p});
        EXPECT_EQ(read.out[0], nullptr);  // a closed port gives no data and no status
        kelbhost::CallResult get = Call(nlhs, {Char("GetParams"), Char("TIRK1")});
        ASSERT_EQ(get.out.size(), 1u);
        EXPECT_EQ(kelbhost::ClassName(get.out[0]), "struct");
        kelbhost::CallResult set = Call(nlhs, {Char("SetParams"), p});
        EXPECT_EQ(kelbhost::ClassName(set.out[0]), "struct");
    }

    kelbhost::CallResult read = Call(2, {Char("Read"), p});
    EXPECT_EQ(read.out[0], nullptr);
    EXPECT_EQ(Slot(read, 2), 1);
    kelbhost::CallResult read2 = Call(2, {Char("Read"), p, Double(0)});
    EXPECT_EQ(Slot(read2, 2), 1);
    EXPECT_EQ(Slot(Call(2, {Char("GetParams"), p}), 2), 1);
    EXPECT_EQ(Slot(Call(2, {Char("SetParams"), p}), 2), 0);

    kelbhost::CallResult all = Call(0, {Char("CloseAll")});
    EXPECT_FALSE(all.failed);
    EXPECT_EQ(all.out[0], nullptr);
    kelbhost::CallResult help = Call(0, {Char("Help"), p});
    EXPECT_FALSE(help.failed);
    EXPECT_EQ(help.out[0], nullptr);
}

TEST_F(Dispatch, ACallThatFailsSetsNoOutput) {
    mxArray *p = Object("TIRK1");
    kelbhost::SetField(p, "WatchdogTimeout", Char("x"));
    kelbhost::CallResult r = Call(2, {Char("SetParams"), p});
    ASSERT_TRUE(r.failed);
    EXPECT_EQ(r.out[0], nullptr);
    EXPECT_EQ(r.out[1], nullptr);
}

TEST_F(Dispatch, TheFirstCallRegistersTheExitFunctionFailingOrNot) {
    EXPECT_EQ(kelbhost::AtExitRegistrations(), 0);
    Error(0, {});
    EXPECT_EQ(kelbhost::AtExitRegistrations(), 1);
    EXPECT_NE(kelbhost::AtExitFunction(), nullptr);
    Error(0, {Char("CloseAll")});
    Error(0, {Double(1)});
    EXPECT_EQ(kelbhost::AtExitRegistrations(), 1);  // once per load, not per call
}

}  // namespace
