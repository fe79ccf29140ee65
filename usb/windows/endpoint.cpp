// SPDX-License-Identifier: MIT
// The endpoint base: construction from a descriptor, the direct and buffered
// requests, waiting with a time limit, finishing, and the pipe abort.
#include <cstring>

#include "endpoints.h"
#include "include/kelbnew.h"

CCyUSBEndPoint::CCyUSBEndPoint(HANDLE handle, const uint8_t *descriptor)
    : hDevice(handle), DescriptorLength(0), DescriptorType(0), Address(0), Attributes(0), MaxPacketSize(0),
      PacketsPerFrame(0), Interval(0), Timeout(ENDPOINT_TIMEOUT_MS), UsbStatus(0), DriverStatus(0),
      BytesTransferred(0), LastError(0), IsIn(false), TransferMode(Direct), Abandoned(false) {
    if (descriptor) {
        DescriptorLength = descriptor[0];
        DescriptorType = descriptor[1];
        Address = descriptor[2];
        Attributes = descriptor[3];
        uint16_t wMaxPacketSize = static_cast<uint16_t>(descriptor[4] | descriptor[5] << 8);
        // High-bandwidth endpoints move up to three packets per microframe.
        PacketsPerFrame = static_cast<uint16_t>(((wMaxPacketSize >> 11) & 3) + 1);
        MaxPacketSize = static_cast<uint16_t>((wMaxPacketSize & 0x7FF) * PacketsPerFrame);
        Interval = descriptor[6];
        IsIn = (Address & 0x80) != 0;
    }
}

uint8_t *CCyUSBEndPoint::BeginDirectTransfer(uint8_t *buffer, LONG length, OVERLAPPED *ov) {
    if (hDevice == INVALID_HANDLE_VALUE || length < 0) return nullptr;
    uint8_t *context = NewContext(sizeof(TransferHeader));
    if (!context) return nullptr;
    TransferHeader *header = new (context) TransferHeader{};
    header->EndpointAddress = Address;
    // The record goes in, the data straight into the caller's buffer.
    oslayer::DeviceIoControl(hDevice, CYIOCTL_DIRECT_TRANSFER, context, sizeof(TransferHeader), buffer,
                             static_cast<DWORD>(length), nullptr, ov);
    return Started(context);
}

uint8_t *CCyUSBEndPoint::BeginBufferedTransfer(uint8_t *buffer, LONG length, OVERLAPPED *ov) {
    if (hDevice == INVALID_HANDLE_VALUE || length < 0) return nullptr;
    DWORD size = sizeof(TransferHeader) + static_cast<DWORD>(length);
    uint8_t *context = NewContext(size);
    if (!context) return nullptr;
    TransferHeader *header = new (context) TransferHeader{};
    header->EndpointAddress = Address;
    header->DataOffset = sizeof(TransferHeader);
    header->DataLength = static_cast<uint32_t>(length);
    if (length > 0) std::memcpy(context + sizeof(TransferHeader), buffer, static_cast<size_t>(length));
    oslayer::DeviceIoControl(hDevice, CYIOCTL_BUFFERED_TRANSFER, context, size, context, size, nullptr, ov);
    return Started(context);
}

// A zeroed request record of size bytes, or null with the reason in
// DriverStatus: nothing is sent then.
uint8_t *CCyUSBEndPoint::NewContext(uint32_t size) {
    uint8_t *context = KELBnewBytes(size);
    if (!context) Failed(XFER_NO_MEMORY, ERROR_NOT_ENOUGH_MEMORY);
    return context;
}

// A transfer that ended before or without the driver: this code is its own,
// not the status words of the transfer before it.
void CCyUSBEndPoint::Failed(uint32_t driverStatus, uint32_t lastError) {
    BytesTransferred = 0;
    UsbStatus = 0;
    DriverStatus = driverStatus;
    LastError = lastError;
}

// Right after a data request went to the driver: what it wrote into the record
// so far, and the last error that tells whether the request is pending.
uint8_t *CCyUSBEndPoint::Started(uint8_t *context) {
    const TransferHeader *header = reinterpret_cast<const TransferHeader *>(context);
    UsbStatus = header->UsbStatus;
    DriverStatus = header->DriverStatus;
    LastError = oslayer::GetLastError();
    return context;
}

uint8_t *CCyUSBEndPoint::ByTransferMode(uint8_t *buffer, LONG length, OVERLAPPED *ov) {
    if (hDevice == INVALID_HANDLE_VALUE) return nullptr;
    if (TransferMode == Direct) return BeginDirectTransfer(buffer, length, ov);
    return BeginBufferedTransfer(buffer, length, ov);
}

bool CCyUSBEndPoint::FinishTransfer(uint8_t *buffer, LONG &length, OVERLAPPED *ov, uint8_t *context,
                                    IsoPacketInfo *packetInfos) {
    if (!context) {  // nothing was sent
        length = 0;
        BytesTransferred = 0;
        return false;
    }
    const TransferHeader *header = reinterpret_cast<const TransferHeader *>(context);
    DWORD transferred = 0;
    bool ok = oslayer::GetOverlappedResult(hDevice, ov, &transferred, FALSE) != 0;

    // The count includes the record when the data travelled behind it.  Never
    // trust it past what was asked for: the copies below depend on it.
    LONG asked = length;
    uint32_t moved = transferred > header->DataOffset ? transferred - header->DataOffset : 0;
    if (moved > static_cast<uint32_t>(asked > 0 ? asked : 0)) moved = static_cast<uint32_t>(asked > 0 ? asked : 0);
    length = static_cast<LONG>(moved);
    BytesTransferred = moved;
    UsbStatus = header->UsbStatus;
    DriverStatus = header->DriverStatus;
    // A request that failed without a word in the record (a cancelled one,
    // or one whose record the system did not copy back) keeps the system's
    // code, so the failure never reads as code 0.
    if (!ok && UsbStatus == 0 && DriverStatus == 0) DriverStatus = oslayer::GetLastError();

    if (IsIn && TransferMode == Buffered && length > 0)
        std::memcpy(buffer, context + header->DataOffset, static_cast<size_t>(length));
    if (packetInfos && length > 0) {
        std::memset(packetInfos, 0, header->PacketInfoLength);
        std::memcpy(packetInfos, context + header->PacketInfoOffset, header->PacketInfoLength);
    }
    delete[] context;
    return ok && UsbStatus == 0 && DriverStatus == 0;
}

bool CCyUSBEndPoint::WaitForTransfer(OVERLAPPED *ov) {
    LastError = oslayer::GetLastError();
    if (LastError == ERROR_SUCCESS) return true;  // completed at once
    if (LastError != ERROR_IO_PENDING) return false;
    if (oslayer::WaitForSingleObject(ov->hEvent, Timeout) == WAIT_OBJECT_0) return true;
    // Out of time.  The aborted request is waited for, and if the abort fails
    // or the driver does not end it, the request itself is cancelled; each
    // wait is bounded, since the host's thread must never hang on a driver.
    if (AbortPipe() && oslayer::WaitForSingleObject(ov->hEvent, ABORT_WAIT_MS) == WAIT_OBJECT_0) return false;
    oslayer::CancelIoEx(hDevice, ov);
    if (oslayer::WaitForSingleObject(ov->hEvent, CANCEL_WAIT_MS) == WAIT_OBJECT_0) return false;
    Abandoned = true;
    return false;
}

// The driver gets an OVERLAPPED and a data area of the transfer's own, not
// the caller's memory, so that a request the driver keeps past the call
// writes into nothing that is freed or used again: such a request's block
// and context are left allocated on purpose (one per abandoned request; the
// endpoint then takes no further transfers).
bool CCyUSBEndPoint::Transfer(uint8_t *buffer, LONG &length, IsoPacketInfo *packetInfos) {
    LONG asked = length > 0 ? length : 0;
    length = 0;
    if (Abandoned) {
        Failed(XFER_ABANDONED, LastError);
        return false;
    }
    uint8_t *block = KELBnewBytes(sizeof(OVERLAPPED) + static_cast<size_t>(asked));
    if (!block) {
        Failed(XFER_NO_MEMORY, ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    OVERLAPPED *ov = new (block) OVERLAPPED{};
    uint8_t *data = block + sizeof(OVERLAPPED);
    if (asked > 0) std::memcpy(data, buffer, static_cast<size_t>(asked));
    ov->hEvent = oslayer::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!ov->hEvent) {  // without an event there is no safe way to wait
        DWORD error = oslayer::GetLastError();
        Failed(error, error);
        delete[] block;
        return false;
    }
    length = asked;
    uint8_t *context = BeginTransfer(data, length, ov);
    // A begin that sent nothing leaves nothing to wait for.
    bool waited = context && WaitForTransfer(ov);
    if (Abandoned) {
        // The event may go: the system holds the request's own reference.
        oslayer::CloseHandle(ov->hEvent);
        length = 0;
        Failed(XFER_ABANDONED, LastError);
        return false;
    }
    bool finished = FinishTransfer(data, length, ov, context, packetInfos);
    if (IsIn && length > 0) std::memcpy(buffer, data, static_cast<size_t>(length));
    oslayer::CloseHandle(ov->hEvent);
    delete[] block;
    return waited && finished;
}

bool CCyUSBEndPoint::AbortPipe() {
    uint8_t address = Address;
    DWORD returned = 0;
    return oslayer::DeviceIoControl(hDevice, CYIOCTL_ABORT_PIPE, &address, 1, nullptr, 0, &returned, nullptr) != 0;
}

CCyBulkEndPoint::CCyBulkEndPoint(HANDLE handle, const uint8_t *descriptor) : CCyUSBEndPoint(handle, descriptor) {}

uint8_t *CCyBulkEndPoint::BeginTransfer(uint8_t *buffer, LONG length, OVERLAPPED *ov) {
    return ByTransferMode(buffer, length, ov);
}

CCyInterruptEndPoint::CCyInterruptEndPoint(HANDLE handle, const uint8_t *descriptor)
    : CCyUSBEndPoint(handle, descriptor) {}

uint8_t *CCyInterruptEndPoint::BeginTransfer(uint8_t *buffer, LONG length, OVERLAPPED *ov) {
    return ByTransferMode(buffer, length, ov);
}

CCyUSBEndPoint *CreateEndPoint(HANDLE handle, const uint8_t *descriptor) {
    switch (descriptor[3]) {
    case EP_CONTROL: return KELBnew<CCyControlEndPoint>(handle, descriptor);
    case EP_ISOC: return KELBnew<CCyIsocEndPoint>(handle, descriptor);
    case EP_BULK: return KELBnew<CCyBulkEndPoint>(handle, descriptor);
    case EP_INTERRUPT: return KELBnew<CCyInterruptEndPoint>(handle, descriptor);
    default: return nullptr;  // synchronisation or usage bits set: no object
    }
}

bool HasEndPointKind(const uint8_t *descriptor) { return descriptor[3] <= EP_INTERRUPT; }

void DeleteEndPoint(CCyUSBEndPoint *endpoint) {
    if (auto *control = dynamic_cast<CCyControlEndPoint *>(endpoint)) delete control;
    else if (auto *isoc = dynamic_cast<CCyIsocEndPoint *>(endpoint)) delete isoc;
    else if (auto *bulk = dynamic_cast<CCyBulkEndPoint *>(endpoint)) delete bulk;
    else if (auto *interrupt = dynamic_cast<CCyInterruptEndPoint *>(endpoint)) delete interrupt;
}
