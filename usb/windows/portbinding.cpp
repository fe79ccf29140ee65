// SPDX-License-Identifier: MIT
// The transport of the Windows builds: a port's board is a CCyDevice reached
// through the CyUSB driver, picked by the tag at the end of its product
// string, and its data moves on the device's first bulk IN and OUT endpoints.
#ifdef KELB_CYUSB

#include <cctype>
#include <cstring>
#include <new>

#include "cydevice.h"
#include "transport.h"

namespace {

constexpr int PRODUCTLEN = 200;  // 199 characters and the terminator
constexpr const char *NO_DEVICE = "No matching device found!";
constexpr const char *OUT_OF_MEMORY = "Out of memory.";

bool EqualNoCase(const char *a, const char *b)
{
    for (; *a && *b; ++a, ++b)
        if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b)))
            return false;
    return *a == *b;
}

// The product string, from its last '(' to the end, equals the model tag.
bool ProductHasTag(const CCyDevice &device, const char *tag)
{
    char product[PRODUCTLEN] = {};
    // A string that does not convert whole keeps what did convert; the
    // buffer was zeroed, so the text is terminated either way.
    oslayer::wcstombs(product, device.Product, PRODUCTLEN - 1);
    product[PRODUCTLEN - 1] = '\0';
    const char *paren = std::strrchr(product, '(');
    return paren && EqualNoCase(paren, tag);
}

// Closes the driver handle and frees the device object.  Gives the close
// failure's message, or null.  The device is not used again either way.
const char *ReleaseDevice(CCyDevice *device)
{
    const char *failure = device->CloseDevice();
    delete device;
    return failure;
}

// One transfer on an endpoint of an open port.  False with outOfMemory set
// when its request record could not be allocated; nothing was sent then.
bool TransferOn(CCyBulkEndPoint *endpoint, void *buffer, LONG &count, bool *outOfMemory)
{
    try {
        return endpoint->Transfer(static_cast<uint8_t *>(buffer), count);
    } catch (const std::bad_alloc &) {
        *outOfMemory = true;
        return false;
    }
}

// Visits every device of the driver's class through one CCyDevice and leaves
// it open on the wanted-th board that carries the tag.  False when there is
// none, and with *closeFailure set when a visited device cannot be closed:
// the scan ends there and the device is not used again.
bool FindBoard(CCyDevice *device, const char *tag, int wanted, const char **closeFailure)
{
    int matches = 0;
    *closeFailure = nullptr;
    // The count is taken anew before each index: boards may come and go.
    for (int j = 0; j < device->CountDevices(); ++j) {
        if (!device->OpenDevice(static_cast<uint8_t>(j), closeFailure)) {
            if (*closeFailure) return false;
            continue;
        }
        if (ProductHasTag(*device, tag)) {
            if (matches == wanted) return true;
            ++matches;
        }
        if ((*closeFailure = device->CloseDevice())) return false;
    }
    return false;
}

}  // namespace

void USBopen(KELBstruct *port)
{
    port->Handle = KELBnotOpen();
    // A failed allocation is the MATLAB error, not a C++ exception out of the
    // plug-in.  OpenDevice leaves the device closed when it runs out of memory,
    // or gives the close failure that kept it from doing so.
    CCyDevice *device = nullptr;
    const char *failure = nullptr;  // a close failure: the device is not touched again
    try {
        device = new CCyDevice(nullptr, CYUSB_INTERFACE_GUID, true);
        if (FindBoard(device, port->ModelTag, port->Device, &failure)) {
            port->Handle = device;
            return;
        }
        if (!failure) failure = device->CloseDevice();
        if (!failure) failure = NO_DEVICE;
    } catch (const std::bad_alloc &) {
        failure = OUT_OF_MEMORY;
    }
    delete device;
    // Raised outside the catch block: MATLAB does not come back from it, so
    // nothing may be left for the C++ runtime to finish.
    mexErrMsgTxt(failure);
}

int USBread(KELBstruct *port, void *buffer, unsigned int length)
{
    if (!PortIsOpen(port)) return KELB_NOT_OPEN;
    CCyDevice *device = port->Handle;
    CCyBulkEndPoint *in = device->BulkInEndpoint;
    if (!device->IsOpen() || !in) return KELB_NOT_OPEN;

    LONG count = static_cast<LONG>(length);
    bool outOfMemory = false;
    if (!TransferOn(in, buffer, count, &outOfMemory)) {
        if (outOfMemory) {
            mexErrMsgTxt(OUT_OF_MEMORY);
            return KELB_XFER_ERROR;
        }
        port->ReadError = in->DriverStatus;
        return KELB_XFER_ERROR;
    }
    return count == static_cast<LONG>(length) ? KELB_OK : KELB_XFER_SHORT;
}

int USBwrite(KELBstruct *port, void *buffer, int length)
{
    if (!PortIsOpen(port)) return KELB_NOT_OPEN;
    CCyDevice *device = port->Handle;
    CCyBulkEndPoint *out = device->BulkOutEndpoint;
    if (!device->IsOpen() || !out) return KELB_NOT_OPEN;

    LONG count = length;
    bool outOfMemory = false;
    if (!TransferOn(out, buffer, count, &outOfMemory)) {
        if (outOfMemory) {
            mexErrMsgTxt(OUT_OF_MEMORY);
            return KELB_XFER_ERROR;
        }
        port->WriteError = out->DriverStatus;
        return KELB_XFER_ERROR;
    }
    // A short write counts as failed; the system's last error tells why.
    if (count != length) {
        port->WriteError = oslayer::GetLastError();
        return KELB_XFER_ERROR;
    }
    return KELB_OK;
}

// The caller raises a close failure once it has given the port's lock back.
const char *USBclose(KELBstruct *port)
{
    if (!PortIsOpen(port)) return nullptr;
    CCyDevice *device = port->Handle;
    port->Handle = KELBnotOpen();
    return ReleaseDevice(device);
}

#endif
