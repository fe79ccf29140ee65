// The listing as one JSON document, for programs (kelbio_boards.m).  Every
// device and every board object has the same members, so MATLAB's and
// Octave's jsondecode make struct arrays of them.
#include <cstdio>
#include <cstring>

#include "models/modeltags.h"
#include "tools/scan/scan.h"

static std::string Quote(const char *text) {
    std::string out = "\"";
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; p++) {
        char escape[8];
        switch (*p) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            // Control characters from the device are escaped; bytes from 0x80
            // on pass, as sysfs gives UTF-8 (libusb gives '?' for them).
            if (*p < 0x20 || *p == 0x7F) {
                std::snprintf(escape, sizeof escape, "\\u%04x", *p);
                out += escape;
            } else {
                out += static_cast<char>(*p);
            }
        }
    }
    return out + "\"";
}
static std::string Quote(const std::string &text) { return Quote(text.c_str()); }

static std::string ErrorName(int code) { return Quote(code < 0 ? ScanErrorName(code) : ""); }

static std::string AdviceOf(int code) {
    const char *advice = Advice(code);
    return Quote(advice != nullptr ? advice : "");
}

static std::string Hex4(unsigned int value) {
    char text[8];
    std::snprintf(text, sizeof text, "\"%04x\"", value & 0xFFFF);
    return text;
}

static const char *KindName(ScanKind kind) {
    switch (kind) {
    case ScanKind::Blank: return "blank";
    case ScanKind::Board: return "board";
    case ScanKind::Closed: return "closed";
    case ScanKind::NoString: return "nostring";
    case ScanKind::NoTag: return "notag";
    }
    return "";
}

// Members every device and every board share.
static std::string Common(const ScanDevice &d) {
    int problem = d.OpenError != 0 ? d.OpenError : d.ClaimError;
    return "\"bus\":" + std::to_string(d.Bus) + ",\"address\":" + std::to_string(d.Address) +
           ",\"vendor\":" + Hex4(d.Vendor) + ",\"product\":" + Hex4(d.Product) +
           ",\"string\":" + Quote(d.ProductText) + ",\"model\":" +
           Quote(d.Model >= 0 ? KELBmodelTags[d.Model].Name : "") + ",\"port\":" + Quote(PortName(d)) +
           ",\"open_error\":" + ErrorName(d.OpenError) + ",\"claim_error\":" + ErrorName(d.ClaimError) +
           ",\"advice\":" + AdviceOf(problem);
}

std::string JsonReport(const ScanResult &r) {
    const FirmwareCheck &fw = r.Firmware;
    std::string out = "{\"init_error\":" + ErrorName(r.InitError) +
                      ",\"list_error\":" + ErrorName(r.ListError) +
                      ",\"visible\":" + std::to_string(r.Visible) +
                      ",\"others\":" + std::to_string(r.Others) + ",\"firmware\":{\"set\":" +
                      (fw.Set ? "true" : "false") + ",\"file\":" + Quote(fw.Path) +
                      ",\"readable\":" + (fw.Readable ? "true" : "false") + ",\"error\":" +
                      Quote(fw.OpenErrno != 0 ? std::strerror(fw.OpenErrno) : "") +
                      ",\"image\":" + (fw.Image ? "true" : "false") +
                      ",\"records\":" + std::to_string(fw.Records) +
                      ",\"bytes\":" + std::to_string(fw.Bytes) + ",\"low\":" + std::to_string(fw.Low) +
                      ",\"high\":" + std::to_string(fw.High) + "},\"devices\":[";
    const char *comma = "";
    for (const ScanDevice &d : r.Devices) {
        out += std::string(comma) + "{\"kind\":\"" + KindName(d.Kind) + "\"," + Common(d) +
               ",\"string_error\":" + ErrorName(d.StringError) +
               ",\"programmed_by_open\":" + (WouldProgram(d, fw) ? "true" : "false") + "}";
        comma = ",";
    }
    out += "],\"boards\":[";
    comma = "";
    for (const ScanDevice &d : r.Devices) {
        if (d.Kind != ScanKind::Board) continue;
        out += std::string(comma) + "{" + Common(d) + "}";
        comma = ",";
    }
    out += "],\"note\":" + Quote(r.Visible == 0 ? NoDeviceAdvice : "") + "}\n";
    return out;
}
