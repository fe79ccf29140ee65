// SPDX-License-Identifier: MIT
// Programming an FX2 that has no firmware yet, through its built-in loader.
#ifndef KELB_USB_LINUX_FX2LOAD_H
#define KELB_USB_LINUX_FX2LOAD_H

#include <libusb.h>

#include <cstdio>

// One write into FX2 memory with vendor request 0xA0.  Returns 0 when all
// `length` bytes went (at once when `length` is 0), else 16.
int FX2Write(libusb_device_handle *handle, unsigned int address, unsigned short length,
             unsigned char *data);

// Loads the firmware stream, from its start, into the opened chip whose
// interface 0 is claimed, and lets its CPU run.  True when programmed.  The
// interface is released and the handle closed in either outcome; on failure
// the CPU stays in reset.  lastType carries the type of the last record read
// from one device to the next of the same firmware phase.
bool FX2Download(libusb_device_handle *handle, FILE *stream, int *lastType);

#endif
