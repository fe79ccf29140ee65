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
// Closes the port and gives back what the transport holds for it, also for a
// record that is not open.  Never raises: the port ends closed even when the
// board reports a close failure, whose message it returns (else null).
const char *USBclose(KELBstruct *port);

#endif
