// SPDX-License-Identifier: MIT
// Standard GET_DESCRIPTOR requests sent through the driver's control
// transfer, the data behind the request record.
#include <cstring>

#include "cydevice.h"
#include "include/kelbnew.h"

namespace {

constexpr uint8_t GET_DESCRIPTOR = 6;
constexpr uint8_t STANDARD_DEVICE_TO_HOST = 0x80;
constexpr uint16_t DEVICE_DESCRIPTOR = 0x0100;
constexpr uint16_t CONFIG_DESCRIPTOR = 0x0200;
constexpr uint16_t STRING_DESCRIPTOR = 0x0300;
constexpr uint8_t STRING_TYPE = 3;
constexpr uint16_t LANGUAGE_US_ENGLISH = 0x0409;
constexpr uint16_t CONFIG_HEADER_LENGTH = 9;

}  // namespace

bool CCyDevice::GetDescriptor(uint16_t value, uint16_t index, uint8_t *data, uint16_t length,
                              bool keepDriverStatus) {
    DWORD size = sizeof(TransferHeader) + length;
    uint8_t *request = KELBnewBytes(size);
    if (!request) {  // nothing sent; the open ends with "Out of memory."
        OutOfMemory = true;
        return false;
    }
    TransferHeader *header = new (request) TransferHeader{};
    header->bmRequestType = STANDARD_DEVICE_TO_HOST;
    header->bRequest = GET_DESCRIPTOR;
    header->wValue = value;
    header->wIndex = index;
    header->wLength = length;
    header->TimeLimit = DESCRIPTOR_TIME_LIMIT_S;
    header->DataOffset = sizeof(TransferHeader);
    header->DataLength = length;
    bool ok = SendControlRequest(CYIOCTL_CONTROL_TRANSFER, request, size);
    UsbStatus = header->UsbStatus;
    if (keepDriverStatus) DriverStatus = header->DriverStatus;
    if (ok) std::memcpy(data, request + sizeof(TransferHeader), length);
    delete[] request;
    return ok;
}

void CCyDevice::ReadDeviceDescriptor() {
    uint8_t d[sizeof(DeviceDescriptor)];
    if (!GetDescriptor(DEVICE_DESCRIPTOR, 0, d, sizeof(d), true)) return;
    std::memcpy(DeviceDescriptor, d, sizeof(d));
    BcdUsb = static_cast<uint16_t>(d[2] | d[3] << 8);
    DeviceClass = d[4];
    DeviceSubClass = d[5];
    DeviceProtocol = d[6];
    MaxPacketSize0 = d[7];
    VendorId = static_cast<uint16_t>(d[8] | d[9] << 8);
    ProductId = static_cast<uint16_t>(d[10] | d[11] << 8);
    BcdDevice = static_cast<uint16_t>(d[12] | d[13] << 8);
    ConfigCount = d[17];
}

void CCyDevice::ReadLanguageId() {
    uint8_t head[2];
    if (!GetDescriptor(STRING_DESCRIPTOR, 0, head, sizeof(head), false)) return;
    uint8_t list[256];
    uint8_t bLength = head[0];
    if (!GetDescriptor(STRING_DESCRIPTOR, 0, list, bLength, false)) return;
    int n = bLength > 2 ? (bLength - 2) / 2 : 0;
    LanguageId = n ? static_cast<uint16_t>(list[2] | list[3] << 8) : 0;
    for (int i = 0; i < n; i++)
        if ((list[2 + 2 * i] | list[3 + 2 * i] << 8) == LANGUAGE_US_ENGLISH) LanguageId = LANGUAGE_US_ENGLISH;
}

void CCyDevice::ReadStringDescriptor(uint8_t index, WCHAR *field) {
    uint16_t value = static_cast<uint16_t>(STRING_DESCRIPTOR | index);
    uint8_t head[2];
    if (!GetDescriptor(value, LanguageId, head, sizeof(head), true)) return;
    uint8_t text[256];
    uint8_t bLength = head[0];
    if (!GetDescriptor(value, LanguageId, text, bLength, true)) return;
    if (bLength <= 2 || text[1] != STRING_TYPE) return;
    // At most 253 bytes of text: the cleared 256 bytes keep it terminated.
    std::memset(field, 0, 256);
    std::memcpy(field, text + 2, bLength - 2u);
}

uint32_t CCyDevice::ReadConfigDescriptor(uint8_t config) {
    uint16_t value = static_cast<uint16_t>(CONFIG_DESCRIPTOR | config);
    uint8_t head[CONFIG_HEADER_LENGTH];
    if (!GetDescriptor(value, 0, head, sizeof(head), true)) return 0;
    uint16_t wTotalLength = static_cast<uint16_t>(head[2] | head[3] << 8);
    if (wTotalLength < CONFIG_HEADER_LENGTH) return 0;  // not even its own header
    uint8_t *set = KELBnewBytes(wTotalLength);
    if (!set) {
        OutOfMemory = true;
        return 0;
    }
    if (!GetDescriptor(value, 0, set, wTotalLength, true)) {
        delete[] set;
        return 0;
    }
    ConfigDescriptors[config] = set;
    return wTotalLength;
}
