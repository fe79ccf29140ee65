// The board's side of transfers, apart from the API that carries them, so
// every front end of the bus (the libusb stand-in, sim/umock) serves the same
// boards.
#include <algorithm>
#include <cerrno>
#include <chrono>

#include "sim/usb/bus.h"

namespace kelbsim {

static void BoardTake(Device *dev, const uint8_t *data, int length) {
    if (dev->plant) PlantReceive(dev->plant.get(), data, length);
    if (Logging()) KeepRecent(&dev->received, std::vector<uint8_t>(data, data + length));
}

static int BoardGive(Device *dev, uint8_t *data, int length, int limit) {
    // One packet of the board's stream; a short one loses its tail.  Queued
    // bytes go first; the plant's blocks are made in place, without a heap.
    if (!dev->input.empty()) {
        int packet = std::min(length, static_cast<int>(dev->input.size()));
        int moved = std::min(limit, packet);
        std::copy(dev->input.begin(), dev->input.begin() + moved, data);
        dev->input.erase(dev->input.begin(), dev->input.begin() + packet);
        return moved;
    }
    if (dev->blockAt == dev->blockEnd) {
        dev->block.fill(0);
        if (dev->plant && TheBus().wallClock) {
            // A real board runs on in real time between reads.
            const double now = std::chrono::duration<double>(
                std::chrono::steady_clock::now().time_since_epoch()).count();
            PlantBlockAfter(dev->plant.get(), dev->block.data(), dev->lastBlockAt < 0 ? -1 : now - dev->lastBlockAt);
            dev->lastBlockAt = now;
        } else if (dev->plant) {
            PlantBlock(dev->plant.get(), dev->block.data());
        }
        dev->blockAt = 0;
        dev->blockEnd = kInputBlockSize;
    }
    int packet = std::min(length, dev->blockEnd - dev->blockAt);
    int moved = std::min(limit, packet);
    std::copy(dev->block.begin() + dev->blockAt, dev->block.begin() + dev->blockAt + moved, data);
    dev->blockAt += packet;
    return moved;
}

int BoardBulk(Device *dev, bool in, uint8_t *data, int length, const Fault *fault) {
    int moved = fault != nullptr ? std::max(0, std::min(fault->transferred, length)) : length;
    if (!in) {
        if (moved > 0) BoardTake(dev, data, moved);
        return moved;
    }
    if (dev->silent && fault == nullptr) return 0;
    if (fault == nullptr || moved > 0 || fault->code == 0) return BoardGive(dev, data, length, moved);
    return 0;
}

int BoardControl(Device *dev, uint8_t requestType, uint8_t request, uint16_t value,
                 uint16_t index, unsigned char *data, uint16_t length) {
    bool toDevice = (requestType & LIBUSB_ENDPOINT_IN) == 0;
    bool vendor = (requestType & 0x60) == LIBUSB_REQUEST_TYPE_VENDOR;
    if (dev->fx2 && vendor && request == 0xA0 && (length == 0 || data != nullptr)) {
        unsigned int address = value | (static_cast<unsigned int>(index) << 16);
        return FX2Load(dev, toDevice, address, data, length);
    }
    return LIBUSB_ERROR_PIPE;
}

std::vector<uint8_t> DeviceDescriptor(const Identity &id) {
    return {18, 1, 0x00, 0x02, 0, 0, 0, 64,
            static_cast<uint8_t>(id.vendorId), static_cast<uint8_t>(id.vendorId >> 8),
            static_cast<uint8_t>(id.productId), static_cast<uint8_t>(id.productId >> 8),
            0x00, 0x01, id.iManufacturer, id.iProduct, 0, 1};
}

std::vector<uint8_t> ConfigDescriptor(const Identity &id) {
    size_t interfaces = id.interfaces.size(), endpoints = id.endpoints.size();
    size_t total = 9 + 9 * interfaces + 7 * endpoints;
    std::vector<uint8_t> c = {9, 2, static_cast<uint8_t>(total), static_cast<uint8_t>(total >> 8),
                              static_cast<uint8_t>(interfaces), 1, 0, 0x80, 50};
    for (size_t k = 0; k < interfaces; k++) {
        uint8_t count = k == 0 ? static_cast<uint8_t>(endpoints) : 0;
        c.insert(c.end(), {9, 4, static_cast<uint8_t>(id.interfaces[k]), 0, count, 0xFF, 0, 0, 0});
        for (size_t e = 0; k == 0 && e < endpoints; e++) {
            c.insert(c.end(), {7, 5, id.endpoints[e], 2, 0x00, 0x02, 0});
        }
    }
    return c;
}

std::vector<uint8_t> StringOfIndex(const Identity &id, int index, bool *found) {
    constexpr int kLanguage = 0x0409;
    *found = true;
    if (index == 0) return {4, 3, kLanguage & 0xFF, kLanguage >> 8};
    if (index >= static_cast<int>(id.strings.size())) {
        *found = false;
        return {};
    }
    return StringDescriptor(id.strings[static_cast<size_t>(index)]);
}

int UrbStatus(int code) {
    switch (code) {
        case 0: return 0;
        case LIBUSB_ERROR_PIPE: return -EPIPE;
        case LIBUSB_ERROR_NO_DEVICE: return -ENODEV;
        case LIBUSB_ERROR_OVERFLOW: return -EOVERFLOW;
        default: return -EPROTO;  // LIBUSB_ERROR_IO
    }
}

}  // namespace kelbsim
