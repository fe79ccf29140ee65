// SPDX-License-Identifier: MIT
// What the gateway and the model codecs ask of a transport.  The Linux build
// implements it with libusb (usb/linux), the Windows builds with the CyUSB
// driver (usb/windows).
#ifndef KELB_TRANSPORT_H
#define KELB_TRANSPORT_H

#include "kelbport.h"

// Transport status: one of these is returned by every read and write.
enum : int {
    KELB_OK = 0,           // the whole transfer was done
    KELB_NOT_OPEN = 1,     // port not open; nothing was transferred
    KELB_XFER_ERROR = 16,  // transfer failed; code in ReadError / WriteError
    KELB_XFER_SHORT = 32,  // transfer moved fewer bytes than asked
};

// Opens the port's board or raises a MATLAB error.
void USBopen(KELBstruct *port);
int USBread(KELBstruct *port, void *buffer, unsigned int length);
int USBwrite(KELBstruct *port, void *buffer, int length);
void USBclose(KELBstruct *port);

#endif
