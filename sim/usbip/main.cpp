// kelbsim-usbip: the virtual boards on vhci_hcd links, and the program that
// runs against them (usbip.h says how to use it).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sim/usb/bus.h"
#include "sim/usbip/usbip.h"

namespace kelbsim {
namespace {

constexpr int kSpeedHigh = 3;
constexpr int kHighSpeedPorts = 8;       // vhci_hcd.0's high-speed root hub
constexpr uint64_t kConfigureLimitMs = 20000;

struct Held {  // a URB left without an answer
    uint32_t seqnum = 0;
    uint64_t unplugAt = 0;  // 0: until the kernel unlinks it
};

struct Link {
    int device = 0;  // bus id
    int fd = -1;     // our end of the socketpair; -1 once closed
    int port = -1;
    bool configured = false;
    uint64_t loadStart = 0;  // bus time of a chip's first 0xA0 request
    std::vector<Held> held;
};

std::vector<Link> links;

// A chip's board comes back on the chip's own port, as on a real hub: bus id
// -> port, until it is attached.
std::vector<std::pair<int, int>> homes;

bool ReadFull(int fd, void *buffer, size_t length) {
    auto *at = static_cast<uint8_t *>(buffer);
    while (length > 0) {
        ssize_t n = read(fd, at, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        at += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

void Reply(Link &l, const UsbipHeader &h, const uint8_t *data, int length) {
    std::vector<uint8_t> pdu(kUsbipHeader + static_cast<size_t>(length > 0 ? length : 0));
    PackHeader(h, pdu.data());
    if (length > 0) std::memcpy(pdu.data() + kUsbipHeader, data, static_cast<size_t>(length));
    // A link the kernel has dropped is noticed by the next read.
    if (send(l.fd, pdu.data(), pdu.size(), MSG_NOSIGNAL) < 0) return;
}

// An IN URB carries its data back; an OUT one only the count the device took.
void Answer(Link &l, uint32_t seqnum, int status, int actual, const uint8_t *in) {
    UsbipHeader h;
    h.command = RET_SUBMIT;
    h.seqnum = seqnum;
    h.field[0] = status;
    h.field[1] = actual;
    Reply(l, h, in, in != nullptr ? actual : 0);
}

void Drop(Link &l) {
    if (l.fd < 0) return;
    close(l.fd);
    l.fd = -1;
    l.held.clear();
    Unplug(l.device);
}

// Ports of vhci_hcd.0's high-speed hub that the kernel shows free (a port
// that was just let go stays busy until vhci has cleaned it up).
std::vector<int> FreePorts() {
    std::vector<int> ports;
    FILE *status = std::fopen((std::string(kVhciDir) + "/status").c_str(), "r");
    if (status == nullptr) return ports;
    char line[256];
    while (std::fgets(line, sizeof line, status) != nullptr) {
        char hub[4] = {};
        int port = 0, state = 0;
        if (std::sscanf(line, "%3s %d %d", hub, &port, &state) != 3) continue;
        if (std::strcmp(hub, "hs") != 0 || state != 4 || port >= kHighSpeedPorts) continue;
        bool ours = false;
        for (const Link &l : links) ours = ours || (l.fd >= 0 && l.port == port);
        if (!ours) ports.push_back(port);
    }
    std::fclose(status);
    return ports;
}

bool Attach(int device, int port) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return false;
    char text[64];
    int length = std::snprintf(text, sizeof text, "%d %d %d %d", port, pair[1], (1 << 16) | device, kSpeedHigh);
    int attach = open((std::string(kVhciDir) + "/attach").c_str(), O_WRONLY | O_CLOEXEC);
    bool done = attach >= 0 && write(attach, text, static_cast<size_t>(length)) == length;
    if (!done) std::fprintf(stderr, "kelbsim-usbip: attach \"%s\": %s\n", text, std::strerror(errno));
    if (attach >= 0) close(attach);
    close(pair[1]);  // the kernel holds its own reference
    if (!done) {
        close(pair[0]);
        return false;
    }
    Link l;
    l.device = device;
    l.fd = pair[0];
    l.port = port;
    links.push_back(l);
    return true;
}

bool Linked(int device) {
    for (const Link &l : links) {
        if (l.device == device) return true;
    }
    return false;
}

// Attaches the boards that are due and not yet linked, in bus order.  libusb
// lists the devices udev found at its start in the reverse of their sysfs
// order, so the first board takes the highest of the ports used.  Returns
// the time in ms until the next board is due (0: none waits).
uint64_t Sync(bool initial) {
    std::vector<int> due;
    uint64_t now = NowMs(), wait = 0;
    for (auto &dev : TheBus().devices) {
        if (!dev->present || Linked(dev->id)) continue;
        if (now >= dev->appearsAt) {
            due.push_back(dev->id);
        } else if (wait == 0 || dev->appearsAt - now < wait) {
            wait = dev->appearsAt - now;
        }
    }
    if (due.empty()) return wait;
    std::vector<int> ports = FreePorts();
    for (size_t k = 0; k < due.size(); k++) {
        auto home = std::find_if(homes.begin(), homes.end(), [&](auto &h) { return h.first == due[k]; });
        if (home == homes.end()) continue;
        auto port = std::find(ports.begin(), ports.end(), home->second);
        if (port == ports.end()) {
            wait = 20;  // vhci has not let the port go yet
        } else {
            Attach(due[k], *port);
            ports.erase(port);
            homes.erase(home);
        }
        due.erase(due.begin() + static_cast<std::ptrdiff_t>(k--));
    }
    if (due.empty()) return wait;
    if (ports.size() < due.size()) {
        if (initial) std::fprintf(stderr, "kelbsim-usbip: %zu boards, %zu free ports\n", due.size(), ports.size());
        // The rest come once vhci has freed the ports of boards that left.
        due.resize(ports.size());
        wait = 50;
    }
    size_t n = due.size();
    for (size_t k = 0; k < n; k++) Attach(due[k], ports[initial ? n - 1 - k : k]);
    return wait;
}

// The standard requests that reach a device through vhci_hcd; vendor
// requests go to the board.  Bytes moved, or a libusb error (a stall).
int Standard(Link &l, Device *dev, const uint8_t *setup, uint8_t *data, int wanted) {
    uint8_t type = setup[0], request = setup[1];
    uint16_t value = static_cast<uint16_t>(setup[2] | setup[3] << 8);
    if (type == 0x80 && request == LIBUSB_REQUEST_GET_DESCRIPTOR) {
        std::vector<uint8_t> d;
        bool found = true;
        switch (value >> 8) {
            case LIBUSB_DT_DEVICE: d = DeviceDescriptor(dev->identity); break;
            case LIBUSB_DT_CONFIG: d = ConfigDescriptor(dev->identity); break;
            case LIBUSB_DT_STRING: d = StringOfIndex(dev->identity, value & 0xFF, &found); break;
            default: found = false; break;
        }
        if (!found) return LIBUSB_ERROR_PIPE;
        int n = std::min(static_cast<int>(d.size()), wanted);
        std::memcpy(data, d.data(), static_cast<size_t>(n));
        return n;
    }
    if (type == 0x00 && request == LIBUSB_REQUEST_SET_CONFIGURATION) {
        l.configured = true;
        return 0;
    }
    if ((type & 0x80) && request == LIBUSB_REQUEST_GET_STATUS && wanted >= 2) {
        data[0] = data[1] = 0;
        return 2;
    }
    bool ok = (type == 0x01 && request == LIBUSB_REQUEST_SET_INTERFACE) ||
              (type == 0x02 && request == LIBUSB_REQUEST_CLEAR_FEATURE);
    return ok ? 0 : LIBUSB_ERROR_PIPE;
}

void Control(Link &l, Device *dev, const UsbipHeader &h, uint8_t *data, int length) {
    const uint8_t *s = h.setup;
    Call call;
    call.fn = "usbip_control";
    call.device = dev->id;
    call.requestType = s[0];
    call.request = s[1];
    call.value = s[2] | s[3] << 8;
    call.index = s[4] | s[5] << 8;
    call.length = std::min(s[6] | s[7] << 8, length);
    bool toDevice = (s[0] & LIBUSB_ENDPOINT_IN) == 0;
    bool standard = (s[0] & 0x60) == 0;
    bool stringRequest = s[0] == 0x80 && s[1] == LIBUSB_REQUEST_GET_DESCRIPTOR &&
                         (call.value >> 8) == LIBUSB_DT_STRING && (call.value & 0xFF) != 0;
    // Faults are for the program's requests, not the kernel's enumeration;
    // one String fault stands for one libusb string read.
    Fault fault;
    bool faulty = l.configured && (stringRequest || !standard) &&
                  FaultFires(stringRequest ? Op::String : Op::Control, dev->id, &fault);
    if (faulty && fault.code == LIBUSB_ERROR_TIMEOUT) {
        call.result = LIBUSB_ERROR_TIMEOUT;
        Record(call);
        l.held.push_back({h.seqnum, 0});
        return;
    }
    int result = 0;
    if (faulty) {
        result = fault.code != 0 ? fault.code : std::min(fault.transferred, call.length);
    } else if (standard) {
        result = Standard(l, dev, s, data, call.length);
    } else {
        if (dev->fx2 && l.loadStart == 0) l.loadStart = NowMs();
        if (toDevice) call.data.assign(data, data + call.length);
        result = BoardControl(dev, s[0], s[1], static_cast<uint16_t>(call.value),
                              static_cast<uint16_t>(call.index), data, static_cast<uint16_t>(call.length));
    }
    if (!toDevice && result > 0) call.data.assign(data, data + result);
    call.result = result;
    Record(call);
    int actual = result < 0 ? 0 : result;
    Answer(l, h.seqnum, UrbStatus(result < 0 ? result : 0), actual, toDevice ? nullptr : data);
    // A chip whose CPU now runs answered the write, then leaves the bus; its
    // board follows it in the bus order.
    if (!dev->present) {
        std::fprintf(stderr, "kelbsim-usbip: chip %d loaded in %llu ms\n", dev->id,
                     static_cast<unsigned long long>(NowMs() - l.loadStart));
        auto &devices = TheBus().devices;
        for (size_t i = 0; i + 1 < devices.size(); i++) {
            if (devices[i].get() == dev) homes.emplace_back(devices[i + 1]->id, l.port);
        }
        Drop(l);
    }
}

void Bulk(Link &l, Device *dev, const UsbipHeader &h, uint8_t *data, int length) {
    bool in = h.direction == 1;
    Call call;
    call.fn = "usbip_bulk";
    call.device = dev->id;
    call.endpoint = static_cast<int>(h.ep) | (in ? LIBUSB_ENDPOINT_IN : 0);
    call.length = length;
    Fault fault;
    bool faulty = FaultFires(in ? Op::BulkIn : Op::BulkOut, dev->id, &fault);
    if (faulty && fault.unplug) {
        // The board leaves a moment later, with the URB pending.
        dev->present = true;
        call.result = LIBUSB_ERROR_NO_DEVICE;
        Record(call);
        l.held.push_back({h.seqnum, NowMs() + kUsbipHoldMs});
        return;
    }
    int moved = BoardBulk(dev, in, data, length, faulty ? &fault : nullptr);
    bool hold = (faulty && fault.code == LIBUSB_ERROR_TIMEOUT) || (in && dev->silent && !faulty);
    if (moved > 0) call.data.assign(data, data + moved);
    call.transferred = moved;
    call.result = hold ? LIBUSB_ERROR_TIMEOUT : faulty ? fault.code : 0;
    call.forever = in && dev->silent && !faulty;
    Record(call);
    if (hold) {
        l.held.push_back({h.seqnum, 0});
        return;
    }
    Answer(l, h.seqnum, UrbStatus(faulty ? fault.code : 0), moved, in ? data : nullptr);
}

void Unlink(Link &l, const UsbipHeader &h) {
    UsbipHeader r;
    r.command = RET_UNLINK;
    r.seqnum = h.seqnum;
    uint32_t victim = static_cast<uint32_t>(h.field[0]);
    // A URB still held is given back as unlinked; one already answered
    // needs no more than the acknowledgement.
    for (size_t i = 0; i < l.held.size(); i++) {
        if (l.held[i].seqnum != victim) continue;
        l.held.erase(l.held.begin() + static_cast<std::ptrdiff_t>(i));
        r.field[0] = -ECONNRESET;
        break;
    }
    Reply(l, r, nullptr, 0);
}

// One message from the kernel; false when the link is gone.
bool Serve(Link &l) {
    uint8_t raw[kUsbipHeader];
    if (!ReadFull(l.fd, raw, sizeof raw)) return false;
    UsbipHeader h;
    UnpackHeader(raw, &h);
    if (h.command == CMD_UNLINK) {
        Unlink(l, h);
        return true;
    }
    if (h.command != CMD_SUBMIT) return false;
    int length = std::max(0, h.field[1]);
    std::vector<uint8_t> data(static_cast<size_t>(length));
    bool in = h.direction == 1;
    if (!in && length > 0 && !ReadFull(l.fd, data.data(), data.size())) return false;
    Device *dev = FindDevice(l.device);
    if (dev == nullptr || !dev->present) {
        Answer(l, h.seqnum, -ENODEV, 0, nullptr);
    } else if (h.ep == 0) {
        Control(l, dev, h, data.data(), length);
    } else {
        Bulk(l, dev, h, data.data(), length);
    }
    return true;
}

// The board leaves with the URB it holds: vhci ends that URB itself.
uint64_t Unplugs() {
    uint64_t now = NowMs(), wait = 0;
    for (Link &l : links) {
        for (const Held &held : l.held) {
            if (held.unplugAt == 0 || l.fd < 0) continue;
            if (now >= held.unplugAt) {
                Drop(l);
                break;
            }
            if (wait == 0 || held.unplugAt - now < wait) wait = held.unplugAt - now;
        }
    }
    return wait;
}

pid_t Spawn(char **argv, const sigset_t &blocked) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    sigprocmask(SIG_UNBLOCK, &blocked, nullptr);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    execvp(argv[0], argv);
    std::fprintf(stderr, "kelbsim-usbip: %s: %s\n", argv[0], std::strerror(errno));
    _exit(127);
}

}  // namespace
}  // namespace kelbsim

using namespace kelbsim;

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: kelbsim-usbip <program> [<argument>...]\n");
        return 2;
    }
    std::string problems;
    KeepLog(false);  // nothing here reads it back; KELBSIM_LOG still gets every line
    if (!Configure(std::getenv("KELBSIM_BOARDS"), std::getenv("KELBSIM_FAULTS"), &problems)) {
        std::fputs(problems.c_str(), stderr);
    }
    sigset_t blocked;
    sigemptyset(&blocked);
    for (int s : {SIGCHLD, SIGUSR1, SIGTERM, SIGINT}) sigaddset(&blocked, s);
    sigprocmask(SIG_BLOCK, &blocked, nullptr);
    int signals = signalfd(-1, &blocked, SFD_CLOEXEC);

    Sync(true);
    const uint64_t start = NowMs();
    pid_t child = 0;
    int status = 0;
    bool running = true;
    while (running) {
        uint64_t wait = Sync(false);
        uint64_t unplug = Unplugs();
        if (unplug != 0 && (wait == 0 || unplug < wait)) wait = unplug;
        if (child == 0) {
            bool ready = true;
            for (const Link &l : links) ready = ready && (l.fd < 0 || l.configured);
            if (ready || NowMs() - start > kConfigureLimitMs) {
                if (!ready) std::fprintf(stderr, "kelbsim-usbip: not every board was configured\n");
                child = Spawn(argv + 1, blocked);
            } else if (wait == 0 || wait > 20) {
                wait = 20;
            }
        }
        std::vector<pollfd> fds = {{signals, POLLIN, 0}};
        std::vector<size_t> which;
        for (size_t i = 0; i < links.size(); i++) {
            if (links[i].fd < 0) continue;
            fds.push_back({links[i].fd, POLLIN, 0});
            which.push_back(i);
        }
        int ready = poll(fds.data(), fds.size(), wait == 0 ? -1 : static_cast<int>(wait));
        if (ready < 0 && errno != EINTR) break;
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info;
            if (read(signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                if (info.ssi_signo == SIGUSR1) AddBoard(0);
                if (info.ssi_signo == SIGTERM || info.ssi_signo == SIGINT) running = false;
                if (info.ssi_signo == SIGCHLD && child > 0 && waitpid(child, &status, WNOHANG) == child) {
                    running = false;
                }
            }
        }
        for (size_t k = 1; k < fds.size(); k++) {
            Link &l = links[which[k - 1]];
            if ((fds[k].revents & (POLLIN | POLLHUP | POLLERR)) && !Serve(l)) Drop(l);
        }
    }
    for (Link &l : links) Drop(l);
    if (child > 0 && running) kill(child, SIGTERM);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
