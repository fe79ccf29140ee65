// A simulated CyUSB driver behind the OS layer of usb/windows (oslayer.h):
// it implements every oslayer:: call, so the CyUSB classes and the Windows
// port binding run natively against virtual devices.
//
// Test API (namespace cyusbsim), all state is global and single-threaded:
//   Reset()                 forget devices, scripts, faults, logs and handles.
//   AddDevice(Board(...))   attach a device; Board() makes an FX2 board with
//                           bulk OUT 0x02 and bulk IN 0x86 (512 bytes), the
//                           given product string and a plant model behind it
//                           (sim/plant: 0 TIRK .. 4 GASPILODEN, -1 none).  Any
//                           field of a Device may be changed before or after.
//   Unplug(i)               the device leaves the bus: no longer enumerated,
//                           its requests fail.
//   Script(i, ep, outcome)  how the next transfer on endpoint ep completes
//                           (queued, one per transfer); Standing(i, ep, o)
//                           for every transfer once the queue is empty.
//                           Completion: Now (inside DeviceIoControl), Later
//                           (after DelayMs of waiting), Never (until the pipe
//                           is aborted, the request cancelled or its handle
//                           closed); Bytes limits the data moved, Error
//                           makes the request fail with that code, and the
//                           status words land in the TransferHeader.
//   QueueInput(i, bytes)    chosen input blocks, served before the plant's.
//   Faults()                scripted OS failures (CreateFileA, CloseHandle,
//                           UnregisterDeviceNotification, SetupAPI, events).
//   Log()                   every DeviceIoControl: code, input bytes, output
//                           size, and the payload that crossed the bus.
//   Waits()                 the time limit of every WaitForSingleObject.
//   SetLastErrorCode(e)     the last-error code as an earlier call left it.
//   Stats()                 handles, events, device-info sets and
//                           notifications still open, and other counters.
// Time is simulated: waits never sleep; a wait that could only end by a
// request that never completes returns WAIT_FAILED and counts as a hang.
//
// Link the static library kelbsim_cyusb together with the usb/windows
// sources built with KELB_CYUSB.
#ifndef KELBSIM_CYUSBSIM_H
#define KELBSIM_CYUSBSIM_H

#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "sim/cyusb/fx2board.h"
#include "usb/windows/oslayer.h"

namespace kelbsim {
struct Plant;
}

namespace cyusbsim {

// Statuses the simulated driver writes for an aborted request.
constexpr uint32_t STATUS_CANCELLED = 0xC0000120u;
constexpr uint32_t USBD_STATUS_CANCELED = 0xC0010000u;
// ... and for a descriptor the device does not have (a stall).
constexpr uint32_t STATUS_UNSUCCESSFUL = 0xC0000001u;
constexpr uint32_t USBD_STATUS_STALL_PID = 0xC0000004u;
#ifndef ERROR_DEVICE_NOT_CONNECTED
constexpr DWORD ERROR_DEVICE_NOT_CONNECTED = 1167;
#endif

enum class Completion { Now, Later, Never };

struct Outcome {
    Completion When = Completion::Now;
    uint32_t DelayMs = 0;   // Later: simulated wait until it completes
    int32_t Bytes = -1;     // data bytes moved; -1: all that was asked (IN: what the board has)
    DWORD Error = 0;        // nonzero: the request fails with this last-error code
    uint32_t DriverStatus = 0;
    uint32_t UsbStatus = 0;
};

struct Device {
    std::string Path;
    GUID InterfaceGuid;
    std::vector<uint8_t> DeviceDescriptor;               // 18 bytes
    std::vector<std::vector<uint8_t>> Configs;           // descriptor sets by index
    std::map<uint8_t, std::vector<uint8_t>> Strings;     // whole string descriptors; 0 = language list
    std::set<uint16_t> FailingDescriptors;               // GET_DESCRIPTOR wValues that stall
    std::set<DWORD> FailingCodes;                        // device requests that fail
    std::set<DWORD> EmptyCodes;                          // device requests that succeed with no bytes
    uint32_t DriverVersion = 0x01060300;
    uint32_t UsbdiVersion = 0x00000600;
    uint8_t Address = 2;
    uint32_t Speed = 2;  // 2: high speed
    uint8_t AltSetting = 0;
    std::string DeviceName = KELB_FX2_DEVICE_NAME;
    std::string FriendlyName = KELB_FX2_FRIENDLY_NAME;
    int Model = -1;  // plant behind the board, -1 none
    bool FailCreateFile = false;
    // Kept by the simulator:
    bool Present = true;
    kelbsim::Plant *Plant = nullptr;
    std::map<uint8_t, std::deque<Outcome>> Scripts;
    std::map<uint8_t, Outcome> Standing;
    std::deque<std::vector<uint8_t>> Input;
};

struct Request {
    int Device;  // index of the device whose handle it went to, -1 none
    DWORD Code;
    std::vector<uint8_t> Input;
    DWORD OutputSize;
    bool Overlapped;
    std::vector<uint8_t> Data;  // payload on the bus: sent (OUT) or delivered (IN)
};

struct FaultSet {
    bool ClassDevs = false;             // SetupDiGetClassDevsA fails
    std::map<DWORD, DWORD> EnumErrors;  // member index -> error of SetupDiEnumDeviceInterfaces
    bool Detail = false;                // the second SetupDiGetDeviceInterfaceDetailA fails
    bool CloseHandle = false;           // CloseHandle of a device handle fails
    bool Unregister = false;            // UnregisterDeviceNotification fails
    bool CreateEvent = false;
    bool AbortPipe = false;             // the abort request fails
    bool KeepsRequests = false;         // neither an abort nor CancelIoEx ends a pending request; closing its handle does
};

struct Counters {
    int OpenFiles = 0;
    int OpenEvents = 0;
    int OpenDevInfo = 0;
    int Notifications = 0;
    int Hangs = 0;              // infinite waits that nothing would end
    int PendingRequests = 0;
    int Cancels = 0;            // CancelIoEx calls
    DWORD LastDetailSize = 0;   // cbSize of the last detail record passed in
    DWORD LastCreateAccess = 0, LastCreateShare = 0, LastCreateDisposition = 0, LastCreateFlags = 0;
    std::vector<std::string> CreatedPaths;
    std::vector<std::vector<uint8_t>> NotificationFilters;
    uint64_t NowMs = 0;
};

void Reset();
int AddDevice(const Device &device);
Device &DeviceAt(int index);
void Unplug(int index);
void Script(int index, uint8_t endpoint, const Outcome &outcome);
void Standing(int index, uint8_t endpoint, const Outcome &outcome);
void QueueInput(int index, const std::vector<uint8_t> &block);

FaultSet &Faults();
const std::vector<Request> &Log();
void ClearLog();
const std::vector<DWORD> &Waits();
const Counters &Stats();
void SetLastErrorCode(DWORD error);

// Descriptor builders.
std::vector<uint8_t> StringDescriptor(const std::string &text);  // ASCII text as UTF-16
std::vector<uint8_t> EndpointDescriptor(uint8_t address, uint8_t attributes, uint16_t maxPacketSize,
                                        uint8_t interval = 0);
std::vector<uint8_t> InterfaceDescriptor(uint8_t number, uint8_t alternate, uint8_t endpoints, uint8_t cls = 0xFF);
// A configuration header in front of the given descriptors, wTotalLength filled in.
std::vector<uint8_t> ConfigSet(const std::vector<std::vector<uint8_t>> &descriptors, uint8_t numInterfaces = 1,
                               uint8_t iConfiguration = 0);

// An FX2 board as the CyUSB driver presents it.
Device Board(const std::string &product, int model);

}  // namespace cyusbsim

#endif
