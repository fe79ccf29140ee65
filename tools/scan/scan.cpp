// Walks the device list as Open does: blank chips as the firmware phase sees
// them, then every device as the selection phase counts boards.
#include "tools/scan/scan.h"

#include <libusb.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "models/modeltags.h"
#include "usb/linux/hexfile.h"
#include "usb/linux/identify.h"

static_assert(SCAN_TEXT_LEN == KELB_PRODUCT_LEN, "the scan reads the product string as Open does");

constexpr int kModelCount = sizeof KELBmodelTags / sizeof KELBmodelTags[0];

static int CountRecord(void *target, const HexRecord *record) {
    auto *check = static_cast<FirmwareCheck *>(target);
    check->Records++;
    check->Bytes += record->ByteCount;
    if (record->ByteCount == 0) return 0;
    int last = record->Address + record->ByteCount - 1;
    if (check->Low < 0 || record->Address < check->Low) check->Low = record->Address;
    if (last > check->High) check->High = last;
    return 0;
}

FirmwareCheck CheckFirmware() {
    FirmwareCheck check;
    const char *name = std::getenv("ZARVUSB_HEX_FILE");
    check.Set = name != nullptr;
    if (!check.Set) return check;
    check.Path = name;
    errno = 0;
    FILE *stream = FirmwareOpen();
    if (stream == nullptr) {
        check.OpenErrno = errno;
        return check;
    }
    check.Opens = true;
    check.Readable = true;
    int lastType = 0;
    check.Image = HexLoad(stream, &lastType, CountRecord, &check) == HEX_COMPLETE;
    // A directory opens but cannot be read.
    if (std::ferror(stream)) {
        check.Readable = false;
        check.OpenErrno = errno;
        check.Image = false;
    }
    std::fclose(stream);
    return check;
}

// Claims interface 0 to learn whether Open could, and gives it back.
static int TryClaim(libusb_device_handle *handle) {
    int rc = libusb_claim_interface(handle, KELB_INTERFACE);
    if (rc == 0) libusb_release_interface(handle, KELB_INTERFACE);
    return rc;
}

static int ModelOf(const char *product) {
    for (int m = 0; m < kModelCount; m++)
        if (TagMatches(product, KELBmodelTags[m].Tag)) return m;
    return -1;
}

// One device of the selection phase; false when it is no board and cannot
// become one.
static bool Examine(libusb_device *usb, const libusb_device_descriptor &desc, const char *root,
                    const FirmwareCheck &firmware, int *matches, ScanDevice *device) {
    device->Bus = libusb_get_bus_number(usb);
    device->Address = libusb_get_device_address(usb);
    device->Vendor = desc.idVendor;
    device->Product = desc.idProduct;
    bool blank = IsBlankFX2(desc);
    libusb_device_handle *handle = nullptr;
    device->OpenError = libusb_open(usb, &handle);
    if (device->OpenError != 0) {
        if (blank) {
            device->Kind = ScanKind::Blank;
            return true;
        }
        device->Kind = ScanKind::Closed;
        std::string product = SysfsProduct(root, *device);
        std::snprintf(device->ProductText, sizeof device->ProductText, "%s", product.c_str());
        device->Model = ModelOf(device->ProductText);
        // Hubs and devices whose product string has no tag are no boards; the
        // rest might be.
        return desc.bDeviceClass != LIBUSB_CLASS_HUB && (product.empty() || device->Model >= 0);
    }
    if (blank) {
        device->Kind = ScanKind::Blank;
        device->ClaimError = TryClaim(handle);
        // Open's firmware phase leaves the chip alone when there is no file
        // to read or the chip cannot be claimed; its selection then counts
        // the chip like any device, by the tag its product string ends in.
        bool untouched = !firmware.Opens || device->ClaimError != 0;
        if (untouched && ReadProduct(handle, desc, device->ProductText) > 0 &&
            (device->Model = ModelOf(device->ProductText)) >= 0) {
            device->Kind = ScanKind::Board;
            device->Ordinal = matches[device->Model]++;
        } else {
            device->ProductText[0] = '\0';
            device->Model = -1;
        }
        libusb_close(handle);
        return true;
    }
    int length = ReadProduct(handle, desc, device->ProductText);
    if (length <= 0) {
        device->Kind = ScanKind::NoString;
        // Without a string index there is no error to tell, only no string.
        device->StringError = desc.iProduct != 0 ? length : 0;
        libusb_close(handle);
        return desc.bDeviceClass != LIBUSB_CLASS_HUB;
    }
    device->Model = ModelOf(device->ProductText);
    if (device->Model < 0) {
        libusb_close(handle);
        return false;
    }
    device->Kind = ScanKind::Board;
    device->Ordinal = matches[device->Model]++;
    device->ClaimError = TryClaim(handle);
    libusb_close(handle);
    return true;
}

ScanResult Scan(const char *root) {
    ScanResult result;
    result.Firmware = CheckFirmware();
    libusb_context *context = nullptr;
    result.InitError = libusb_init(&context);
    if (result.InitError < 0) return result;

    libusb_device **list = nullptr;
    ssize_t count = libusb_get_device_list(context, &list);
    if (count < 0) result.ListError = static_cast<int>(count);
    int matches[kModelCount] = {};
    std::vector<ScanDevice> rest;
    for (ssize_t i = 0; i < count; i++) {
        result.Visible++;
        libusb_device_descriptor desc;
        ScanDevice device;
        if (libusb_get_device_descriptor(list[i], &desc) != 0 ||
            !Examine(list[i], desc, root, result.Firmware, matches, &device)) {
            result.Others++;
            continue;
        }
        if (device.Kind == ScanKind::Board) result.Boards++;
        (device.Kind == ScanKind::Blank ? result.Devices : rest).push_back(device);
    }
    result.Devices.insert(result.Devices.end(), rest.begin(), rest.end());
    if (list != nullptr) libusb_free_device_list(list, 1);
    libusb_exit(context);
    return result;
}
