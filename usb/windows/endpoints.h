// SPDX-License-Identifier: MIT
// The endpoint classes: one object per endpoint of an open CyUSB device, each
// moving data with overlapped requests to the driver.
#ifndef KELB_ENDPOINTS_H
#define KELB_ENDPOINTS_H

#include <cstdint>

#include "cyusbdriver.h"

enum XferMode : int32_t { Buffered = 0, Direct = 1 };

// Control endpoint request fields.
constexpr int32_t TGT_DEVICE = 0;
constexpr int32_t TGT_INTERFACE = 1;
constexpr int32_t TGT_ENDPOINT = 2;
constexpr int32_t TGT_OTHER = 3;
constexpr int32_t REQ_STD = 0;
constexpr int32_t REQ_CLASS = 1;
constexpr int32_t REQ_VENDOR = 2;
constexpr int32_t DIR_TO_DEVICE = 0;
constexpr int32_t DIR_FROM_DEVICE = 1;

constexpr uint32_t ENDPOINT_TIMEOUT_MS = 10000;
// After a time-out: how long the aborted request, and then the cancelled
// one, is waited for before the transfer is given up.
constexpr uint32_t ABORT_WAIT_MS = 1000;
constexpr uint32_t CANCEL_WAIT_MS = 1000;

// Codes of our own in DriverStatus, for failures that are not the driver's.
// They carry the customer bit of an NTSTATUS, so no driver status equals them.
constexpr uint32_t XFER_ABANDONED = 0xE0000001u;  // the driver never gave the request back
constexpr uint32_t XFER_NO_MEMORY = 0xE0000002u;  // nothing sent: no memory for the request

// Base of the family.  The virtual operations keep this slot order, and there
// is no virtual destructor: objects are freed by kind (DeleteEndPoint).
class CCyUSBEndPoint {
public:
    // descriptor: the 7 bytes of an endpoint descriptor, or null.
    CCyUSBEndPoint(HANDLE handle, const uint8_t *descriptor);

    // Each returns the request's context, or null when nothing was sent.
    virtual uint8_t *BeginDirectTransfer(uint8_t *buffer, LONG length, OVERLAPPED *ov);
    virtual uint8_t *BeginBufferedTransfer(uint8_t *buffer, LONG length, OVERLAPPED *ov);
    virtual uint8_t *BeginTransfer(uint8_t *buffer, LONG length, OVERLAPPED *ov) = 0;
    virtual bool FinishTransfer(uint8_t *buffer, LONG &length, OVERLAPPED *ov, uint8_t *context,
                                IsoPacketInfo *packetInfos = nullptr);

    // length in: bytes asked for; out: data bytes moved.
    bool Transfer(uint8_t *buffer, LONG &length, IsoPacketInfo *packetInfos = nullptr);
    bool WaitForTransfer(OVERLAPPED *ov);
    bool AbortPipe();

    HANDLE hDevice;  // the device's handle when this object was made
    uint8_t DescriptorLength;
    uint8_t DescriptorType;
    uint8_t Address;
    uint8_t Attributes;
    uint16_t MaxPacketSize;
    uint16_t PacketsPerFrame;
    uint8_t Interval;
    uint32_t Timeout;
    uint32_t UsbStatus;
    uint32_t DriverStatus;
    uint32_t BytesTransferred;
    uint32_t LastError;
    bool IsIn;
    XferMode TransferMode;
    // A request of this endpoint that neither the abort nor the cancel ended:
    // the driver may still write into it, so the endpoint is not used again.
    bool Abandoned;

protected:
    ~CCyUSBEndPoint() = default;
    uint8_t *ByTransferMode(uint8_t *buffer, LONG length, OVERLAPPED *ov);
    uint8_t *Started(uint8_t *context);
    uint8_t *NewContext(uint32_t size);
    void Failed(uint32_t driverStatus, uint32_t lastError);
};

class CCyControlEndPoint final : public CCyUSBEndPoint {
public:
    CCyControlEndPoint(HANDLE handle, const uint8_t *descriptor);
    uint8_t *BeginTransfer(uint8_t *buffer, LONG length, OVERLAPPED *ov) override;

    int32_t Target;
    int32_t RequestType;
    int32_t Direction;
    uint8_t RequestCode;
    uint16_t Value;
    uint16_t Index;
};

class CCyIsocEndPoint final : public CCyUSBEndPoint {
public:
    CCyIsocEndPoint(HANDLE handle, const uint8_t *descriptor);
    uint8_t *BeginDirectTransfer(uint8_t *buffer, LONG length, OVERLAPPED *ov) override;
    uint8_t *BeginBufferedTransfer(uint8_t *buffer, LONG length, OVERLAPPED *ov) override;
    uint8_t *BeginTransfer(uint8_t *buffer, LONG length, OVERLAPPED *ov) override;
};

class CCyBulkEndPoint final : public CCyUSBEndPoint {
public:
    CCyBulkEndPoint(HANDLE handle, const uint8_t *descriptor);
    uint8_t *BeginTransfer(uint8_t *buffer, LONG length, OVERLAPPED *ov) override;
};

class CCyInterruptEndPoint final : public CCyUSBEndPoint {
public:
    CCyInterruptEndPoint(HANDLE handle, const uint8_t *descriptor);
    uint8_t *BeginTransfer(uint8_t *buffer, LONG length, OVERLAPPED *ov) override;
};

// bmAttributes of an endpoint descriptor, taken whole.
constexpr uint8_t EP_CONTROL = 0;
constexpr uint8_t EP_ISOC = 1;
constexpr uint8_t EP_BULK = 2;
constexpr uint8_t EP_INTERRUPT = 3;

// The object of the kind the descriptor's bmAttributes names, or null: for
// no such kind (HasEndPointKind false), or when memory ran out.
CCyUSBEndPoint *CreateEndPoint(HANDLE handle, const uint8_t *descriptor);
bool HasEndPointKind(const uint8_t *descriptor);
// Frees an endpoint as the kind it was made (its Attributes).
void DeleteEndPoint(CCyUSBEndPoint *endpoint);

#endif
