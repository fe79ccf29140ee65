// The plug-in under Wine on the stand-in CyUSB kernel driver (sim/cyusbsys):
// SetupAPI enumeration, CreateFileA, overlapped DeviceIoControl and the
// waits of the Win32 layer all run for real.  Each test is one scenario,
// run alone in a fresh copy of a prefix with the driver installed; the test
// puts its boards in the driver's positions through the control device.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <utility>

#include "sim/cyusbsys/boardctl.h"
#include "traffic.h"
#include "usb/windows/endpoints.h"
#include "winehost.h"

namespace {

constexpr const char *NO_DEVICE = "No matching device found!";
constexpr const char *CLOSE_FAILED = "Failed to close handle to driver.";
constexpr unsigned DIRECT = 0x01060300;    // a current driver: direct transfers
constexpr unsigned BUFFERED = 0x01050400;  // an older one: buffered transfers
constexpr unsigned DATA_ERROR = 0xC000009Cu;  // the driver status of a transfer the test ends

// The session's services start the driver; on a busy machine that takes a
// while, so the control device and the positions are waited for.
constexpr int TRIES = 3000;  // of 20 ms

HANDLE Control()
{
    static HANDLE control = INVALID_HANDLE_VALUE;
    for (int i = 0; control == INVALID_HANDLE_VALUE && i < TRIES; ++i) {
        control = CreateFileA(KELB_CONTROL_DEVICE, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (control == INVALID_HANDLE_VALUE) Sleep(20);
    }
    return control;
}

bool Send(DWORD code, const void *in, DWORD inSize, void *out = nullptr, DWORD outSize = 0)
{
    DWORD n;
    return DeviceIoControl(Control(), code, const_cast<void *>(in), inSize, out, outSize, &n, nullptr) != 0;
}

std::string Product(const char *model, int row)
{
    return std::string("KELBIO ") + model + " board (0." + std::to_string(row) + ")";
}

// Puts a board at a position; the driver takes it once the position's root
// device has started.
void Plug(unsigned slot, int model, const std::string &product, unsigned driverVersion = DIRECT, unsigned flags = 0)
{
    KelbPlug plug{slot, model, flags, driverVersion, {}};
    std::snprintf(plug.Product, sizeof plug.Product, "%s", product.c_str());
    bool plugged = false;
    for (int i = 0; !plugged && i < TRIES; ++i) {
        plugged = Send(KELBCTL_PLUG, &plug, sizeof plug);
        if (!plugged) Sleep(20);
    }
    ASSERT_TRUE(plugged) << "position " << slot << ": " << GetLastError();
}

void Script(unsigned slot, unsigned endpoint, unsigned when, unsigned driverStatus = 0, unsigned usbStatus = 0)
{
    KelbScript script{slot, endpoint, when, -1, driverStatus, usbStatus};
    ASSERT_TRUE(Send(KELBCTL_SCRIPT, &script, sizeof script));
}

void Faults(unsigned slot, bool abortFails, bool closeFails, bool keepsRequests = false)
{
    KelbFaults faults{slot, abortFails, closeFails, keepsRequests};
    ASSERT_TRUE(Send(KELBCTL_FAULTS, &faults, sizeof faults));
}

KelbSlotStatus Status(unsigned slot)
{
    KelbSlotStatus status{};
    EXPECT_TRUE(Send(KELBCTL_STATUS, &slot, sizeof slot, &status, sizeof status));
    return status;
}

traffic::Packets Packets(unsigned slot)
{
    KelbSlotStatus s = Status(slot);
    traffic::Packets packets;
    for (unsigned i = 0; i < s.Packets && i < KELB_LOGGED; ++i)
        packets.emplace_back(s.Packet[i], s.Packet[i] + std::min<unsigned>(s.PacketLength[i], 16));
    return packets;
}

// A helper thread that ends a transfer the plug-in would otherwise wait for
// forever: once the driver has seen `aborts` abort requests (or after
// `ms`), it completes the position's pending requests on the endpoint with
// the given status words.
class Rescue {
public:
    Rescue(unsigned slot, unsigned endpoint, unsigned aborts, DWORD ms, unsigned driverStatus)
        : job{slot, endpoint, aborts, ms, {slot, endpoint, KELB_NOW, 0, driverStatus, 0}, CreateEventA(nullptr, TRUE, FALSE, nullptr)}
    {
        thread = CreateThread(nullptr, 0, Run, &job, 0, nullptr);
    }
    ~Rescue()
    {
        SetEvent(job.stop);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        CloseHandle(job.stop);
    }
    bool Fired() const { return job.fired != 0; }

private:
    struct Job {
        unsigned slot, endpoint, aborts;
        DWORD ms;
        KelbScript outcome;
        HANDLE stop;
        volatile LONG fired = 0;
    } job;
    HANDLE thread;

    static DWORD WINAPI Run(void *arg)
    {
        Job *j = static_cast<Job *>(arg);
        const ULONGLONG start = GetTickCount64();
        while (WaitForSingleObject(j->stop, 20) == WAIT_TIMEOUT) {
            KelbSlotStatus s{};
            Send(KELBCTL_STATUS, &j->slot, sizeof j->slot, &s, sizeof s);
            const bool due = (j->aborts && s.Aborts >= j->aborts) || GetTickCount64() - start >= j->ms;
            if (due && s.Pending) {
                j->fired = 1;
                Send(KELBCTL_COMPLETE, &j->outcome, sizeof j->outcome);
            }
        }
        return 0;
    }
};

// CloseHandle as the plug-in imports it: fails for a board's handle when
// the test scripted that board not to close.  Windows itself gives no way to
// make CloseHandle fail on a valid handle, so the plug-in's import is
// redirected here.
using CloseHandleFn = BOOL(WINAPI *)(HANDLE);
CloseHandleFn RealCloseHandle;

BOOL WINAPI ScriptedCloseHandle(HANDLE h)
{
    DWORD identity[2] = {0, 0}, n;
    const DWORD saved = GetLastError();
    if (DeviceIoControl(h, KELBCTL_IDENTIFY, nullptr, 0, identity, sizeof identity, &n, nullptr) && identity[1]) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    SetLastError(saved);
    return RealCloseHandle(h);
}

bool RedirectImport(HMODULE module, const char *dll, const char *name, void *replacement, void **original)
{
    auto *base = reinterpret_cast<BYTE *>(module);
    auto *nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + reinterpret_cast<IMAGE_DOS_HEADER *>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY &imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto *d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + imports.VirtualAddress); d->Name; ++d) {
        if (_stricmp(reinterpret_cast<char *>(base + d->Name), dll) != 0) continue;
        auto *names = reinterpret_cast<IMAGE_THUNK_DATA *>(base + d->OriginalFirstThunk);
        auto *slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + d->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto *byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<char *>(byName->Name), name) != 0) continue;
            DWORD old;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old);
            *original = reinterpret_cast<void *>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
            return true;
        }
    }
    return false;
}

// Runs kelbio-scan.exe (beside the plug-in, in the working directory) with
// args; its standard output goes to *out.  The exit code, or -1.
int RunScan(const char *args, std::string *out)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd, writeEnd;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return -1;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdOutput = writeEnd;
    start.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::string command = std::string("kelbio-scan.exe ") + args;
    PROCESS_INFORMATION process{};
    BOOL started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &process);
    CloseHandle(writeEnd);
    char chunk[4096];
    DWORD n;
    while (started && ReadFile(readEnd, chunk, sizeof chunk, &n, nullptr) && n) out->append(chunk, n);
    CloseHandle(readEnd);
    if (!started) return -1;
    DWORD code = 0;
    WaitForSingleObject(process.hProcess, 60000);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return static_cast<int>(code);
}

class Driver : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(Control(), INVALID_HANDLE_VALUE) << "the driver's control device"; }

    // p = kelbio('Open', name), expected to succeed.
    const mxArray *Open(const char *name)
    {
        CallResult r = Call(2, {Str("Open"), Str(name)});
        EXPECT_EQ(r.error, "") << name;
        return r.out[0];
    }
    // 0 open, 1 not open.
    double OpenState(const mxArray *port) { return mxGetScalar(Call(2, {Str("GetParams"), port}).out[1]); }
    // The ReadError field of the port's parameters.
    uint32_t ReadError(const mxArray *port)
    {
        const mxArray *params = Call(1, {Str("GetParams"), port}).out[0];
        const mxArray *value = params ? Field(params, 4) : nullptr;
        EXPECT_STREQ(params ? mxGetFieldNameByNumber(params, 4) : "", "ReadError");
        return value ? Uint32Of(value) : 0xFFFFFFFFu;
    }
    // A motor-board packet, or with set-points a FELDAR one.
    double Write(const mxArray *port, double command, const mxArray *setpoints = nullptr)
    {
        std::vector<const mxArray *> in = {Str("Write"), port, traffic::Number(command), traffic::Number(0),
                                           traffic::Number(1.5)};
        if (setpoints) in.push_back(setpoints);
        CallResult r = Call(0, in);
        EXPECT_EQ(r.error, "");
        return r.out[0] ? mxGetScalar(r.out[0]) : -1;
    }
    double Read(const mxArray *port)
    {
        CallResult r = Call(2, {Str("Read"), port});
        EXPECT_EQ(r.error, "");
        return r.out[1] ? mxGetScalar(r.out[1]) : -1;
    }
};

TEST_F(Driver, TrafficMatchesTheLinuxBuild)
{
    const char *path = std::getenv("KELB_LINUX_TRAFFIC");
    ASSERT_TRUE(path && *path) << "KELB_LINUX_TRAFFIC names no transcript of the Linux build";
    std::ifstream file(path);
    ASSERT_TRUE(file) << path;
    std::stringstream linux;
    linux << file.rdbuf();

    // FELDAR behind an older driver, so buffered transfers are checked too.
    Plug(0, 0, Product("TIRK", 0), DIRECT);
    Plug(1, 2, Product("FELDAR", 2), BUFFERED);
    Plug(2, 4, Product("GASPILODEN", 4), DIRECT);
    traffic::Call call = [](int nlhs, std::vector<const mxArray *> in, std::string *error) {
        CallResult r = Call(nlhs, std::move(in));
        *error = r.error;
        return r.out;
    };
    std::string windows;
    for (unsigned slot = 0; slot < 3; ++slot)
        windows += traffic::Run(traffic::Models[slot], call, [slot] { return Packets(slot); });
    EXPECT_EQ(windows, linux.str());
    EXPECT_EQ(StandinLockCount(), 0);
    for (unsigned slot = 0; slot < 3; ++slot) EXPECT_EQ(Status(slot).OpenHandles, 0u) << slot;
}

TEST_F(Driver, BoardsAreChosenByTagAndNumberPassingOverThoseWithoutProduct)
{
    Plug(0, 0, Product("TIRK", 0));
    Plug(1, -1, "", DIRECT, KELB_NO_PRODUCT);       // an FX2 without firmware
    Plug(2, 0, "Second rig (0.0)");
    Plug(3, 0, Product("TIRK", 0), DIRECT, KELB_PRODUCT_STALLS);
    Plug(4, 2, Product("FELDAR", 2));

    const mxArray *second = Open("TIRK2");
    const mxArray *first = Open("tirk1");
    const mxArray *feldar = Open("FELDAR1");
    EXPECT_EQ(Write(second, 0x21), 0.0);
    EXPECT_EQ(Write(first, 0x22), 0.0);
    EXPECT_EQ(Write(feldar, 0x23, traffic::Number(7)), 0.0);
    ASSERT_EQ(Packets(2).size(), 1u) << "TIRK2 is the board at position 2";
    EXPECT_EQ(Packets(2)[0][0], 0x21);
    ASSERT_EQ(Packets(0).size(), 1u);
    EXPECT_EQ(Packets(0)[0][0], 0x22);
    ASSERT_EQ(Packets(4).size(), 1u);
    EXPECT_EQ(Packets(4)[0][0], 0x23);
    EXPECT_EQ(Status(1).Transfers, 0u);
    EXPECT_EQ(Status(3).Transfers, 0u);

    // The board whose product string cannot be read is no third TIRK.
    EXPECT_EQ(Call(2, {Str("Open"), Str("TIRK3")}).error, NO_DEVICE);
    EXPECT_EQ(Call(2, {Str("Open"), Str("FELDAR2")}).error, NO_DEVICE);
    EXPECT_EQ(StandinLockCount(), 3);
    for (unsigned slot : {1u, 3u}) EXPECT_EQ(Status(slot).OpenHandles, 0u) << slot;

    EXPECT_EQ(Call(0, {Str("CloseAll")}).error, "");
    EXPECT_EQ(StandinLockCount(), 0);
    for (unsigned slot = 0; slot < 5; ++slot) EXPECT_EQ(Status(slot).OpenHandles, 0u) << slot;
}

// kelbio-scan on the same driver: with no CyUSB device it says how a board is
// bound to the driver; with boards of two models, a stringless device and a
// board that cannot be opened, every port name it gives is the board that
// Open then binds.
TEST_F(Driver, ScanListsEveryDeviceAndItsPortNamesAreTheBoardsOpenBinds)
{
    std::string text, json;
    EXPECT_EQ(RunScan("", &text), 1);
    EXPECT_NE(text.find("No device is bound to the CyUSB driver."), std::string::npos) << text;
    EXPECT_NE(text.find("0 boards found."), std::string::npos) << text;
    EXPECT_EQ(RunScan("--json", &json), 1);
    EXPECT_NE(json.find("\"boards\":[]"), std::string::npos) << json;

    Plug(0, 0, Product("TIRK", 0));
    Plug(1, 2, Product("FELDAR", 2), BUFFERED);
    Plug(2, -1, "", DIRECT, KELB_NO_PRODUCT);
    Plug(3, 0, Product("TIRK", 0), DIRECT, KELB_CONFIG_STALLS);
    Plug(4, 0, Product("TIRK", 0));
    text.clear();
    json.clear();
    EXPECT_EQ(RunScan("", &text), 0);
    std::printf("%s", text.c_str());
    EXPECT_NE(text.find("CyUSB device 2  04b4:1004  no product string: Open passes it over"), std::string::npos);
    EXPECT_NE(text.find("CyUSB device 3  04b4:1004  \"KELBIO TIRK board (0.0)\"  TIRK board, passed over by "
                        "Open; cannot open: ERROR_GEN_FAILURE\n      -> "),
              std::string::npos);
    EXPECT_NE(text.find("3 boards found."), std::string::npos);
    EXPECT_EQ(RunScan("--json", &json), 0);

    // Each listed port, opened, writes to the board at the device the scan named.
    std::vector<std::pair<int, std::string>> listed;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        int index = -1;
        size_t port = line.find("port '");
        if (port == std::string::npos || std::sscanf(line.c_str(), " CyUSB device %d", &index) != 1) continue;
        listed.emplace_back(index, line.substr(port + 6, line.find('\'', port + 6) - port - 6));
        EXPECT_NE(json.find("\"port\":\"" + listed.back().second + "\""), std::string::npos) << json;
    }
    ASSERT_EQ(listed.size(), 3u) << text;
    EXPECT_EQ(listed[0], std::make_pair(0, std::string("TIRK1")));
    EXPECT_EQ(listed[1], std::make_pair(1, std::string("FELDAR1")));
    EXPECT_EQ(listed[2], std::make_pair(4, std::string("TIRK2")));
    unsigned command = 0x31;
    for (const auto &[slot, name] : listed) {
        const mxArray *port = Open(name.c_str());
        if (name.rfind("FELDAR", 0) == 0) {
            EXPECT_EQ(Write(port, command, traffic::Number(7)), 0.0) << name;
        } else {
            EXPECT_EQ(Write(port, command), 0.0) << name;
        }
        ASSERT_FALSE(Packets(static_cast<unsigned>(slot)).empty()) << name;
        EXPECT_EQ(Packets(static_cast<unsigned>(slot)).back()[0], command) << name;
        ++command;
    }
    EXPECT_EQ(Call(0, {Str("CloseAll")}).error, "");
}

TEST_F(Driver, ReadThatNeverCompletesEndsAfterTenSecondsWithStatus16)
{
    Plug(0, 0, Product("TIRK", 0), BUFFERED);
    Plug(1, 0, Product("TIRK", 0), DIRECT);
    const mxArray *ports[] = {Open("TIRK1"), Open("TIRK2")};
    for (unsigned slot = 0; slot < 2; ++slot) {
        SCOPED_TRACE(slot == 0 ? "buffered" : "direct");
        Script(slot, 0x86, KELB_NEVER);
        // Should the wait not end, this ends the read after 30 s and the
        // checks below fail instead of the run hanging.
        Rescue rescue(slot, 0x86, 0, 30000, DATA_ERROR);
        const ULONGLONG start = GetTickCount64();
        EXPECT_EQ(Read(ports[slot]), 16.0);
        const ULONGLONG waited = GetTickCount64() - start;
        EXPECT_FALSE(rescue.Fired());
        EXPECT_GE(waited, 9990u);
        KelbSlotStatus s = Status(slot);
        EXPECT_EQ(s.Aborts, 1u);
        EXPECT_EQ(s.Pending, 0u);
        // The status words of the aborted request come back in the record of
        // a buffered transfer; a direct one's record stays in the caller's
        // memory, where Wine's driver cannot write.
        if (slot == 0) {
            EXPECT_EQ(ReadError(ports[slot]), KELB_STATUS_CANCELLED);
        }
        EXPECT_EQ(OpenState(ports[slot]), 0.0);
        EXPECT_EQ(Read(ports[slot]), 0.0);
    }
}

// After a failed abort the read is cancelled.  A driver that keeps the
// request even then: the read gives up in bounded time with a code of its
// own, and the port takes no transfer until it is closed.  The kept request's
// late completion lands in memory the plug-in still holds for it.
TEST_F(Driver, FailedAbortIsFollowedByACancelAndAKeptReadIsGivenUp)
{
    Plug(0, 0, Product("TIRK", 0), BUFFERED);
    const mxArray *tirk = Open("TIRK1");
    {
        Script(0, 0x86, KELB_NEVER);
        Faults(0, true, false);
        Rescue rescue(0, 0x86, 0, 60000, DATA_ERROR);
        EXPECT_EQ(Read(tirk), 16.0);
        EXPECT_FALSE(rescue.Fired());
        EXPECT_EQ(Status(0).AbortsFailed, 1u);
        EXPECT_EQ(Status(0).Pending, 0u);
        // A cancelled request's record is not copied back: the system's code.
        EXPECT_EQ(ReadError(tirk), static_cast<uint32_t>(ERROR_OPERATION_ABORTED));
        Faults(0, false, false);
        EXPECT_EQ(Read(tirk), 0.0);
    }

    Plug(1, 0, Product("TIRK", 0), DIRECT);
    const mxArray *ports[] = {tirk, Open("TIRK2")};
    for (unsigned slot = 0; slot < 2; ++slot) {
        SCOPED_TRACE(slot == 0 ? "buffered" : "direct");
        const unsigned transfers = Status(slot).Transfers;
        Script(slot, 0x86, KELB_NEVER);
        Faults(slot, true, false, true);
        // Should the read hang, this ends it after 60 s and the checks fail.
        Rescue rescue(slot, 0x86, 0, 60000, DATA_ERROR);
        const ULONGLONG start = GetTickCount64();
        EXPECT_EQ(Read(ports[slot]), 16.0);
        const ULONGLONG waited = GetTickCount64() - start;
        EXPECT_FALSE(rescue.Fired());
        std::printf("kept read on the %s board: status 16 after %u ms, ReadError 0x%08X\n",
                    slot == 0 ? "buffered" : "direct", static_cast<unsigned>(waited), ReadError(ports[slot]));
        EXPECT_EQ(ReadError(ports[slot]), XFER_ABANDONED);
        EXPECT_EQ(Status(slot).Pending, 1u);
        EXPECT_EQ(Read(ports[slot]), 1.0);
        EXPECT_EQ(Write(ports[slot], 1), 1.0);
        EXPECT_EQ(Status(slot).Transfers, transfers + 1);
        EXPECT_EQ(OpenState(ports[slot]), 0.0);

        // The driver completes the kept read after all, with data.
        KelbScript late{slot, 0x86, KELB_NOW, -1, 0, 0};
        ASSERT_TRUE(Send(KELBCTL_COMPLETE, &late, sizeof late));
        EXPECT_EQ(Status(slot).Pending, 0u);
        Faults(slot, false, false);
        EXPECT_EQ(Call(0, {Str("Close"), ports[slot]}).error, "");
        EXPECT_EQ(Status(slot).OpenHandles, 0u);
        EXPECT_EQ(mxGetScalar(Call(2, {Str("Open"), ports[slot]}).out[1]), 0.0);
        EXPECT_EQ(Read(ports[slot]), 0.0);
    }

    // A stall: the status words of the request, at once.
    Script(0, 0x86, KELB_NOW, KELB_STATUS_UNSUCCESSFUL, KELB_USBD_STALL_PID);
    EXPECT_EQ(Read(tirk), 16.0);
    EXPECT_EQ(ReadError(tirk), KELB_STATUS_UNSUCCESSFUL);
    EXPECT_EQ(Read(tirk), 0.0);
}

TEST_F(Driver, UnpluggedBoardFailsItsTransfersAndStillCloses)
{
    Plug(0, 0, Product("TIRK", 0));
    const mxArray *tirk = Open("TIRK1");
    EXPECT_EQ(Write(tirk, 1), 0.0);
    EXPECT_EQ(Read(tirk), 0.0);

    unsigned slot = 0;
    ASSERT_TRUE(Send(KELBCTL_UNPLUG, &slot, sizeof slot));
    EXPECT_EQ(Read(tirk), 16.0);
    EXPECT_EQ(Write(tirk, 2), 16.0);
    EXPECT_EQ(OpenState(tirk), 0.0);
    EXPECT_EQ(StandinLockCount(), 1);

    CallResult r = Call(0, {Str("Close"), tirk});
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(Status(0).OpenHandles, 0u);
    EXPECT_EQ(StandinLockCount(), 0);
    EXPECT_EQ(Call(2, {Str("Open"), tirk}).error, NO_DEVICE);

    // Back on the bus, it is found again.
    Plug(0, 0, Product("TIRK", 0));
    EXPECT_EQ(mxGetScalar(Call(2, {Str("Open"), tirk}).out[1]), 0.0);
    EXPECT_EQ(Write(tirk, 3), 0.0);
    EXPECT_EQ(Packets(0).size(), 1u);
}

TEST_F(Driver, CloseAllAndUnloadCloseEveryBoardWhenOneFailsToClose)
{
    void *original = nullptr;
    ASSERT_TRUE(RedirectImport(Plugin, "KERNEL32.dll", "CloseHandle", reinterpret_cast<void *>(ScriptedCloseHandle),
                               &original));
    RealCloseHandle = reinterpret_cast<CloseHandleFn>(original);

    Plug(0, 0, Product("TIRK", 0));
    Plug(1, 2, Product("FELDAR", 2));
    Plug(2, 4, Product("GASPILODEN", 4));
    const mxArray *ports[] = {Open("TIRK1"), Open("FELDAR1"), Open("GASPILODEN1")};
    ASSERT_EQ(StandinLockCount(), 3);
    Faults(1, false, true);

    // Every port is closed and every lock given back; the failure is told once.
    EXPECT_EQ(Call(0, {Str("CloseAll")}).error, CLOSE_FAILED);
    EXPECT_EQ(StandinLockCount(), 0);
    for (unsigned slot : {0u, 2u}) EXPECT_EQ(Status(slot).OpenHandles, 0u) << slot;
    for (const mxArray *port : ports) EXPECT_EQ(OpenState(port), 1.0);

    // At unload the same: nothing raised from the exit handler.  The boards are
    // opened again with every close working (Open's scan closes the boards it
    // passes over), then the one board is made to fail again.
    Faults(1, false, false);
    for (const mxArray *port : ports) {
        CallResult reopened = Call(2, {Str("Open"), port});
        ASSERT_EQ(reopened.error, "");
        EXPECT_EQ(mxGetScalar(reopened.out[1]), 0.0);
    }
    ASSERT_EQ(StandinLockCount(), 3);
    Faults(1, false, true);
    StandinExitFcn onUnload = StandinAtExit();
    ASSERT_NE(onUnload, nullptr);
    std::string raised;
    try {
        onUnload();
    } catch (const StandinError &e) {
        raised = e.message;
    }
    EXPECT_EQ(raised, "");
    EXPECT_EQ(StandinLockCount(), 0);
    for (unsigned slot : {0u, 2u}) EXPECT_EQ(Status(slot).OpenHandles, 0u) << slot;
    EXPECT_EQ(StandinUnlockUnderflows(), 0);
}

}  // namespace
