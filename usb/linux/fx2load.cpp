// SPDX-License-Identifier: MIT
// The FX2 download: CPU held in reset, every data record of the HEX file
// written at its address, CPU released.  The chip then re-enumerates with the
// descriptors of its new firmware.
#include "usb/linux/fx2load.h"

#include "transport.h"
#include "usb/linux/board.h"
#include "usb/linux/hexfile.h"

int FX2Write(libusb_device_handle *handle, unsigned int address, unsigned short length,
             unsigned char *data) {
    if (length == 0) return KELB_OK;
    int rc = libusb_control_transfer(handle, FX2_REQUEST_TYPE, FX2_REQUEST_LOAD,
                                     static_cast<uint16_t>(address & 0xFFFF),
                                     static_cast<uint16_t>(address >> 16), data, length,
                                     FX2_CONTROL_TIMEOUT_MS);
    return rc == length ? KELB_OK : KELB_XFER_ERROR;
}

static int WriteRecord(void *handle, const HexRecord *record) {
    unsigned char data[HEX_MAX_DATA];
    for (int i = 0; i < record->ByteCount; i++) data[i] = record->Data[i];
    return FX2Write(static_cast<libusb_device_handle *>(handle),
                    static_cast<unsigned int>(record->Address),
                    static_cast<unsigned short>(record->ByteCount), data);
}

static bool SetCPU(libusb_device_handle *handle, uint8_t state) {
    unsigned char value = state;
    return FX2Write(handle, FX2_CPUCS, 1, &value) == KELB_OK;
}

bool FX2Download(libusb_device_handle *handle, FILE *stream, int *lastType) {
    std::rewind(stream);
    bool programmed = SetCPU(handle, FX2_CPU_RESET) &&
                      HexLoad(stream, lastType, WriteRecord, handle) == HEX_COMPLETE;
    // A failed chip is left in reset with whatever it got.
    if (programmed) SetCPU(handle, FX2_CPU_RUN);
    libusb_release_interface(handle, KELB_INTERFACE);
    libusb_close(handle);
    return programmed;
}
