// kelbio-scenarios <scenario> [<cycles>]: the built kelbio.mexa64, loaded by
// the stand-in MATLAB host and called through mexFunction, on whatever
// libusb-1.0 and boards the process finds: the real kernel's (inside the
// guest of scripts/stage-kernel.sh, under kelbsim-usbip), umockdev's
// (kelbsim-umock) or the virtual bus (LD_LIBRARY_PATH).  Each scenario names
// the boards it expects (see tests/kernel/guest.sh), prints what it measured
// and one line "<scenario>: ok" or "<scenario>: FAILED", and exits 0 only
// when every check held.
#include <dlfcn.h>
#include <libusb.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "mexhost.h"
#include "sim/plant/plant.h"

using namespace kelbhost;

namespace {

int failures = 0;

void Check(bool ok, const std::string &what) {
    if (ok) return;
    failures++;
    std::printf("  check failed: %s\n", what.c_str());
}

double Seconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void Pause(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

double Scalar(const mxArray *a) { return a != nullptr && mxGetNumberOfElements(a) > 0 ? mxGetScalar(a) : -1; }

struct Session {
    Module mex;
    Session() { Check(mex.Load(), "load " + mex.Path() + ": " + mex.LastError()); }

    CallResult Open(const char *name) { return mex.Call(1, {Char("Open"), Char(name)}); }
    // The port of a successful Open, or null (the check says why).
    const mxArray *OpenOk(const char *name) {
        CallResult r = Open(name);
        Check(!r.failed, std::string("Open ") + name + ": " + r.error);
        return r.failed ? nullptr : r.out[0];
    }
    double Write(const mxArray *port, double cmd, double dout, double dac1, double dac2) {
        if (port == nullptr) return -1;
        CallResult r = mex.Call(1, {Char("Write"), port, Double(cmd), Double(dout), Double(dac1), Double(dac2)});
        return r.failed ? -1 : Scalar(r.out[0]);
    }
    double Read(const mxArray *port, std::vector<double> *data = nullptr) {
        if (port == nullptr) return -1;
        CallResult r = mex.Call(2, {Char("Read"), port});
        if (r.failed) return -1;
        if (data != nullptr && r.out[0] != nullptr) {
            const double *v = mxGetPr(r.out[0]);
            data->assign(v, v + mxGetNumberOfElements(r.out[0]));
        }
        return Scalar(r.out[1]);
    }
    double Field(const mxArray *port, const char *field) {
        CallResult r = mex.Call(1, {Char("GetParams"), port});
        return r.failed ? -1 : Scalar(GetField(r.out[0], field));
    }
    bool Cycle(const mxArray *port) { return Write(port, 0, 0, 0, 0) == 0 && Read(port) == 0; }
    void CloseAll() {
        CallResult r = mex.Call(0, {Char("CloseAll")});
        Check(!r.failed && LockCount() == 0, "CloseAll leaves no lock: " + r.error);
    }
};

// The board's own libusb, opened beside the library's: which board holds a
// claim, and a claim that keeps the library out.  Loaded and let go here so
// that the library's own load and unload decide whether libusb stays mapped.
struct OwnUsb {
    void *lib = dlopen("libusb-1.0.so.0", RTLD_NOW | RTLD_LOCAL);
    libusb_context *ctx = nullptr;
    template <typename F>
    F Fn(const char *name) {
        return reinterpret_cast<F>(lib != nullptr ? dlsym(lib, name) : nullptr);
    }
    OwnUsb() {
        Check(lib != nullptr, "dlopen libusb-1.0.so.0");
        if (lib != nullptr) Fn<int (*)(libusb_context **)>("libusb_init")(&ctx);
    }
    ~OwnUsb() {
        if (ctx != nullptr) Fn<void (*)(libusb_context *)>("libusb_exit")(ctx);
        if (lib != nullptr) dlclose(lib);
    }
    // Opens the board whose product string is `product` and claims its
    // interface 0: the claim's result, or 1 when there is no such board.
    // The handle stays open in *held when the claim worked and `keep` is set.
    int Claim(const std::string &product, bool keep, libusb_device_handle **held) {
        auto list = Fn<ssize_t (*)(libusb_context *, libusb_device ***)>("libusb_get_device_list");
        auto free = Fn<void (*)(libusb_device **, int)>("libusb_free_device_list");
        auto desc = Fn<int (*)(libusb_device *, libusb_device_descriptor *)>("libusb_get_device_descriptor");
        auto open = Fn<int (*)(libusb_device *, libusb_device_handle **)>("libusb_open");
        auto close = Fn<void (*)(libusb_device_handle *)>("libusb_close");
        auto text = Fn<int (*)(libusb_device_handle *, uint8_t, unsigned char *, int)>(
            "libusb_get_string_descriptor_ascii");
        auto claim = Fn<int (*)(libusb_device_handle *, int)>("libusb_claim_interface");
        auto release = Fn<int (*)(libusb_device_handle *, int)>("libusb_release_interface");
        if (ctx == nullptr) return 1;
        libusb_device **devices = nullptr;
        ssize_t n = list(ctx, &devices);
        int result = 1;
        for (ssize_t i = 0; i < n && result == 1; i++) {
            libusb_device_descriptor d;
            libusb_device_handle *h = nullptr;
            if (desc(devices[i], &d) != 0 || d.iProduct == 0 || open(devices[i], &h) != 0) continue;
            unsigned char name[200] = {};
            if (text(h, d.iProduct, name, sizeof name) > 0 && product == reinterpret_cast<char *>(name)) {
                result = claim(h, 0);
                if (result == 0 && keep) {
                    *held = h;
                    break;
                }
                if (result == 0) release(h, 0);
            }
            close(h);
        }
        if (n >= 0) free(devices, 1);
        return result;
    }
    void Let(libusb_device_handle *h) {
        Fn<int (*)(libusb_device_handle *, int)>("libusb_release_interface")(h, 0);
        Fn<void (*)(libusb_device_handle *)>("libusb_close")(h);
    }
};

// The bus id of the board that took the last bulk OUT packet, from the
// boards' log (KELBSIM_LOG); 0 when there is none.
int WrittenTo() {
    const char *path = std::getenv("KELBSIM_LOG");
    FILE *log = path != nullptr ? std::fopen(path, "r") : nullptr;
    if (log == nullptr) return 0;
    char line[512];
    int device = 0, id = 0;
    while (std::fgets(line, sizeof line, log) != nullptr) {
        if (std::strstr(line, " ep=02 ") != nullptr && std::sscanf(line, "%*s dev=%d", &id) == 1) device = id;
    }
    std::fclose(log);
    return device;
}

// Open with ZARVUSB_HEX_FILE on two blank chips, a FELDAR board between them:
// one download each, one message and one pause, then the boards by tag.
void Firmware() {
    Session s;
    double start = Seconds();
    CallResult r = s.Open("TIRK1");
    double first = Seconds() - start;
    Check(!r.failed, "Open TIRK1 after the download: " + r.error);
    Check(r.printed == "FX2 device(s) initialized, waiting for re-enumeration.\n", "one message: " + r.printed);
    Check(first >= 3, "the 3 s pause");
    const mxArray *t1 = r.failed ? nullptr : r.out[0];
    start = Seconds();
    r = s.Open("TIRK2");
    double second = Seconds() - start;
    Check(!r.failed && r.printed.empty(), "Open TIRK2, the second chip, with nothing left to program: " + r.error);
    const mxArray *t2 = r.failed ? nullptr : r.out[0];
    const mxArray *f1 = s.OpenOk("FELDAR1");
    Check(s.Cycle(t1), "a Write/Read cycle on TIRK1");
    int tirk1 = WrittenTo();
    Check(s.Cycle(t2), "a Write/Read cycle on TIRK2");
    int tirk2 = WrittenTo();
    // Chips 1 and 3 come back as bus ids 4 and 5, on their own ports.
    Check(tirk1 == 4 && tirk2 == 5, "TIRK1 is the first chip's board and TIRK2 the second's, not " +
                                        std::to_string(tirk1) + " and " + std::to_string(tirk2));
    Check(f1 != nullptr && s.Read(f1) == 0, "a Read on FELDAR1");
    Check(s.Open("TIRK3").failed, "no third TIRK board");
    s.CloseAll();
    std::printf("firmware: Open with two downloads %.2f s (3 s pause included), Open of a programmed board %.2f s\n",
                first, second);
}

// Two boards of one model and one of another: TIRK2 reaches the second TIRK
// board in the bus order; the board the library holds refuses a second claim.
void Models() {
    Session s;
    const mxArray *t2 = s.OpenOk("TIRK2");
    {
        OwnUsb usb;
        libusb_device_handle *none = nullptr;
        Check(usb.Claim("Rig B (0.0)", false, &none) == LIBUSB_ERROR_BUSY, "TIRK2 holds Rig B");
        Check(usb.Claim("Rig A (0.0)", false, &none) == 0, "Rig A is free");
    }
    const mxArray *t1 = s.OpenOk("TIRK1");
    const mxArray *f1 = s.OpenOk("FELDAR1");
    Check(s.Cycle(t1) && s.Cycle(t2), "a cycle on each TIRK board");
    Check(f1 != nullptr && s.Read(f1) == 0, "a Read on FELDAR1");
    s.CloseAll();
}

// What ReadTIRK makes of a block, computed as the library documents it.
std::vector<double> TirkRows(const uint8_t *b, int32_t *previous) {
    auto u16 = [&](int at) { return static_cast<unsigned>(b[at] | b[at + 1] << 8); };
    auto u24 = [&](int at) { return static_cast<int32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16); };
    int32_t count = u24(18) >= 0x800000 ? u24(18) - 0x1000000 : u24(18);
    int32_t period = u24(21);
    double speed = period == 0xFFFFFF ? 0 : 603185.7894892403 / period;
    if (b[31] & 0x80) speed = -speed;
    int32_t delta = count - *previous;
    *previous = count;
    return {static_cast<double>(b[31] & 0x7F), u16(16) * 1e-6, count * 6.283185307179586 / 2000, speed,
            u16(25) * 6.0 / 65535 - 3, u16(27) * 25.0 / 65535 - 12.5, u16(27) * 20.0 / 65535 - 10,
            static_cast<double>(b[24]), (delta * 6.283185307179586) / ((b[31] * 2000) * 1e-6)};
}

void Put16(uint8_t *at, unsigned value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

// Write/Read cycles on a TIRK board, each packet also given to a plant of
// our own: every block the library decodes must be the one that plant makes.
void Cycles(int cycles) {
    Session s;
    const mxArray *p = s.OpenOk("TIRK1");
    if (p == nullptr) return;
    double watchdog = s.Field(p, "WatchdogTimeout");
    kelbsim::Plant *plant = kelbsim::PlantCreate(0);
    int32_t previous = 0;
    auto send = [&](int cmd, int dout, double dac1, double dac2) {
        uint8_t packet[8] = {static_cast<uint8_t>(cmd)};
        Put16(packet + 1, static_cast<unsigned>((dac1 + 10) * 65535 / 20 + 0.5));
        Put16(packet + 3, static_cast<unsigned>((dac2 + 10) * 65535 / 20 + 0.5));
        packet[5] = static_cast<uint8_t>(dout);
        Put16(packet + 6, static_cast<unsigned>(watchdog / 0.00025));
        kelbsim::PlantReceive(plant, packet, sizeof packet);
        if (cmd & 1) previous = 0;
        return s.Write(p, cmd, dout, dac1, dac2);
    };
    Check(send(1, 0, 0, 0) == 0, "the first Write");
    int wrong = 0, failed = 0;
    std::vector<double> d;
    double start = Seconds();
    for (int k = 0; k < cycles; k++) {
        double dac1 = (k % 41 - 20) * 0.5, dac2 = ((k * 7) % 41 - 20) * 0.25;
        failed += send(0, k & 0xFF, dac1, dac2) != 0;
        failed += s.Read(p, &d) != 0;
        uint8_t block[kelbsim::kInputBlockSize];
        kelbsim::PlantBlock(plant, block);
        if (d != TirkRows(block, &previous) && wrong++ < 3) {
            std::printf("  cycle %d: the block decoded differs from the plant's\n", k);
        }
    }
    double each = (Seconds() - start) / cycles;
    kelbsim::PlantDestroy(plant);
    Check(failed == 0, std::to_string(failed) + " transfers failed");
    Check(wrong == 0, std::to_string(wrong) + " blocks differ from the plant's");
    s.CloseAll();
    std::printf("cycles: %d Write+Read cycles, %.1f us each\n", cycles, each * 1e6);
}

// A board that stalls its second packet and never answers the first Read:
// status 16 with the stall's code, the read's time limit with the time-out's
// code, then a good cycle.
void Silent() {
    Session s;
    const mxArray *p = s.OpenOk("TIRK1");
    Check(s.Write(p, 0, 0, 0, 0) == 0, "Write before the stall");
    Check(s.Write(p, 0, 0, 0, 0) == 16, "the stalled Write gives 16");
    Check(s.Field(p, "WriteError") == 4294967287.0, "WriteError is LIBUSB_ERROR_PIPE");
    double start = Seconds();
    double status = s.Read(p);
    double waited = Seconds() - start;
    Check(status == 16, "the silent Read gives 16, not " + std::to_string(status));
    Check(waited > 9.5 && waited < 15, "the Read ends at its 10 s limit");
    Check(s.Field(p, "ReadError") == 4294967289.0, "ReadError is LIBUSB_ERROR_TIMEOUT");
    Check(s.Cycle(p), "a good cycle after it");
    s.CloseAll();
    std::printf("silent: the Read gave up after %.2f s\n", waited);
}

// An unplug during a pending Read: status and code, the port still closable;
// then a board plugged in and opened.
void Unplug() {
    Session s;
    const mxArray *p = s.OpenOk("TIRK1");
    Check(s.Write(p, 0, 0, 0, 0) == 0, "Write before the unplug");
    double start = Seconds();
    double status = s.Read(p);
    double waited = Seconds() - start;
    Check(status == 16, "the Read pending at the unplug gives 16, not " + std::to_string(status));
    Check(waited < 5, "the unplug, not the time limit, ends it");
    Check(s.Field(p, "ReadError") == 4294967292.0, "ReadError is LIBUSB_ERROR_NO_DEVICE");
    Check(s.Read(p) == 16 && s.Write(p, 0, 0, 0, 0) == 16, "the port stays open and fails with 16");
    Check(s.Field(p, "WriteError") == 4294967292.0, "WriteError is LIBUSB_ERROR_NO_DEVICE");
    CallResult r = s.mex.Call(1, {Char("Close"), p});
    Check(!r.failed && Scalar(r.out[0]) == 0 && LockCount() == 0, "Close of the unplugged port: " + r.error);
    Check(s.Open("TIRK1").failed, "no board while it is unplugged");
    kill(getppid(), SIGUSR1);
    start = Seconds();
    CallResult again;
    do {
        Pause(0.2);
        again = s.Open("TIRK1");
    } while (again.failed && Seconds() - start < 10);
    Check(!again.failed, "Open of the board plugged in: " + again.error);
    Check(!again.failed && s.Cycle(again.out[0]), "a cycle on it");
    s.CloseAll();
    std::printf("unplug: the pending Read ended after %.2f s; the new board opened after %.2f s\n", waited,
                Seconds() - start);
}

// CloseAll and the unload with a refused claim kept in a record, then a USB
// event: a libusb context left behind would run its event thread in
// unmapped code and end this process here.
void Hotplug() {
    Session s;
    {
        OwnUsb usb;
        libusb_device_handle *held = nullptr;
        Check(usb.Claim("KELBIO TIRK board (0.0)", true, &held) == 0, "our own claim on the board");
        CallResult r = s.Open("TIRK1");
        Check(r.failed && r.error == "Unable to claim USB interface: LIBUSB_ERROR_BUSY.\n",
              "the refused claim: " + r.error);
        if (held != nullptr) usb.Let(held);
    }
    s.CloseAll();
    Check(s.mex.Unload(), "clear kelbio");
    kill(getppid(), SIGUSR1);
    Pause(2);  // the event reaches every listener
    Check(s.mex.Load(), "load again");
    double start = Seconds();
    CallResult r;
    do {
        r = s.Open("TIRK2");
        if (r.failed) Pause(0.2);
    } while (r.failed && Seconds() - start < 10);
    Check(!r.failed && s.Cycle(r.out[0]), "the board plugged in, as TIRK2: " + r.error);
    s.CloseAll();
}

}  // namespace

int main(int argc, char **argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    std::string name = argc > 1 ? argv[1] : "";
    Reset();
    if (name == "firmware") {
        Firmware();
    } else if (name == "models") {
        Models();
    } else if (name == "cycles") {
        Cycles(argc > 2 ? std::atoi(argv[2]) : 3000);
    } else if (name == "silent") {
        Silent();
    } else if (name == "unplug") {
        Unplug();
    } else if (name == "hotplug") {
        Hotplug();
    } else {
        std::fprintf(stderr, "usage: kelbio-scenarios firmware|models|cycles [n]|silent|unplug|hotplug\n");
        return 2;
    }
    std::printf("%s: %s\n", name.c_str(), failures == 0 ? "ok" : "FAILED");
    return failures == 0 ? 0 : 1;
}
