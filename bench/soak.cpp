// Soak run of the built plug-in in the stand-in MATLAB on the virtual bus:
// 10,000 Open/Close cycles, then 1,000,000 Write/Read cycles on one TIRK
// board.  Prints resident memory, open file descriptors, threads and the
// libusb objects still alive at the start, between the phases and at the
// end, and asks LeakSanitizer (when linked in) for leaks at the start and
// the end.  Exit status 1 when a call fails or anything is left behind.
#include <dirent.h>
#include <sanitizer/lsan_interface.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "hoststate.h"
#include "mexhost.h"
#include "sim/usb/bus.h"

extern "C" int __lsan_do_recoverable_leak_check() __attribute__((weak));

namespace {

long StatusField(const char *name) {
    FILE *f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long value = -1;
    size_t n = std::strlen(name);
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, name, n) == 0 && line[n] == ':') value = std::strtol(line + n + 1, nullptr, 10);
    std::fclose(f);
    return value;
}

int OpenDescriptors() {
    DIR *d = opendir("/proc/self/fd");
    if (!d) return -1;
    int n = 0;
    while (dirent *e = readdir(d))
        if (e->d_name[0] != '.') n++;
    closedir(d);
    return n - 1;  // the one opendir holds
}

void Figures(const char *when) {
    kelbsim::Counts alive = kelbsim::Alive();
    std::printf("%-28s rss %6ld kB  fds %2d  threads %ld  libusb contexts %d handles %d lists %d\n", when,
                StatusField("VmRSS"), OpenDescriptors(), StatusField("Threads"), alive.contexts, alive.handles,
                alive.lists);
    std::fflush(stdout);
}

// 0 when LeakSanitizer finds nothing (or is not linked in).
int Leaks(const char *when) {
    if (!__lsan_do_recoverable_leak_check) {
        std::printf("%-28s leaks: not checked (no LeakSanitizer)\n", when);
        return 0;
    }
    int found = __lsan_do_recoverable_leak_check();
    std::printf("%-28s leaks: %s\n", when, found ? "FOUND (report above)" : "none");
    std::fflush(stdout);
    return found;
}

int failures = 0;

kelbhost::CallResult Call(kelbhost::Module &mex, int nlhs, std::vector<const mxArray *> in, double status = 0) {
    kelbhost::CallResult r = mex.Call(nlhs, std::move(in));
    size_t slot = nlhs > 1 ? 1 : 0;
    bool ok = !r.failed && (status < 0 || (r.out[slot] && mxGetScalar(r.out[slot]) == status));
    if (!ok && failures++ < 5) std::printf("call failed: %s\n", r.failed ? r.error.c_str() : "status");
    return r;
}

// The host keeps every array, and the bus every call, every packet and every
// object the library has let go (to catch stale pointers): all are dropped
// now and then, so what grows is the library's own.
void Tidy(int board) {
    kelbhost::FreeArrays();
    kelbsim::ClearLog();
    kelbsim::Bus &bus = kelbsim::TheBus();
    if (kelbsim::Device *d = kelbsim::FindDevice(board)) d->received.clear();
    auto drop = [](auto &objects, auto dead) {
        objects.erase(std::remove_if(objects.begin(), objects.end(), dead), objects.end());
    };
    drop(bus.contexts, [](const auto &c) { return !c->alive; });
    drop(bus.handles, [](const auto &h) { return !h->open; });
    drop(bus.lists, [](const auto &l) { return !l->alive; });
}

}  // namespace

int main(int argc, char **argv) {
    long openClose = argc > 1 ? std::atol(argv[1]) : 10000;
    long writeRead = argc > 2 ? std::atol(argv[2]) : 1000000;
    kelbhost::Module mex;
    if (!mex.Load()) {
        std::printf("%s\n", mex.LastError().c_str());
        return 1;
    }
    int board = kelbsim::AddBoard(0);
    Figures("start");
    int leaks = Leaks("start");

    for (long i = 1; i <= openClose; i++) {
        auto p = Call(mex, 2, {kelbhost::Char("Open"), kelbhost::Char("TIRK1")});
        if (!p.failed) Call(mex, 1, {kelbhost::Char("Close"), p.out[0]});
        if (i % 1000 == 0) Tidy(board);
    }
    Figures("after Open/Close cycles");

    const mxArray *port = Call(mex, 2, {kelbhost::Char("Open"), kelbhost::Char("TIRK1")}).out[0];
    for (long i = 1; i <= writeRead; i++) {
        Call(mex, 1, {kelbhost::Char("Write"), port, kelbhost::Double(0), kelbhost::Double(1), kelbhost::Double(2.5)});
        Call(mex, 2, {kelbhost::Char("Read"), port});
        if (i % 1000 == 0) {
            Tidy(board);
            port = Call(mex, 2, {kelbhost::Char("GetParams"), kelbhost::Char("TIRK1")}).out[0];
        }
        if (i == 1000) Figures("after 1,000 Write/Read");
    }
    Figures("after Write/Read cycles");
    Call(mex, 1, {kelbhost::Char("Close"), port});
    Call(mex, 0, {kelbhost::Char("CloseAll")}, -1);
    mex.Exit();
    Tidy(board);
    Figures("end (closed, unloaded)");
    leaks |= Leaks("end");
    kelbsim::Counts alive = kelbsim::Alive();
    bool left = alive.contexts + alive.handles + alive.lists + alive.claims + alive.misuse != 0;
    std::printf("cycles: %ld Open/Close, %ld Write/Read; failed calls %d; libusb objects left %s\n", openClose,
                writeRead, failures, left ? "yes" : "none");
    return failures || leaks || left ? 1 : 0;
}
