// kelbio-scan: what is on the USB bus, seen as kelbio's Open sees it.  The
// scan opens devices and reads their descriptors and product strings; it
// claims interface 0 of blank chips and boards only to learn whether that
// would succeed, releases it at once, and sends nothing to any device.
// On Linux it walks libusb's list (scan.cpp, sysfs.cpp, libusberrors.cpp);
// on Windows the devices bound to the CyUSB driver through the transport's
// own CCyDevice (cyusbscan.cpp).  The reports are the same on both.
#ifndef KELB_SCAN_H
#define KELB_SCAN_H

#include <cstdint>
#include <string>
#include <vector>

constexpr int SCAN_TEXT_LEN = 200;  // product string buffer, as the transports have

enum class ScanKind {
    Blank,       // an FX2 without firmware (04B4:8613)
    Board,       // its product string ends in a model's tag
    Closed,      // could not be opened: a board by its sysfs product string, or might be one
    NoString,    // opened, but its product string could not be read
    NoTag,       // Windows: a CyUSB device whose product string ends in no model's tag
};

// Error codes are negative: libusb's on Linux, minus the system's error code
// on Windows (ScanErrorName, Advice).
struct ScanDevice {
    ScanKind Kind = ScanKind::Closed;
    int Index = -1;       // Windows: the CyUSB device index Open visits it at
    int Bus = 0;
    int Address = 0;
    uint16_t Vendor = 0;
    uint16_t Product = 0;
    int OpenError = 0;    // from opening it, 0 when it opened
    int ClaimError = 0;   // from claiming interface 0, 0 when it worked or was not tried
    int StringError = 0;  // from reading the product string when it gave no text
    char ProductText[SCAN_TEXT_LEN] = "";  // for a closed device, from sysfs
    int Model = -1;       // row of the model whose tag ends the product string
    int Ordinal = -1;     // Device number of the port Open binds to it (0 for 'TIRK1')
};

struct FirmwareCheck {
    bool Set = false;       // ZARVUSB_HEX_FILE is set
    std::string Path;
    bool Opens = false;     // it opens as a file: Open's firmware phase runs
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

// root: where sysfs lists the USB devices (SysfsUsbDevices); not used on Windows.
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
// The name of an error code, and what to do about it (null when there is
// nothing to say).
const char *ScanErrorName(int code);
const char *Advice(int code);
// Shown when no device at all is visible.
extern const char *const NoDeviceAdvice;

std::string TextReport(const ScanResult &result);
std::string JsonReport(const ScanResult &result);

#endif
