// kelbio-scan: what is on the USB bus, seen as kelbio's Open sees it.  The
// scan opens devices and reads their descriptors and product strings; it
// claims interface 0 of blank chips and boards only to learn whether that
// would succeed, releases it at once, and sends nothing to any device.
#ifndef KELB_SCAN_H
#define KELB_SCAN_H

#include <cstdint>
#include <string>
#include <vector>

#include "usb/linux/board.h"

enum class ScanKind {
    Blank,       // an FX2 without firmware (04B4:8613)
    Board,       // its product string ends in a model's tag
    Closed,      // could not be opened: a board by its sysfs product string, or might be one
    NoString,    // opened, but its product string could not be read
};

struct ScanDevice {
    ScanKind Kind = ScanKind::Closed;
    int Bus = 0;
    int Address = 0;
    uint16_t Vendor = 0;
    uint16_t Product = 0;
    int OpenError = 0;    // libusb's code from libusb_open, 0 when it opened
    int ClaimError = 0;   // from claiming interface 0, 0 when it worked or was not tried
    int StringError = 0;  // libusb_get_string_descriptor_ascii's result when it gave no text
    char ProductText[KELB_PRODUCT_LEN] = "";  // for a closed device, from sysfs
    int Model = -1;       // row of the model whose tag ends the product string
    int Ordinal = -1;     // Device number of the port Open binds to it (0 for 'TIRK1')
};

struct FirmwareCheck {
    bool Set = false;       // ZARVUSB_HEX_FILE is set
    std::string Path;
    bool Readable = false;
    int OpenErrno = 0;      // errno when the file could not be opened
    bool Image = false;     // the HEX reader reaches an end record
    int Records = 0;        // data records
    long Bytes = 0;
    int Low = -1;           // lowest and highest address written, -1 for none
    int High = -1;
};

struct ScanResult {
    int InitError = 0;      // libusb_init failed with this code
    int ListError = 0;      // libusb_get_device_list failed with this code
    int Visible = 0;        // devices in the list
    int Others = 0;         // visible devices that are no board
    int Boards = 0;
    FirmwareCheck Firmware;
    std::vector<ScanDevice> Devices;  // blank chips first, then the rest in list order
};

// root: where sysfs lists the USB devices (SysfsUsbDevices).
ScanResult Scan(const char *root);
FirmwareCheck CheckFirmware();

extern const char *const SysfsUsbDevices;
// The product string sysfs holds for the device at its bus and address with
// its ids, "" when none.
std::string SysfsProduct(const char *root, const ScanDevice &device);

// Whether Open would program this blank chip.
bool WouldProgram(const ScanDevice &device, const FirmwareCheck &firmware);
// The port name Open binds to a board, "" when none can reach it (ports go up
// to digit 9).
std::string PortName(const ScanDevice &device);
// What to do about a libusb error, or null when there is nothing to say.
const char *Advice(int code);
extern const char *const NoDeviceAdvice;

std::string TextReport(const ScanResult &result);
std::string JsonReport(const ScanResult &result);

#endif
