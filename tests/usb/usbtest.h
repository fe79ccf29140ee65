// The Linux transport's own sources on the virtual bus, with the stand-in
// MATLAB runtime answering mexPrintf, mexEvalString and mexErrMsgTxt.
#ifndef KELB_TESTS_USBTEST_H
#define KELB_TESTS_USBTEST_H

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "transport.h"
#include "mexhost.h"
#include "sim/usb/kelbsim.h"

namespace usbtest {

using Bytes = std::vector<uint8_t>;

// One Intel HEX line with a correct checksum, newline included.
std::string HexLine(int address, int type, const Bytes &data);
// Writes text to a new file of the test's own and returns its path.
std::string WriteFile(const std::string &text);
// The firmware image the build made for a model ("feldar", ...).
std::string BuiltFirmware(const char *model);
// The 0xA0 writes of the log, as (address, data) pairs, for one device.
struct Load {
    unsigned int address;
    Bytes data;
    bool operator==(const Load &o) const { return address == o.address && data == o.data; }
};
std::vector<Load> Loads(int device);
int OpenFds();

class UsbTest : public ::testing::Test {
protected:
    void SetUp() override;
    // The port may still hold what it legitimately holds; nothing else may be
    // alive, and after USBclose nothing at all.
    void TearDown() override;

    // A fresh record as the registry makes it: not open, no context.
    static KELBstruct Record(const char *tag, int device = 0);
    // USBopen; "" when it returned, else the text of the MATLAB error.
    std::string Open(KELBstruct *port);
    void UseFirmware(const std::string &path);

    KELBstruct port_ = Record("(0.2)");
};

}  // namespace usbtest

#endif
