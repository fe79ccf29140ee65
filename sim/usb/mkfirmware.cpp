// SPDX-License-Identifier: MIT
// Writes firmware for the virtual FX2 as Intel HEX:
//   kelbsim_mkfirmware <out.hex> <product string> [vendor-id product-id (hex)]
#include <cstdio>
#include <cstdlib>

#include "sim/usb/kelbsim.h"

int main(int argc, char **argv) {
    if (argc != 3 && argc != 5) {
        std::fprintf(stderr, "usage: %s out.hex product [vid pid]\n", argv[0]);
        return 2;
    }
    uint16_t vid = 0x1209, pid = 0x0001;
    if (argc == 5) {
        vid = static_cast<uint16_t>(std::strtoul(argv[3], nullptr, 16));
        pid = static_cast<uint16_t>(std::strtoul(argv[4], nullptr, 16));
    }
    std::string hex = kelbsim::FirmwareHex(argv[2], vid, pid);
    FILE *out = std::fopen(argv[1], "wb");
    if (out == nullptr || std::fputs(hex.c_str(), out) < 0 || std::fclose(out) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
