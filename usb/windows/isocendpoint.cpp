// SPDX-License-Identifier: MIT
// Isochronous endpoints: the record is followed by one 8-byte packet-info
// entry per packet of MaxPacketSize bytes.
#include <cstring>
#include <new>

#include "endpoints.h"

namespace {

// Packets needed for length bytes; 0 when none can be sent.
uint32_t PacketCount(uint16_t maxPacketSize, LONG length) {
    if (maxPacketSize == 0 || length <= 0) return 0;
    return (static_cast<uint32_t>(length) + maxPacketSize - 1) / maxPacketSize;
}

}  // namespace

CCyIsocEndPoint::CCyIsocEndPoint(HANDLE handle, const uint8_t *descriptor) : CCyUSBEndPoint(handle, descriptor) {}

uint8_t *CCyIsocEndPoint::BeginDirectTransfer(uint8_t *buffer, LONG length, OVERLAPPED *ov) {
    if (hDevice == INVALID_HANDLE_VALUE) return nullptr;
    uint32_t packets = PacketCount(MaxPacketSize, length);
    if (packets == 0) return nullptr;
    uint32_t infoLength = packets * sizeof(IsoPacketInfo);
    DWORD size = sizeof(TransferHeader) + infoLength;
    uint8_t *context = NewContext(size);
    if (!context) return nullptr;
    TransferHeader *header = new (context) TransferHeader{};
    header->EndpointAddress = Address;
    header->PacketInfoOffset = sizeof(TransferHeader);
    header->PacketInfoLength = infoLength;
    oslayer::DeviceIoControl(hDevice, CYIOCTL_DIRECT_TRANSFER, context, size, buffer, static_cast<DWORD>(length),
                             nullptr, ov);
    return Started(context);
}

uint8_t *CCyIsocEndPoint::BeginBufferedTransfer(uint8_t *buffer, LONG length, OVERLAPPED *ov) {
    if (hDevice == INVALID_HANDLE_VALUE) return nullptr;
    uint32_t packets = PacketCount(MaxPacketSize, length);
    if (packets == 0) return nullptr;
    uint32_t infoLength = packets * sizeof(IsoPacketInfo);
    uint32_t dataOffset = sizeof(TransferHeader) + infoLength;
    DWORD size = dataOffset + static_cast<DWORD>(length);
    uint8_t *context = NewContext(size);
    if (!context) return nullptr;
    TransferHeader *header = new (context) TransferHeader{};
    header->EndpointAddress = Address;
    header->PacketInfoOffset = sizeof(TransferHeader);
    header->PacketInfoLength = infoLength;
    header->DataOffset = dataOffset;
    header->DataLength = static_cast<uint32_t>(length);
    std::memcpy(context + dataOffset, buffer, static_cast<size_t>(length));
    oslayer::DeviceIoControl(hDevice, CYIOCTL_BUFFERED_TRANSFER, context, size, context, size, nullptr, ov);
    return Started(context);
}

uint8_t *CCyIsocEndPoint::BeginTransfer(uint8_t *buffer, LONG length, OVERLAPPED *ov) {
    return ByTransferMode(buffer, length, ov);
}
