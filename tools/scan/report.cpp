// The listing for people: one line per device, an advice line under each
// device that Open cannot use, and a verdict at the end.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "models/modeltags.h"
#include "tools/scan/scan.h"

constexpr int kMaxOrdinal = 8;  // port digits run from 1 to 9

bool WouldProgram(const ScanDevice &device, const FirmwareCheck &firmware) {
    return device.Kind == ScanKind::Blank && device.OpenError == 0 && device.ClaimError == 0 &&
           firmware.Image;
}

std::string PortName(const ScanDevice &device) {
    if (device.Kind != ScanKind::Board || device.Ordinal > kMaxOrdinal) return "";
    return std::string(KELBmodelTags[device.Model].Name) + static_cast<char>('1' + device.Ordinal);
}

static void Append(std::string *out, const char *format, ...) __attribute__((format(printf, 2, 3)));
static void Append(std::string *out, const char *format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    *out += line;
}

// The product string as the terminal may show it: control characters from
// the device become '?'.
static std::string Printable(const char *text) {
    std::string out = text;
    for (char &c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return out;
}

static void AdviceLine(std::string *out, int code) {
    if (const char *advice = Advice(code)) Append(out, "      -> %s\n", advice);
}

static void FirmwareLines(std::string *out, const FirmwareCheck &fw) {
    if (!fw.Set) {
        *out += "  ZARVUSB_HEX_FILE is not set: Open leaves blank chips as they are; set it to the "
                "firmware file before Open.\n";
    } else if (!fw.Readable) {
        Append(out, "  ZARVUSB_HEX_FILE names \"%s\", which cannot be read (%s): Open leaves blank chips "
               "as they are.\n", fw.Path.c_str(), std::strerror(fw.OpenErrno));
    } else if (!fw.Image) {
        Append(out, "  ZARVUSB_HEX_FILE names \"%s\", which is no HEX image Open can load (it stops "
               "after %d data records, without an end record): Open holds the chips' CPUs in reset and "
               "leaves them so.\n", fw.Path.c_str(), fw.Records);
    } else if (fw.Low < 0) {
        Append(out, "  ZARVUSB_HEX_FILE names \"%s\": a HEX image without data (%d records).\n",
               fw.Path.c_str(), fw.Records);
    } else {
        Append(out, "  ZARVUSB_HEX_FILE names \"%s\": %d data records, %ld bytes, 0x%04X-0x%04X.\n",
               fw.Path.c_str(), fw.Records, fw.Bytes, fw.Low, fw.High);
    }
}

static void DeviceLine(std::string *out, const ScanDevice &d, const FirmwareCheck &fw) {
    if (d.Index >= 0) {
        Append(out, "  CyUSB device %d  %04x:%04x  ", d.Index, d.Vendor, d.Product);
    } else {
        Append(out, "  bus %03d address %03d  %04x:%04x  ", d.Bus, d.Address, d.Vendor, d.Product);
    }
    if (d.OpenError != 0) {
        if (d.Kind == ScanKind::Blank) {
            *out += "blank FX2";
        } else if (d.Model >= 0) {
            Append(out, "\"%s\"  %s board, passed over by Open", Printable(d.ProductText).c_str(),
                   KELBmodelTags[d.Model].Name);
        } else {
            *out += "unknown device";
        }
        Append(out, "; cannot open: %s\n", ScanErrorName(d.OpenError));
        AdviceLine(out, d.OpenError);
        return;
    }
    switch (d.Kind) {
    case ScanKind::Blank:
        if (d.ClaimError != 0) {
            Append(out, "blank FX2; cannot claim interface 0: %s\n", ScanErrorName(d.ClaimError));
            AdviceLine(out, d.ClaimError);
        } else {
            Append(out, "blank FX2; %s\n", WouldProgram(d, fw) ? "Open programs it"
                                            : fw.Readable ? "Open holds it in reset, unprogrammed"
                                                          : "Open leaves it blank (no firmware file)");
        }
        return;
    case ScanKind::NoString:
        if (d.StringError < 0) {
            Append(out, "product string unreadable (%s): Open passes it over\n",
                   ScanErrorName(d.StringError));
        } else {
            *out += "no product string: Open passes it over\n";
        }
        return;
    case ScanKind::NoTag:
        Append(out, "\"%s\"  no model tag at its end: Open passes it over\n", Printable(d.ProductText).c_str());
        return;
    case ScanKind::Board: {
        std::string port = PortName(d);
        Append(out, "\"%s\"  %s  ", Printable(d.ProductText).c_str(), KELBmodelTags[d.Model].Name);
        if (port.empty()) {
            Append(out, "no port reaches it (ports end at %s9)", KELBmodelTags[d.Model].Name);
        } else {
            Append(out, "port '%s'", port.c_str());
        }
        if (d.ClaimError != 0) {
            Append(out, "; cannot claim interface 0: %s\n", ScanErrorName(d.ClaimError));
            AdviceLine(out, d.ClaimError);
        } else {
            *out += "\n";
        }
        return;
    }
    case ScanKind::Closed:
        return;  // handled above: only an open failure makes it Closed
    }
}

std::string TextReport(const ScanResult &r) {
    std::string out;
    if (r.InitError < 0) {
        Append(&out, "Cannot start libusb: %s.\n%s\n", ScanErrorName(r.InitError), NoDeviceAdvice);
        return out;
    }
    if (r.ListError < 0)
        Append(&out, "Cannot list the USB devices: %s.\n", ScanErrorName(r.ListError));
    bool blanks = false, rest = false;
    for (const ScanDevice &d : r.Devices) (d.Kind == ScanKind::Blank ? blanks : rest) = true;
    if (blanks) {
        out += "Blank FX2 chips (Open programs them first, from ZARVUSB_HEX_FILE):\n";
        FirmwareLines(&out, r.Firmware);
        bool programs = false;
        for (const ScanDevice &d : r.Devices) {
            if (d.Kind != ScanKind::Blank) continue;
            DeviceLine(&out, d, r.Firmware);
            programs = programs || WouldProgram(d, r.Firmware);
        }
        if (programs)
            out += "  They come back as boards after the download, and the port names below may move.\n";
    }
    if (rest) {
        out += "Devices in the order Open counts boards:\n";
        for (const ScanDevice &d : r.Devices)
            if (d.Kind != ScanKind::Blank) DeviceLine(&out, d, r.Firmware);
    }
    if (r.Others > 0)
        Append(&out, "%d other USB device%s %s no board.\n", r.Others, r.Others == 1 ? "" : "s",
               r.Others == 1 ? "is" : "are");
    if (r.Visible == 0) Append(&out, "%s\n", NoDeviceAdvice);
    Append(&out, "%d board%s found.\n", r.Boards, r.Boards == 1 ? "" : "s");
    return out;
}
