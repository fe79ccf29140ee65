// The built plug-in with the stand-in libusb-1.0.so.0 put in the real one's
// place at run time, its boards named by KELBSIM_BOARDS (set by ctest).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "mexhost.h"

namespace {

TEST(LibusbSwap, PluginDrivesTheBoardsOfTheEnvironment) {
    const char *log = std::getenv("KELBSIM_LOG");
    ASSERT_NE(log, nullptr);
    std::remove(log);
    kelbhost::Reset();
    const char *path = std::getenv("KELBHOST_MODULE");
    kelbhost::Module mex(path != nullptr ? path : KELBHOST_MODULE);
    ASSERT_TRUE(mex.Load()) << mex.LastError();

    // Only the virtual bus has a board with this product string, second on the bus.
    auto r = mex.Call(1, {kelbhost::Char("Open"), kelbhost::Char("TIRK1")});
    ASSERT_FALSE(r.failed) << r.error;
    auto w = mex.Call(1, {kelbhost::Char("Write"), r.out[0], kelbhost::Double(1), kelbhost::Double(0),
                          kelbhost::Double(0)});
    ASSERT_FALSE(w.failed) << w.error;
    auto c = mex.Call(1, {kelbhost::Char("Close"), r.out[0]});
    ASSERT_FALSE(c.failed) << c.error;

    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    std::string lines = text.str();
    EXPECT_NE(lines.find("libusb_get_string_descriptor_ascii dev=2 index=2 len=200 -> 13 text=\"Lab rig (0.0)\""),
              std::string::npos)
        << lines;
    EXPECT_NE(lines.find("libusb_claim_interface dev=2 iface=0 -> 0"), std::string::npos) << lines;
    EXPECT_NE(lines.find("libusb_bulk_transfer dev=2 ep=02 len=8 timeout=100 -> 0 moved=8"), std::string::npos)
        << lines;
    EXPECT_NE(lines.find("libusb_exit dev=0 -> 0"), std::string::npos) << lines;
    std::remove(log);
}

}  // namespace
