// SPDX-License-Identifier: MIT
// Bulk transfers on an open port, and closing it.  The layer keeps no state:
// everything lives in the port record, and the caller's buffer goes straight
// to libusb.
#include <libusb.h>

#include "transport.h"
#include "usb/linux/board.h"

static bool PortReady(const KELBstruct *port) {
    return PortIsOpen(port) && port->Context != nullptr;
}

int USBwrite(KELBstruct *port, void *buffer, int length) {
    if (!PortReady(port)) return KELB_NOT_OPEN;
    int sent = 0;
    int rc = libusb_bulk_transfer(port->Handle, KELB_EP_OUT, static_cast<unsigned char *>(buffer),
                                  length, &sent, KELB_WRITE_TIMEOUT_MS);
    // A time-out is an error even when part of the packet went out.
    if (rc != 0) {
        port->WriteError = static_cast<uint32_t>(rc);
        return KELB_XFER_ERROR;
    }
    return sent == length ? KELB_OK : KELB_XFER_SHORT;
}

int USBread(KELBstruct *port, void *buffer, unsigned int length) {
    if (!PortReady(port)) return KELB_NOT_OPEN;
    unsigned char *bytes = static_cast<unsigned char *>(buffer);
    int half = static_cast<int>(length / 2);
    int first = 0;
    int rc = libusb_bulk_transfer(port->Handle, KELB_EP_IN, bytes, half, &first,
                                  KELB_READ_TIMEOUT_MS);
    if (rc != 0) {
        port->ReadError = static_cast<uint32_t>(rc);
        return KELB_XFER_ERROR;
    }
    // The second half has its fixed place, however short the first was.
    int second = 0;
    rc = libusb_bulk_transfer(port->Handle, KELB_EP_IN, bytes + half, half, &second,
                              KELB_READ_TIMEOUT_MS);
    if (rc != 0) {
        port->ReadError = static_cast<uint32_t>(rc);
        return KELB_XFER_ERROR;
    }
    return static_cast<unsigned int>(first + second) == length ? KELB_OK : KELB_XFER_SHORT;
}

// A record that is not open may still hold the context kept after a refused
// claim; it is ended here too.
const char *USBclose(KELBstruct *port) {
    if (PortIsOpen(port)) {
        libusb_release_interface(port->Handle, KELB_INTERFACE);
        libusb_close(port->Handle);
        port->Handle = KELBnotOpen();
    }
    if (port->Context != nullptr) {
        libusb_exit(port->Context);
        port->Context = nullptr;
    }
    return nullptr;
}
