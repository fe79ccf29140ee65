// SPDX-License-Identifier: MIT
// The state of the virtual bus and the test-facing calls on it.
#include <strings.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "sim/usb/bus.h"

namespace kelbsim {

static constexpr const char *kModelNames[] = {"TIRK", "SORVANDEL", "FELDAR", "MORSIVAN",
                                              "GASPILODEN"};
static constexpr int kModelCount = 5;

Bus &TheBus() {
    static Bus bus;
    return bus;
}

Device *FindDevice(int id) {
    for (auto &dev : TheBus().devices) {
        if (dev->id == id) return dev.get();
    }
    return nullptr;
}

uint64_t NowMs() {
    using namespace std::chrono;
    static const steady_clock::time_point start = steady_clock::now();
    auto real = duration_cast<milliseconds>(steady_clock::now() - start).count();
    return static_cast<uint64_t>(real) + TheBus().virtualMs;
}

static bool Listed(const Device &dev) { return dev.present && NowMs() >= dev.appearsAt; }

std::string DefaultProduct(int model) {
    if (model < 0 || model >= kModelCount) return "KELBIO board";
    return std::string("KELBIO ") + kModelNames[model] + " board (0." + std::to_string(model) + ")";
}

int ModelOfProduct(const std::string &product) {
    size_t open = product.rfind('(');
    if (open == std::string::npos) return kNoModel;
    std::string tag = product.substr(open);
    for (int m = 0; m < kModelCount; m++) {
        if (tag == "(0." + std::to_string(m) + ")") return m;
    }
    return kNoModel;
}

Device *AddDevice(Identity identity, int model, bool silent, size_t position) {
    Bus &bus = TheBus();
    auto dev = std::make_unique<Device>();
    dev->id = bus.nextId++;
    dev->usb.id = dev->id;
    dev->identity = std::move(identity);
    dev->model = model;
    dev->silent = silent;
    if (model != kNoModel) dev->plant.reset(PlantCreate(model));
    Device *raw = dev.get();
    if (position > bus.devices.size()) position = bus.devices.size();
    bus.devices.insert(bus.devices.begin() + static_cast<std::ptrdiff_t>(position), std::move(dev));
    return raw;
}

int AddBoard(const BoardSetup &setup) {
    Identity id;
    id.vendorId = setup.vendorId;
    id.productId = setup.productId;
    id.strings = {"", "KELBIO", setup.product.empty() ? DefaultProduct(setup.model) : setup.product};
    id.iManufacturer = 1;
    id.iProduct = setup.hasProduct ? 2 : 0;
    id.interfaces = {0};
    id.endpoints = {0x02, 0x86};
    return AddDevice(std::move(id), setup.model, setup.silent, TheBus().devices.size())->id;
}

int AddBoard(int model) {
    BoardSetup setup;
    setup.model = model;
    return AddBoard(setup);
}

int AddFX2() {
    // The chip's own descriptors: no strings; interface 0 with the loader's
    // endpoints.
    Identity id;
    id.vendorId = 0x04B4;
    id.productId = 0x8613;
    id.strings = {""};
    id.interfaces = {0};
    id.endpoints = {0x01, 0x81, 0x02, 0x04, 0x86, 0x88};
    Device *dev = AddDevice(std::move(id), kNoModel, false, TheBus().devices.size());
    dev->fx2 = true;
    dev->cpuReset = true;
    dev->memory[kCPUCS] = 1;
    return dev->id;
}

void Unplug(int device) {
    if (Device *dev = FindDevice(device)) dev->present = false;
}

std::vector<int> Devices() {
    std::vector<int> ids;
    for (auto &dev : TheBus().devices) {
        if (Listed(*dev)) ids.push_back(dev->id);
    }
    return ids;
}

bool Present(int device) {
    Device *dev = FindDevice(device);
    return dev != nullptr && Listed(*dev);
}

std::string Product(int device) {
    Device *dev = FindDevice(device);
    if (dev == nullptr || dev->identity.iProduct == 0 ||
        dev->identity.iProduct >= dev->identity.strings.size()) {
        return "";
    }
    return dev->identity.strings[dev->identity.iProduct];
}

int Model(int device) {
    Device *dev = FindDevice(device);
    return dev != nullptr ? dev->model : kNoModel;
}

uint16_t VendorId(int device) {
    Device *dev = FindDevice(device);
    return dev != nullptr ? dev->identity.vendorId : 0;
}

uint16_t ProductId(int device) {
    Device *dev = FindDevice(device);
    return dev != nullptr ? dev->identity.productId : 0;
}

std::vector<uint8_t> Memory(int device) {
    Device *dev = FindDevice(device);
    if (dev == nullptr) return {};
    return std::vector<uint8_t>(dev->memory.begin(), dev->memory.end());
}

bool CpuInReset(int device) {
    Device *dev = FindDevice(device);
    return dev != nullptr && dev->cpuReset;
}

void QueueInput(int device, const std::vector<uint8_t> &bytes) {
    Device *dev = FindDevice(device);
    if (dev == nullptr) return;
    // The rest of a plant block the host has begun comes before them.
    dev->input.insert(dev->input.end(), dev->block.begin() + dev->blockAt, dev->block.begin() + dev->blockEnd);
    dev->blockAt = dev->blockEnd;
    dev->input.insert(dev->input.end(), bytes.begin(), bytes.end());
}

std::vector<std::vector<uint8_t>> Received(int device) {
    Device *dev = FindDevice(device);
    return dev != nullptr ? dev->received : std::vector<std::vector<uint8_t>>{};
}

void Script(const Fault &fault) { TheBus().faults.push_back(fault); }

bool FaultFires(Op op, int device, Fault *fired) {
    auto &faults = TheBus().faults;
    for (size_t i = 0; i < faults.size(); i++) {
        Fault &f = faults[i];
        if (f.op != op || (f.device != 0 && f.device != device)) continue;
        if (f.skip > 0) {
            f.skip--;
            continue;
        }
        *fired = f;
        if (f.times > 0 && --f.times == 0) faults.erase(faults.begin() + static_cast<std::ptrdiff_t>(i));
        if (fired->unplug) Unplug(device);
        return true;
    }
    return false;
}

bool FaultFails(Op op, int device, int *code) {
    Fault fault;
    if (!FaultFires(op, device, &fault) || fault.code == 0) return false;
    *code = fault.code;
    return true;
}

static std::string Hex(const std::vector<uint8_t> &data) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t b : data) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

std::string Describe(const Call &c) {
    char line[256];
    const std::string &f = c.fn;
    if (f == "libusb_control_transfer" || f == "usbfs_control" || f == "usbip_control") {
        std::snprintf(line, sizeof line, "%s dev=%d setup=%02x %02x %04x %04x %04x timeout=%u -> %d",
                      f.c_str(), c.device, c.requestType, c.request, c.value, c.index, c.length,
                      c.timeout, c.result);
    } else if (f == "libusb_bulk_transfer" || f == "usbfs_bulk" || f == "usbip_bulk") {
        std::snprintf(line, sizeof line, "%s dev=%d ep=%02x len=%d timeout=%u -> %d moved=%d%s",
                      f.c_str(), c.device, c.endpoint, c.length, c.timeout, c.result, c.transferred,
                      c.forever ? " forever" : "");
    } else if (f == "libusb_claim_interface" || f == "libusb_release_interface" ||
               f == "usbfs_claim" || f == "usbfs_release") {
        std::snprintf(line, sizeof line, "%s dev=%d iface=%d -> %d", f.c_str(), c.device, c.iface,
                      c.result);
    } else if (f == "libusb_get_string_descriptor_ascii") {
        std::snprintf(line, sizeof line, "%s dev=%d index=%d len=%d -> %d", f.c_str(), c.device,
                      c.index, c.length, c.result);
    } else if (f == "sleep") {
        std::snprintf(line, sizeof line, "sleep %d", c.length);
    } else {
        std::snprintf(line, sizeof line, "%s dev=%d -> %d", f.c_str(), c.device, c.result);
    }
    std::string text = line;
    if (!c.data.empty()) text += " data=" + Hex(c.data);
    if (!c.text.empty()) text += " text=\"" + c.text + "\"";
    return text;
}

#ifdef KELBSIM_FROM_ENV
static bool keepLog = false;
#else
static bool keepLog = true;
#endif

void KeepLog(bool on) { keepLog = on; }

static const char *LogPath() {
    static const char *path = std::getenv("KELBSIM_LOG");
    return path != nullptr && *path != '\0' ? path : nullptr;
}

bool Logging() { return keepLog || LogPath() != nullptr; }

void Record(const Call &call) {
    if (keepLog) KeepRecent(&TheBus().log, call);
    if (const char *path = LogPath()) {
        if (FILE *file = std::fopen(path, "a")) {
            std::fprintf(file, "%s\n", Describe(call).c_str());
            std::fclose(file);
        }
    }
}

const std::vector<Call> &Log() { return TheBus().log; }

std::vector<Call> Calls(const std::string &fn) {
    std::vector<Call> calls;
    for (const Call &c : TheBus().log) {
        if (c.fn == fn) calls.push_back(c);
    }
    return calls;
}

void ClearLog() { TheBus().log.clear(); }

Counts Alive() {
    const Bus &bus = TheBus();
    Counts n;
    for (auto &c : bus.contexts) n.contexts += c->alive;
    for (auto &h : bus.handles) {
        if (!h->open) continue;
        n.handles++;
        n.claims += static_cast<int>(h->claimed.size());
    }
    for (auto &l : bus.lists) n.lists += l->alive;
    for (auto &d : bus.devices) n.deviceRefs += d->usb.refs;
    n.misuse = bus.misuse;
    return n;
}

void Sleep(unsigned int seconds) {
    Bus &bus = TheBus();
    bus.virtualMs += 1000ull * seconds;
    bus.sleeps.push_back(seconds);
    Call c;
    c.fn = "sleep";
    c.length = static_cast<int>(seconds);
    Record(c);
}

std::vector<unsigned int> SleepCalls() { return TheBus().sleeps; }

void SetReenumDelay(unsigned int ms) { TheBus().reenumDelayMs = ms; }

void Reset() {
    // The small objects the product may still point at are kept, dead, so
    // their addresses are not handed out again and a stale pointer counts as
    // misuse; the devices with their memory, the log and the rest go.
    static Bus graveyard;
    Bus &bus = TheBus();
    for (auto &c : bus.contexts) c->alive = false;
    for (auto &h : bus.handles) h->open = false;
    for (auto &l : bus.lists) l->alive = false;
    auto bury = [](auto &from, auto &to) {
        for (auto &object : from) to.push_back(std::move(object));
    };
    bury(bus.contexts, graveyard.contexts);
    bury(bus.handles, graveyard.handles);
    bury(bus.lists, graveyard.lists);
    uint64_t clock = bus.virtualMs;
    int nextId = bus.nextId;  // ids are never reused, so old pointers find nothing
    bus = Bus();
    bus.virtualMs = clock;
    bus.nextId = nextId;
}

static std::vector<std::string> Split(const std::string &text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

static bool ParseCode(const std::string &text, int *code) {
    for (int c = 0; c >= LIBUSB_ERROR_OTHER; c--) {
        if (strcasecmp(text.c_str(), libusb_error_name(c)) == 0) {
            *code = c;
            return true;
        }
    }
    char *end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0') return false;
    *code = static_cast<int>(value);
    return true;
}

// What a user who mistyped a word should read: the entry, and the words that
// would have worked.
static std::string UnknownBoard(const std::string &entry) {
    std::string text = "kelbsim: unknown board \"" + entry + "\" in KELBSIM_BOARDS; the boards are";
    for (int m = 0; m < kModelCount; m++) text += std::string(m == 0 ? " " : ", ") + kModelNames[m];
    return text + " and FX2 (a chip without firmware)\n";
}

bool Configure(const char *boards, const char *faults, std::string *problems) {
    bool ok = true;
    std::string said;
    // Devices in faults count from the first board named here; ids are
    // handed out in order, so a chip that comes back continues the count.
    const int base = TheBus().nextId - 1;
    for (const std::string &entry : Split(boards != nullptr ? boards : "", ';')) {
        size_t eq = entry.find('=');
        std::string kind = entry.substr(0, eq);
        if (kind.empty()) continue;
        bool known = false;
        if (strcasecmp(kind.c_str(), "FX2") == 0) {
            AddFX2();
            known = true;
        }
        for (int m = 0; m < kModelCount && !known; m++) {
            if (strcasecmp(kind.c_str(), kModelNames[m]) != 0) continue;
            BoardSetup setup;
            setup.model = m;
            if (eq != std::string::npos) setup.product = entry.substr(eq + 1);
            AddBoard(setup);
            known = true;
        }
        if (!known) said += UnknownBoard(kind);
        ok = ok && known;
    }
    static constexpr const char *kOps[] = {"Init", "List", "Descriptor", "Open", "Claim",
                                           "Release", "String", "Control", "BulkOut", "BulkIn"};
    for (const std::string &entry : Split(faults != nullptr ? faults : "", ';')) {
        if (entry.empty()) continue;
        std::vector<std::string> f = Split(entry, ':');
        Fault fault;
        bool valid = f.size() >= 3 && f.size() <= 7;
        int op = -1;
        for (int k = 0; valid && k < 10; k++) {
            if (strcasecmp(f[0].c_str(), kOps[k]) == 0) op = k;
        }
        valid = valid && op >= 0;
        int numbers[4] = {0, 0, 1, 0};  // device, skip, times, transferred
        const size_t at[4] = {1, 3, 4, 5};
        for (int k = 0; valid && k < 4; k++) {
            if (at[k] < f.size()) valid = ParseCode(f[at[k]], &numbers[k]);
        }
        valid = valid && ParseCode(f[2], &fault.code);
        if (valid && f.size() == 7) {
            valid = strcasecmp(f[6].c_str(), "unplug") == 0;
            fault.unplug = valid;
        }
        if (!valid) {
            said += "kelbsim: cannot use fault \"" + entry + "\" in KELBSIM_FAULTS; a fault is"
                    " <op>:<device>:<code>[:<skip>[:<times>[:<transferred>[:unplug]]]], <op> one of";
            for (int k = 0; k < 10; k++) said += std::string(k == 0 ? " " : ", ") + kOps[k];
            said += "\n";
            ok = false;
            continue;
        }
        fault.op = static_cast<Op>(op);
        fault.device = numbers[0] > 0 ? base + numbers[0] : 0;
        fault.skip = numbers[1];
        fault.times = numbers[2];
        fault.transferred = numbers[3];
        Script(fault);
    }
    if (problems != nullptr) *problems = said;
    return ok;
}

void ConfigureFromEnvironment() {
    static bool done = false;
    if (done) return;
    done = true;
    std::string problems;
    Configure(std::getenv("KELBSIM_BOARDS"), std::getenv("KELBSIM_FAULTS"), &problems);
    const char *clock = std::getenv("KELBSIM_CLOCK");
    TheBus().wallClock = clock != nullptr && std::string(clock) == "wall";
    std::fputs(problems.c_str(), stderr);
}

}  // namespace kelbsim
