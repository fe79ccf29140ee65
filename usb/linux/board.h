// SPDX-License-Identifier: MIT
// What the Linux transport relies on the boards for: USB identities,
// interface and endpoints, buffer sizes and time limits.  Every other file
// of usb/linux names these instead of repeating the numbers.
#ifndef KELB_USB_LINUX_BOARD_H
#define KELB_USB_LINUX_BOARD_H

#include <cstdint>

// An FX2 that has no firmware yet shows the chip's own identity.
constexpr uint16_t FX2_VENDOR_ID = 0x04B4;
constexpr uint16_t FX2_PRODUCT_ID = 0x8613;

// The FX2 loader: vendor request 0xA0 writes chip memory; CPUCS holds the CPU.
constexpr uint8_t FX2_REQUEST_TYPE = 0x40;  // host to device, vendor, device
constexpr uint8_t FX2_REQUEST_LOAD = 0xA0;
constexpr unsigned int FX2_CPUCS = 0xE600;
constexpr uint8_t FX2_CPU_RESET = 1;
constexpr uint8_t FX2_CPU_RUN = 0;
constexpr unsigned int FX2_CONTROL_TIMEOUT_MS = 1000;

// A programmed board: interface 0, one bulk endpoint each way.
constexpr int KELB_INTERFACE = 0;
constexpr unsigned char KELB_EP_OUT = 0x02;
constexpr unsigned char KELB_EP_IN = 0x86;

// A write the board does not take within 100 ms fails.  A read gives up after
// 10 s so that a silent board cannot hold MATLAB for ever.
constexpr unsigned int KELB_WRITE_TIMEOUT_MS = 100;
constexpr unsigned int KELB_READ_TIMEOUT_MS = 10000;

// Programmed chips leave the bus and come back within this pause.
constexpr unsigned int KELB_REENUM_WAIT_S = 3;

constexpr int KELB_PRODUCT_LEN = 200;  // product string buffer
constexpr int KELB_MESSAGE_LEN = 200;  // formatted error texts

#endif
