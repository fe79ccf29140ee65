// SPDX-License-Identifier: MIT
// The transport of the Windows builds: a port's board is a CCyDevice reached
// through the CyUSB driver, picked by the tag at the end of its product
// string, and its data moves on the device's first bulk IN and OUT endpoints.
#ifdef KELB_CYUSB

#include "boardtag.h"
#include "cydevice.h"
#include "include/kelbnew.h"
#include "transport.h"

namespace {

constexpr const char *NO_DEVICE = "No matching device found!";
constexpr const char *OUT_OF_MEMORY = "Out of memory.";

bool ProductHasTag(const CCyDevice &device, const char *tag)
{
    char product[PRODUCTLEN];
    ProductText(device, product);
    return TextHasTag(product, tag);
}

// Closes the driver handle and frees the device object.  Gives the close
// failure's message, or null.  The device is not used again either way.
const char *ReleaseDevice(CCyDevice *device)
{
    const char *failure = device->CloseDevice();
    delete device;
    return failure;
}

// The port's board for a transfer on endpoint, or null when the port is not
// usable: not open, no such endpoint, or a request of the board that the
// driver never gave back (that port takes no transfer until it is closed).
CCyDevice *UsableBoard(const KELBstruct *port, CCyBulkEndPoint *CCyDevice::*endpoint)
{
    if (!PortIsOpen(port)) return nullptr;
    CCyDevice *device = port->Handle;
    if (!device->IsOpen() || !(device->*endpoint)) return nullptr;
    for (const CCyBulkEndPoint *bulk : {device->BulkInEndpoint, device->BulkOutEndpoint})
        if (bulk && bulk->Abandoned) return nullptr;
    return device;
}

// Visits every device of the driver's class through one CCyDevice and leaves
// it open on the wanted-th board that carries the tag.  False when there is
// none, and with *failure set when the scan cannot go on: a visited device
// cannot be closed (it is not used again), or memory ran out.
bool FindBoard(CCyDevice *device, const char *tag, int wanted, const char **failure)
{
    int matches = 0;
    *failure = nullptr;
    // The count is taken anew before each index: boards may come and go.
    for (int j = 0; j < device->CountDevices(); ++j) {
        if (!device->OpenDevice(static_cast<uint8_t>(j), failure)) {
            if (!*failure && device->OutOfMemory) *failure = OUT_OF_MEMORY;
            if (*failure) return false;
            continue;
        }
        if (ProductHasTag(*device, tag)) {
            if (matches == wanted) return true;
            ++matches;
        }
        if ((*failure = device->CloseDevice())) return false;
    }
    return false;
}

}  // namespace

void USBopen(KELBstruct *port)
{
    port->Handle = KELBnotOpen();
    // A failed allocation is the MATLAB error "Out of memory.", and a device
    // that cannot be closed is not touched again.
    const char *failure = nullptr;
    CCyDevice *device = KELBnew<CCyDevice>(nullptr, CYUSB_INTERFACE_GUID, true);
    if (!device) {
        mexErrMsgTxt(OUT_OF_MEMORY);
        return;
    }
    // Construction opened index 0 already; the scan opens it again.
    if (device->OutOfMemory) failure = device->CloseDevice();
    if (!failure && device->OutOfMemory) failure = OUT_OF_MEMORY;
    if (!failure && FindBoard(device, port->ModelTag, port->Device, &failure)) {
        port->Handle = device;
        return;
    }
    if (!failure) failure = device->CloseDevice();
    if (!failure) failure = NO_DEVICE;
    delete device;
    mexErrMsgTxt(failure);
}

int USBread(KELBstruct *port, void *buffer, unsigned int length)
{
    CCyDevice *device = UsableBoard(port, &CCyDevice::BulkInEndpoint);
    if (!device) return KELB_NOT_OPEN;
    CCyBulkEndPoint *in = device->BulkInEndpoint;

    LONG count = static_cast<LONG>(length);
    if (!in->Transfer(static_cast<uint8_t *>(buffer), count)) {
        if (in->DriverStatus == XFER_NO_MEMORY) {
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
    CCyDevice *device = UsableBoard(port, &CCyDevice::BulkOutEndpoint);
    if (!device) return KELB_NOT_OPEN;
    CCyBulkEndPoint *out = device->BulkOutEndpoint;

    LONG count = length;
    if (!out->Transfer(static_cast<uint8_t *>(buffer), count)) {
        if (out->DriverStatus == XFER_NO_MEMORY) {
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
