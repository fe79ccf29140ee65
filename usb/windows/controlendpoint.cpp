// SPDX-License-Identifier: MIT
// Endpoint 0: vendor and standard requests, the data behind the record.
#include <cstring>
#include <new>

#include "endpoints.h"

CCyControlEndPoint::CCyControlEndPoint(HANDLE handle, const uint8_t *descriptor)
    : CCyUSBEndPoint(handle, descriptor), Target(TGT_DEVICE), RequestType(REQ_VENDOR), Direction(DIR_TO_DEVICE),
      RequestCode(0), Value(0), Index(0) {
    TransferMode = Buffered;
}

uint8_t *CCyControlEndPoint::BeginTransfer(uint8_t *buffer, LONG length, OVERLAPPED *ov) {
    if (hDevice == INVALID_HANDLE_VALUE || length < 0 || length > 0xFFFF) return nullptr;
    IsIn = (Direction == DIR_FROM_DEVICE);
    DWORD size = sizeof(TransferHeader) + static_cast<DWORD>(length);
    uint8_t *context = NewContext(size);
    if (!context) return nullptr;
    TransferHeader *header = new (context) TransferHeader{};
    header->bmRequestType =
        static_cast<uint8_t>((Direction << 7) | ((RequestType & 3) << 5) | (Target & 0x1F));
    header->bRequest = RequestCode;
    header->wValue = Value;
    header->wIndex = Index;
    header->wLength = static_cast<uint16_t>(length);
    // The driver counts whole seconds; a limit under one second still waits one.
    header->TimeLimit = (Timeout >= 1 && Timeout < 1000) ? 1 : Timeout / 1000;
    header->DataOffset = sizeof(TransferHeader);
    header->DataLength = static_cast<uint32_t>(length);
    if (length > 0) std::memcpy(context + sizeof(TransferHeader), buffer, static_cast<size_t>(length));
    oslayer::DeviceIoControl(hDevice, CYIOCTL_CONTROL_TRANSFER, context, size, context, size, nullptr, ov);
    LastError = oslayer::GetLastError();
    return context;
}
