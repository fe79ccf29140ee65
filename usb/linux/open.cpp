// SPDX-License-Identifier: MIT
// Binding a port record to its board: the record's own libusb context, the
// firmware phase for FX2 chips that still lack firmware, and the choice of the
// Device-th board whose product string ends in the model's tag.
#include <libusb.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "transport.h"
#include "usb/linux/board.h"
#include "usb/linux/fx2load.h"
#include "usb/linux/hexfile.h"
#include "usb/linux/identify.h"

// Raises "<format with libusb's name for code>".  mexErrMsgTxt does not return
// under MATLAB; callers release what they hold first and return after it.
static void RaiseUsbError(const char *format, int code) {
    char message[KELB_MESSAGE_LEN];
    std::snprintf(message, sizeof message, format, libusb_error_name(code));
    mexErrMsgTxt(message);
}

static bool IsBlankFX2(libusb_device *device) {
    libusb_device_descriptor desc;
    return libusb_get_device_descriptor(device, &desc) == 0 && IsBlankFX2(desc);
}

// Programs every FX2 on the bus that shows the chip's own identity, then
// waits once for them to come back.  Silent when there is no firmware file.
// True when it waited.
static bool FirmwarePhase(libusb_context *context) {
    FILE *stream = FirmwareOpen();
    if (stream == nullptr) return false;
    unsigned int wait = 0;
    libusb_device **list = nullptr;
    ssize_t count = libusb_get_device_list(context, &list);
    if (count > 0) {
        int lastType = 0;
        for (ssize_t i = 0; i < count; i++) {
            if (!IsBlankFX2(list[i])) continue;
            libusb_device_handle *handle = nullptr;
            if (libusb_open(list[i], &handle) != 0) continue;
            if (libusb_claim_interface(handle, KELB_INTERFACE) != 0) {
                // Not programmed here; another program may be loading it right
                // now, so the pause still follows.
                libusb_close(handle);
                wait = KELB_REENUM_WAIT_S;
                continue;
            }
            if (!FX2Download(handle, stream, &lastType)) break;
            wait = KELB_REENUM_WAIT_S;
        }
        libusb_free_device_list(list, 1);
        if (wait != 0) {
            mexPrintf("FX2 device(s) initialized, waiting for re-enumeration.\n");
            mexEvalString("drawnow;");
            sleep(wait);
        }
    } else if (list != nullptr) {
        libusb_free_device_list(list, 1);
    }
    std::fclose(stream);
    return wait != 0;
}

// A device whose product string cannot be read matches no tag.
static bool TagMatches(libusb_device_handle *handle, const libusb_device_descriptor &desc,
                       const char *tag) {
    char product[KELB_PRODUCT_LEN];
    return ReadProduct(handle, desc, product) > 0 && TagMatches(product, tag);
}

static void ReleaseContext(KELBstruct *port) {
    libusb_exit(port->Context);
    port->Context = nullptr;
}

void USBopen(KELBstruct *port) {
    const int device = port->Device;
    if (port->Context == nullptr) {
        int rc = libusb_init(&port->Context);
        if (rc < 0) {
            port->Context = nullptr;
            RaiseUsbError("Unable to create USB context: %s.\n", rc);
            return;
        }
    }

    // libusb lists the boards that came back while this context lived
    // first, the last one first, where a new context lists them in bus
    // order; the selection starts afresh so that Device counts the way every
    // later Open counts, and two ports cannot pick the same board.
    if (FirmwarePhase(port->Context)) {
        libusb_exit(port->Context);
        int rc = libusb_init(&port->Context);
        if (rc < 0) {
            port->Context = nullptr;
            RaiseUsbError("Unable to create USB context: %s.\n", rc);
            return;
        }
    }

    libusb_device **list = nullptr;
    ssize_t count = libusb_get_device_list(port->Context, &list);
    if (count <= 0) {
        if (list != nullptr) libusb_free_device_list(list, 1);
        ReleaseContext(port);
        if (count < 0) {
            RaiseUsbError("Unable to get list of USB devices: %s.\n", static_cast<int>(count));
        } else {
            mexErrMsgTxt("No USB devices found!");
        }
        return;
    }

    int matches = 0;
    for (ssize_t i = 0; i < count; i++) {
        libusb_device_descriptor desc;
        if (libusb_get_device_descriptor(list[i], &desc) != 0) continue;
        libusb_device_handle *handle = nullptr;
        if (libusb_open(list[i], &handle) != 0) continue;
        if (!TagMatches(handle, desc, port->ModelTag) || matches++ != device) {
            libusb_close(handle);
            continue;
        }
        int rc = libusb_claim_interface(handle, KELB_INTERFACE);
        if (rc != 0) {
            // The record keeps its context for the next attempt.
            libusb_close(handle);
            libusb_free_device_list(list, 1);
            RaiseUsbError("Unable to claim USB interface: %s.\n", rc);
            return;
        }
        port->Handle = handle;
        libusb_free_device_list(list, 1);
        return;
    }

    libusb_free_device_list(list, 1);
    ReleaseContext(port);
    mexErrMsgTxt("No matching device found!");
}
