// How a USB device is recognised: a blank FX2 by the chip's own identity, a
// programmed board by the tag that ends its product string.  The transport's
// open and the kelbio-scan tool both decide by these, so they always agree.
#ifndef KELB_USB_LINUX_IDENTIFY_H
#define KELB_USB_LINUX_IDENTIFY_H

#include <libusb.h>

#include "usb/linux/board.h"

bool IsBlankFX2(const libusb_device_descriptor &desc);

// The product string of an open device, NUL-terminated in product.  Returns
// its length, or libusb's result (0 or negative) when there is none.
int ReadProduct(libusb_device_handle *handle, const libusb_device_descriptor &desc,
                char (&product)[KELB_PRODUCT_LEN]);

// True when the product string, from its last '(' to its end, is the tag,
// letter case ignored.
bool TagMatches(const char *product, const char *tag);

#endif
