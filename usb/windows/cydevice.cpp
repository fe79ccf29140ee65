// SPDX-License-Identifier: MIT
// CCyDevice: opening a device by index, the driver queries, and closing.
#include <cstring>

#include "cydevice.h"
#include "include/kelbnew.h"

CCyDevice::CCyDevice(HWND window, GUID guid, bool open) : NotifyWindow(window), InterfaceGuid(guid) {
    if (window) {
        DEV_BROADCAST_DEVICEINTERFACE_A filter{};
        filter.dbcc_size = sizeof(filter);
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = guid;
        InterfaceNotification = oslayer::RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    }
    if (open) OpenDevice(0);
}

CCyDevice::~CCyDevice() {
    ReleaseConfigs();
    if (InterfaceNotification) oslayer::UnregisterDeviceNotification(InterfaceNotification);
}

bool CCyDevice::SendControlRequest(DWORD code, void *buffer, DWORD size) {
    if (!IsOpen()) return false;
    DWORD returned = 0;
    BOOL ok = oslayer::DeviceIoControl(DeviceHandle, code, buffer, size, buffer, size, &returned, nullptr);
    BytesReturned = returned;
    return ok && returned == size;
}

// A 1- or 4-byte answer; 0 when the driver does not give one.
uint32_t CCyDevice::QueryValue(DWORD code, DWORD size) {
    uint8_t answer[4] = {};
    if (!SendControlRequest(code, answer, size) || BytesReturned == 0) return 0;
    return static_cast<uint32_t>(answer[0] | answer[1] << 8 | answer[2] << 16) | static_cast<uint32_t>(answer[3]) << 24;
}

bool CCyDevice::OpenDevice(uint8_t index, const char **closeFailure) {
    OutOfMemory = false;
    if (IsOpen()) {
        if (const char *failure = CloseDevice()) {
            if (closeFailure) *closeFailure = failure;
            return false;
        }
    }
    // A string that is absent or cannot be read must not keep the text of the
    // device looked at before: the port binding would take it for that board.
    std::memset(Manufacturer, 0, sizeof(Manufacturer));
    std::memset(Product, 0, sizeof(Product));
    std::memset(SerialNumber, 0, sizeof(SerialNumber));
    if (!OpenDriverHandle(index)) {
        DeviceHandle = INVALID_HANDLE_VALUE;
        DeviceIndex = 0;
        return false;
    }
    DeviceIndex = index;
    bool opened = ReadDevice();
    if (!OutOfMemory) return opened;
    // Nothing half built stays behind.  A device that will not close is the
    // failure to report: the caller must not use it again.
    const char *failure = CloseDevice();
    if (failure && closeFailure) *closeFailure = failure;
    return false;
}

bool CCyDevice::ReadDevice() {
    ReadDeviceDescriptor();
    ReadLanguageId();
    ReadStringDescriptor(DeviceDescriptor[14], Manufacturer);
    ReadStringDescriptor(DeviceDescriptor[15], Product);
    ReadStringDescriptor(DeviceDescriptor[16], SerialNumber);
    if (OutOfMemory) return false;

    UsbAddress = static_cast<uint8_t>(QueryValue(CYIOCTL_GET_ADDRESS, 1));
    std::memset(DeviceName, 0, sizeof(DeviceName));
    SendControlRequest(CYIOCTL_DEVICE_NAME, DeviceName, CYNAMELEN);
    DeviceName[CYNAMELEN - 1] = 0;  // the driver's text need not be terminated
    std::memset(FriendlyName, 0, sizeof(FriendlyName));
    SendControlRequest(CYIOCTL_FRIENDLY_NAME, FriendlyName, CYNAMELEN);
    FriendlyName[CYNAMELEN - 1] = 0;
    DriverVersion = QueryValue(CYIOCTL_DRIVER_VERSION, 4);
    UsbdiVersion = QueryValue(CYIOCTL_USBDI_VERSION, 4);
    HighSpeed = QueryValue(CYIOCTL_BUS_SPEED, 4) == CYUSB_HIGH_SPEED;

    // Room for two configurations; any further ones are not read.
    for (int i = 0; i < ConfigCount && i < MAX_CONFIGS; i++) {
        uint32_t length = ReadConfigDescriptor(static_cast<uint8_t>(i));
        if (length && !(Configurations[i] = NewConfiguration(ConfigDescriptors[i], length, DeviceHandle)))
            OutOfMemory = true;
    }
    if (OutOfMemory) return false;

    ControlEndpoint = KELBnew<CCyControlEndPoint>(DeviceHandle, nullptr);
    if (!ControlEndpoint) {
        OutOfMemory = true;
        return false;
    }
    ControlEndpoint->DescriptorLength = 7;
    ControlEndpoint->DescriptorType = USB_ENDPOINT_DESCRIPTOR_TYPE;
    ControlEndpoint->Address = 0;
    ControlEndpoint->Attributes = EP_CONTROL;
    ControlEndpoint->MaxPacketSize = MaxPacketSize0;
    ControlEndpoint->Interval = 0;

    // Left open: the caller may still talk to endpoint 0.
    if (!Configurations[0] || Configurations[0]->AltInterfaces == 0) return false;

    SelectConfig(0);

    if (InterfaceNotification) {
        DEV_BROADCAST_HANDLE filter{};
        filter.dbch_size = sizeof(filter);
        filter.dbch_devicetype = DBT_DEVTYP_HANDLE;
        filter.dbch_handle = DeviceHandle;
        HandleNotification = oslayer::RegisterDeviceNotificationA(NotifyWindow, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    }
    return true;
}

void CCyDevice::ReleaseConfigs() {
    for (int i = 0; i < MAX_CONFIGS; i++) {
        delete Configurations[i];  // frees the interface and endpoint objects, not entry 0
        Configurations[i] = nullptr;
        delete[] ConfigDescriptors[i];
        ConfigDescriptors[i] = nullptr;
    }
    DeleteEndPoint(ControlEndpoint);
    ControlEndpoint = nullptr;
    Endpoints = nullptr;
}

const char *CCyDevice::CloseDevice() {
    if (const char *failure = CloseDriverHandle()) return failure;
    std::memset(DeviceDescriptor, 0, sizeof(DeviceDescriptor));
    ReleaseConfigs();
    IsocInEndpoint = IsocOutEndpoint = nullptr;
    BulkInEndpoint = BulkOutEndpoint = nullptr;
    InterruptInEndpoint = InterruptOutEndpoint = nullptr;
    DeviceCount = 0;
    ConfigCount = 0;
    InterfaceCount = 0;
    AltInterfaceCount = 0;
    return nullptr;
}

const char *CCyDevice::CloseDriverHandle() {
    if (!IsOpen()) return nullptr;
    if (HandleNotification && !oslayer::UnregisterDeviceNotification(HandleNotification))
        return CLOSE_NOTIFICATION_FAILED;
    if (!oslayer::CloseHandle(DeviceHandle)) return CLOSE_HANDLE_FAILED;
    DeviceHandle = INVALID_HANDLE_VALUE;
    HandleNotification = nullptr;
    return nullptr;
}
