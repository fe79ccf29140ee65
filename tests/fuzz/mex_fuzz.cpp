// mexFunction with call sequences decoded from the input, over a virtual bus
// of up to four boards with scripted faults.  After every call: at most 8
// records with names unique regardless of case, the lock count that Open,
// Close and CloseAll imply, every error text one of the library's messages,
// no libusb object left beyond what open ports hold.  Between inputs the
// library is unloaded (its exit function runs) and starts again empty.
#include <fuzzer/FuzzedDataProvider.h>
#include <libusb.h>
#include <pthread.h>
#include <strings.h>
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>
#include <vector>

#include "fuzzbus.h"
#include "gateway/registry.h"
#include "kelbtext.h"
#include "mexhost.h"

namespace {

enum Cmd { OPEN, CLOSE, CLOSEALL, GETPARAMS, SETPARAMS, READ, WRITE, HELP, NONE };

// Command texts as a user may type them, with the command each must select.
struct CommandText {
    const char *text;
    Cmd cmd;
};
constexpr CommandText kCommands[] = {
    {"Open", OPEN},           {"OPEN", OPEN},         {"o", OPEN},           {"Close", CLOSE},
    {"close", CLOSE},         {"CloseAll", CLOSEALL}, {"closea", CLOSEALL},  {"GetParams", GETPARAMS},
    {"get", GETPARAMS},       {"SetParams", SETPARAMS}, {"s", SETPARAMS},    {"Read", READ},
    {"r", READ},              {"Write", WRITE},       {"WRITE", WRITE},      {"Help", HELP},
    {"he", HELP},             {"c", NONE},            {"clo", NONE},         {"", NONE},
    {"opened", NONE},         {"CloseAllxxxxxxxxxxx", NONE}, {"CloseAllxxxxxxxxxxxx", NONE},
};

const char *const kNames[] = {"TIRK1",        "tirk1",      "TIRK2",       "Tirk3",      "SORVANDEL1",
                              "FELDAR1",      "feldar2",    "MORSIVAN1",   "GASPILODEN1", "gaspiloden2",
                              "TIRK0",        "TIRK",       "XYZ1",        "TIRK12",     "TIRK1b",
                              "TIRK1xxxxxxxxxxxxx", "TIRK1xxxxxxxxxxxxxx", "MORSIVAN9", "SORVANDEL2"};

const char *const kFields[] = {"Port", "Device", "Dac2Default", "WatchdogTimeout", "ReadError", "WriteError"};

double SpecialDouble(FuzzedDataProvider &in) {
    static const double kValues[] = {0.0, 1.0, -1.0, 0.5, 2.0, 3.0, 5.0, 10.0, 100.0, 255.0, 256.0, 65535.0,
                                     65536.0, 4294967296.0, 2147483648.0, -2147483649.0, 1e308, -1e308,
                                     1e-310, -0.0, 0.1, 1.5, 9.99, 20000.0, 0.999999};
    switch (in.ConsumeIntegralInRange(0, 4)) {
    case 0: return std::numeric_limits<double>::quiet_NaN();
    case 1: return in.ConsumeBool() ? HUGE_VAL : -HUGE_VAL;
    case 2: return in.ConsumeFloatingPoint<double>();
    default: return in.PickValueInArray(kValues);
    }
}

// A KELBport-like structure: the six fields, some missing, extra, moved,
// renamed or of the wrong class, as a 1x1, empty or 1xN array.
mxArray *MakeStruct(FuzzedDataProvider &in, const std::vector<mxArray *> &outputs) {
    std::vector<std::string> names(std::begin(kFields), std::end(kFields));
    uint8_t change = in.ConsumeIntegral<uint8_t>();
    if (change & 1) names.erase(names.begin() + in.ConsumeIntegralInRange<size_t>(0, names.size() - 1));
    if (change & 2) names.push_back(in.ConsumeBool() ? "Extra" : "Port2");
    if ((change & 4) && names.size() >= 2) {
        size_t a = in.ConsumeIntegralInRange<size_t>(0, names.size() - 1);
        size_t b = in.ConsumeIntegralInRange<size_t>(0, names.size() - 1);
        std::swap(names[a], names[b]);
    }
    if (change & 8) {
        std::string &n = names[in.ConsumeIntegralInRange<size_t>(0, names.size() - 1)];
        for (char &c : n) c = in.ConsumeBool() ? static_cast<char>(std::toupper(c)) : static_cast<char>(std::tolower(c));
    }
    if (change & 16) names.insert(names.begin(), "Name");
    size_t m = 1, n = 1;
    switch (in.ConsumeIntegralInRange(0, 5)) {
    case 0: m = n = 0; break;
    case 1: n = in.ConsumeIntegralInRange<size_t>(2, 3); break;
    case 2: m = 0; n = 1; break;
    default: break;
    }
    mxArray *s = kelbhost::Struct(names, m, n);
    for (size_t e = 0; e < m * n; e++) {
        for (const std::string &field : names) {
            if (in.ConsumeIntegralInRange(0, 7) == 0) continue;  // left unset: null
            mxArray *v = nullptr;
            bool port = strcasecmp(field.c_str(), "Port") == 0;
            switch (in.ConsumeIntegralInRange(0, 7)) {
            case 0: v = kelbhost::Int32(in.ConsumeIntegral<int32_t>()); break;
            case 1: v = kelbhost::Empty(); break;
            case 2: v = kelbhost::Char(in.ConsumeRandomLengthString(24)); break;
            case 3: v = kelbhost::Sparse(1, 1, {SpecialDouble(in)}); break;
            case 4: v = kelbhost::Uint32(in.ConsumeIntegral<uint32_t>()); break;
            case 5:
                if (!outputs.empty()) {
                    v = outputs[in.ConsumeIntegralInRange<size_t>(0, outputs.size() - 1)];
                    break;
                }
                [[fallthrough]];
            default:
                v = port ? kelbhost::Char(in.PickValueInArray(kNames)) : kelbhost::Double(SpecialDouble(in));
            }
            if (v) kelbhost::SetField(s, field, v, e);
        }
    }
    return s;
}

mxArray *MakeArgument(FuzzedDataProvider &in, const std::vector<mxArray *> &outputs) {
    switch (in.ConsumeIntegralInRange(0, 11)) {
    case 0:
    case 1: return kelbhost::Char(in.PickValueInArray(kNames));
    case 2:
    case 3:
        if (!outputs.empty()) return outputs[in.ConsumeIntegralInRange<size_t>(0, outputs.size() - 1)];
        return kelbhost::Char(in.PickValueInArray(kNames));
    case 4: return kelbhost::Double(SpecialDouble(in));
    case 5: {
        size_t m = in.ConsumeIntegralInRange<size_t>(0, 3), n = in.ConsumeIntegralInRange<size_t>(0, 9);
        mxArray *a = kelbhost::Doubles(m, n);
        double *pr = mxGetPr(a);
        for (size_t i = 0; i < m * n; i++) pr[i] = SpecialDouble(in);
        return a;
    }
    case 6: return kelbhost::Sparse(1, 3, {SpecialDouble(in), 0.0, SpecialDouble(in)});
    case 7:
        switch (in.ConsumeIntegralInRange(0, 2)) {
        case 0: return kelbhost::Int32(in.ConsumeIntegral<int32_t>());
        case 1: return kelbhost::Uint32(in.ConsumeIntegral<uint32_t>());
        default: return kelbhost::Logical(in.ConsumeBool());
        }
    case 8: return kelbhost::Empty();
    case 9: return kelbhost::Cell(1, in.ConsumeIntegralInRange<size_t>(0, 2));
    case 10: return MakeStruct(in, outputs);
    default: return kelbhost::Char(in.ConsumeRandomLengthString(24));
    }
}

// The messages the library may raise.
bool KnownMessage(const std::string &text) {
    static const char *const kFixed[] = {
        "Too few input arguments.", "Too many input arguments.", "Too many output arguments.",
        "The first input argument must be a command string.", "Unknown command.", "Ambiguous command name.",
        "Too many KELBport devices referenced.", "Device number is incorrect.", "Invalid KELBport device.",
        "The second input argument must be a \"KELBport\" object.", "Invalid KELBport name (too long).",
        "The object is not found in the list of active KELBport devices.", "Out of memory.",
        "Invalid \"Dac2Default\" property value.", "Invalid \"WatchdogTimeout\" property value.",
        "Missing parameter(s).", "Missing parameter.", "All parameters must be of type \"double\".",
        "Frequency out of range.", "Ratio 1 out of range.", "Ratio 2 out of range.", "Ratio 3 out of range.",
        "No USB devices found!", "No matching device found!"};
    for (const char *m : kFixed)
        if (text == m) return true;
    static const char *const kFormats[] = {"Unable to create USB context: ", "Unable to get list of USB devices: ",
                                           "Unable to claim USB interface: "};
    for (const char *f : kFormats) {
        size_t n = std::strlen(f);
        if (text.compare(0, n, f) != 0 || text.size() < n + 2 || text.compare(text.size() - 2, 2, ".\n") != 0)
            continue;
        std::string name = text.substr(n, text.size() - n - 2);
        for (int code = 0; code >= -99; code--)
            if (name == libusb_error_name(code)) return true;
    }
    const std::string help = "No help available for ";
    if (text.compare(0, help.size(), help) == 0) {
        for (int32_t i = 0; i < KELBcount; i++)
            if (text.substr(help.size()) == Port[i].Name) return true;
    }
    return false;
}

// The record a port input names, as the library would find it, or null.
KELBstruct *Named(const mxArray *input) {
    if (!input) return nullptr;
    char text[KELBNAMELEN] = {};
    if (mxIsChar(input)) {
        if (mxGetString(input, text, KELBNAMELEN) != 0) return nullptr;
    } else if (mxIsStruct(input) && mxGetNumberOfElements(input) > 0 && mxGetNumberOfFields(input) > 0) {
        const mxArray *port = mxGetFieldByNumber(input, 0, 0);
        if (!port || !mxIsChar(port) || mxGetString(port, text, KELBNAMELEN) != 0) return nullptr;
    } else {
        return nullptr;
    }
    return FindPort(text);
}

int OpenPorts() {
    int n = 0;
    for (int32_t i = 0; i < KELBcount; i++) n += PortIsOpen(&Port[i]);
    return n;
}

void CheckRegistry() {
    FUZZ_CHECK(KELBcount >= 0 && KELBcount <= KELBMAXPORTS);
    for (int32_t i = 0; i < KELBcount; i++)
        for (int32_t j = i + 1; j < KELBcount; j++) FUZZ_CHECK(!KELBsameText(Port[i].Name, Port[j].Name));
}

// Each open port holds one handle with interface 0 claimed, and its context.
void CheckBus(bool closedAll) {
    kelbsim::Counts n = kelbsim::Alive();
    int open = OpenPorts();
    FUZZ_CHECK(n.misuse == 0);
    FUZZ_CHECK(n.lists == 0 && n.deviceRefs == 0);
    FUZZ_CHECK(n.handles == open && n.claims == open);
    FUZZ_CHECK(n.contexts >= open);
    if (closedAll) FUZZ_CHECK(n.contexts == open);
}

std::string g_firmware[3];  // a model's image, one without its end record, a missing file

void AddBoards(FuzzedDataProvider &in) {
    for (int k = in.ConsumeIntegralInRange(1, 4); k > 0; k--) {
        uint8_t kind = in.ConsumeIntegral<uint8_t>();
        if (kind % 8 == 5) {
            kelbsim::AddFX2();
            continue;
        }
        kelbsim::BoardSetup setup;
        setup.model = kind % 8 < 5 ? kind % 8 : in.ConsumeIntegralInRange(0, 4);
        if (kind % 8 == 6) {
            static const char *const kProducts[] = {"KELBIO TIRK board (0.0) ", "Board (0.1)(0.2)", "(0.3)",
                                                    "Board without tag", "KELBIO board (0.9)", "x (0.4"};
            setup.product = in.PickValueInArray(kProducts);
        }
        if (kind % 8 == 7) {
            setup.hasProduct = in.ConsumeBool();
            setup.silent = true;
        }
        kelbsim::AddBoard(setup);
    }
}

void ScriptFaults(FuzzedDataProvider &in) {
    static const int kCodes[] = {0,
                                 LIBUSB_ERROR_IO,
                                 LIBUSB_ERROR_ACCESS,
                                 LIBUSB_ERROR_NO_DEVICE,
                                 LIBUSB_ERROR_BUSY,
                                 LIBUSB_ERROR_TIMEOUT,
                                 LIBUSB_ERROR_OVERFLOW,
                                 LIBUSB_ERROR_PIPE,
                                 LIBUSB_ERROR_NO_MEM,
                                 LIBUSB_ERROR_OTHER};
    const int devices = static_cast<int>(kelbsim::Devices().size());
    const int first = kelbsim::Devices().empty() ? 1 : kelbsim::Devices().front();
    for (int k = in.ConsumeIntegralInRange(0, 4); k > 0; k--) {
        kelbsim::Fault f;
        f.op = static_cast<kelbsim::Op>(in.ConsumeIntegralInRange(0, 9));
        int device = in.ConsumeIntegralInRange(0, devices + 2);  // past the last: a chip that came back
        f.device = device == 0 ? 0 : first + device - 1;
        f.code = in.PickValueInArray(kCodes);
        // Code 0 stands for a short transfer or an empty list; on the other
        // calls the bus would answer success without filling the outputs.
        bool moves = f.op == kelbsim::Op::BulkIn || f.op == kelbsim::Op::BulkOut ||
                     f.op == kelbsim::Op::Control || f.op == kelbsim::Op::List || f.op == kelbsim::Op::String;
        if (f.code == 0 && !moves) f.code = LIBUSB_ERROR_IO;
        f.skip = in.ConsumeIntegralInRange(0, 3);
        f.times = in.ConsumeIntegralInRange(-1, 3);
        if (f.times == 0) f.times = 1;
        f.transferred = in.ConsumeIntegralInRange(0, 40);
        f.unplug = in.ConsumeIntegralInRange(0, 7) == 0;
        kelbsim::Script(f);
    }
}

// The library is unloaded and loaded again: the exit function, then a zeroed
// registry; whatever the records still held is forgotten with it.
void Unload() {
    if (kelbhost::ExitFunction f = kelbhost::AtExitFunction()) {
        try {
            f();
        } catch (const kelbhost::MexError &) {
            FuzzFailure("the exit function raised an error");
        }
        CheckBus(true);
    }
    std::memset(Port, 0, sizeof Port);
    KELBcount = 0;
}

pthread_t g_caller;
// KELBFUZZ_TRACE=1: each call and what it did on the bus, to read a finding.
const bool g_trace = std::getenv("KELBFUZZ_TRACE") != nullptr;  // the thread that runs the inputs

}  // namespace

// The product's 3-second pause moves the bus clock on; libFuzzer's own
// threads sleep for real.
extern "C" unsigned int sleep(unsigned int seconds) {
    if (pthread_equal(pthread_self(), g_caller)) {
        kelbsim::Sleep(seconds);
        return 0;
    }
    timespec t{static_cast<time_t>(seconds), 0};
    nanosleep(&t, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    g_caller = pthread_self();
    char dir[] = "/tmp/kelbfuzz-XXXXXX";
    if (!mkdtemp(dir)) std::abort();
    std::string image = kelbsim::FirmwareHex(kelbsim::DefaultProduct(0));
    std::string cut = image.substr(0, image.rfind(':'));
    const std::string texts[2] = {image, cut};
    for (int i = 0; i < 2; i++) {
        g_firmware[i] = std::string(dir) + (i == 0 ? "/tirk.hex" : "/cut.hex");
        FILE *f = std::fopen(g_firmware[i].c_str(), "wb");
        if (!f) std::abort();
        std::fputs(texts[i].c_str(), f);
        std::fclose(f);
    }
    g_firmware[2] = std::string(dir) + "/missing.hex";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    FreshBus();
    kelbhost::Reset();
    kelbsim::SetReenumDelay(in.ConsumeBool() ? 0 : 1000);
    AddBoards(in);
    ScriptFaults(in);
    int firmware = in.ConsumeIntegralInRange(0, 3);
    if (firmware == 3) {
        unsetenv("ZARVUSB_HEX_FILE");
    } else {
        setenv("ZARVUSB_HEX_FILE", g_firmware[firmware].c_str(), 1);
    }

    int locks = 0;
    std::vector<mxArray *> outputs;
    for (int call = 0; call < 24 && in.remaining_bytes() > 0; call++) {
        CommandText command = in.PickValueInArray(kCommands);
        std::vector<const mxArray *> inputs;
        switch (in.ConsumeIntegralInRange(0, 15)) {
        case 0: break;  // no input at all
        case 1: {
            // Any class; a text that begins with 'x' names no command.
            mxArray *a = MakeArgument(in, outputs);
            inputs.push_back(mxIsChar(a) ? kelbhost::Char("x" + kelbhost::Text(a)) : a);
            break;
        }
        case 2: inputs.push_back(kelbhost::Char("x" + in.ConsumeRandomLengthString(24))); break;
        default: inputs.push_back(kelbhost::Char(command.text));
        }
        bool own = inputs.size() == 1 && mxIsChar(inputs[0]) && kelbhost::Text(inputs[0]) == command.text;
        Cmd cmd = own ? command.cmd : NONE;
        for (int k = in.ConsumeIntegralInRange(0, 7); k > 0 && !inputs.empty(); k--)
            inputs.push_back(MakeArgument(in, outputs));
        int nlhs = in.ConsumeIntegralInRange(0, 3);
        if (in.ConsumeIntegralInRange(0, 15) == 0) kelbhost::FailAllocation(in.ConsumeIntegralInRange(1, 3));

        KELBstruct *before = inputs.size() > 1 ? Named(inputs[1]) : nullptr;
        bool wasOpen = before && PortIsOpen(before);
        std::vector<mxArray *> out(static_cast<size_t>(nlhs > 1 ? nlhs : 1), nullptr);
        bool failed = false;
        std::string error;
        try {
            mexFunction(nlhs, out.data(), static_cast<int>(inputs.size()), inputs.data());
        } catch (const kelbhost::MexError &e) {
            failed = true;
            error = e.what();
        }
        kelbhost::FailAllocation(0);

        if (failed && !KnownMessage(error)) {
            std::fprintf(stderr, "message: \"%s\"\n", error.c_str());
            FuzzFailure("an error text that is none of the library's");
        }
        // Only the table's commands run: anything that names none fails.
        if (cmd == NONE) FUZZ_CHECK(failed);
        KELBstruct *after = inputs.size() > 1 ? Named(inputs[1]) : nullptr;
        bool isOpen = after && PortIsOpen(after);
        if (g_trace) {
            std::fprintf(stderr, "call %d: '%s' with %zu inputs (port %s), %d outputs: %s; locks %d\n", call,
                         inputs.empty() || !mxIsChar(inputs[0]) ? "?" : kelbhost::Text(inputs[0]).c_str(),
                         inputs.size(), after ? after->Name : "-", nlhs, failed ? error.c_str() : "done",
                         kelbhost::LockCount());
            for (const kelbsim::Call &c : kelbsim::Log()) std::fprintf(stderr, "    %s\n", kelbsim::Describe(c).c_str());
            kelbsim::ClearLog();
        }
        switch (cmd) {
        case OPEN:
            if (!failed && isOpen) locks++;
            // Memory can run out before the lock (the output object is made
            // first) or after it (the status scalar): a port it opened holds one.
            if (failed && error == "Out of memory." && isOpen &&
                (!wasOpen || kelbhost::LockCount() == locks + 1))
                locks++;
            break;
        case CLOSE:
            if (wasOpen && !isOpen) locks--;
            break;
        case CLOSEALL:
            if (!failed) locks = 0;
            break;
        default: break;
        }
        CheckRegistry();
        FUZZ_CHECK(kelbhost::LockCount() == locks);
        FUZZ_CHECK(kelbhost::LockCount() >= OpenPorts());
        FUZZ_CHECK(kelbhost::ExtraUnlocks() == 0);
        CheckBus(cmd == CLOSEALL && !failed);
        if (!failed)
            for (mxArray *o : out)
                if (o) outputs.push_back(o);
    }
    Unload();
    return 0;
}
