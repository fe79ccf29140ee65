// What one call costs through mexFunction, in the stand-in MATLAB against
// the virtual bus: each case builds its inputs once, makes one checked call,
// then repeats the call `kRepeat` times between two callgrind requests, so a
// run under `valgrind --tool=callgrind --collect-atstart=no` leaves one dump
// per case (bench/cgsplit.py splits it).  Run natively it only checks that
// every case works.  `calls firmware <hex>` and `calls hex <hex>` time the
// firmware download and the HEX reader instead.
#include <valgrind/callgrind.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "mexhost.h"
#include "sim/usb/kelbsim.h"
#include "usb/linux/hexfile.h"

namespace {

constexpr int kRepeat = 400;
const char *kModels[] = {"TIRK", "SORVANDEL", "FELDAR", "MORSIVAN", "GASPILODEN"};

using Inputs = std::vector<const mxArray *>;

Inputs WriteValues(int model, const mxArray *port) {
    using namespace kelbhost;
    if (model == 2)
        return {Char("Write"), port, Double(0), Double(0), Doubles(1, 2, {1, -1}),
                Doubles(8, 2, {1, 2, 3, 4, 5, 6, 7, 8, 10, 20, 30, 40, 50, 60, 70, 80})};
    if (model == 4)
        return {Char("Write"), port, Double(0), Double(1000), Double(0.5), Double(-0.25), Double(0)};
    return {Char("Write"), port, Double(0), Double(0), Double(2.5)};
}

[[noreturn]] void Fail(const std::string &what) {
    std::fprintf(stderr, "bench: %s\n", what.c_str());
    std::exit(1);
}

const mxArray *Checked(kelbhost::Module &mex, int nlhs, const Inputs &in, const char *what) {
    kelbhost::CallResult r = mex.Call(nlhs, in);
    if (r.failed) Fail(std::string(what) + ": " + r.error);
    return r.out[0];
}

// One dump named "<name>/<calls>", holding only the repeated calls.
void Measure(kelbhost::Module &mex, const std::string &name, int nlhs, Inputs in) {
    Checked(mex, nlhs, in, name.c_str());
    mxArray *out[2] = {nullptr, nullptr};
    std::string label = name + "/" + std::to_string(kRepeat);
    CALLGRIND_TOGGLE_COLLECT;
    for (int i = 0; i < kRepeat; ++i) mex.Raw(nlhs, out, static_cast<int>(in.size()), in.data());
    CALLGRIND_TOGGLE_COLLECT;
    CALLGRIND_DUMP_STATS_AT(label.c_str());
}

// Write and Read on a board of each model, GetParams, Open+Close.
void Calls() {
    using namespace kelbhost;
    for (int model = 0; model < 5; ++model) {
        Reset();
        kelbsim::Reset();
        Module mex;
        if (!mex.Load()) Fail(mex.LastError());
        kelbsim::AddBoard(model);
        std::string name = std::string(kModels[model]) + "1";
        const mxArray *port = Checked(mex, 1, {Char("Open"), Char(name)}, "Open");
        Measure(mex, name + " Write", 1, WriteValues(model, port));
        Measure(mex, name + " Read", 1, {Char("Read"), port});
        if (model == 0) {
            Measure(mex, "GetParams, object", 1, {Char("GetParams"), port});
            Measure(mex, "GetParams, name", 1, {Char("GetParams"), Char(name)});
            // Open and Close in turn: each pair is counted as two calls.
            Inputs open = {Char("Open"), port}, close = {Char("Close"), port};
            Checked(mex, 1, close, "Close");
            mxArray *out[1] = {nullptr};
            CALLGRIND_TOGGLE_COLLECT;
            for (int i = 0; i < kRepeat; ++i) {
                mex.Raw(1, out, 2, open.data());
                mex.Raw(1, out, 2, close.data());
            }
            CALLGRIND_TOGGLE_COLLECT;
            CALLGRIND_DUMP_STATS_AT(("Open+Close/" + std::to_string(kRepeat)).c_str());
        }
        mex.Exit();
    }
}

// The same TIRK board as the eighth record, after seven names that share
// its first four letters.
void EighthPort() {
    using namespace kelbhost;
    Reset();
    kelbsim::Reset();
    Module mex;
    if (!mex.Load()) Fail(mex.LastError());
    kelbsim::AddBoard(0);
    for (char digit = '2'; digit <= '8'; ++digit)
        Checked(mex, 1, {Char("GetParams"), Char(std::string("TIRK") + digit)}, "GetParams");
    const mxArray *port = Checked(mex, 1, {Char("Open"), Char("TIRK1")}, "Open");
    Measure(mex, "TIRK1 Write, 8th port", 1, WriteValues(0, port));
    Measure(mex, "TIRK1 Read, 8th port", 1, {Char("Read"), port});
    mex.Exit();
}

double CpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Open on a bus with one blank FX2: the download, the (skipped) pause and the
// open of the board it becomes.  Prints the median CPU time in ms.
void Firmware(const char *hex) {
    using namespace kelbhost;
    setenv("ZARVUSB_HEX_FILE", hex, 1);
    std::vector<double> ms;
    for (int round = 0; round < 15; ++round) {
        Reset();
        kelbsim::Reset();
        Module mex;
        if (!mex.Load()) Fail(mex.LastError());
        kelbsim::AddFX2();
        Inputs open = {Char("Open"), Char("TIRK1")};
        double start = CpuSeconds();
        const mxArray *port = Checked(mex, 1, open, "Open after download");
        ms.push_back((CpuSeconds() - start) * 1e3);
        if (kelbsim::SleepCalls().empty()) Fail("no board was programmed");
        Checked(mex, 1, {Char("Close"), port}, "Close");
        mex.Exit();
    }
    std::printf("%.3f\n", Median(ms));
}

int CountBytes(void *target, const HexRecord *record) {
    *static_cast<long *>(target) += record->ByteCount;
    return 0;
}

// The HEX reader alone on the file: prints data bytes and MB/s (median).
void Hex(const char *hex) {
    FILE *f = std::fopen(hex, "rb");
    if (!f) Fail(std::string("cannot open ") + hex);
    std::vector<double> rate;
    long bytes = 0;
    for (int round = 0; round < 50; ++round) {
        std::rewind(f);
        bytes = 0;
        int lastType = 0;
        double start = CpuSeconds();
        if (HexLoad(f, &lastType, CountBytes, &bytes) != HEX_COMPLETE) Fail("the HEX file did not load");
        rate.push_back(static_cast<double>(bytes) / (CpuSeconds() - start) / 1e6);
    }
    std::fclose(f);
    std::printf("%ld %.2f\n", bytes, Median(rate));
}

// A 16 KB image for the virtual FX2: its descriptors, then filler records.
void MakeImage(const char *path) {
    std::string hex = kelbsim::FirmwareHex(kelbsim::DefaultProduct(0));
    hex.erase(hex.find(":00000001FF"));
    char line[64];
    for (unsigned address = 0x0400; address < 0x0400 + 16384; address += 16) {
        unsigned sum = 16 + (address >> 8) + (address & 0xFF);
        int n = std::snprintf(line, sizeof line, ":10%04X00", address);
        for (unsigned i = 0; i < 16; ++i) {
            unsigned byte = (address + i * 7) & 0xFF;
            sum += byte;
            n += std::snprintf(line + n, sizeof line - static_cast<unsigned>(n), "%02X", byte);
        }
        std::snprintf(line + n, sizeof line - static_cast<unsigned>(n), "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
        hex += line;
    }
    hex += ":00000001FF\n";
    FILE *f = std::fopen(path, "w");
    if (!f || std::fputs(hex.c_str(), f) < 0 || std::fclose(f) != 0) Fail(std::string("cannot write ") + path);
}

}  // namespace

int main(int argc, char **argv) {
    std::string what = argc > 1 ? argv[1] : "calls";
    // As in the run-time library, where nothing reads the bus's log back.
    kelbsim::KeepLog(false);
    if (what == "calls") {
        Calls();
        EighthPort();
    } else if (what == "image" && argc > 2) {
        MakeImage(argv[2]);
    } else if (what == "firmware" && argc > 2) {
        Firmware(argv[2]);
    } else if (what == "hex" && argc > 2) {
        Hex(argv[2]);
    } else {
        std::fprintf(stderr, "usage: calls [calls | image <hex> | firmware <hex> | hex <hex>]\n");
        return 2;
    }
    return 0;
}
