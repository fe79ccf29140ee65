// SPDX-License-Identifier: MIT
// The firmware file: an Intel HEX stream named by ZARVUSB_HEX_FILE, read
// record by record.  The reader knows nothing of USB; each data record is
// handed to a write function, so files can be checked on their own.
#ifndef KELB_USB_LINUX_HEXFILE_H
#define KELB_USB_LINUX_HEXFILE_H

#include <cstdio>

constexpr int HEX_MAX_DATA = 16;

struct HexRecord {
    int ByteCount;
    int Address;
    int RecordType;  // 0 = data; any other type ends the download
    unsigned char Data[HEX_MAX_DATA];
};

// The file named by ZARVUSB_HEX_FILE, opened "rb"; null when the variable is
// unset or the file cannot be opened.
FILE *FirmwareOpen();

enum HexOutcome {
    HEX_COMPLETE,      // a non-data record ended the records
    HEX_INCOMPLETE,    // the file ended, or a record did not parse, after data
    HEX_WRITE_FAILED,  // the write function refused a data record
};

using HexWriteFcn = int (*)(void *target, const HexRecord *record);

// Reads the stream from where it stands and hands every data record to
// write(target, record) in file order, stopping at the first nonzero result.
// lastType holds the type of the most recent record whose header was read; it
// is kept by the caller across files, and a stop with lastType 0 is
// HEX_INCOMPLETE.
HexOutcome HexLoad(FILE *stream, int *lastType, HexWriteFcn write, void *target);

#endif
