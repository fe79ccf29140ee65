// A Windows host for the MATLAB deliverables: loads kelbio.mexw64 or
// kelbio.mexw32 by its file name, as MATLAB does, and drives mexFunction with
// arrays of the stand-in libmx.dll.  The WineHost tests run where there is no
// CyUSB device, so Open goes through the real SetupAPI calls and finds
// nothing; the Driver tests (driverscenarios.cpp) run on the stand-in driver.
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>

#include "winehost.h"

namespace {

TEST(WineHost, HelpShowsEachModelTextAsOneWarning)
{
    StandinClearLog();
    CallResult r = Call(0, {Str("Help"), Str("tirk1")});
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(Warnings(), std::vector<std::string>{
        "TIRK help:\n"
        "    Write: command, digitalout, [dac1( dac2)]\n"
        "    Read:  [status elapsedtime position speed motorcurrent motorvoltage externvoltage digitalin "
        "averagespeed]"});

    StandinClearLog();
    r = Call(0, {Str("help"), Str("FELDAR1")});
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(Warnings(), std::vector<std::string>{
        "Feldar help:\n"
        "    Write: command, digitalout, [dac1(, dac2)], [a1 s1; a2 s2; a3 s3; ... a8 s8] or\n"
        "           command, digitalout, [dac1(, dac2)], [s1 s2 s3 s4 ... s8]\n"
        "    Read:  [status elapsedtime position1 position2 motorcurrent motorvoltage externalvoltage "
        "digitalin averagespeed1 averagespeed2]"});

    StandinClearLog();
    r = Call(0, {Str("He"), Str("gaspiloden1")});
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(Warnings(), std::vector<std::string>{
        "Korvu Statue help:\n"
        "    Write: command\n"
        "    Read:  [status position1 position2 position3 position4 position5 position6]"});

    StandinClearLog();
    r = Call(0, {Str("Help"), Str("sorvandel1")});
    EXPECT_EQ(r.error, "");
    EXPECT_TRUE(Warnings().empty());
    EXPECT_EQ(StandinLockCount(), 0);
}

TEST(WineHost, GetParamsOnAFreshNameGivesTheSixFields)
{
    CallResult r = Call(2, {Str("GetParams"), Str("Feldar3")});
    ASSERT_EQ(r.error, "");
    const mxArray *p = r.out[0];
    ASSERT_TRUE(p && mxIsStruct(p));
    ASSERT_EQ(mxGetNumberOfFields(p), 6);
    const char *names[] = {"Port", "Device", "Dac2Default", "WatchdogTimeout", "ReadError", "WriteError"};
    for (int i = 0; i < 6; ++i) EXPECT_STREQ(mxGetFieldNameByNumber(p, i), names[i]);

    EXPECT_EQ(Text(Field(p, 0)), "Feldar3");
    ASSERT_EQ(mxGetClassID(Field(p, 1)), mxINT32_CLASS);
    EXPECT_EQ(Int32Of(Field(p, 1)), 2);
    ASSERT_TRUE(mxIsDouble(Field(p, 2)));
    EXPECT_TRUE(std::isnan(mxGetScalar(Field(p, 2))));
    ASSERT_TRUE(mxIsDouble(Field(p, 3)));
    EXPECT_EQ(mxGetScalar(Field(p, 3)), 1.0);
    ASSERT_EQ(mxGetClassID(Field(p, 4)), mxUINT32_CLASS);
    EXPECT_EQ(Uint32Of(Field(p, 4)), 0u);
    ASSERT_EQ(mxGetClassID(Field(p, 5)), mxUINT32_CLASS);
    EXPECT_EQ(Uint32Of(Field(p, 5)), 0u);

    // Not open, so the status slot holds 1.
    ASSERT_TRUE(r.out[1] && mxIsDouble(r.out[1]));
    EXPECT_EQ(mxGetScalar(r.out[1]), 1.0);
}

TEST(WineHost, OpenWithoutADeviceFailsAndLeavesThePortRegisteredAndClosed)
{
    CallResult r = Call(2, {Str("Open"), Str("TIRK1")});
    EXPECT_EQ(r.error, "No matching device found!");
    EXPECT_EQ(StandinLockCount(), 0);

    // The name typed first at Help ('tirk1') is the record that was used.
    r = Call(2, {Str("GetParams"), Str("Tirk1")});
    ASSERT_EQ(r.error, "");
    ASSERT_TRUE(r.out[0] && r.out[1]);
    EXPECT_EQ(Text(Field(r.out[0], 0)), "tirk1");
    EXPECT_EQ(mxGetScalar(r.out[1]), 1.0);

    // Opening by the object fails the same way; Close then finds nothing open.
    const mxArray *port = r.out[0];
    r = Call(1, {Str("Open"), port});
    EXPECT_EQ(r.error, "No matching device found!");
    r = Call(0, {Str("Close"), port});
    ASSERT_EQ(r.error, "");
    ASSERT_TRUE(r.out[0]);
    EXPECT_EQ(mxGetScalar(r.out[0]), 1.0);

    r = Call(0, {Str("Read"), port});
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(StandinLockCount(), 0);
}

TEST(WineHost, GatewayErrorsUnwindToTheHost)
{
    EXPECT_EQ(Call(0, {}).error, "Too few input arguments.");
    EXPECT_EQ(Call(0, {Str("opened")}).error, "Unknown command.");
    EXPECT_EQ(Call(0, {Str("clo")}).error, "Ambiguous command name.");
    EXPECT_EQ(Call(0, {Str("Open"), Str("XYZ1")}).error, "Invalid KELBport device.");
}

TEST(WineHost, CloseAllAndUnloadLeaveNoLock)
{
    CallResult r = Call(0, {Str("CloseAll")});
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(StandinLockCount(), 0);
    EXPECT_EQ(StandinUnlockUnderflows(), 0);

    StandinExitFcn onUnload = StandinAtExit();
    ASSERT_NE(onUnload, nullptr);
    onUnload();
    EXPECT_EQ(StandinLockCount(), 0);
    EXPECT_EQ(StandinUnlockUnderflows(), 0);
}

}  // namespace

MexFunction PluginEntry;
HMODULE Plugin;

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: winehost <plug-in file name>\n");
        return 2;
    }
    HMODULE plugin = LoadLibraryA(argv[1]);
    if (!plugin) {
        std::fprintf(stderr, "LoadLibraryA(%s) failed: %lu\n", argv[1], GetLastError());
        return 2;
    }
    Plugin = plugin;
    PluginEntry = reinterpret_cast<MexFunction>(reinterpret_cast<void *>(GetProcAddress(plugin, "mexFunction")));
    if (!PluginEntry) {
        std::fprintf(stderr, "%s exports no mexFunction\n", argv[1]);
        return 2;
    }
    int rc = RUN_ALL_TESTS();
    // MATLAB calls the unload handler, then frees the library.
    FreeLibrary(plugin);
    return rc;
}
