// USB/IP headers as they cross the link: five words, five more by command,
// the setup packet; every word big-endian.
#include <arpa/inet.h>

#include <cstring>

#include "sim/usbip/usbip.h"

namespace kelbsim {

static void Put(uint8_t *at, uint32_t value) {
    value = htonl(value);
    std::memcpy(at, &value, 4);
}

static uint32_t Get(const uint8_t *at) {
    uint32_t value = 0;
    std::memcpy(&value, at, 4);
    return ntohl(value);
}

void PackHeader(const UsbipHeader &h, uint8_t out[kUsbipHeader]) {
    const uint32_t words[5] = {h.command, h.seqnum, h.devid, h.direction, h.ep};
    for (int i = 0; i < 5; i++) Put(out + 4 * i, words[i]);
    for (int i = 0; i < 5; i++) Put(out + 20 + 4 * i, static_cast<uint32_t>(h.field[i]));
    std::memcpy(out + 40, h.setup, 8);
}

void UnpackHeader(const uint8_t in[kUsbipHeader], UsbipHeader *h) {
    h->command = Get(in);
    h->seqnum = Get(in + 4);
    h->devid = Get(in + 8);
    h->direction = Get(in + 12);
    h->ep = Get(in + 16);
    for (int i = 0; i < 5; i++) h->field[i] = static_cast<int32_t>(Get(in + 20 + 4 * i));
    std::memcpy(h->setup, in + 40, 8);
}

}  // namespace kelbsim
