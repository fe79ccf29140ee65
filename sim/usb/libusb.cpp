// SPDX-License-Identifier: MIT
// The libusb-1.0 calls, served by the virtual bus.  Every call is logged with
// its arguments, its data and its result.  Pointers the product passes in are
// looked up, never trusted, so a stale or foreign one counts as misuse.
#include <libusb.h>

#include <algorithm>
#include <cstring>

#include "sim/usb/bus.h"

using namespace kelbsim;

namespace {

libusb_context *theDefaultContext = nullptr;

void Misuse(Call *call) {
    TheBus().misuse++;
    call->result = LIBUSB_ERROR_INVALID_PARAM;
}

libusb_context *LiveContext(libusb_context *ctx) {
    if (ctx == nullptr) ctx = theDefaultContext;
    for (auto &c : TheBus().contexts) {
        if (c.get() == ctx) return c->alive ? ctx : nullptr;
    }
    return nullptr;
}

Device *DeviceOf(libusb_device *usb) {
    for (auto &d : TheBus().devices) {
        if (&d->usb == usb) return d.get();
    }
    return nullptr;
}

libusb_device_handle *LiveHandle(libusb_device_handle *handle) {
    for (auto &h : TheBus().handles) {
        if (h.get() == handle) return h->open ? handle : nullptr;
    }
    return nullptr;
}

// The device behind an open handle, or null with the call's result set:
// misuse for a handle that is not open, NO_DEVICE once the device has gone.
Device *HandleDevice(libusb_device_handle *handle, Call *call) {
    if (LiveHandle(handle) == nullptr) {
        Misuse(call);
        return nullptr;
    }
    Device *dev = FindDevice(handle->device);
    call->device = handle->device;
    if (dev == nullptr || !dev->present) {
        call->result = LIBUSB_ERROR_NO_DEVICE;
        return nullptr;
    }
    return dev;
}

bool HasEndpoint(const Device &dev, unsigned char endpoint) {
    const auto &eps = dev.identity.endpoints;
    return std::find(eps.begin(), eps.end(), endpoint) != eps.end();
}

// The call's entry, named only when a log is kept: nothing is allocated
// for calls that nobody reads back.
int Finish(Call &call, const char *name) {
    if (Logging()) {
        call.fn = name;
        Record(call);
    }
    return call.result;
}

}  // namespace

int libusb_init(libusb_context **ctx) {
#ifdef KELBSIM_FROM_ENV
    ConfigureFromEnvironment();
#endif
    Call call;
    const char *name = "libusb_init";
    if (FaultFails(Op::Init, 0, &call.result)) return Finish(call, name);
    if (ctx == nullptr && LiveContext(nullptr) != nullptr) return Finish(call, name);
    TheBus().contexts.push_back(std::make_unique<libusb_context>());
    libusb_context *made = TheBus().contexts.back().get();
    made->bornMs = NowMs();
    made->firstNewId = TheBus().nextId;
    if (ctx != nullptr) {
        *ctx = made;
    } else {
        theDefaultContext = made;
    }
    return Finish(call, name);
}

void libusb_exit(libusb_context *ctx) {
    Call call;
    const char *name = "libusb_exit";
    libusb_context *live = LiveContext(ctx);
    if (live == nullptr) {
        Misuse(&call);
    } else {
        live->alive = false;
        if (live == theDefaultContext) theDefaultContext = nullptr;
    }
    Finish(call, name);
}

ssize_t libusb_get_device_list(libusb_context *ctx, libusb_device ***list) {
    Call call;
    const char *name = "libusb_get_device_list";
    if (LiveContext(ctx) == nullptr || list == nullptr) {
        Misuse(&call);
        return Finish(call, name);
    }
    // A fault with code 0 lists no device, as the real call on an empty bus.
    Fault fault;
    bool empty = FaultFires(Op::List, 0, &fault);
    if (empty && fault.code != 0) {
        call.result = fault.code;
        return Finish(call, name);
    }
    // As the real libusb does, a context lists the devices it found at its
    // start in bus order, and puts each one that came while it lived (a
    // board plugged in, a chip back with its firmware) at the head, the
    // newest first.
    auto made = std::make_unique<DeviceList>();
    const libusb_context *live = LiveContext(ctx);
    auto came = [live](const Device *dev) {
        return dev->id >= live->firstNewId || dev->appearsAt > live->bornMs;
    };
    for (int id : empty ? std::vector<int>{} : Devices()) {
        Device *dev = FindDevice(id);
        dev->usb.refs++;
        auto at = made->entries.end();
        if (came(dev)) {
            at = made->entries.begin();
            while (at != made->entries.end() && (*at)->id > dev->id && came(FindDevice((*at)->id))) ++at;
        }
        made->entries.insert(at, &dev->usb);
    }
    call.result = static_cast<int>(made->entries.size());
    made->entries.push_back(nullptr);
    *list = made->entries.data();
    TheBus().lists.push_back(std::move(made));
    return Finish(call, name);
}

void libusb_free_device_list(libusb_device **list, int unref_devices) {
    if (list == nullptr) return;
    Call call;
    const char *name = "libusb_free_device_list";
    call.value = unref_devices;
    DeviceList *found = nullptr;
    for (auto &l : TheBus().lists) {
        if (l->entries.data() == list) found = l.get();
    }
    if (found == nullptr || !found->alive) {
        Misuse(&call);
    } else {
        found->alive = false;
        if (unref_devices) {
            for (libusb_device *usb : found->entries) {
                if (usb != nullptr) usb->refs--;
            }
        }
    }
    Finish(call, name);
}

libusb_device *libusb_ref_device(libusb_device *dev) {
    if (DeviceOf(dev) != nullptr) dev->refs++;
    return dev;
}

void libusb_unref_device(libusb_device *dev) {
    if (DeviceOf(dev) != nullptr) dev->refs--;
}

uint8_t libusb_get_bus_number(libusb_device *) { return 1; }

uint8_t libusb_get_device_address(libusb_device *dev) {
    Device *d = DeviceOf(dev);
    return static_cast<uint8_t>(d != nullptr ? d->id : 0);
}

int libusb_get_device_descriptor(libusb_device *dev, libusb_device_descriptor *desc) {
    Call call;
    const char *name = "libusb_get_device_descriptor";
    Device *d = DeviceOf(dev);
    if (d == nullptr || desc == nullptr) {
        Misuse(&call);
        return Finish(call, name);
    }
    call.device = d->id;
    if (FaultFails(Op::Descriptor, d->id, &call.result)) return Finish(call, name);
    std::memset(desc, 0, sizeof *desc);
    desc->bLength = LIBUSB_DT_DEVICE_SIZE;
    desc->bDescriptorType = LIBUSB_DT_DEVICE;
    desc->bcdUSB = 0x0200;
    desc->bMaxPacketSize0 = 64;
    desc->idVendor = d->identity.vendorId;
    desc->idProduct = d->identity.productId;
    desc->iManufacturer = d->identity.iManufacturer;
    desc->iProduct = d->identity.iProduct;
    desc->bNumConfigurations = 1;
    return Finish(call, name);
}

int libusb_open(libusb_device *dev, libusb_device_handle **dev_handle) {
    Call call;
    const char *name = "libusb_open";
    Device *d = DeviceOf(dev);
    if (d == nullptr || dev_handle == nullptr) {
        Misuse(&call);
        return Finish(call, name);
    }
    call.device = d->id;
    if (!d->present) {
        call.result = LIBUSB_ERROR_NO_DEVICE;
    } else if (!FaultFails(Op::Open, d->id, &call.result)) {
        auto handle = std::make_unique<libusb_device_handle>();
        handle->device = d->id;
        *dev_handle = handle.get();
        TheBus().handles.push_back(std::move(handle));
    }
    return Finish(call, name);
}

void libusb_close(libusb_device_handle *dev_handle) {
    if (dev_handle == nullptr) return;
    Call call;
    const char *name = "libusb_close";
    if (LiveHandle(dev_handle) == nullptr) {
        Misuse(&call);
    } else {
        call.device = dev_handle->device;
        dev_handle->open = false;
        dev_handle->claimed.clear();  // libusb releases what is still claimed
    }
    Finish(call, name);
}

int libusb_claim_interface(libusb_device_handle *dev_handle, int interface_number) {
    Call call;
    const char *name = "libusb_claim_interface";
    call.iface = interface_number;
    Device *d = HandleDevice(dev_handle, &call);
    if (d == nullptr) return Finish(call, name);
    if (FaultFails(Op::Claim, d->id, &call.result)) return Finish(call, name);
    const auto &ifaces = d->identity.interfaces;
    if (std::find(ifaces.begin(), ifaces.end(), interface_number) == ifaces.end()) {
        call.result = LIBUSB_ERROR_NOT_FOUND;
    } else {
        for (auto &h : TheBus().handles) {
            bool held = std::count(h->claimed.begin(), h->claimed.end(), interface_number) > 0;
            if (h->open && h->device == d->id && h.get() != dev_handle && held) {
                call.result = LIBUSB_ERROR_BUSY;
            }
        }
        auto &mine = dev_handle->claimed;
        if (call.result == 0 && std::count(mine.begin(), mine.end(), interface_number) == 0) {
            mine.push_back(interface_number);
        }
    }
    return Finish(call, name);
}

int libusb_release_interface(libusb_device_handle *dev_handle, int interface_number) {
    Call call;
    const char *name = "libusb_release_interface";
    call.iface = interface_number;
    if (LiveHandle(dev_handle) == nullptr) {
        Misuse(&call);
        return Finish(call, name);
    }
    auto &mine = dev_handle->claimed;
    auto held = std::find(mine.begin(), mine.end(), interface_number);
    if (held == mine.end()) {
        call.device = dev_handle->device;
        call.result = LIBUSB_ERROR_NOT_FOUND;
        return Finish(call, name);
    }
    mine.erase(held);  // released even when the device has gone
    Device *d = HandleDevice(dev_handle, &call);
    if (d != nullptr) FaultFails(Op::Release, d->id, &call.result);
    return Finish(call, name);
}

int libusb_get_string_descriptor_ascii(libusb_device_handle *dev_handle, uint8_t desc_index,
                                       unsigned char *data, int length) {
    Call call;
    const char *name = "libusb_get_string_descriptor_ascii";
    call.index = desc_index;
    call.length = length;
    if (desc_index == 0 || data == nullptr || length < 1) {
        if (LiveHandle(dev_handle) != nullptr) call.device = dev_handle->device;
        call.result = LIBUSB_ERROR_INVALID_PARAM;  // index 0 is the language list
        return Finish(call, name);
    }
    Device *d = HandleDevice(dev_handle, &call);
    if (d == nullptr) return Finish(call, name);
    if (FaultFails(Op::String, d->id, &call.result)) return Finish(call, name);
    if (desc_index >= d->identity.strings.size()) {
        call.result = LIBUSB_ERROR_PIPE;  // the device stalls
    } else {
        const std::string &text = d->identity.strings[desc_index];
        int n = std::min(static_cast<int>(text.size()), length - 1);
        std::memcpy(data, text.data(), static_cast<size_t>(n));
        data[n] = '\0';
        call.text = text.substr(0, static_cast<size_t>(n));
        call.result = n;
    }
    return Finish(call, name);
}

int libusb_control_transfer(libusb_device_handle *dev_handle, uint8_t request_type,
                            uint8_t bRequest, uint16_t wValue, uint16_t wIndex,
                            unsigned char *data, uint16_t wLength, unsigned int timeout) {
    Call call;
    const char *name = "libusb_control_transfer";
    call.requestType = request_type;
    call.request = bRequest;
    call.value = wValue;
    call.index = wIndex;
    call.length = wLength;
    call.timeout = timeout;
    bool toDevice = (request_type & LIBUSB_ENDPOINT_IN) == 0;
    if (toDevice && data != nullptr) call.data.assign(data, data + wLength);
    Device *d = HandleDevice(dev_handle, &call);
    if (d == nullptr) return Finish(call, name);
    Fault fault;
    if (FaultFires(Op::Control, d->id, &fault)) {
        if (fault.code != 0) {
            call.result = fault.code;
            return Finish(call, name);
        }
        // Code 0: a short transfer, in which only the first bytes move.
        wLength = static_cast<uint16_t>(std::max(0, std::min<int>(fault.transferred, wLength)));
        if (toDevice && call.data.size() > wLength) call.data.resize(wLength);
    }
    call.result = BoardControl(d, request_type, bRequest, wValue, wIndex, data, wLength);
    if (!toDevice && call.result > 0) call.data.assign(data, data + call.result);
    return Finish(call, name);
}

int libusb_bulk_transfer(libusb_device_handle *dev_handle, unsigned char endpoint,
                         unsigned char *data, int length, int *transferred,
                         unsigned int timeout) {
    Call call;
    const char *name = "libusb_bulk_transfer";
    call.endpoint = endpoint;
    call.length = length;
    call.timeout = timeout;
    if (transferred != nullptr) *transferred = 0;
    Device *d = HandleDevice(dev_handle, &call);
    if (d == nullptr) return Finish(call, name);
    if (length < 0 || (length > 0 && data == nullptr) || !HasEndpoint(*d, endpoint)) {
        call.result = LIBUSB_ERROR_IO;
        return Finish(call, name);
    }
    bool in = (endpoint & LIBUSB_ENDPOINT_IN) != 0;
    Fault fault;
    bool faulty = FaultFires(in ? Op::BulkIn : Op::BulkOut, d->id, &fault);
    if (faulty && fault.unplug) {
        call.result = LIBUSB_ERROR_NO_DEVICE;
        return Finish(call, name);
    }
    int moved = BoardBulk(d, in, data, length, faulty ? &fault : nullptr);
    if (moved > 0 && Logging()) call.data.assign(data, data + moved);
    if (faulty) {
        call.result = fault.code;
    } else if (in && d->silent) {
        call.result = LIBUSB_ERROR_TIMEOUT;
        call.forever = timeout == 0;  // would hold the caller for ever
        TheBus().virtualMs += timeout;
    }
    call.transferred = moved;
    if (transferred != nullptr) *transferred = moved;
    return Finish(call, name);
}

const char *libusb_error_name(int code) {
    switch (code) {
        case LIBUSB_SUCCESS: return "LIBUSB_SUCCESS / LIBUSB_TRANSFER_COMPLETED";
        case LIBUSB_ERROR_IO: return "LIBUSB_ERROR_IO";
        case LIBUSB_ERROR_INVALID_PARAM: return "LIBUSB_ERROR_INVALID_PARAM";
        case LIBUSB_ERROR_ACCESS: return "LIBUSB_ERROR_ACCESS";
        case LIBUSB_ERROR_NO_DEVICE: return "LIBUSB_ERROR_NO_DEVICE";
        case LIBUSB_ERROR_NOT_FOUND: return "LIBUSB_ERROR_NOT_FOUND";
        case LIBUSB_ERROR_BUSY: return "LIBUSB_ERROR_BUSY";
        case LIBUSB_ERROR_TIMEOUT: return "LIBUSB_ERROR_TIMEOUT";
        case LIBUSB_ERROR_OVERFLOW: return "LIBUSB_ERROR_OVERFLOW";
        case LIBUSB_ERROR_PIPE: return "LIBUSB_ERROR_PIPE";
        case LIBUSB_ERROR_INTERRUPTED: return "LIBUSB_ERROR_INTERRUPTED";
        case LIBUSB_ERROR_NO_MEM: return "LIBUSB_ERROR_NO_MEM";
        case LIBUSB_ERROR_NOT_SUPPORTED: return "LIBUSB_ERROR_NOT_SUPPORTED";
        case LIBUSB_ERROR_OTHER: return "LIBUSB_ERROR_OTHER";
        case LIBUSB_TRANSFER_ERROR: return "LIBUSB_TRANSFER_ERROR";
        case LIBUSB_TRANSFER_TIMED_OUT: return "LIBUSB_TRANSFER_TIMED_OUT";
        case LIBUSB_TRANSFER_CANCELLED: return "LIBUSB_TRANSFER_CANCELLED";
        case LIBUSB_TRANSFER_STALL: return "LIBUSB_TRANSFER_STALL";
        case LIBUSB_TRANSFER_NO_DEVICE: return "LIBUSB_TRANSFER_NO_DEVICE";
        case LIBUSB_TRANSFER_OVERFLOW: return "LIBUSB_TRANSFER_OVERFLOW";
        default: return "**UNKNOWN**";
    }
}

const char *libusb_strerror(int code) {
    switch (code) {
        case LIBUSB_SUCCESS: return "Success";
        case LIBUSB_ERROR_IO: return "Input/Output Error";
        case LIBUSB_ERROR_INVALID_PARAM: return "Invalid parameter";
        case LIBUSB_ERROR_ACCESS: return "Access denied (insufficient permissions)";
        case LIBUSB_ERROR_NO_DEVICE: return "No such device (it may have been disconnected)";
        case LIBUSB_ERROR_NOT_FOUND: return "Entity not found";
        case LIBUSB_ERROR_BUSY: return "Resource busy";
        case LIBUSB_ERROR_TIMEOUT: return "Operation timed out";
        case LIBUSB_ERROR_OVERFLOW: return "Overflow";
        case LIBUSB_ERROR_PIPE: return "Pipe error";
        case LIBUSB_ERROR_INTERRUPTED: return "System call interrupted (perhaps due to signal)";
        case LIBUSB_ERROR_NO_MEM: return "Insufficient memory";
        case LIBUSB_ERROR_NOT_SUPPORTED: return "Operation not supported or unimplemented on this platform";
        default: return "Other error";
    }
}
