// Error names and advice of the Linux scan: libusb's codes.
#include <libusb.h>

#include "tools/scan/scan.h"

const char *ScanErrorName(int code) { return libusb_error_name(code); }

const char *Advice(int code) {
    switch (code) {
    case LIBUSB_ERROR_ACCESS:
        return "no permission: install the udev rules (60-kelbio.rules in /etc/udev/rules.d, then "
               "'udevadm control --reload' and 'udevadm trigger'), add yourself to the plugdev group, "
               "log in again and re-plug the board";
    case LIBUSB_ERROR_BUSY:
        return "another program holds it: close the port in the other MATLAB or Octave session (or "
               "stop the program or kernel driver that has claimed interface 0)";
    case LIBUSB_ERROR_NO_DEVICE:
        return "it left the bus during the scan (re-enumerating after a download?): run again";
    default:
        return nullptr;
    }
}

const char *const NoDeviceAdvice =
    "No USB device is visible at all: inside a container, pass /dev/bus/usb through (for example "
    "docker run --device /dev/bus/usb); otherwise check that /dev/bus/usb exists and that you may "
    "read it.";

