// The board's side of transfers, apart from the API that carries them, so
// every front end of the bus (the libusb stand-in, sim/umock) serves the same
// boards.
#include <algorithm>
#include <chrono>

#include "sim/usb/bus.h"

namespace kelbsim {

static void BoardTake(Device *dev, const uint8_t *data, int length) {
    std::vector<uint8_t> packet(data, data + length);
    if (dev->plant) PlantReceive(dev->plant.get(), packet.data(), length);
    KeepRecent(&dev->received, packet);
}

static int BoardGive(Device *dev, uint8_t *data, int length, int limit) {
    // One packet of the board's stream; a short one loses its tail.
    if (dev->input.empty()) {
        uint8_t block[kInputBlockSize] = {};
        if (dev->plant && TheBus().wallClock) {
            // A real board runs on in real time between reads.
            const double now = std::chrono::duration<double>(
                std::chrono::steady_clock::now().time_since_epoch()).count();
            PlantBlockAfter(dev->plant.get(), block, dev->lastBlockAt < 0 ? -1 : now - dev->lastBlockAt);
            dev->lastBlockAt = now;
        } else if (dev->plant) {
            PlantBlock(dev->plant.get(), block);
        }
        dev->input.insert(dev->input.end(), block, block + kInputBlockSize);
    }
    int packet = std::min(length, static_cast<int>(dev->input.size()));
    int moved = std::min(limit, packet);
    std::copy(dev->input.begin(), dev->input.begin() + moved, data);
    dev->input.erase(dev->input.begin(), dev->input.begin() + packet);
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

}  // namespace kelbsim
