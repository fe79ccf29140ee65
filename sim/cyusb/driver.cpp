// The simulated driver and the bits of Windows around it: SetupAPI
// enumeration, device and event handles, overlapped requests on a simulated
// clock, device notifications, and the CyUSB I/O control codes.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <list>
#include <memory>
#include <new>

#include "cyusbsim.h"
#include "sim/plant/plant.h"
#include "usb/windows/cyusbdriver.h"

namespace cyusbsim {
namespace {

enum class Kind { File, Event, DevInfo, Notify };

struct Object {
    Kind kind;
    int device = -1;              // File
    bool signalled = false;       // Event
    bool manualReset = false;     // Event
    std::vector<int> members;     // DevInfo: device indices
};

struct Pending {
    Object *file;
    OVERLAPPED *ov;
    HANDLE event;            // the request keeps its event even when the caller closes its handle
    int device;
    uint8_t endpoint;
    bool in;
    TransferHeader *header;  // in the caller's memory
    uint8_t *data;
    uint32_t dataLength;
    uint32_t dataOffset;     // counted in the bytes returned when the data follows the record
    uint8_t *packetInfo;
    uint32_t packetInfoLength;
    uint16_t maxPacket;
    std::vector<uint8_t> answer;  // GET_DESCRIPTOR: what the device has
    bool descriptor = false;
    Outcome outcome;
    uint64_t dueAt = 0;
    size_t logIndex;
    bool done = false;
    DWORD bytesReturned = 0;
    DWORD error = 0;
};

std::vector<Device> devices;
std::vector<Request> requests;
std::vector<DWORD> waits;
std::set<Object *> objects;
std::list<Pending> pending;
FaultSet faults;
Counters counters;
DWORD lastError = 0;
// The memory of requests that no caller collected (a transfer given up while
// the driver kept its request): it was left to the driver, so it stays
// referenced here for the process's life (never destroyed, not even at exit),
// as a driver would hold it.
std::vector<const void *> *orphans = new std::vector<const void *>();

void Orphan(const Pending &p) {
    orphans->push_back(p.ov);
    orphans->push_back(p.header);
}

void SetError(DWORD error) { lastError = error; }

Object *Find(HANDLE h, Kind kind) {
    auto *object = static_cast<Object *>(h);
    if (!objects.count(object) || object->kind != kind) return nullptr;
    return object;
}

Object *NewObject(Kind kind) {
    auto *object = new Object();
    object->kind = kind;
    objects.insert(object);
    return object;
}

void DeleteObject(Object *object) {
    objects.erase(object);
    delete object;
}

// Endpoint descriptor of address on the device, or null.
const uint8_t *FindEndpoint(const Device &d, uint8_t address) {
    for (const auto &set : d.Configs)
        for (size_t p = 0; p + 2 <= set.size() && set[p] >= 2; p += set[p])
            if (set[p + 1] == 5 && set[p] >= 7 && p + 7 <= set.size() && set[p + 2] == address) return &set[p];
    return nullptr;
}

Outcome NextOutcome(Device &d, uint8_t endpoint) {
    auto &queue = d.Scripts[endpoint];
    if (!queue.empty()) {
        Outcome o = queue.front();
        queue.pop_front();
        return o;
    }
    auto standing = d.Standing.find(endpoint);
    return standing != d.Standing.end() ? standing->second : Outcome{};
}

std::vector<uint8_t> NextInput(Device &d, uint32_t length) {
    if (!d.Input.empty()) {
        std::vector<uint8_t> block = d.Input.front();
        d.Input.pop_front();
        return block;
    }
    if (d.Plant) {
        std::vector<uint8_t> block(kelbsim::kInputBlockSize);
        kelbsim::PlantBlock(d.Plant, block.data());
        return block;
    }
    return std::vector<uint8_t>(length);
}

void Signal(HANDLE event) {
    if (Object *e = Find(event, Kind::Event)) e->signalled = true;
}

// The request ends: data moves, the driver writes its status words into the
// record, and the overlapped event is set.
void Complete(Pending &p, bool aborted) {
    uint32_t moved = 0;
    Request &entry = requests[p.logIndex];
    Device &d = devices[static_cast<size_t>(p.device)];
    uint32_t driverStatus = p.outcome.DriverStatus, usbStatus = p.outcome.UsbStatus;
    p.error = p.outcome.Error;
    if (aborted) {
        p.error = ERROR_OPERATION_ABORTED;
        driverStatus = STATUS_CANCELLED;
        usbStatus = USBD_STATUS_CANCELED;
    } else if (!d.Present) {
        p.error = ERROR_DEVICE_NOT_CONNECTED;
        driverStatus = STATUS_UNSUCCESSFUL;
    } else if (p.in) {
        std::vector<uint8_t> block = p.descriptor ? p.answer : NextInput(d, p.dataLength);
        moved = std::min<uint32_t>(p.dataLength, static_cast<uint32_t>(block.size()));
        if (p.outcome.Bytes >= 0) moved = std::min<uint32_t>(moved, static_cast<uint32_t>(p.outcome.Bytes));
        if (moved) std::memcpy(p.data, block.data(), moved);
        entry.Data.assign(block.begin(), block.begin() + moved);
    } else {
        moved = p.dataLength;
        if (p.outcome.Bytes >= 0) moved = std::min<uint32_t>(moved, static_cast<uint32_t>(p.outcome.Bytes));
        entry.Data.assign(p.data, p.data + moved);
        if (d.Plant && p.endpoint != 0) kelbsim::PlantReceive(d.Plant, p.data, static_cast<int>(moved));
    }
    p.header->DriverStatus = driverStatus;
    p.header->UsbStatus = usbStatus;
    if (p.packetInfo) {
        uint32_t left = moved;
        for (uint32_t k = 0; k < p.packetInfoLength / sizeof(IsoPacketInfo); k++) {
            IsoPacketInfo info{0, std::min<uint32_t>(left, p.maxPacket)};
            left -= info.Length;
            std::memcpy(p.packetInfo + k * sizeof(IsoPacketInfo), &info, sizeof(info));
        }
    }
    // The count includes the record when the data follows it.
    p.bytesReturned = (p.error == 0 || moved) ? p.dataOffset + moved : 0;
    if (p.ov) {
        p.ov->Internal = p.error ? STATUS_UNSUCCESSFUL : 0;
        p.ov->InternalHigh = p.bytesReturned;
        Signal(p.event);
    }
    p.done = true;
    counters.PendingRequests--;
}

bool Fail(DWORD error) {
    SetError(error);
    return false;
}

// A transfer request: a TransferHeader in front, as the three codes lay it out.
BOOL Transfer(Object *file, DWORD code, uint8_t *in, DWORD inSize, uint8_t *out, DWORD outSize,
              LPDWORD returned, OVERLAPPED *ov) {
    Device &d = devices[static_cast<size_t>(file->device)];
    if (inSize < sizeof(TransferHeader)) return Fail(ERROR_INVALID_PARAMETER);
    auto *header = reinterpret_cast<TransferHeader *>(in);
    Pending p{};
    p.file = file;
    p.ov = ov;
    p.event = ov ? ov->hEvent : nullptr;
    p.device = file->device;
    p.header = header;
    p.logIndex = requests.size() - 1;
    if (code == CYIOCTL_DIRECT_TRANSFER) {
        p.data = out;
        p.dataLength = outSize;
        p.dataOffset = 0;
    } else {
        if (header->DataOffset < sizeof(TransferHeader) ||
            uint64_t{header->DataOffset} + header->DataLength > inSize || in != out || inSize != outSize)
            return Fail(ERROR_INVALID_PARAMETER);
        p.data = in + header->DataOffset;
        p.dataLength = header->DataLength;
        p.dataOffset = header->DataOffset;
    }
    if (header->PacketInfoLength) {
        if (uint64_t{header->PacketInfoOffset} + header->PacketInfoLength > inSize)
            return Fail(ERROR_INVALID_PARAMETER);
        p.packetInfo = in + header->PacketInfoOffset;
        p.packetInfoLength = header->PacketInfoLength;
    }

    if (code == CYIOCTL_CONTROL_TRANSFER) {
        p.endpoint = 0;
        p.in = (header->bmRequestType & 0x80) != 0;
        if (header->wLength != header->DataLength) return Fail(ERROR_INVALID_PARAMETER);
        if (header->bmRequestType == 0x80 && header->bRequest == 6) {
            p.descriptor = true;
            uint8_t type = static_cast<uint8_t>(header->wValue >> 8), index = static_cast<uint8_t>(header->wValue);
            const std::vector<uint8_t> *answer = nullptr;
            if (type == 1) answer = &d.DeviceDescriptor;
            if (type == 2 && index < d.Configs.size()) answer = &d.Configs[index];
            if (type == 3 && d.Strings.count(index)) answer = &d.Strings[index];
            p.outcome = NextOutcome(d, 0);
            if (!answer || d.FailingDescriptors.count(header->wValue)) {
                p.outcome.Error = ERROR_GEN_FAILURE;
                p.outcome.DriverStatus = STATUS_UNSUCCESSFUL;
                p.outcome.UsbStatus = USBD_STATUS_STALL_PID;
            } else {
                p.answer = *answer;
            }
        } else {
            p.outcome = NextOutcome(d, 0);
        }
    } else {
        p.endpoint = header->EndpointAddress;
        const uint8_t *ep = FindEndpoint(d, p.endpoint);
        if (!ep || p.endpoint == 0) return Fail(ERROR_INVALID_PARAMETER);
        p.in = (p.endpoint & 0x80) != 0;
        p.maxPacket = static_cast<uint16_t>((ep[4] | ep[5] << 8) & 0x7FF);
        p.outcome = NextOutcome(d, p.endpoint);
    }

    counters.PendingRequests++;
    pending.push_back(p);
    Pending &request = pending.back();
    if (!ov || request.outcome.When == Completion::Now) {
        if (!ov && request.outcome.When == Completion::Never) counters.Hangs++;
        Complete(request, false);
        if (!ov) {
            DWORD error = request.error, bytes = request.bytesReturned;
            pending.pop_back();
            if (returned) *returned = bytes;
            if (error) return Fail(error);
            SetError(0);
            return TRUE;
        }
        if (returned) *returned = request.bytesReturned;
        if (request.error) return Fail(request.error);
        SetError(0);
        return TRUE;
    }
    request.dueAt = counters.NowMs + request.outcome.DelayMs;
    return Fail(ERROR_IO_PENDING);
}

BOOL Query(Device &d, DWORD code, uint8_t *out, DWORD outSize, LPDWORD returned) {
    uint32_t value = 0;
    DWORD size = 4;
    const std::string *text = nullptr;
    switch (code) {
    case CYIOCTL_DRIVER_VERSION: value = d.DriverVersion; break;
    case CYIOCTL_USBDI_VERSION: value = d.UsbdiVersion; break;
    case CYIOCTL_GET_ALT_SETTING: value = d.AltSetting; size = 1; break;
    case CYIOCTL_GET_ADDRESS: value = d.Address; size = 1; break;
    case CYIOCTL_BUS_SPEED: value = d.Speed; break;
    case CYIOCTL_DEVICE_NAME: text = &d.DeviceName; size = 256; break;
    case CYIOCTL_FRIENDLY_NAME: text = &d.FriendlyName; size = 256; break;
    default: return Fail(1);  // ERROR_INVALID_FUNCTION
    }
    if (returned) *returned = 0;
    if (d.FailingCodes.count(code)) return Fail(ERROR_GEN_FAILURE);
    if (d.EmptyCodes.count(code)) return TRUE;
    if (!out || outSize < size) return Fail(ERROR_INSUFFICIENT_BUFFER);
    if (text) {
        std::memset(out, 0, size);
        std::memcpy(out, text->data(), std::min<size_t>(text->size(), size));
    } else {
        for (DWORD i = 0; i < size; i++) out[i] = static_cast<uint8_t>(value >> (8 * i));
    }
    if (returned) *returned = size;
    SetError(0);
    return TRUE;
}

}  // namespace

void Reset() {
    for (Device &d : devices) kelbsim::PlantDestroy(d.Plant);
    devices.clear();
    requests.clear();
    waits.clear();
    for (Object *object : objects) delete object;
    objects.clear();
    for (const Pending &p : pending) Orphan(p);
    pending.clear();
    faults = FaultSet{};
    counters = Counters{};
    lastError = 0;
}

int AddDevice(const Device &device) {
    devices.push_back(device);
    Device &d = devices.back();
    d.Present = true;
    d.Plant = d.Model >= 0 ? kelbsim::PlantCreate(d.Model) : nullptr;
    return static_cast<int>(devices.size() - 1);
}

Device &DeviceAt(int index) { return devices.at(static_cast<size_t>(index)); }
void Unplug(int index) { DeviceAt(index).Present = false; }
void Script(int index, uint8_t endpoint, const Outcome &outcome) { DeviceAt(index).Scripts[endpoint].push_back(outcome); }
void Standing(int index, uint8_t endpoint, const Outcome &outcome) { DeviceAt(index).Standing[endpoint] = outcome; }
void QueueInput(int index, const std::vector<uint8_t> &block) { DeviceAt(index).Input.push_back(block); }
FaultSet &Faults() { return faults; }
const std::vector<Request> &Log() { return requests; }
void ClearLog() { requests.clear(); }
const std::vector<DWORD> &Waits() { return waits; }
const Counters &Stats() { return counters; }
void SetLastErrorCode(DWORD error) { lastError = error; }

}  // namespace cyusbsim

using namespace cyusbsim;

namespace oslayer {

HDEVINFO SetupDiGetClassDevsA(const GUID *ClassGuid, PCSTR, HWND, DWORD Flags) {
    if (faults.ClassDevs || !ClassGuid || (Flags & DIGCF_DEVICEINTERFACE) == 0) {
        SetError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    Object *set = NewObject(Kind::DevInfo);
    for (size_t i = 0; i < devices.size(); i++)
        if (devices[i].Present && std::memcmp(&devices[i].InterfaceGuid, ClassGuid, sizeof(GUID)) == 0)
            set->members.push_back(static_cast<int>(i));
    counters.OpenDevInfo++;
    return set;
}

BOOL SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA, const GUID *InterfaceClassGuid,
                                 DWORD MemberIndex, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) {
    Object *set = Find(DeviceInfoSet, Kind::DevInfo);
    if (!set) return Fail(ERROR_INVALID_HANDLE);
    if (!DeviceInterfaceData || DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA))
        return Fail(ERROR_INVALID_USER_BUFFER);
    auto error = faults.EnumErrors.find(MemberIndex);
    if (error != faults.EnumErrors.end()) return Fail(error->second);
    if (MemberIndex >= set->members.size()) return Fail(ERROR_NO_MORE_ITEMS);
    DeviceInterfaceData->InterfaceClassGuid = *InterfaceClassGuid;
    DeviceInterfaceData->Flags = 1;  // SPINT_ACTIVE
    DeviceInterfaceData->Reserved = static_cast<ULONG_PTR>(set->members[MemberIndex] + 1);
    SetError(0);
    return TRUE;
}

BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A DeviceInterfaceDetailData,
                                      DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                      PSP_DEVINFO_DATA DeviceInfoData) {
    if (!Find(DeviceInfoSet, Kind::DevInfo)) return Fail(ERROR_INVALID_HANDLE);
    if (!DeviceInterfaceData || DeviceInterfaceData->Reserved == 0 ||
        DeviceInterfaceData->Reserved > devices.size())
        return Fail(ERROR_INVALID_PARAMETER);
    const Device &d = devices[DeviceInterfaceData->Reserved - 1];
    DWORD needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + d.Path.size() + 1);
    if (RequiredSize) *RequiredSize = needed;
    if (!DeviceInterfaceDetailData) return Fail(ERROR_INSUFFICIENT_BUFFER);
    counters.LastDetailSize = DeviceInterfaceDetailData->cbSize;
    if (DeviceInterfaceDetailData->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
        return Fail(ERROR_INVALID_USER_BUFFER);
    if (DeviceInterfaceDetailDataSize < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
    if (DeviceInfoData && DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) return Fail(ERROR_INVALID_USER_BUFFER);
    if (faults.Detail) return Fail(ERROR_GEN_FAILURE);
    std::memcpy(DeviceInterfaceDetailData->DevicePath, d.Path.c_str(), d.Path.size() + 1);
    if (DeviceInfoData) DeviceInfoData->ClassGuid = d.InterfaceGuid;
    SetError(0);
    return TRUE;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
    Object *set = Find(DeviceInfoSet, Kind::DevInfo);
    if (!set) return Fail(ERROR_INVALID_HANDLE);
    DeleteObject(set);
    counters.OpenDevInfo--;
    return TRUE;
}

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, LPSECURITY_ATTRIBUTES,
                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE) {
    counters.CreatedPaths.push_back(lpFileName ? lpFileName : "");
    counters.LastCreateAccess = dwDesiredAccess;
    counters.LastCreateShare = dwShareMode;
    counters.LastCreateDisposition = dwCreationDisposition;
    counters.LastCreateFlags = dwFlagsAndAttributes;
    for (size_t i = 0; lpFileName && i < devices.size(); i++) {
        if (!devices[i].Present || devices[i].Path != lpFileName) continue;
        if (devices[i].FailCreateFile) break;
        Object *file = NewObject(Kind::File);
        file->device = static_cast<int>(i);
        counters.OpenFiles++;
        SetError(0);
        return file;
    }
    SetError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

BOOL CloseHandle(HANDLE hObject) {
    auto *object = static_cast<Object *>(hObject);
    if (!objects.count(object) || (object->kind != Kind::File && object->kind != Kind::Event))
        return Fail(ERROR_INVALID_HANDLE);
    if (object->kind == Kind::File) {
        if (faults.CloseHandle) return Fail(ERROR_GEN_FAILURE);
        // Closing the handle cancels what is still pending on it.
        for (Pending &p : pending)
            if (p.file == object && !p.done) Complete(p, true);
        pending.remove_if([object](const Pending &p) {
            if (p.file == object) Orphan(p);
            return p.file == object;
        });
        counters.OpenFiles--;
    } else {
        for (Pending &p : pending)
            if (p.event == hObject) p.event = nullptr;
        counters.OpenEvents--;
    }
    DeleteObject(object);
    return TRUE;
}

BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                     LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned, LPOVERLAPPED lpOverlapped) {
    Object *file = Find(hDevice, Kind::File);
    if (!file) return Fail(ERROR_INVALID_HANDLE);
    auto *in = static_cast<uint8_t *>(lpInBuffer);
    auto *out = static_cast<uint8_t *>(lpOutBuffer);
    requests.push_back(Request{file->device, dwIoControlCode,
                          in ? std::vector<uint8_t>(in, in + nInBufferSize) : std::vector<uint8_t>{},
                          nOutBufferSize, lpOverlapped != nullptr, {}});
    // Windows needs somewhere to put the count when there is no overlapped structure.
    if (!lpOverlapped && !lpBytesReturned) return Fail(ERROR_INVALID_PARAMETER);
    Device &d = devices[static_cast<size_t>(file->device)];
    if (!d.Present) return Fail(ERROR_DEVICE_NOT_CONNECTED);

    switch (dwIoControlCode) {
    case CYIOCTL_CONTROL_TRANSFER:
    case CYIOCTL_BUFFERED_TRANSFER:
    case CYIOCTL_DIRECT_TRANSFER:
        return Transfer(file, dwIoControlCode, in, nInBufferSize, out, nOutBufferSize, lpBytesReturned,
                        lpOverlapped);
    case CYIOCTL_ABORT_PIPE: {
        if (!in || nInBufferSize != 1) return Fail(ERROR_INVALID_PARAMETER);
        if (lpBytesReturned) *lpBytesReturned = 0;
        if (faults.AbortPipe) return Fail(ERROR_GEN_FAILURE);
        for (Pending &p : pending)
            if (p.file == file && !p.done && p.endpoint == in[0] && !faults.KeepsRequests) Complete(p, true);
        SetError(0);
        return TRUE;
    }
    default:
        return Query(d, dwIoControlCode, out, nOutBufferSize, lpBytesReturned);
    }
}

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCSTR) {
    if (faults.CreateEvent) {
        SetError(ERROR_GEN_FAILURE);
        return nullptr;
    }
    Object *event = NewObject(Kind::Event);
    event->manualReset = bManualReset != 0;
    event->signalled = bInitialState != 0;
    counters.OpenEvents++;
    return event;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    waits.push_back(dwMilliseconds);
    Object *event = Find(hHandle, Kind::Event);
    if (!event) {
        SetError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    auto consume = [event]() {
        if (!event->manualReset) event->signalled = false;
        return WAIT_OBJECT_0;
    };
    if (event->signalled) return consume();
    for (Pending &p : pending) {
        if (p.done || p.event != hHandle || p.outcome.When != Completion::Later) continue;
        if (dwMilliseconds == INFINITE || p.dueAt <= counters.NowMs + dwMilliseconds) {
            counters.NowMs = std::max(counters.NowMs, p.dueAt);
            Complete(p, false);
            return consume();
        }
    }
    if (dwMilliseconds == INFINITE) {
        // Nothing will ever set the event: a real thread would hang here.
        counters.Hangs++;
        pending.remove_if([hHandle](const Pending &p) {
            bool drop = !p.done && p.event == hHandle;
            if (drop) counters.PendingRequests--;
            return drop;
        });
        SetError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    counters.NowMs += dwMilliseconds;
    return WAIT_TIMEOUT;
}

BOOL CancelIoEx(HANDLE hFile, LPOVERLAPPED lpOverlapped) {
    Object *file = Find(hFile, Kind::File);
    if (!file) return Fail(ERROR_INVALID_HANDLE);
    counters.Cancels++;
    for (Pending &p : pending) {
        if (p.file != file || p.done || (lpOverlapped && p.ov != lpOverlapped)) continue;
        if (!faults.KeepsRequests) Complete(p, true);
        SetError(0);
        return TRUE;
    }
    return Fail(ERROR_NOT_FOUND);
}

BOOL GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped, LPDWORD lpNumberOfBytesTransferred, BOOL) {
    Object *file = Find(hFile, Kind::File);
    if (!file) return Fail(ERROR_INVALID_HANDLE);
    for (auto p = pending.begin(); p != pending.end(); ++p) {
        if (p->file != file || p->ov != lpOverlapped) continue;
        if (!p->done) return Fail(ERROR_IO_INCOMPLETE);
        if (lpNumberOfBytesTransferred) *lpNumberOfBytesTransferred = p->bytesReturned;
        DWORD error = p->error;
        pending.erase(p);
        if (error) return Fail(error);
        SetError(0);
        return TRUE;
    }
    return Fail(ERROR_INVALID_PARAMETER);
}

DWORD GetLastError() { return lastError; }

HDEVNOTIFY RegisterDeviceNotificationA(HANDLE, LPVOID NotificationFilter, DWORD) {
    auto *filter = static_cast<const uint8_t *>(NotificationFilter);
    DWORD size = 0;
    if (filter) std::memcpy(&size, filter, sizeof(size));
    counters.NotificationFilters.emplace_back(filter, filter + size);
    counters.Notifications++;
    return NewObject(Kind::Notify);
}

BOOL UnregisterDeviceNotification(HDEVNOTIFY Handle) {
    Object *notify = Find(Handle, Kind::Notify);
    if (!notify) return Fail(ERROR_INVALID_HANDLE);
    if (faults.Unregister) return Fail(ERROR_GEN_FAILURE);
    DeleteObject(notify);
    counters.Notifications--;
    return TRUE;
}

size_t wcstombs(char *dest, const WCHAR *src, size_t count) {
    std::wstring wide;
    for (const WCHAR *p = src; *p; ++p) wide.push_back(static_cast<wchar_t>(*p));
    return std::wcstombs(dest, wide.c_str(), count);
}

}  // namespace oslayer
