// kelbsim-umock: the emulated sysfs and usbfs for the virtual boards, and
// the program that runs against them (umock.h says how to use it).
#include <glib-unix.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "sim/umock/umock.h"
#include "sim/usb/bus.h"

namespace kelbsim {
namespace {

UMockdevTestbed *testbed = nullptr;
std::map<int, std::string> published;  // bus id -> sysfs path, while on the bus
std::vector<std::string> retired;      // paths of devices that left

// libusb lists devices in the reverse of udev's order, which sorts them by
// sysfs path: ports counted down from 99 keep the bus order of sim/usb.
std::string SysfsPath(size_t position) {
    int port = 99 - static_cast<int>(position);
    std::string path;
    for (bool used = true; used && port > 0; port--) {
        path = "/sys/devices/kelbsim/usb1/1-" + std::to_string(port);
        used = false;
        for (auto &entry : published) used = used || entry.second == path;
        for (const std::string &old : retired) used = used || old == path;
    }
    return path;
}

std::string NodeName(int id) {
    char name[32];
    std::snprintf(name, sizeof name, "bus/usb/001/%03d", id);
    return name;
}

// The device and configuration descriptors, as sysfs's "descriptors" file
// holds them: every endpoint on the first interface.
std::string DescriptorsHex(const Identity &id) {
    std::vector<uint8_t> d = DeviceDescriptor(id);
    std::vector<uint8_t> c = ConfigDescriptor(id);
    d.insert(d.end(), c.begin(), c.end());
    std::string hex;
    char two[3];
    for (uint8_t b : d) {
        std::snprintf(two, sizeof two, "%02X", b);
        hex += two;
    }
    return hex;
}

std::string SysfsRecord(const Device &dev, const std::string &syspath) {
    char text[2048];
    const Identity &id = dev.identity;
    std::snprintf(text, sizeof text,
                  "P: %s\n"
                  "N: %s\n"
                  "E: DEVNAME=/dev/%s\nE: DEVTYPE=usb_device\nE: SUBSYSTEM=usb\n"
                  "E: BUSNUM=001\nE: DEVNUM=%03d\nE: PRODUCT=%x/%x/100\n"
                  "A: busnum=1\nA: devnum=%d\nA: idVendor=%04x\nA: idProduct=%04x\n"
                  "A: speed=480\nA: bConfigurationValue=1\nA: bNumConfigurations=1\n"
                  "H: descriptors=%s\n",
                  syspath.c_str() + 4, NodeName(dev.id).c_str(), NodeName(dev.id).c_str(), dev.id, id.vendorId,
                  id.productId, dev.id, id.vendorId, id.productId, DescriptorsHex(id).c_str());
    return text;
}

gboolean SyncNow(gpointer);

// Boards that left go with a "remove" uevent; boards due on the bus get
// their node's handler first, then their sysfs entry (and an "add" uevent).
void Sync() {
    std::vector<int> leave;
    std::vector<std::pair<int, std::string>> arrive;
    uint64_t wait = 0;
    {
        std::lock_guard<std::mutex> lock(BusLock());
        uint64_t now = NowMs();
        for (size_t position = 0; position < TheBus().devices.size(); position++) {
            Device *dev = TheBus().devices[position].get();
            bool shown = published.count(dev->id) != 0;
            if (shown && !dev->present) leave.push_back(dev->id);
            if (shown || !dev->present) continue;  // a board that left never comes back
            if (now >= dev->appearsAt) {
                std::string path = SysfsPath(position);
                arrive.emplace_back(dev->id, SysfsRecord(*dev, path));
                published[dev->id] = path;
            } else if (wait == 0 || dev->appearsAt - now < wait) {
                wait = dev->appearsAt - now;
            }
        }
    }
    for (int id : leave) {
        umockdev_testbed_uevent(testbed, published[id].c_str(), "remove");
        umockdev_testbed_remove_device(testbed, published[id].c_str());
        retired.push_back(published[id]);
        published.erase(id);
    }
    for (auto &[id, record] : arrive) {
        // The old node's handler stays: an fd still open on it gets ENODEV.
        UMockdevIoctlBase *handler = umockdev_ioctl_base_new();
        ServeUsbfs(handler, id);
        GError *error = nullptr;
        std::string node = "/dev/" + NodeName(id);
        if (!umockdev_testbed_attach_ioctl(testbed, node.c_str(), handler, &error) ||
            !umockdev_testbed_add_from_string(testbed, record.c_str(), &error)) {
            std::fprintf(stderr, "kelbsim-umock: device %d: %s\n", id, error->message);
            g_clear_error(&error);
        }
        g_object_unref(handler);
    }
    if (wait != 0) g_timeout_add(static_cast<guint>(wait), SyncNow, nullptr);
}

gboolean SyncNow(gpointer) {
    Sync();
    return G_SOURCE_REMOVE;
}

gboolean PlugBoard(gpointer) {
    {
        std::lock_guard<std::mutex> lock(BusLock());
        AddBoard(0);
    }
    Sync();
    return G_SOURCE_CONTINUE;
}

struct Child {
    GMainLoop *loop = nullptr;
    int status = 0;
};

void ChildDone(GPid, gint status, gpointer data) {
    auto *child = static_cast<Child *>(data);
    child->status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    g_main_loop_quit(child->loop);
}

// A test runner that kills this process on a time-out ends the program too.
void DieWithParent(gpointer) { prctl(PR_SET_PDEATHSIG, SIGTERM); }

}  // namespace

void RequestSync() { g_idle_add(SyncNow, nullptr); }

}  // namespace kelbsim

using namespace kelbsim;

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: kelbsim-umock <program> [<argument>...]\n");
        return 2;
    }
    // This process and the program both run under umockdev's preload: the
    // testbed sends its uevents through the emulated sysfs.  ASan would
    // otherwise refuse to start behind the preload.
    const char *preload = std::getenv("LD_PRELOAD");
    if (preload == nullptr || std::strstr(preload, "libumockdev-preload") == nullptr) {
        std::string chain = "libumockdev-preload.so.0";
        if (preload != nullptr && *preload != '\0') chain += std::string(":") + preload;
        const char *asan = std::getenv("ASAN_OPTIONS");
        std::string options = "verify_asan_link_order=0";
        if (asan != nullptr && *asan != '\0') options = std::string(asan) + ":" + options;
        setenv("LD_PRELOAD", chain.c_str(), 1);
        setenv("ASAN_OPTIONS", options.c_str(), 1);
        execv("/proc/self/exe", argv);
        std::perror("kelbsim-umock: /proc/self/exe");
        return 127;
    }
    testbed = umockdev_testbed_new();
    KeepLog(false);  // nothing here reads it back; KELBSIM_LOG still gets every line
    if (!Configure(std::getenv("KELBSIM_BOARDS"), std::getenv("KELBSIM_FAULTS"))) {
        std::fprintf(stderr, "kelbsim: KELBSIM_BOARDS or KELBSIM_FAULTS has entries it cannot use\n");
    }
    Sync();

    Child child;
    child.loop = g_main_loop_new(nullptr, FALSE);
    GPid pid = 0;
    GError *error = nullptr;
    auto flags = static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD |
                                          G_SPAWN_CHILD_INHERITS_STDIN);
    g_unix_signal_add(SIGUSR1, PlugBoard, nullptr);
    if (!g_spawn_async(nullptr, argv + 1, nullptr, flags, DieWithParent, nullptr, &pid, &error)) {
        std::fprintf(stderr, "kelbsim-umock: %s: %s\n", argv[1], error->message);
        return 127;
    }
    g_child_watch_add(pid, ChildDone, &child);
    g_main_loop_run(child.loop);
    g_main_loop_unref(child.loop);
    g_object_unref(testbed);
    return child.status;
}
