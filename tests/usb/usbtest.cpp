#include "usbtest.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace usbtest {

std::string HexLine(int address, int type, const Bytes &data) {
    Bytes all = {static_cast<uint8_t>(data.size()), static_cast<uint8_t>(address >> 8),
                 static_cast<uint8_t>(address), static_cast<uint8_t>(type)};
    all.insert(all.end(), data.begin(), data.end());
    uint8_t sum = 0;
    for (uint8_t b : all) sum = static_cast<uint8_t>(sum + b);
    all.push_back(static_cast<uint8_t>(-sum));
    std::string line = ":";
    char hex[3];
    for (uint8_t b : all) {
        std::snprintf(hex, sizeof hex, "%02X", b);
        line += hex;
    }
    return line + "\n";
}

std::string WriteFile(const std::string &text) {
    static int serial = 0;
    std::string path = ::testing::TempDir() + "kelb-usbtest-" + std::to_string(getpid()) + "-" +
                       std::to_string(++serial) + ".hex";
    FILE *file = std::fopen(path.c_str(), "wb");
    EXPECT_NE(file, nullptr) << path;
    if (file != nullptr) {
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    }
    return path;
}

std::string BuiltFirmware(const char *model) {
    return std::string(KELBSIM_FIRMWARE_DIR) + "/" + model + ".hex";
}

std::vector<Load> Loads(int device) {
    std::vector<Load> loads;
    for (const auto &c : kelbsim::Calls("libusb_control_transfer")) {
        if (c.device != device) continue;
        // Every loader write has this form; anything else fails the test.
        EXPECT_EQ(c.requestType, 0x40);
        EXPECT_EQ(c.request, 0xA0);
        EXPECT_EQ(c.index, 0);
        EXPECT_EQ(c.timeout, 1000u);
        EXPECT_EQ(static_cast<size_t>(c.length), c.data.size());
        loads.push_back({static_cast<unsigned int>(c.value), c.data});
    }
    return loads;
}

int OpenFds() {
    int n = 0;
    if (DIR *dir = opendir("/proc/self/fd")) {
        while (readdir(dir) != nullptr) n++;
        closedir(dir);
    }
    return n;
}

KELBstruct UsbTest::Record(const char *tag, int device) {
    KELBstruct port{};
    std::strncpy(port.Name, "PORT1", KELBNAMELEN - 1);
    std::strncpy(port.ModelTag, tag, KELBNAMELEN - 1);
    port.Device = device;
    port.Handle = KELBnotOpen();
    port.Context = nullptr;
    return port;
}

void UsbTest::SetUp() {
    kelbsim::Reset();
    kelbhost::Reset();
    unsetenv("ZARVUSB_HEX_FILE");
}

void UsbTest::TearDown() {
    kelbsim::Counts n = kelbsim::Alive();
    bool open = PortIsOpen(&port_);
    EXPECT_EQ(n.contexts, port_.Context != nullptr ? 1 : 0);
    EXPECT_EQ(n.handles, open ? 1 : 0);
    EXPECT_EQ(n.claims, open ? 1 : 0);
    EXPECT_EQ(n.lists, 0);
    EXPECT_EQ(n.deviceRefs, 0);
    USBclose(&port_);
    n = kelbsim::Alive();
    EXPECT_EQ(n.contexts + n.handles + n.claims + n.lists + n.deviceRefs, 0);
    EXPECT_EQ(n.misuse, 0);
    unsetenv("ZARVUSB_HEX_FILE");
    kelbsim::Reset();
    kelbhost::Reset();
}

std::string UsbTest::Open(KELBstruct *port) {
    try {
        USBopen(port);
    } catch (const kelbhost::MexError &e) {
        return e.what();
    }
    return "";
}

void UsbTest::UseFirmware(const std::string &path) {
    setenv("ZARVUSB_HEX_FILE", path.c_str(), 1);
}

}  // namespace usbtest
