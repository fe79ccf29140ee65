// SPDX-License-Identifier: MIT
// A configuration's descriptor set as objects: one CCyConfiguration, one
// CCyInterface per interface descriptor (alternate settings included), one
// endpoint object per endpoint descriptor.  Building them sends no request.
#ifndef KELB_DESCRIPTORMODEL_H
#define KELB_DESCRIPTORMODEL_H

#include <cstddef>
#include <cstdint>

#include "endpoints.h"

constexpr uint8_t USB_INTERFACE_DESCRIPTOR_TYPE = 4;
constexpr uint8_t USB_ENDPOINT_DESCRIPTOR_TYPE = 5;

constexpr int MAX_INTERFACES = 8;
constexpr int MAX_ENDPOINTS = 16;  // entry 0 holds the device's control endpoint

class CCyInterface {
public:
    // descriptor: an interface descriptor inside a set that ends at end.
    CCyInterface(const uint8_t *descriptor, const uint8_t *end, HANDLE handle);
    ~CCyInterface();  // frees entries 1 to 15; entry 0 belongs to the device
    CCyInterface(const CCyInterface &) = delete;
    CCyInterface &operator=(const CCyInterface &) = delete;

    CCyUSBEndPoint *EndPoints[MAX_ENDPOINTS];
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint8_t bInterfaceNumber;
    uint8_t bAlternateSetting;
    uint8_t bNumEndpoints;
    uint8_t bInterfaceClass;
    uint8_t bInterfaceSubClass;
    uint8_t bInterfaceProtocol;
    uint8_t iInterface;
    uint8_t AltSettingCount;  // interface objects sharing bInterfaceNumber
    uint16_t BlockLength;     // bytes of this interface's descriptor block
    bool OutOfMemory;         // an endpoint object could not be made: the walk stopped
};

class CCyConfiguration {
public:
    // set: the descriptor set as read, length bytes.
    CCyConfiguration(const uint8_t *set, size_t length, HANDLE handle);
    ~CCyConfiguration();
    CCyConfiguration(const CCyConfiguration &) = delete;
    CCyConfiguration &operator=(const CCyConfiguration &) = delete;

    CCyInterface *Interfaces[MAX_INTERFACES];
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint16_t wTotalLength;
    uint8_t bNumInterfaces;
    uint8_t bConfigurationValue;
    uint8_t iConfiguration;
    uint8_t bmAttributes;
    uint8_t MaxPower;
    uint8_t AltInterfaces;  // interface objects held
    bool OutOfMemory;       // an object could not be made: the walk stopped
};

// A configuration built whole from its descriptor set, or null when memory
// ran out on the way (nothing half built is left).
CCyConfiguration *NewConfiguration(const uint8_t *set, size_t length, HANDLE handle);

#endif
