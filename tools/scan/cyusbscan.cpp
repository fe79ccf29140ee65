// The Windows scan: every device bound to the CyUSB driver, visited in the
// order Open visits them, through the transport's own CCyDevice and tag rule,
// so that the port names it gives are the boards Open binds.
#include <cstdio>
#include <cstring>

#include "models/modeltags.h"
#include "tools/scan/scan.h"
#include "usb/windows/boardtag.h"
#include "usb/windows/cydevice.h"

static_assert(SCAN_TEXT_LEN == PRODUCTLEN, "the scan reads the product string as Open does");

namespace {

constexpr int kModelCount = sizeof KELBmodelTags / sizeof KELBmodelTags[0];
constexpr uint8_t STRING_PRODUCT = 15;  // iProduct in the device descriptor

int ModelOf(const char *product) {
    for (int m = 0; m < kModelCount; m++)
        if (TextHasTag(product, KELBmodelTags[m].Tag)) return m;
    return -1;
}

// The ids in a device path such as \\?\usb#vid_04b4&pid_1004#..., for a
// device that could not be opened.
void IdsFromPath(const char *path, ScanDevice *device) {
    unsigned vendor = 0, product = 0;
    for (const char *p = path; *p; ++p) {
        if ((std::strncmp(p, "vid_", 4) == 0 || std::strncmp(p, "VID_", 4) == 0) &&
            std::sscanf(p + 4, "%4x&%*[pP]%*[iI]%*[dD]_%4x", &vendor, &product) == 2) {
            device->Vendor = static_cast<uint16_t>(vendor);
            device->Product = static_cast<uint16_t>(product);
            return;
        }
    }
}

int Negative(DWORD error) { return -static_cast<int>(error ? error : ERROR_GEN_FAILURE); }

}  // namespace

const char *ScanErrorName(int code) {
    switch (static_cast<DWORD>(-code)) {
    case ERROR_FILE_NOT_FOUND: return "ERROR_FILE_NOT_FOUND";
    case ERROR_ACCESS_DENIED: return "ERROR_ACCESS_DENIED";
    case ERROR_NOT_ENOUGH_MEMORY: return "ERROR_NOT_ENOUGH_MEMORY";
    case ERROR_GEN_FAILURE: return "ERROR_GEN_FAILURE";
    case ERROR_SHARING_VIOLATION: return "ERROR_SHARING_VIOLATION";
    case ERROR_DEVICE_NOT_CONNECTED: return "ERROR_DEVICE_NOT_CONNECTED";
    default: break;
    }
    static char name[32];
    std::snprintf(name, sizeof name, "Windows error %d", -code);
    return name;
}

const char *Advice(int code) {
    switch (static_cast<DWORD>(-code)) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return "another program holds it, or you may not open it: close the port in the other MATLAB "
               "session, or the program that uses the board (CyConsole, Control Center), and run again";
    case ERROR_FILE_NOT_FOUND:
    case ERROR_DEVICE_NOT_CONNECTED:
        return "it left the bus during the scan: run again";
    case ERROR_GEN_FAILURE:
        return "the driver cannot use it: unplug the board and plug it in again, and look at it in "
               "Device Manager";
    default:
        return nullptr;
    }
}

const char *const NoDeviceAdvice =
    "No device is bound to the CyUSB driver. kelbio finds only boards bound to the CyUSB driver from "
    "Cypress (now Infineon), and loads no firmware, so each board must come up programmed. Install the "
    "driver package, add the board's vendor and product IDs (Device Manager, the board's Properties, "
    "Details, Hardware Ids) to the driver's .inf file, then in Device Manager choose the board, Update "
    "driver, Browse my computer for drivers, and give the folder of that .inf. A board bound to another "
    "driver (WinUSB, libusb-win32) is not found.";

ScanResult Scan(const char *) {
    ScanResult result;
    CCyDevice device(nullptr, CYUSB_INTERFACE_GUID, false);
    int matches[kModelCount] = {};
    // The count is taken anew before each index, as Open does.
    for (int j = 0; j < device.CountDevices(); ++j) {
        ScanDevice d;
        d.Index = j;
        const char *closeFailure = nullptr;
        SetLastError(0);
        bool opened = device.OpenDevice(static_cast<uint8_t>(j), &closeFailure);
        DWORD error = GetLastError();
        result.Visible++;
        if (closeFailure) {  // Open ends its scan here too
            result.ListError = Negative(ERROR_INVALID_HANDLE);
            break;
        }
        if (!opened) {
            d.Kind = ScanKind::Closed;
            if (device.OutOfMemory) {
                error = ERROR_NOT_ENOUGH_MEMORY;
            } else if (device.IsOpen()) {
                error = ERROR_GEN_FAILURE;  // opened, but no configuration to use: Open passes it over
                char text[PRODUCTLEN];
                ProductText(device, text);
                if (device.DeviceDescriptor[STRING_PRODUCT] != 0) std::memcpy(d.ProductText, text, sizeof text);
                d.Model = ModelOf(d.ProductText);
            }
            d.OpenError = Negative(error);
            d.Vendor = device.VendorId;
            d.Product = device.ProductId;
            if (!device.IsOpen()) IdsFromPath(device.DevicePath, &d);
        } else {
            d.Vendor = device.VendorId;
            d.Product = device.ProductId;
            d.Address = device.UsbAddress;
            char text[PRODUCTLEN];
            ProductText(device, text);
            if (device.DeviceDescriptor[STRING_PRODUCT] == 0 || text[0] == '\0') {
                d.Kind = ScanKind::NoString;
                // Without a string index there is no error to tell, only no string.
                d.StringError = device.DeviceDescriptor[STRING_PRODUCT] ? Negative(ERROR_GEN_FAILURE) : 0;
            } else {
                std::memcpy(d.ProductText, text, sizeof text);
                d.Model = ModelOf(text);
                d.Kind = d.Model < 0 ? ScanKind::NoTag : ScanKind::Board;
                if (d.Model >= 0) {
                    d.Ordinal = matches[d.Model]++;
                    result.Boards++;
                }
            }
        }
        const char *failure = device.CloseDevice();
        result.Devices.push_back(d);
        if (failure) {
            result.ListError = Negative(ERROR_INVALID_HANDLE);
            break;
        }
    }
    return result;
}

FirmwareCheck CheckFirmware() { return FirmwareCheck{}; }  // no firmware download on Windows
