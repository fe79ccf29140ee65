// The firmware phase of USBopen: which chips are programmed, the exact loader
// requests, the message and the single pause.
#include <algorithm>

#include "usbtest.h"

namespace usbtest {
namespace {

constexpr char kMessage[] = "FX2 device(s) initialized, waiting for re-enumeration.\n";

Bytes Range(int from, int count) {
    Bytes b;
    for (int i = 0; i < count; i++) b.push_back(static_cast<uint8_t>(from + i));
    return b;
}

const Load kReset{0xE600, {1}};
const Load kRun{0xE600, {0}};

// Two full records and a short one, not in address order, then the end.
const std::string kSmallImage = HexLine(0x0010, 0, Range(0x10, 16)) +
                                HexLine(0x0000, 0, Range(0x00, 16)) +
                                HexLine(0x1F00, 0, {0xAA, 0xBB, 0xCC}) + HexLine(0, 1, {});
const std::vector<Load> kSmallLoads = {kReset,
                                       {0x0010, Range(0x10, 16)},
                                       {0x0000, Range(0x00, 16)},
                                       {0x1F00, {0xAA, 0xBB, 0xCC}},
                                       kRun};

class FirmwareTest : public UsbTest {
protected:
    // Runs USBopen against a FELDAR board put after whatever the test added.
    std::string OpenWithBoard() {
        board_ = kelbsim::AddBoard(2);
        return Open(&port_);
    }
    void ExpectNoPause() {
        EXPECT_EQ(kelbhost::Printed(), "");
        EXPECT_TRUE(kelbhost::Evals().empty());
        EXPECT_TRUE(kelbsim::SleepCalls().empty());
    }
    void ExpectOnePause() {
        EXPECT_EQ(kelbhost::Printed(), kMessage);
        EXPECT_EQ(kelbhost::Evals(), std::vector<std::string>{"drawnow;"});
        EXPECT_EQ(kelbsim::SleepCalls(), std::vector<unsigned int>{3});
    }
    // The log up to the selection's enumeration.
    static std::vector<kelbsim::Call> FirmwarePhase() {
        std::vector<kelbsim::Call> calls;
        int lists = 0;
        for (const auto &c : kelbsim::Log()) {
            if (c.fn == "libusb_get_device_list" && ++lists == 2) break;
            calls.push_back(c);
        }
        return calls;
    }
    int board_ = 0;
};

TEST_F(FirmwareTest, VariableUnsetTouchesNoChipAndGoesStraightToSelection) {
    int fx2 = kelbsim::AddFX2();
    ASSERT_EQ(OpenWithBoard(), "");
    EXPECT_TRUE(kelbsim::Calls("libusb_control_transfer").empty());
    EXPECT_TRUE(kelbsim::CpuInReset(fx2));
    ExpectNoPause();
    // One enumeration only: the selection's.
    EXPECT_EQ(kelbsim::Calls("libusb_get_device_list").size(), 1u);
    EXPECT_EQ(kelbsim::Log()[0].fn, "libusb_init");
    EXPECT_EQ(kelbsim::Log()[1].fn, "libusb_get_device_list");
}

TEST_F(FirmwareTest, UnreadableFileSkipsThePhase) {
    kelbsim::AddFX2();
    UseFirmware(::testing::TempDir() + "no-such-firmware.hex");
    ASSERT_EQ(OpenWithBoard(), "");
    EXPECT_EQ(kelbsim::Calls("libusb_get_device_list").size(), 1u);
    EXPECT_TRUE(kelbsim::Calls("libusb_control_transfer").empty());
    ExpectNoPause();
}

TEST_F(FirmwareTest, FileButNoBlankChipOpensAndClosesTheFileOnly) {
    UseFirmware(WriteFile(kSmallImage));
    int fds = OpenFds();
    ASSERT_EQ(OpenWithBoard(), "");
    EXPECT_EQ(OpenFds(), fds);
    EXPECT_EQ(kelbsim::Calls("libusb_get_device_list").size(), 2u);
    EXPECT_TRUE(kelbsim::Calls("libusb_control_transfer").empty());
    // The board was not opened in the firmware phase: it is no blank chip.
    EXPECT_EQ(kelbsim::Calls("libusb_open").size(), 1u);
    ExpectNoPause();
}

TEST_F(FirmwareTest, EmptyBusEndsThePhaseQuietly) {
    UseFirmware(WriteFile(kSmallImage));
    int fds = OpenFds();
    EXPECT_EQ(Open(&port_), "No USB devices found!");
    EXPECT_EQ(OpenFds(), fds);
    EXPECT_EQ(port_.Context, nullptr);
    ExpectNoPause();
}

TEST_F(FirmwareTest, ExactLoaderRequestsInFileOrder) {
    int fx2 = kelbsim::AddFX2();
    UseFirmware(WriteFile(kSmallImage));
    ASSERT_EQ(OpenWithBoard(), "");
    EXPECT_EQ(Loads(fx2), kSmallLoads);
    // The image holds no descriptors: the chip runs it and stays where it is.
    EXPECT_FALSE(kelbsim::CpuInReset(fx2));
    auto mem = kelbsim::Memory(fx2);
    EXPECT_TRUE(std::equal(mem.begin() + 0x1F00, mem.begin() + 0x1F03, Bytes{0xAA, 0xBB, 0xCC}.begin()));
    ExpectOnePause();
    // In the firmware phase the chip was claimed, released and closed.
    std::vector<std::string> onChip;
    for (const auto &c : FirmwarePhase()) {
        if (c.device == fx2 && c.fn != "libusb_get_device_descriptor" &&
            c.fn != "libusb_control_transfer") {
            onChip.push_back(c.fn);
        }
    }
    EXPECT_EQ(onChip, (std::vector<std::string>{"libusb_open", "libusb_claim_interface",
                                                "libusb_release_interface", "libusb_close"}));
}

TEST_F(FirmwareTest, CrLfFileGivesTheSameRequests) {
    std::string crlf;
    for (char c : kSmallImage) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    int fx2 = kelbsim::AddFX2();
    UseFirmware(WriteFile(crlf));
    ASSERT_EQ(OpenWithBoard(), "");
    EXPECT_EQ(Loads(fx2), kSmallLoads);
}

TEST_F(FirmwareTest, LeadingBlankLineLosesNoRecord) {
    int fx2 = kelbsim::AddFX2();
    UseFirmware(WriteFile("\n" + kSmallImage));
    ASSERT_EQ(OpenWithBoard(), "");
    EXPECT_EQ(Loads(fx2), kSmallLoads);

    kelbsim::ClearLog();
    USBclose(&port_);
    int fx2b = kelbsim::AddFX2();
    UseFirmware(WriteFile("  \t" + kSmallImage));
    ASSERT_EQ(Open(&port_), "");
    EXPECT_EQ(Loads(fx2b), kSmallLoads);
}

TEST_F(FirmwareTest, WrongChecksumIsWrittenAllTheSame) {
    std::string line = HexLine(0x0040, 0, {1, 2, 3});
    line[line.size() - 2] = line[line.size() - 2] == '0' ? '1' : '0';
    int fx2 = kelbsim::AddFX2();
    UseFirmware(WriteFile(line + HexLine(0, 1, {})));
    ASSERT_EQ(OpenWithBoard(), "");
    EXPECT_EQ(Loads(fx2), (std::vector<Load>{kReset, {0x0040, {1, 2, 3}}, kRun}));
}

TEST_F(FirmwareTest, ZeroLengthRecordSendsNothing) {
    int fx2 = kelbsim::AddFX2();
    UseFirmware(WriteFile(HexLine(0x0100, 0, {}) + HexLine(0x0200, 0, {7}) + HexLine(0, 1, {})));
    ASSERT_EQ(OpenWithBoard(), "");
    EXPECT_EQ(Loads(fx2), (std::vector<Load>{kReset, {0x0200, {7}}, kRun}));
}

TEST_F(FirmwareTest, ExtendedAddressFirstEndsTheDownloadAsProgrammed) {
    int fx2 = kelbsim::AddFX2();
    UseFirmware(WriteFile(HexLine(0, 4, {0x00, 0x00}) + kSmallImage));
    ASSERT_EQ(OpenWithBoard(), "");
    EXPECT_EQ(Loads(fx2), (std::vector<Load>{kReset, kRun}));
    ExpectOnePause();
}

TEST_F(FirmwareTest, OversizedRecordFailsWithTheCpuInReset) {
    int fx2 = kelbsim::AddFX2();
    UseFirmware(WriteFile(HexLine(0, 0, Range(0, 32)) + HexLine(0, 1, {})));
    ASSERT_EQ(OpenWithBoard(), "");
    EXPECT_EQ(Loads(fx2), std::vector<Load>{kReset});
    EXPECT_TRUE(kelbsim::CpuInReset(fx2));
    ExpectNoPause();
    EXPECT_EQ(kelbsim::Alive().claims, 1);  // only the port's: the chip was released
}

TEST_F(FirmwareTest, SignedCountOrAddressFailsWithoutSendingAnything) {
    // "%X" reads "-1"; taken as a count it would send 65535 bytes, and an
    // address of -256 would go out as wIndex 0xFFFF.
    for (const char *line : {":-10000000000\n", ":1-10000410\n"}) {
        int fx2 = kelbsim::AddFX2();
        UseFirmware(WriteFile(line + HexLine(0, 1, {})));
        ASSERT_EQ(OpenWithBoard(), "") << line;
        EXPECT_EQ(Loads(fx2), std::vector<Load>{kReset}) << line;
        EXPECT_TRUE(kelbsim::CpuInReset(fx2)) << line;
        USBclose(&port_);
        kelbsim::Reset();
    }
}

TEST_F(FirmwareTest, EmptyFileFails) {
    int fx2 = kelbsim::AddFX2();
    UseFirmware(WriteFile(""));
    ASSERT_EQ(OpenWithBoard(), "");
    EXPECT_EQ(Loads(fx2), std::vector<Load>{kReset});
    EXPECT_TRUE(kelbsim::CpuInReset(fx2));
    ExpectNoPause();
}

TEST_F(FirmwareTest, TwoChipsProgrammedInListOrderThenOnePause) {
    int a = kelbsim::AddFX2();
    int b = kelbsim::AddFX2();
    UseFirmware(BuiltFirmware("feldar"));
    ASSERT_EQ(Open(&port_), "");
    ExpectOnePause();

    // All of a's requests come before b's, each framed by CPUCS 1 and 0.
    std::vector<int> order;
    for (const auto &c : kelbsim::Calls("libusb_control_transfer")) order.push_back(c.device);
    ASSERT_FALSE(order.empty());
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    EXPECT_EQ(order.front(), a);
    EXPECT_EQ(order.back(), b);
    for (int chip : {a, b}) {
        auto loads = Loads(chip);
        ASSERT_GE(loads.size(), 3u);
        EXPECT_EQ(loads.front(), kReset);
        EXPECT_EQ(loads.back(), kRun);
    }

    // The pause follows the last request, and the selection follows the pause.
    const auto &log = kelbsim::Log();
    auto sleep = std::find_if(log.begin(), log.end(), [](const kelbsim::Call &c) { return c.fn == "sleep"; });
    ASSERT_NE(sleep, log.end());
    EXPECT_TRUE(std::none_of(sleep, log.end(), [](const kelbsim::Call &c) {
        return c.fn == "libusb_control_transfer";
    }));
    // The selection starts in a new context: the one that saw the boards
    // come back lists the last one first, a later Open would not.
    ASSERT_GE(log.end() - sleep, 4);
    EXPECT_EQ((sleep + 1)->fn, "libusb_exit");
    EXPECT_EQ((sleep + 2)->fn, "libusb_init");
    EXPECT_EQ((sleep + 3)->fn, "libusb_get_device_list");
    EXPECT_EQ(kelbsim::Alive().contexts, 1);

    // Both came back as FELDAR boards where the chips were; Device 0 is the
    // first for this port and for the next.
    auto ids = kelbsim::Devices();
    ASSERT_EQ(ids.size(), 2u);
    for (int id : ids) EXPECT_EQ(kelbsim::Product(id), "KELBIO FELDAR board (0.2)");
    EXPECT_EQ(kelbsim::Calls("libusb_claim_interface").back().device, ids[0]);

    KELBstruct second = Record("(0.2)", 1);
    EXPECT_EQ(Open(&second), "");
    EXPECT_EQ(kelbsim::Calls("libusb_claim_interface").back().device, ids[1]);
    USBclose(&second);
}

TEST_F(FirmwareTest, ClaimRefusedChipIsSkippedButTheWaitIsArmed) {
    int fx2 = kelbsim::AddFX2();
    kelbsim::Script({kelbsim::Op::Claim, fx2, LIBUSB_ERROR_BUSY, 0, -1});
    UseFirmware(BuiltFirmware("feldar"));
    ASSERT_EQ(OpenWithBoard(), "");
    EXPECT_TRUE(Loads(fx2).empty());
    EXPECT_TRUE(kelbsim::CpuInReset(fx2));
    ExpectOnePause();
    // Closed without a release, as it was never claimed.
    for (const auto &c : kelbsim::Calls("libusb_release_interface")) EXPECT_NE(c.device, fx2);
}

TEST_F(FirmwareTest, UnopenableChipIsPassedOverSilently) {
    int fx2 = kelbsim::AddFX2();
    kelbsim::Script({kelbsim::Op::Open, fx2, LIBUSB_ERROR_ACCESS, 0, -1});
    UseFirmware(BuiltFirmware("feldar"));
    ASSERT_EQ(OpenWithBoard(), "");
    EXPECT_TRUE(Loads(fx2).empty());
    ExpectNoPause();
}

TEST_F(FirmwareTest, FailedDownloadEndsTheScan) {
    int a = kelbsim::AddFX2();
    int b = kelbsim::AddFX2();
    // a takes CPUCS = 1, then refuses its first data record.
    kelbsim::Script({kelbsim::Op::Control, a, LIBUSB_ERROR_PIPE, 1, 1});
    UseFirmware(WriteFile(kSmallImage));
    ASSERT_EQ(OpenWithBoard(), "");
    auto loads = Loads(a);
    ASSERT_EQ(loads.size(), 2u);
    EXPECT_EQ(loads[0], kReset);
    EXPECT_TRUE(kelbsim::CpuInReset(a));
    for (const auto &c : FirmwarePhase()) EXPECT_NE(c.device, b) << kelbsim::Describe(c);
    ExpectNoPause();
}

TEST_F(FirmwareTest, ChipsProgrammedBeforeAFailureStillGetThePause) {
    int a = kelbsim::AddFX2();
    int b = kelbsim::AddFX2();
    int c = kelbsim::AddFX2();
    kelbsim::Script({kelbsim::Op::Control, b, LIBUSB_ERROR_TIMEOUT, 0, 1});  // CPUCS = 1 fails
    UseFirmware(WriteFile(kSmallImage));
    ASSERT_EQ(OpenWithBoard(), "");
    EXPECT_EQ(Loads(a), kSmallLoads);
    EXPECT_EQ(Loads(b), std::vector<Load>{kReset});
    EXPECT_TRUE(Loads(c).empty());
    ExpectOnePause();
}

TEST_F(FirmwareTest, ProgrammedChipIsOpenedAsTheBoardItsImageDescribes) {
    // The bus brings a programmed chip back one second after it starts; the
    // pause (3 s on the bus clock) is what lets the selection see it.
    kelbsim::AddFX2();
    UseFirmware(BuiltFirmware("tirk"));
    port_ = Record("(0.0)");
    ASSERT_EQ(Open(&port_), "");
    EXPECT_EQ(kelbsim::Model(kelbsim::Devices()[0]), 0);
}

}  // namespace
}  // namespace usbtest
