// kelbio-scan on the virtual bus, checked against what USBopen does on the
// same bus: the same board behind each port name, the same blank chips
// programmed, and nothing sent or left claimed by the scan itself.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "tools/scan/scan.h"
#include "usbtest.h"

namespace usbtest {
namespace {

using kelbsim::Op;

class ScanTest : public UsbTest {
protected:
    static int Board(int model, const std::string &product = "") {
        kelbsim::BoardSetup setup;
        setup.model = model;
        setup.product = product;
        return kelbsim::AddBoard(setup);
    }
    static void Fail(Op op, int device, int code) {
        kelbsim::Fault fault;
        fault.op = op;
        fault.device = device;
        fault.code = code;
        fault.times = -1;
        kelbsim::Script(fault);
    }
    // A sysfs device folder, and an interface folder beside it that the scan must pass over.
    void Sysfs(int device, const std::string &product) {
        for (std::string name : {"1-" + std::to_string(device), "1-" + std::to_string(device) + ":1.0"}) {
            std::string dir = sysfs_ + "/" + name;
            mkdir(dir.c_str(), 0700);
            std::ofstream(dir + "/busnum") << "1\n";
            std::ofstream(dir + "/devnum") << device << "\n";
            std::ofstream(dir + "/product") << product << "\n";
            std::ofstream(dir + "/idVendor") << "1209\n";
            std::ofstream(dir + "/idProduct") << "0001\n";
        }
    }
    // Scans, and checks the scan wrote nothing and gave back all it took.
    ScanResult ScanBus() {
        kelbsim::ClearLog();
        ScanResult result = Scan(sysfs_.c_str());
        EXPECT_TRUE(kelbsim::Calls("libusb_control_transfer").empty());
        EXPECT_TRUE(kelbsim::Calls("libusb_bulk_transfer").empty());
        auto claims = kelbsim::Calls("libusb_claim_interface");
        int granted = static_cast<int>(std::count_if(claims.begin(), claims.end(),
                                                     [](const kelbsim::Call &c) { return c.result == 0; }));
        EXPECT_EQ(kelbsim::Calls("libusb_release_interface").size(), static_cast<size_t>(granted));
        kelbsim::Counts n = kelbsim::Alive();
        EXPECT_EQ(n.contexts + n.handles + n.claims + n.lists + n.deviceRefs + n.misuse, 0);
        kelbsim::ClearLog();
        return result;
    }
    // Addresses are the bus ids, cut to 8 bits as in libusb.
    std::string sysfs_ = ::testing::TempDir() + "kelb-sysfs-" + std::to_string(getpid());
    void SetUp() override {
        UsbTest::SetUp();
        mkdir(sysfs_.c_str(), 0700);
    }
    void TearDown() override {
        std::filesystem::remove_all(sysfs_);
        UsbTest::TearDown();
    }
    static const ScanDevice *At(const ScanResult &r, int id) {
        for (const ScanDevice &d : r.Devices)
            if (d.Address == static_cast<uint8_t>(id)) return &d;
        return nullptr;
    }
    // USBopen of a port: the device whose interface it tried to claim, and its message.
    std::pair<int, std::string> OpenPort(const char *tag, int device) {
        KELBstruct port = Record(tag, device);
        std::string message = Open(&port);
        auto claims = kelbsim::Calls("libusb_claim_interface");
        int chosen = claims.empty() ? 0 : claims.back().device;
        USBclose(&port);
        kelbsim::ClearLog();
        return {chosen, message};
    }
};

TEST_F(ScanTest, EveryPortNameReachesTheBoardOpenBinds) {
    int tirk1 = Board(0);
    int feldar1 = Board(2, "Rig \"B\" (0.2)");
    int noString = Board(0);
    Fail(Op::String, noString, LIBUSB_ERROR_IO);
    int refused = Board(2);
    Fail(Op::Open, refused, LIBUSB_ERROR_ACCESS);
    kelbsim::BoardSetup mouse;
    mouse.model = kelbsim::kNoModel;
    mouse.product = "USB mouse";
    kelbsim::AddBoard(mouse);
    kelbsim::BoardSetup nameless;
    nameless.hasProduct = false;
    int noIndex = kelbsim::AddBoard(nameless);
    int webcam = Board(kelbsim::kNoModel, "HD Webcam");
    Fail(Op::Open, webcam, LIBUSB_ERROR_ACCESS);
    Sysfs(webcam, "HD Webcam");
    Sysfs(refused, "KELBIO FELDAR board (0.2)");
    int tirk2 = Board(0, "lab (0.1) rig (0.0)");
    int busy = Board(2);
    Fail(Op::Claim, busy, LIBUSB_ERROR_BUSY);

    ScanResult r = ScanBus();
    ASSERT_EQ(r.Devices.size(), 7u);
    EXPECT_EQ(r.Boards, 4);
    EXPECT_EQ(r.Others, 2);  // the mouse, and the webcam known by sysfs
    EXPECT_EQ(At(r, noString)->Kind, ScanKind::NoString);
    EXPECT_EQ(At(r, noString)->StringError, LIBUSB_ERROR_IO);
    EXPECT_EQ(At(r, noIndex)->Kind, ScanKind::NoString);
    EXPECT_EQ(At(r, noIndex)->StringError, 0);
    EXPECT_EQ(At(r, refused)->Kind, ScanKind::Closed);
    EXPECT_EQ(At(r, refused)->OpenError, LIBUSB_ERROR_ACCESS);
    EXPECT_EQ(At(r, refused)->Model, 2);
    EXPECT_EQ(At(r, refused)->Ordinal, -1);  // Open does not count it
    EXPECT_EQ(At(r, busy)->ClaimError, LIBUSB_ERROR_BUSY);
    EXPECT_STREQ(At(r, feldar1)->ProductText, "Rig \"B\" (0.2)");

    struct {
        int device;
        const char *port;
        const char *tag;
        const char *message;
    } const cases[] = {
        {tirk1, "TIRK1", "(0.0)", ""},
        {tirk2, "TIRK2", "(0.0)", ""},
        {feldar1, "FELDAR1", "(0.2)", ""},
        {busy, "FELDAR2", "(0.2)", "Unable to claim USB interface: LIBUSB_ERROR_BUSY.\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.port);
        const ScanDevice *d = At(r, c.device);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(PortName(*d), c.port);
        auto opened = OpenPort(c.tag, c.port[std::strlen(c.port) - 1] - '1');
        EXPECT_EQ(static_cast<uint8_t>(opened.first), d->Address);
        EXPECT_EQ(opened.second, c.message);
    }
    EXPECT_EQ(OpenPort("(0.0)", 2).second, "No matching device found!");
    EXPECT_EQ(OpenPort("(0.2)", 2).second, "No matching device found!");

    std::string text = TextReport(r);
    for (const char *line :
         {"port 'TIRK2'", "\"KELBIO FELDAR board (0.2)\"  FELDAR board, passed over by Open; cannot open: "
          "LIBUSB_ERROR_ACCESS\n      -> no permission: install the udev rules",
          "plugdev", "cannot claim interface 0: LIBUSB_ERROR_BUSY\n      -> another program holds it",
          "product string unreadable (LIBUSB_ERROR_IO): Open passes it over",
          "1209:0001  no product string: Open passes it over", "2 other USB devices are no board",
          "4 boards found."})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
    std::string json = JsonReport(r);
    EXPECT_NE(json.find("\"string\":\"Rig \\\"B\\\" (0.2)\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"port\":\"FELDAR2\",\"open_error\":\"\",\"claim_error\":\"LIBUSB_ERROR_BUSY\""),
              std::string::npos) << json;
}

TEST_F(ScanTest, PortDigitsEndAtNineAndDeviceTextIsEscaped) {
    for (int i = 0; i < 10; i++) Board(1);
    int odd = Board(3, std::string("a\\b\x01\t\x7f (0.3)"));
    ScanResult r = ScanBus();
    EXPECT_EQ(PortName(r.Devices[8]), "SORVANDEL9");
    EXPECT_EQ(PortName(r.Devices[9]), "");
    EXPECT_NE(TextReport(r).find("no port reaches it (ports end at SORVANDEL9)"), std::string::npos);
    EXPECT_NE(TextReport(r).find("\"a\\b???"), std::string::npos);
    EXPECT_NE(JsonReport(r).find("\"a\\\\b\\u0001\\t\\u007f (0.3)\""), std::string::npos);
    EXPECT_EQ(PortName(*At(r, odd)), "MORSIVAN1");
}

// A blank chip and each kind of firmware file: the scan's verdict is whether
// USBopen programs the chip.
TEST_F(ScanTest, BlankChipIsProgrammedExactlyWhenTheScanSaysSo) {
    const std::string image = HexLine(0x0100, 0, Bytes(16, 0x55)) + HexLine(0x0000, 0, {1, 2, 3}) +
                              HexLine(0, 1, {});
    struct {
        const char *name;
        std::string file;  // "" unset; "-" a file that does not exist
        int openFault, claimFault;
        bool image;
        const char *says;
    } const cases[] = {
        {"unset", "", 0, 0, false, "ZARVUSB_HEX_FILE is not set"},
        {"missing", "-", 0, 0, false, "which cannot be read (No such file or directory)"},
        {"not hex", WriteFile("firmware\n"), 0, 0, false,
         "which is no HEX image Open can load (it stops after 0 data records, without an end record): "
         "Open holds the chips' CPUs in reset"},
        {"no end", WriteFile(HexLine(0, 0, {1})), 0, 0, false, "stops after 1 data records"},
        {"image", WriteFile(image), 0, 0, true, "2 data records, 19 bytes, 0x0000-0x010F"},
        {"built", BuiltFirmware("tirk"), 0, 0, true,
         "Open programs it\n  They come back as boards after the download, and the port names below may move"},
        {"held", WriteFile(image), 0, LIBUSB_ERROR_BUSY, true,
         "cannot claim interface 0: LIBUSB_ERROR_BUSY\n      -> another program"},
        {"refused", WriteFile(image), LIBUSB_ERROR_ACCESS, 0, true,
         "blank FX2; cannot open: LIBUSB_ERROR_ACCESS\n      -> no permission"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        kelbsim::Reset();
        int tirk = Board(0);
        int chip = kelbsim::AddFX2();
        if (c.openFault != 0) Fail(Op::Open, chip, c.openFault);
        if (c.claimFault != 0) Fail(Op::Claim, chip, c.claimFault);
        if (c.file.empty()) {
            unsetenv("ZARVUSB_HEX_FILE");
        } else {
            UseFirmware(c.file == "-" ? ::testing::TempDir() + "kelb-no-such.hex" : c.file);
        }
        ScanResult r = ScanBus();
        ASSERT_EQ(r.Devices.size(), 2u);
        EXPECT_EQ(At(r, chip), &r.Devices[0]);  // blank chips come first
        EXPECT_EQ(r.Devices[0].Kind, ScanKind::Blank);
        EXPECT_EQ(PortName(r.Devices[1]), "TIRK1");
        EXPECT_EQ(r.Firmware.Image, c.image);
        std::string text = TextReport(r);
        EXPECT_NE(text.find(c.says), std::string::npos) << text;

        bool programs = WouldProgram(r.Devices[0], r.Firmware);
        KELBstruct port = Record("(0.0)");
        EXPECT_EQ(Open(&port), "");
        EXPECT_EQ(PortIsOpen(&port) ? kelbsim::Calls("libusb_claim_interface").back().device : 0, tirk);
        // A file that is no image still stops the chip's CPU, and leaves it so.
        bool touched = c.openFault == 0 && c.claimFault == 0 && r.Firmware.Readable;
        EXPECT_EQ(kelbsim::CpuInReset(chip), !programs);
        EXPECT_EQ(Loads(chip).empty(), !touched);
        USBclose(&port);
    }
}

// A chip that still shows the FX2's ids but runs firmware with a tagged
// product string: without a firmware file (or when it cannot be claimed)
// Open leaves it alone and counts it as a board; with one, Open programs it.
TEST_F(ScanTest, TaggedChipWithTheFx2IdsIsABoardWhenOpenLeavesItAlone) {
    const std::string image = HexLine(0x0000, 0, {1, 2, 3}) + HexLine(0, 1, {});
    struct {
        const char *name;
        std::string file;
        int claimFault;
        bool board;
    } const cases[] = {
        {"no file", "", 0, true},
        {"unreadable file", "-", 0, true},
        {"held by another program", WriteFile(image), LIBUSB_ERROR_BUSY, true},
        {"firmware to load", WriteFile(image), 0, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        kelbsim::Reset();
        int tirk = Board(0);
        kelbsim::BoardSetup setup;
        setup.vendorId = 0x04B4;
        setup.productId = 0x8613;
        int chip = kelbsim::AddBoard(setup);
        if (c.claimFault != 0) Fail(Op::Claim, chip, c.claimFault);
        if (c.file.empty()) {
            unsetenv("ZARVUSB_HEX_FILE");
        } else {
            UseFirmware(c.file == "-" ? ::testing::TempDir() + "kelb-no-such.hex" : c.file);
        }
        ScanResult r = ScanBus();
        const ScanDevice *d = At(r, chip);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->Kind, c.board ? ScanKind::Board : ScanKind::Blank);
        EXPECT_EQ(PortName(*d), c.board ? "TIRK2" : "");
        EXPECT_EQ(r.Boards, c.board ? 2 : 1);
        if (!c.board) continue;  // Open would program it: nothing to compare
        std::string text = TextReport(r);
        EXPECT_NE(text.find("04b4:8613  \"KELBIO TIRK board (0.0)\"  TIRK  port 'TIRK2'"), std::string::npos)
            << text;
        EXPECT_EQ(OpenPort("(0.0)", 0).first, tirk);
        auto [chosen, message] = OpenPort("(0.0)", 1);
        EXPECT_EQ(chosen, chip);
        EXPECT_EQ(message, c.claimFault ? "Unable to claim USB interface: LIBUSB_ERROR_BUSY.\n" : "");
    }
}

TEST_F(ScanTest, AnEmptyBusSaysWhereDevicesGo) {
    ScanResult r = ScanBus();
    EXPECT_EQ(r.Visible, 0);
    EXPECT_EQ(r.Boards, 0);
    EXPECT_EQ(TextReport(r), std::string(NoDeviceAdvice) + "\n0 boards found.\n");
    EXPECT_NE(JsonReport(r).find("\"boards\":[],\"note\":\"No USB device is visible"), std::string::npos);

    Fail(Op::Init, 0, LIBUSB_ERROR_OTHER);
    r = ScanBus();
    EXPECT_EQ(r.InitError, LIBUSB_ERROR_OTHER);
    EXPECT_EQ(TextReport(r).find("Cannot start libusb: LIBUSB_ERROR_OTHER.\nNo USB device is visible"), 0u);
}

}  // namespace
}  // namespace usbtest
