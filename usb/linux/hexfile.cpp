// SPDX-License-Identifier: MIT
// Intel HEX reader for the firmware download: data records of at most 16
// bytes with 16-bit addresses, ended by any record that is not data.  The
// checksum is read but not compared.
#include "usb/linux/hexfile.h"

#include <cctype>
#include <cstdlib>

FILE *FirmwareOpen() {
    const char *name = std::getenv("ZARVUSB_HEX_FILE");
    if (name == nullptr) return nullptr;
    return std::fopen(name, "rb");
}

// One record after its ':'.  False when it does not parse.
static bool ReadRecord(FILE *stream, HexRecord *record, int *lastType) {
    unsigned int count = 0, address = 0, type = 0;
    if (std::fscanf(stream, "%2X%4X%2X", &count, &address, &type) < 3) return false;
    record->ByteCount = static_cast<int>(count);
    record->Address = static_cast<int>(address);
    record->RecordType = static_cast<int>(type);
    *lastType = record->RecordType;
    // %X takes a sign: a count of "-1" would otherwise send 65535 bytes from
    // a 16-byte buffer, and an address of "-100" would go out with wIndex
    // 0xFFFF where every record address has 0.
    if (record->ByteCount < 0 || record->ByteCount > HEX_MAX_DATA) return false;
    if (record->Address < 0) return false;
    for (int i = 0; i < record->ByteCount; i++) {
        unsigned int byte = 0;
        if (std::fscanf(stream, "%2X", &byte) != 1) return false;
        record->Data[i] = static_cast<unsigned char>(byte);
    }
    unsigned int checksum = 0;
    // "\n" swallows every blank that follows: CR LF and empty lines need no care.
    return std::fscanf(stream, "%2X\n", &checksum) == 1;
}

HexOutcome HexLoad(FILE *stream, int *lastType, HexWriteFcn write, void *target) {
    HexRecord record{};
    for (;;) {
        int c = std::getc(stream);
        if (c == EOF) break;
        if (c != ':') {
            // Blanks before a record are skipped one by one, so the record
            // after a leading blank line is not taken for a word and lost.
            if (std::isspace(c)) continue;
            // Drop the rest of the word; nothing left to read ends the file.
            if (std::fscanf(stream, "%*s\n") == EOF) break;
            continue;
        }
        if (!ReadRecord(stream, &record, lastType)) break;
        if (record.RecordType != 0) return HEX_COMPLETE;
        if (write(target, &record) != 0) return HEX_WRITE_FAILED;
    }
    return *lastType != 0 ? HEX_COMPLETE : HEX_INCOMPLETE;
}
