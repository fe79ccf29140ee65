// SPDX-License-Identifier: MIT
// Finding devices of the driver's interface class and opening one by index.
#include <cstring>

#include "cydevice.h"
#include "include/kelbnew.h"

namespace {

constexpr DWORD CLASS_FLAGS = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;
// The detail record's needed size counts the size field and the terminator.
constexpr DWORD DETAIL_OVERHEAD = 5;

}  // namespace

uint8_t CCyDevice::CountDevices() {
    HDEVINFO set = oslayer::SetupDiGetClassDevsA(&InterfaceGuid, nullptr, nullptr, CLASS_FLAGS);
    DeviceCount = 0;
    if (set == INVALID_HANDLE_VALUE) return 0;
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    // The count is 8 bits wide; stopping there also ends an enumeration that
    // keeps failing without ever saying it has no more items.
    for (DWORD member = 0; member < 0xFF; member++) {
        if (oslayer::SetupDiEnumDeviceInterfaces(set, nullptr, &InterfaceGuid, member, &data))
            DeviceCount++;
        else if (oslayer::GetLastError() == ERROR_NO_MORE_ITEMS)
            break;
    }
    oslayer::SetupDiDestroyDeviceInfoList(set);
    return DeviceCount;
}

bool CCyDevice::OpenDriverHandle(uint8_t index) {
    if (CountDevices() == 0 || index > DeviceCount - 1) return false;

    HDEVINFO set = oslayer::SetupDiGetClassDevsA(&InterfaceGuid, nullptr, nullptr, CLASS_FLAGS);
    if (set == INVALID_HANDLE_VALUE) return false;
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    DWORD needed = 0;
    if (!oslayer::SetupDiEnumDeviceInterfaces(set, nullptr, &InterfaceGuid, index, &data)) {
        oslayer::SetupDiDestroyDeviceInfoList(set);
        return false;
    }
    oslayer::SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &needed, nullptr);
    // A path that would not fit DevicePath with its terminator is skipped.
    if (needed <= DETAIL_OVERHEAD || needed - DETAIL_OVERHEAD > CYNAMELEN - 1) {
        oslayer::SetupDiDestroyDeviceInfoList(set);
        return false;
    }
    uint8_t *storage = KELBnewBytes(needed);
    if (!storage) {
        oslayer::SetupDiDestroyDeviceInfoList(set);
        OutOfMemory = true;
        return false;
    }
    auto *detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A *>(storage);
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);  // 8 in 64-bit builds, 5 in 32-bit ones
    SP_DEVINFO_DATA devinfo{};
    devinfo.cbSize = sizeof(devinfo);
    if (!oslayer::SetupDiGetDeviceInterfaceDetailA(set, &data, detail, needed, nullptr, &devinfo)) {
        delete[] storage;
        oslayer::SetupDiDestroyDeviceInfoList(set);
        return false;
    }
    size_t pathLength = needed - DETAIL_OVERHEAD;
    std::memcpy(DevicePath, detail->DevicePath, pathLength);
    DevicePath[pathLength] = 0;

    HANDLE handle = oslayer::CreateFileA(DevicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    delete[] storage;
    oslayer::SetupDiDestroyDeviceInfoList(set);
    if (handle == INVALID_HANDLE_VALUE) return false;
    DeviceHandle = handle;
    return true;
}
