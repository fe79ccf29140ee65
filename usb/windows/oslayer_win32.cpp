// SPDX-License-Identifier: MIT
// The OS layer of the Windows builds: each call goes straight to Win32 (and
// the C runtime for the string conversion).
#ifdef _WIN32

#include "oslayer.h"

#include <cstdlib>

// The CyUSB classes size these records with sizeof, and the simulated driver
// of the native test builds lays them out the same way.
constexpr bool KELB_WIN64 = sizeof(void *) == 8;
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == (KELB_WIN64 ? 8 : 5), "detail record size field");
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == (KELB_WIN64 ? 32 : 28), "SetupAPI interface record");
static_assert(sizeof(SP_DEVINFO_DATA) == (KELB_WIN64 ? 32 : 28), "SetupAPI device record");
static_assert(sizeof(OVERLAPPED) == (KELB_WIN64 ? 32 : 20), "overlapped record");
static_assert(sizeof(WCHAR) == 2, "UTF-16 strings from the driver");

namespace oslayer {

HDEVINFO SetupDiGetClassDevsA(const GUID *ClassGuid, PCSTR Enumerator, HWND hwndParent, DWORD Flags)
{
    return ::SetupDiGetClassDevsA(ClassGuid, Enumerator, hwndParent, Flags);
}

BOOL SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                 const GUID *InterfaceClassGuid, DWORD MemberIndex,
                                 PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData)
{
    return ::SetupDiEnumDeviceInterfaces(DeviceInfoSet, DeviceInfoData, InterfaceClassGuid, MemberIndex,
                                         DeviceInterfaceData);
}

BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A DeviceInterfaceDetailData,
                                      DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                      PSP_DEVINFO_DATA DeviceInfoData)
{
    return ::SetupDiGetDeviceInterfaceDetailA(DeviceInfoSet, DeviceInterfaceData, DeviceInterfaceDetailData,
                                              DeviceInterfaceDetailDataSize, RequiredSize, DeviceInfoData);
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet)
{
    return ::SetupDiDestroyDeviceInfoList(DeviceInfoSet);
}

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile)
{
    return ::CreateFileA(lpFileName, dwDesiredAccess, dwShareMode, lpSecurityAttributes, dwCreationDisposition,
                         dwFlagsAndAttributes, hTemplateFile);
}

BOOL CloseHandle(HANDLE hObject)
{
    return ::CloseHandle(hObject);
}

BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                     LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                     LPOVERLAPPED lpOverlapped)
{
    return ::DeviceIoControl(hDevice, dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer, nOutBufferSize,
                             lpBytesReturned, lpOverlapped);
}

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                    LPCSTR lpName)
{
    return ::CreateEventA(lpEventAttributes, bManualReset, bInitialState, lpName);
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    return ::WaitForSingleObject(hHandle, dwMilliseconds);
}

BOOL CancelIoEx(HANDLE hFile, LPOVERLAPPED lpOverlapped)
{
    return ::CancelIoEx(hFile, lpOverlapped);
}

BOOL GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped, LPDWORD lpNumberOfBytesTransferred, BOOL bWait)
{
    return ::GetOverlappedResult(hFile, lpOverlapped, lpNumberOfBytesTransferred, bWait);
}

DWORD GetLastError()
{
    return ::GetLastError();
}

HDEVNOTIFY RegisterDeviceNotificationA(HANDLE hRecipient, LPVOID NotificationFilter, DWORD Flags)
{
    return ::RegisterDeviceNotificationA(hRecipient, NotificationFilter, Flags);
}

BOOL UnregisterDeviceNotification(HDEVNOTIFY Handle)
{
    return ::UnregisterDeviceNotification(Handle);
}

size_t wcstombs(char *dest, const WCHAR *src, size_t count)
{
    return std::wcstombs(dest, src, count);
}

}  // namespace oslayer

#endif
