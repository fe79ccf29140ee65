// usbfs as the kernel presents it to libusb, answered by the virtual boards:
// interface claims, and URBs that are submitted, reaped and discarded.
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <vector>

#include "sim/umock/umock.h"
#include "sim/usb/bus.h"

namespace kelbsim {

namespace {

// A URB libusb has submitted and not yet reaped.
struct Urb {
    UMockdevIoctlClient *client = nullptr;
    UMockdevIoctlData *data = nullptr;  // the client's usbdevfs_urb, resolved
    int device = 0;
    bool ready = false;   // reapable, with status and actual
    int status = 0;
    int actual = 0;
    int partial = 0;      // what a discard hands back
    uint64_t unplugAt = 0;  // bus time at which its board leaves (0: it stays)
};

std::vector<Urb> pending;

// The ioctl errno that libusb turns into `code`.
int IoctlErrno(int code) {
    switch (code) {
        case LIBUSB_ERROR_BUSY: return EBUSY;
        case LIBUSB_ERROR_NOT_FOUND: return ENOENT;
        case LIBUSB_ERROR_NO_DEVICE: return ENODEV;
        case LIBUSB_ERROR_ACCESS: return EACCES;
        case LIBUSB_ERROR_INVALID_PARAM: return EINVAL;
        default: return EIO;
    }
}

bool HasEndpoint(const Device &dev, unsigned char endpoint) {
    const auto &eps = dev.identity.endpoints;
    return std::find(eps.begin(), eps.end(), endpoint) != eps.end();
}

// Fills in a control URB: the 8-byte setup packet, then the data stage.
void Control(Device *dev, uint8_t *buffer, int length, Urb *urb) {
    Call call;
    call.fn = "usbfs_control";
    call.device = dev->id;
    if (length < 8) {
        urb->status = -EINVAL;
        urb->ready = true;
        return;
    }
    uint8_t type = buffer[0], request = buffer[1];
    uint16_t value = static_cast<uint16_t>(buffer[2] | buffer[3] << 8);
    uint16_t index = static_cast<uint16_t>(buffer[4] | buffer[5] << 8);
    int wanted = std::min(buffer[6] | buffer[7] << 8, length - 8);
    uint8_t *data = buffer + 8;
    call.requestType = type;
    call.request = request;
    call.value = value;
    call.index = index;
    call.length = wanted;
    bool toDevice = (type & LIBUSB_ENDPOINT_IN) == 0;
    bool stringRequest = type == 0x80 && request == LIBUSB_REQUEST_GET_DESCRIPTOR &&
                         (value >> 8) == LIBUSB_DT_STRING;
    // libusb asks for the language list first; a String fault hits the
    // string itself, as one libusb call there is one call on the stand-in.
    bool languages = stringRequest && (value & 0xFF) == 0;
    Fault fault;
    int result = 0;
    bool faulty = !languages && FaultFires(stringRequest ? Op::String : Op::Control, dev->id, &fault);
    if (faulty && fault.code == LIBUSB_ERROR_TIMEOUT) {
        urb->partial = std::min(fault.transferred, wanted);
        call.result = LIBUSB_ERROR_TIMEOUT;
        Record(call);
        return;  // never completes: libusb times it out
    }
    if (faulty) {
        result = fault.code != 0 ? fault.code : std::min(fault.transferred, wanted);
    } else if (stringRequest) {
        bool found = false;
        std::vector<uint8_t> d = StringOfIndex(dev->identity, value & 0xFF, &found);
        result = found ? std::min(static_cast<int>(d.size()), wanted) : LIBUSB_ERROR_PIPE;
        if (found) std::memcpy(data, d.data(), static_cast<size_t>(result));
    } else {
        if (toDevice) call.data.assign(data, data + wanted);
        result = BoardControl(dev, type, request, value, index, data, static_cast<uint16_t>(wanted));
        RequestSync();  // an FX2 may have left the bus
    }
    if (!toDevice && result > 0) call.data.assign(data, data + result);
    call.result = result;
    Record(call);
    urb->status = result < 0 ? UrbStatus(result) : 0;
    urb->actual = result < 0 ? 0 : result;
    urb->ready = true;
}

void Bulk(Device *dev, unsigned char endpoint, uint8_t *data, int length, Urb *urb) {
    Call call;
    call.fn = "usbfs_bulk";
    call.device = dev->id;
    call.endpoint = endpoint;
    call.length = length;
    bool in = (endpoint & LIBUSB_ENDPOINT_IN) != 0;
    Fault fault;
    bool faulty = FaultFires(in ? Op::BulkIn : Op::BulkOut, dev->id, &fault);
    if (faulty && fault.unplug) {
        // The fault took the board off the bus; here it leaves a moment
        // later, with the URB pending.
        dev->present = true;
        urb->unplugAt = NowMs() + kUnplugHoldMs;
        call.result = LIBUSB_ERROR_NO_DEVICE;
        Record(call);
        return;
    }
    int moved = BoardBulk(dev, in, data, length, faulty ? &fault : nullptr);
    if (moved > 0) call.data.assign(data, data + moved);
    bool hold = (faulty && fault.code == LIBUSB_ERROR_TIMEOUT) || (in && dev->silent && !faulty);
    call.transferred = moved;
    call.result = hold ? LIBUSB_ERROR_TIMEOUT : faulty ? fault.code : 0;
    call.forever = in && dev->silent && !faulty;
    Record(call);
    if (hold) {
        urb->partial = moved;
        return;
    }
    urb->status = faulty ? UrbStatus(fault.code) : 0;
    urb->actual = moved;
    urb->ready = true;
}

long Submit(UMockdevIoctlClient *client, UMockdevIoctlData *arg, Device *dev, int *err) {
    UMockdevIoctlData *data = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
    if (data == nullptr) {
        *err = EFAULT;
        return -1;
    }
    auto *u = reinterpret_cast<usbdevfs_urb *>(data->data);
    uint8_t *buffer = nullptr;
    if (u->buffer_length > 0) {
        UMockdevIoctlData *b = umockdev_ioctl_data_resolve(
            data, offsetof(usbdevfs_urb, buffer), static_cast<gsize>(u->buffer_length), nullptr);
        if (b == nullptr) {
            *err = EFAULT;
            return -1;
        }
        buffer = b->data;
    }
    Urb urb;
    urb.client = client;
    urb.device = dev->id;
    if (u->type == USBDEVFS_URB_TYPE_CONTROL) {
        Control(dev, buffer, u->buffer_length, &urb);
    } else if (u->type == USBDEVFS_URB_TYPE_BULK && HasEndpoint(*dev, u->endpoint)) {
        Bulk(dev, u->endpoint, buffer, u->buffer_length, &urb);
    } else {
        *err = ENOENT;
        return -1;
    }
    urb.data = static_cast<UMockdevIoctlData *>(g_object_ref(data));
    pending.push_back(urb);
    return 0;
}

// Boards that leave the bus end their pending URBs, as the kernel kills them.
void Unplugs() {
    uint64_t now = NowMs();
    for (Urb &u : pending) {
        if (u.unplugAt != 0 && now >= u.unplugAt) {
            Unplug(u.device);
            RequestSync();
        }
    }
    for (Urb &u : pending) {
        Device *dev = FindDevice(u.device);
        if (!u.ready && (dev == nullptr || !dev->present)) {
            u.ready = true;
            u.status = -ENODEV;
            u.actual = 0;
        }
    }
}

long Reap(UMockdevIoctlClient *client, UMockdevIoctlData *arg, Device *dev, int *err) {
    Unplugs();
    for (size_t i = 0; i < pending.size(); i++) {
        Urb &u = pending[i];
        if (u.client != client || !u.ready) continue;
        // The argument points at the caller's pointer, which gets the URB.
        UMockdevIoctlData *slot = umockdev_ioctl_data_resolve(arg, 0, sizeof(void *), nullptr);
        if (slot == nullptr) {
            *err = EFAULT;
            return -1;
        }
        auto *urb = reinterpret_cast<usbdevfs_urb *>(u.data->data);
        urb->status = u.status;
        urb->actual_length = u.actual;
        umockdev_ioctl_data_set_ptr(slot, 0, u.data);
        g_object_unref(u.data);
        pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(i));
        return 0;
    }
    *err = dev == nullptr || !dev->present ? ENODEV : EAGAIN;
    return -1;
}

long Discard(UMockdevIoctlClient *client, UMockdevIoctlData *arg, int *err) {
    gulong address = 0;
    std::memcpy(&address, arg->data, std::min<size_t>(sizeof address, static_cast<size_t>(arg->data_len)));
    for (Urb &u : pending) {
        if (u.client != client || u.data->client_addr != address) continue;
        if (u.ready) break;
        u.ready = true;
        u.status = -ENOENT;
        u.actual = u.partial;
        return 0;
    }
    *err = EINVAL;
    return -1;
}

long Interface(UMockdevIoctlData *arg, Device *dev, bool claim, int *err) {
    UMockdevIoctlData *data = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned int), nullptr);
    if (data == nullptr) {
        *err = EFAULT;
        return -1;
    }
    Call call;
    call.fn = claim ? "usbfs_claim" : "usbfs_release";
    call.device = dev->id;
    std::memcpy(&call.iface, data->data, sizeof(unsigned int));
    const auto &ifaces = dev->identity.interfaces;
    Fault fault;
    if (FaultFires(claim ? Op::Claim : Op::Release, dev->id, &fault)) {
        call.result = fault.code;
        *err = IoctlErrno(fault.code);
    } else if (std::find(ifaces.begin(), ifaces.end(), call.iface) == ifaces.end()) {
        call.result = LIBUSB_ERROR_NOT_FOUND;
        *err = EINVAL;
    }
    Record(call);
    return call.result == 0 ? 0 : -1;
}

gboolean HandleIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer device) {
    std::lock_guard<std::mutex> lock(BusLock());
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    Device *dev = FindDevice(GPOINTER_TO_INT(device));
    bool gone = dev == nullptr || !dev->present;
    int err = 0;
    long result = -1;
    switch (umockdev_ioctl_client_get_request(client)) {
        case USBDEVFS_GET_CAPABILITIES:
            if (UMockdevIoctlData *caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(uint32_t), nullptr)) {
                uint32_t bits = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM;
                std::memcpy(caps->data, &bits, sizeof bits);
                result = 0;
            } else {
                err = EFAULT;
            }
            break;
        case USBDEVFS_CLAIMINTERFACE:
        case USBDEVFS_RELEASEINTERFACE:
            if (gone) {
                err = ENODEV;
            } else {
                bool claim = umockdev_ioctl_client_get_request(client) == USBDEVFS_CLAIMINTERFACE;
                result = Interface(arg, dev, claim, &err);
            }
            break;
        case USBDEVFS_SUBMITURB:
            if (gone) {
                err = ENODEV;
            } else {
                result = Submit(client, arg, dev, &err);
            }
            break;
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY:
            result = Reap(client, arg, dev, &err);
            break;
        case USBDEVFS_DISCARDURB:
            result = Discard(client, arg, &err);
            break;
        default:
            err = ENOTTY;
            break;
    }
    umockdev_ioctl_client_complete(client, result, result < 0 ? err : 0);
    return TRUE;
}

void ClientGone(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer) {
    std::lock_guard<std::mutex> lock(BusLock());
    for (size_t i = pending.size(); i-- > 0;) {
        if (pending[i].client != client) continue;
        g_object_unref(pending[i].data);
        pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

}  // namespace

std::mutex &BusLock() {
    static std::mutex lock;
    return lock;
}

void ServeUsbfs(UMockdevIoctlBase *handler, int device) {
    g_signal_connect(handler, "handle-ioctl", G_CALLBACK(HandleIoctl), GINT_TO_POINTER(device));
    g_signal_connect(handler, "client-vanished", G_CALLBACK(ClientGone), nullptr);
}

}  // namespace kelbsim
