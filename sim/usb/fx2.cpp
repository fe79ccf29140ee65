// SPDX-License-Identifier: MIT
// The virtual FX2: its loader's memory access, CPUCS, and re-enumeration as
// the board its firmware image describes.
#include <cstring>

#include "sim/usb/bus.h"

namespace kelbsim {

static std::string AsciiOfUtf16(const uint8_t *bytes, int count) {
    std::string text;
    for (int i = 0; i + 1 < count; i += 2) {
        unsigned int unit = bytes[i] | (bytes[i + 1] << 8);
        text += unit < 0x80 ? static_cast<char>(unit) : '?';  // as libusb does
    }
    return text;
}

bool ImageIdentity(const std::array<uint8_t, kFX2MemorySize> &mem, Identity *id) {
    // Firmware keeps its descriptors together: the device descriptor, then
    // configurations and strings, up to a zero length byte.
    for (int at = 0; at + 18 <= kFX2MemorySize; at++) {
        const uint8_t *d = &mem[at];
        bool usb = (d[2] == 0x00 && d[3] == 0x02) || (d[2] == 0x10 && d[3] == 0x01);
        if (d[0] != 18 || d[1] != 1 || !usb || d[7] != 64 || d[17] == 0) continue;
        Identity found;
        found.vendorId = static_cast<uint16_t>(d[8] | (d[9] << 8));
        found.productId = static_cast<uint16_t>(d[10] | (d[11] << 8));
        found.iManufacturer = d[14];
        found.iProduct = d[15];
        int p = at + 18;
        while (p + 2 <= kFX2MemorySize && mem[p] >= 2 && p + mem[p] <= kFX2MemorySize) {
            int length = mem[p];
            int type = mem[p + 1];
            if (type == 2 && length >= 9) {
                int total = mem[p + 2] | (mem[p + 3] << 8);
                int end = p + total < kFX2MemorySize ? p + total : kFX2MemorySize;
                for (int q = p + length; q + 2 <= end && mem[q] >= 2; q += mem[q]) {
                    if (mem[q + 1] == 4 && q + 3 < end) found.interfaces.push_back(mem[q + 2]);
                    if (mem[q + 1] == 5 && q + 3 < end) found.endpoints.push_back(mem[q + 2]);
                }
                p += total > length ? total : length;
                continue;
            }
            if (type == 3) found.strings.push_back(AsciiOfUtf16(&mem[p + 2], length - 2));
            p += length;
        }
        *id = std::move(found);
        return true;
    }
    return false;
}

// The CPU starts: firmware that describes a device makes the chip leave the
// bus and come back as that device in the same place of the list.
static void Run(Device *dev) {
    Identity id;
    if (!ImageIdentity(dev->memory, &id)) return;
    Bus &bus = TheBus();
    size_t position = 0;
    while (position < bus.devices.size() && bus.devices[position].get() != dev) position++;
    dev->present = false;
    std::string product =
        id.iProduct != 0 && id.iProduct < id.strings.size() ? id.strings[id.iProduct] : "";
    Device *board = AddDevice(std::move(id), ModelOfProduct(product), false, position + 1);
    board->appearsAt = NowMs() + bus.reenumDelayMs;
}

int FX2Load(Device *dev, bool toDevice, unsigned int address, unsigned char *data, int length) {
    // Compared without adding, so an address near the top of 32 bits cannot wrap.
    if (length < 0 || address > kFX2MemorySize ||
        static_cast<unsigned int>(length) > kFX2MemorySize - address) {
        return LIBUSB_ERROR_PIPE;  // the chip stalls
    }
    if (!toDevice) {
        std::memcpy(data, &dev->memory[address], static_cast<size_t>(length));
        return length;
    }
    std::memcpy(&dev->memory[address], data, static_cast<size_t>(length));
    if (address <= kCPUCS && kCPUCS < address + static_cast<unsigned int>(length)) {
        bool wasReset = dev->cpuReset;
        dev->cpuReset = (dev->memory[kCPUCS] & 1) != 0;
        if (wasReset && !dev->cpuReset) Run(dev);
    }
    return length;
}

std::vector<uint8_t> StringDescriptor(const std::string &whole) {
    std::string text = whole.substr(0, 126);  // bLength is one byte
    std::vector<uint8_t> d{static_cast<uint8_t>(2 + 2 * text.size()), 3};
    for (char ch : text) {
        d.push_back(static_cast<uint8_t>(ch));
        d.push_back(0);
    }
    return d;
}

static void HexRecordLine(std::string *out, unsigned int address, int type, const uint8_t *data,
                          int count) {
    static const char digits[] = "0123456789ABCDEF";
    uint8_t bytes[4 + 16 + 1];
    bytes[0] = static_cast<uint8_t>(count);
    bytes[1] = static_cast<uint8_t>(address >> 8);
    bytes[2] = static_cast<uint8_t>(address);
    bytes[3] = static_cast<uint8_t>(type);
    if (count > 0) std::memcpy(bytes + 4, data, static_cast<size_t>(count));
    uint8_t sum = 0;
    for (int i = 0; i < 4 + count; i++) sum = static_cast<uint8_t>(sum + bytes[i]);
    bytes[4 + count] = static_cast<uint8_t>(-sum);
    *out += ':';
    for (int i = 0; i < 5 + count; i++) {
        *out += digits[bytes[i] >> 4];
        *out += digits[bytes[i] & 15];
    }
    *out += '\n';
}

// The image: a code stub that idles, and the descriptors at 0x0100.
std::string FirmwareHex(const std::string &product, uint16_t vendorId, uint16_t productId) {
    const uint8_t stub[] = {0x80, 0xFE};  // SJMP $
    std::vector<uint8_t> dscr = {
        18, 1, 0x00, 0x02, 0, 0, 0, 64,
        static_cast<uint8_t>(vendorId), static_cast<uint8_t>(vendorId >> 8),
        static_cast<uint8_t>(productId), static_cast<uint8_t>(productId >> 8),
        0x00, 0x01, 1, 2, 0, 1,
        // configuration 1: interface 0, bulk OUT 0x02 and bulk IN 0x86
        9, 2, 32, 0, 1, 1, 0, 0x80, 50,
        9, 4, 0, 0, 2, 0xFF, 0, 0, 0,
        7, 5, 0x02, 2, 0x00, 0x02, 0,
        7, 5, 0x86, 2, 0x00, 0x02, 0,
        4, 3, 0x09, 0x04,
    };
    for (const std::string &s : {std::string("KELBIO"), product}) {
        std::vector<uint8_t> d = StringDescriptor(s);
        dscr.insert(dscr.end(), d.begin(), d.end());
    }
    dscr.push_back(0);

    std::string hex;
    HexRecordLine(&hex, 0x0000, 0, stub, sizeof stub);
    for (size_t at = 0; at < dscr.size(); at += 16) {
        int count = static_cast<int>(dscr.size() - at < 16 ? dscr.size() - at : 16);
        HexRecordLine(&hex, 0x0100 + static_cast<unsigned int>(at), 0, &dscr[at], count);
    }
    HexRecordLine(&hex, 0, 1, nullptr, 0);
    return hex;
}

}  // namespace kelbsim
