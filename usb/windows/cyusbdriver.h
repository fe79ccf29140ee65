// SPDX-License-Identifier: MIT
// What passes between the CyUSB classes and the CyUSB kernel driver: its
// device interface class, its I/O control codes and the request record that
// every transfer carries.
#ifndef KELB_CYUSBDRIVER_H
#define KELB_CYUSBDRIVER_H

#include <cstdint>

#include "oslayer.h"

// {AE18AA60-7F6A-11D4-97DD-00010229B959}
constexpr GUID CYUSB_INTERFACE_GUID = {0xAE18AA60, 0x7F6A, 0x11D4,
                                       {0x97, 0xDD, 0x00, 0x01, 0x02, 0x29, 0xB9, 0x59}};

// Device requests, answered in the same buffer.
constexpr DWORD CYIOCTL_DRIVER_VERSION = 0x220000;
constexpr DWORD CYIOCTL_USBDI_VERSION = 0x220004;
constexpr DWORD CYIOCTL_GET_ALT_SETTING = 0x220008;
constexpr DWORD CYIOCTL_GET_ADDRESS = 0x220010;
constexpr DWORD CYIOCTL_DEVICE_NAME = 0x22003C;
constexpr DWORD CYIOCTL_FRIENDLY_NAME = 0x220040;
constexpr DWORD CYIOCTL_BUS_SPEED = 0x22004C;
// Transfers, each led by a TransferHeader.
constexpr DWORD CYIOCTL_CONTROL_TRANSFER = 0x220020;
constexpr DWORD CYIOCTL_BUFFERED_TRANSFER = 0x220024;
constexpr DWORD CYIOCTL_DIRECT_TRANSFER = 0x22004B;
// Input: the endpoint address, one byte.
constexpr DWORD CYIOCTL_ABORT_PIPE = 0x220044;

constexpr DWORD CYUSB_HIGH_SPEED = 2;  // answer of CYIOCTL_BUS_SPEED

#pragma pack(push, 1)
struct TransferHeader {
    uint8_t bmRequestType;  // control transfers only, as the rest up to TimeLimit
    uint8_t bRequest;
    uint16_t wValue;
    uint16_t wIndex;
    uint16_t wLength;
    uint32_t TimeLimit;  // whole seconds
    uint8_t Reserved;
    uint8_t EndpointAddress;  // data transfers; 0 for control transfers
    uint32_t DriverStatus;    // written by the driver
    uint32_t UsbStatus;       // written by the driver
    uint32_t PacketInfoOffset;
    uint32_t PacketInfoLength;
    uint32_t DataOffset;  // 0 when the data travels in its own buffer
    uint32_t DataLength;
};
#pragma pack(pop)
static_assert(sizeof(TransferHeader) == 38, "the driver reads a 38-byte record");

// One isochronous packet's result, as the driver fills the packet-info area.
struct IsoPacketInfo {
    uint32_t Status;
    uint32_t Length;
};
static_assert(sizeof(IsoPacketInfo) == 8, "8 bytes per packet in the packet-info area");

#endif
