// Descriptor builders and the standard board of the simulated driver.
#include <cstdio>
#include <iterator>

#include "cyusbsim.h"
#include "fx2board.h"
#include "usb/windows/cyusbdriver.h"

namespace cyusbsim {

std::vector<uint8_t> StringDescriptor(const std::string &text) {
    std::vector<uint8_t> d = {static_cast<uint8_t>(2 + 2 * text.size()), 3};
    for (char c : text) {
        d.push_back(static_cast<uint8_t>(c));
        d.push_back(0);
    }
    return d;
}

std::vector<uint8_t> EndpointDescriptor(uint8_t address, uint8_t attributes, uint16_t maxPacketSize,
                                        uint8_t interval) {
    return {7, 5, address, attributes, static_cast<uint8_t>(maxPacketSize & 0xFF),
            static_cast<uint8_t>(maxPacketSize >> 8), interval};
}

std::vector<uint8_t> InterfaceDescriptor(uint8_t number, uint8_t alternate, uint8_t endpoints, uint8_t cls) {
    return {9, 4, number, alternate, endpoints, cls, 0, 0, 0};
}

std::vector<uint8_t> ConfigSet(const std::vector<std::vector<uint8_t>> &descriptors, uint8_t numInterfaces,
                               uint8_t iConfiguration) {
    std::vector<uint8_t> set = {9, 2, 0, 0, numInterfaces, 1, iConfiguration, 0x80, 50};
    for (const auto &d : descriptors) set.insert(set.end(), d.begin(), d.end());
    set[2] = static_cast<uint8_t>(set.size() & 0xFF);
    set[3] = static_cast<uint8_t>(set.size() >> 8);
    return set;
}

Device Board(const std::string &product, int model) {
    static int serial = 0;
    Device d;
    char path[128];
    std::snprintf(path, sizeof(path), "\\\\?\\usb#vid_04b4&pid_1004#%04d#{ae18aa60-7f6a-11d4-97dd-00010229b959}",
                  ++serial);
    d.Path = path;
    d.InterfaceGuid = CYUSB_INTERFACE_GUID;
    d.DeviceDescriptor.assign(std::begin(KELB_FX2_DEVICE_DESCRIPTOR), std::end(KELB_FX2_DEVICE_DESCRIPTOR));
    d.Configs.emplace_back(std::begin(KELB_FX2_CONFIG_SET), std::end(KELB_FX2_CONFIG_SET));
    d.Strings[0].assign(std::begin(KELB_FX2_LANGUAGES), std::end(KELB_FX2_LANGUAGES));
    d.Strings[1] = StringDescriptor(KELB_FX2_MANUFACTURER);
    d.Strings[2] = StringDescriptor(product);
    char number[16];
    std::snprintf(number, sizeof(number), "%08d", serial);
    d.Strings[3] = StringDescriptor(number);
    d.Model = model;
    return d;
}

}  // namespace cyusbsim
