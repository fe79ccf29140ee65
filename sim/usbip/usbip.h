// The virtual boards of sim/usb attached to a real kernel's vhci_hcd, so the
// kernel's own hub driver, usbfs, URB unlinks and disconnects take part.
// kelbsim-usbip runs as root where the vhci-hcd module is loaded (a QEMU
// guest: scripts/stage-kernel.sh), attaches the boards that KELBSIM_BOARDS
// names, runs a program once they are configured, and serves them until the
// program ends:
//     KELBSIM_BOARDS='FX2;TIRK' kelbsim-usbip <program> [<argument>...]
// It exits with the program's status (128 + n when signal n ended it).
//
// Each board is one USB/IP link: a socketpair whose one end goes to
// /sys/devices/platform/vhci_hcd.0/attach (a high-speed port), the other
// answers CMD_SUBMIT and CMD_UNLINK.  Closing the link is an unplug.  The
// words mean what a device can do on a wire: Control, String, BulkOut and
// BulkIn faults end the URB with the status libusb turns into the code; a
// time-out fault leaves the URB pending until the kernel unlinks it; a bulk
// fault with `unplug` holds the URB for kUnplugHoldMs, then the board leaves
// the bus.  Init, List, Descriptor, Open, Claim and Release happen inside the
// kernel or libusb and cannot fail here (a program that needs a refused claim
// claims the interface itself first).  SET_ADDRESS and port resets stay
// inside vhci_hcd.
//
// An FX2 released from reset leaves the bus, and its board is attached on a
// free port after the bus's re-enumeration delay.  SIGUSR1 plugs in one more
// TIRK board.  KELBSIM_LOG gets one line per URB (usbip_control, usbip_bulk).
#ifndef KELBSIM_USBIP_H
#define KELBSIM_USBIP_H

#include <cstdint>

namespace kelbsim {

constexpr unsigned int kUsbipHoldMs = 300;
constexpr const char *kVhciDir = "/sys/devices/platform/vhci_hcd.0";

// USB/IP messages: a 48-byte header, big-endian, then the data stage.
enum : uint32_t { CMD_SUBMIT = 1, CMD_UNLINK = 2, RET_SUBMIT = 3, RET_UNLINK = 4 };
constexpr int kUsbipHeader = 48;

struct UsbipHeader {
    uint32_t command = 0;
    uint32_t seqnum = 0;
    uint32_t devid = 0;
    uint32_t direction = 0;  // 1: IN
    uint32_t ep = 0;
    // CMD_SUBMIT: transfer_flags, transfer_buffer_length, start_frame,
    // number_of_packets, interval; RET_SUBMIT: status, actual_length,
    // start_frame, number_of_packets, error_count; CMD_UNLINK: the seqnum of
    // the URB to unlink; RET_UNLINK: status.
    int32_t field[5] = {};
    uint8_t setup[8] = {};
};

void PackHeader(const UsbipHeader &h, uint8_t out[kUsbipHeader]);
void UnpackHeader(const uint8_t in[kUsbipHeader], UsbipHeader *h);

}  // namespace kelbsim

#endif
