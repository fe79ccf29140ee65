// SPDX-License-Identifier: MIT
// Builds configuration, interface and endpoint objects from a descriptor set.
// The set comes from the device, so every length in it is checked against the
// end of the set before it is used: a zero length or one that runs past the
// end stops the walk instead of looping or reading outside.
#include <cstring>

#include "descriptormodel.h"
#include "include/kelbnew.h"

namespace {

constexpr int MAX_SKIPPED = 11;  // other descriptors stepped over per interface
constexpr uint8_t INTERFACE_DESCRIPTOR_LENGTH = 9;
constexpr uint8_t ENDPOINT_DESCRIPTOR_LENGTH = 7;
constexpr uint8_t CONFIG_DESCRIPTOR_LENGTH = 9;

// A descriptor at p that fits, with its type byte, in the bytes before end.
bool Fits(const uint8_t *p, const uint8_t *end) {
    return end - p >= 2 && p[0] >= 2 && p[0] <= end - p;
}

}  // namespace

CCyInterface::CCyInterface(const uint8_t *descriptor, const uint8_t *end, HANDLE handle)
    : EndPoints{}, bLength(descriptor[0]), bDescriptorType(descriptor[1]), bInterfaceNumber(descriptor[2]),
      bAlternateSetting(descriptor[3]), bNumEndpoints(descriptor[4]), bInterfaceClass(descriptor[5]),
      bInterfaceSubClass(descriptor[6]), bInterfaceProtocol(descriptor[7]), iInterface(descriptor[8]),
      AltSettingCount(0), BlockLength(descriptor[0]), OutOfMemory(false) {
    const uint8_t *p = descriptor + bLength;
    int skipped = 0;
    // The table has room for 15 endpoints behind the control endpoint.
    int positions = bNumEndpoints < MAX_ENDPOINTS - 1 ? bNumEndpoints : MAX_ENDPOINTS - 1;
    for (int entry = 1; entry <= positions;) {
        if (!Fits(p, end)) break;
        BlockLength = static_cast<uint16_t>(BlockLength + p[0]);
        if (p[1] == USB_ENDPOINT_DESCRIPTOR_TYPE) {
            if (p[0] < ENDPOINT_DESCRIPTOR_LENGTH) break;
            CCyUSBEndPoint *endpoint = CreateEndPoint(handle, p);
            if (!endpoint && HasEndPointKind(p)) {
                OutOfMemory = true;
                return;
            }
            EndPoints[entry++] = endpoint;
            p += p[0];
        } else if (skipped < MAX_SKIPPED) {
            skipped++;
            p += p[0];
        } else {
            entry++;  // one too many: it uses up the position, the walk stays
        }
    }
}

CCyInterface::~CCyInterface() {
    for (int i = 1; i < MAX_ENDPOINTS; i++) DeleteEndPoint(EndPoints[i]);
}

CCyConfiguration::CCyConfiguration(const uint8_t *set, size_t length, HANDLE handle)
    : Interfaces{}, bLength(0), bDescriptorType(0), wTotalLength(0), bNumInterfaces(0), bConfigurationValue(0),
      iConfiguration(0), bmAttributes(0), MaxPower(0), AltInterfaces(0), OutOfMemory(false) {
    if (!set || length < CONFIG_DESCRIPTOR_LENGTH) return;
    bLength = set[0];
    bDescriptorType = set[1];
    wTotalLength = static_cast<uint16_t>(set[2] | set[3] << 8);
    bNumInterfaces = set[4];
    bConfigurationValue = set[5];
    iConfiguration = set[6];
    bmAttributes = set[7];
    MaxPower = set[8];

    const uint8_t *end = set + (wTotalLength < length ? wTotalLength : length);
    const uint8_t *p = set + bLength;
    while (p < end && AltInterfaces < MAX_INTERFACES) {
        if (!Fits(p, end)) break;
        if (p[1] == USB_INTERFACE_DESCRIPTOR_TYPE) {
            if (p[0] < INTERFACE_DESCRIPTOR_LENGTH) break;
            CCyInterface *alt = KELBnew<CCyInterface>(p, end, handle);
            if (alt) Interfaces[AltInterfaces++] = alt;
            // What was built is freed with the configuration.
            if (!alt || alt->OutOfMemory) {
                OutOfMemory = true;
                return;
            }
            if (alt->BlockLength >= end - p) break;
            p += alt->BlockLength;
        } else {
            p += p[0];
        }
    }

    for (int i = 0; i < AltInterfaces; i++)
        for (int j = 0; j < AltInterfaces; j++)
            if (Interfaces[j]->bInterfaceNumber == Interfaces[i]->bInterfaceNumber) Interfaces[i]->AltSettingCount++;
}

CCyConfiguration::~CCyConfiguration() {
    for (CCyInterface *alt : Interfaces) delete alt;
}

CCyConfiguration *NewConfiguration(const uint8_t *set, size_t length, HANDLE handle) {
    CCyConfiguration *config = KELBnew<CCyConfiguration>(set, length, handle);
    if (config && config->OutOfMemory) {
        delete config;
        return nullptr;
    }
    return config;
}
