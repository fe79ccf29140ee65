// SPDX-License-Identifier: MIT
// One USB device bound to the CyUSB driver: found through the driver's device
// interface class, opened by index, described through the driver, with the
// first endpoint of each kind of its current alternate setting bound.
#ifndef KELB_CYDEVICE_H
#define KELB_CYDEVICE_H

#include <cstdint>

#include "descriptormodel.h"
#include "endpoints.h"
#include "oslayer.h"

constexpr int CYNAMELEN = 256;
constexpr int MAX_CONFIGS = 2;
constexpr uint32_t BUFFERED_BELOW_DRIVER = 0x01050500;  // older drivers take buffered transfers only
constexpr uint32_t DESCRIPTOR_TIME_LIMIT_S = 5;

// What a failed close gives back.  Failures travel as return values (see
// include/kelbnew.h for why this transport raises no C++ exception).
constexpr const char *CLOSE_NOTIFICATION_FAILED = "Failed to close the handle notification handle.";
constexpr const char *CLOSE_HANDLE_FAILED = "Failed to close handle to driver.";

class CCyDevice {
public:
    CCyDevice(HWND window, GUID guid, bool open = true);
    // Frees what the device object owns; the owner closes the device first.
    ~CCyDevice();
    CCyDevice(const CCyDevice &) = delete;
    CCyDevice &operator=(const CCyDevice &) = delete;

    uint8_t CountDevices();
    // False when the device cannot be opened, or memory ran out (OutOfMemory).
    // Also false, with *closeFailure set, when the device open before, or the
    // one half opened, cannot be closed; that one stays open.
    bool OpenDevice(uint8_t index, const char **closeFailure = nullptr);
    // Null once the device is closed, else the failure's message; the device
    // then stays open and whole, and may be closed again.
    const char *CloseDevice();
    const char *CloseDriverHandle();
    bool SendControlRequest(DWORD code, void *buffer, DWORD size);

    void SelectConfig(uint8_t config);
    void SelectAltSetting(uint8_t setting);
    uint8_t QueryAltSetting();

    CCyUSBEndPoint **Endpoints{};
    CCyControlEndPoint *ControlEndpoint{};
    CCyIsocEndPoint *IsocInEndpoint{};
    CCyIsocEndPoint *IsocOutEndpoint{};
    CCyBulkEndPoint *BulkInEndpoint{};
    CCyBulkEndPoint *BulkOutEndpoint{};
    CCyInterruptEndPoint *InterruptInEndpoint{};
    CCyInterruptEndPoint *InterruptOutEndpoint{};
    uint16_t LanguageId{};
    uint32_t UsbStatus{};
    uint32_t DriverStatus{};
    uint32_t DriverVersion{};
    uint32_t UsbdiVersion{};
    char DeviceName[CYNAMELEN]{};
    char FriendlyName[CYNAMELEN]{};
    WCHAR Manufacturer[CYNAMELEN]{};
    WCHAR Product[CYNAMELEN]{};
    WCHAR SerialNumber[CYNAMELEN]{};
    char DevicePath[CYNAMELEN]{};
    uint16_t BcdUsb{};
    uint16_t VendorId{};
    uint16_t ProductId{};
    uint8_t UsbAddress{};
    uint8_t DeviceClass{};
    uint8_t DeviceSubClass{};
    uint8_t DeviceProtocol{};
    uint8_t MaxPacketSize0{};
    uint16_t BcdDevice{};
    uint8_t ConfigValue{};
    uint8_t ConfigAttributes{};
    uint8_t MaxPower{};
    uint8_t InterfaceClass{};
    uint8_t InterfaceSubClass{};
    uint8_t InterfaceProtocol{};
    bool HighSpeed{};
    uint32_t BytesReturned{};
    uint8_t DeviceDescriptor[18]{};
    uint8_t *ConfigDescriptors[MAX_CONFIGS]{};
    CCyConfiguration *Configurations[MAX_CONFIGS]{};
    HWND NotifyWindow{};
    HANDLE DeviceHandle = INVALID_HANDLE_VALUE;
    HDEVNOTIFY InterfaceNotification{};
    HDEVNOTIFY HandleNotification{};
    GUID InterfaceGuid{};
    uint8_t DeviceCount{};
    uint8_t InterfaceCount{};
    uint8_t AltInterfaceCount{};
    uint8_t ConfigCount{};
    uint8_t DeviceIndex{};
    uint8_t ConfigIndex{};
    uint8_t InterfaceNumber{};
    uint8_t InterfaceIndex{};
    // Memory ran out in the last OpenDevice: it failed, and closed what it had
    // opened (unless that close failed, which it then reports).
    bool OutOfMemory{};

    bool IsOpen() const { return DeviceHandle != INVALID_HANDLE_VALUE; }

private:
    bool OpenDriverHandle(uint8_t index);
    bool ReadDevice();  // OpenDevice once the driver handle is open
    bool GetDescriptor(uint16_t value, uint16_t index, uint8_t *data, uint16_t length, bool keepDriverStatus);
    void ReadDeviceDescriptor();
    void ReadLanguageId();
    void ReadStringDescriptor(uint8_t index, WCHAR *field);
    uint32_t ReadConfigDescriptor(uint8_t config);
    uint32_t QueryValue(DWORD code, DWORD size);
    void BindEndpoints();
    void ReleaseConfigs();
};

#endif
