// The virtual bus as other suites use it: the sample firmware matches what
// the build makes, and a chip loaded with it comes back as its board.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <tuple>

#include "sim/usb/bus.h"

namespace {

std::string ReadAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(VirtualBus, SampleFirmwareIsTheImageTheBuildMakes) {
    std::string sample = ReadAll(KELB_SOURCE_DIR "/examples/firmware/virtual-feldar.hex");
    ASSERT_FALSE(sample.empty());
    EXPECT_EQ(sample, kelbsim::FirmwareHex("KELBIO FELDAR board (0.2)"));
    EXPECT_EQ(ReadAll(KELBSIM_FIRMWARE_DIR "/feldar.hex"), sample);
}

TEST(VirtualBus, ChipComesBackAfterTheDelayInItsPlaceAndFirstInTheListsOfItsTime) {
    kelbsim::Reset();
    int before = kelbsim::AddBoard(0);
    int fx2 = kelbsim::AddFX2();
    int after = kelbsim::AddBoard(4);
    libusb_context *ctx = nullptr;
    ASSERT_EQ(libusb_init(&ctx), 0);
    libusb_device **list = nullptr;
    ASSERT_EQ(libusb_get_device_list(ctx, &list), 3);
    libusb_device_handle *h = nullptr;
    ASSERT_EQ(libusb_open(list[1], &h), 0);
    libusb_free_device_list(list, 1);

    // Nothing lands outside the 64 KB, however the address wraps.
    unsigned char bytes[16] = {0xEE};
    EXPECT_EQ(libusb_control_transfer(h, 0x40, 0xA0, 0xFFFF, 0xFFFF, bytes, 1, 1000), LIBUSB_ERROR_PIPE);
    EXPECT_EQ(libusb_control_transfer(h, 0x40, 0xA0, 0xFFF8, 0, bytes, 16, 1000), LIBUSB_ERROR_PIPE);
    EXPECT_EQ(libusb_control_transfer(h, 0x40, 0xA0, 0xFFF0, 0, bytes, 16, 1000), 16);

    // Load the image record by record, as a loader would, then release the CPU.
    std::istringstream hex(kelbsim::FirmwareHex("Lab rig (0.3)", 0x1234, 0x5678));
    std::string line;
    while (std::getline(hex, line) && line.substr(7, 2) == "00") {
        int count = std::stoi(line.substr(1, 2), nullptr, 16);
        uint16_t address = static_cast<uint16_t>(std::stoi(line.substr(3, 4), nullptr, 16));
        unsigned char data[16];
        for (int i = 0; i < count; i++) data[i] = static_cast<unsigned char>(std::stoi(line.substr(9 + 2 * i, 2), nullptr, 16));
        ASSERT_EQ(libusb_control_transfer(h, 0x40, 0xA0, address, 0, data, static_cast<uint16_t>(count), 1000), count);
    }
    unsigned char run = 0;
    ASSERT_EQ(libusb_control_transfer(h, 0x40, 0xA0, 0xE600, 0, &run, 1, 1000), 1);
    EXPECT_EQ(kelbsim::Devices(), (std::vector<int>{before, after}));
    // Gone: the old handle finds no device.
    EXPECT_EQ(libusb_control_transfer(h, 0x40, 0xA0, 0xE600, 0, &run, 1, 1000), LIBUSB_ERROR_NO_DEVICE);
    libusb_close(h);

    kelbsim::Sleep(1);
    auto ids = kelbsim::Devices();
    ASSERT_EQ(ids.size(), 3u);
    EXPECT_EQ(ids[0], before);
    EXPECT_EQ(ids[2], after);
    EXPECT_NE(ids[1], fx2);
    EXPECT_EQ(kelbsim::Product(ids[1]), "Lab rig (0.3)");
    EXPECT_EQ(kelbsim::Model(ids[1]), 3);
    EXPECT_EQ(kelbsim::VendorId(ids[1]), 0x1234);
    EXPECT_EQ(kelbsim::ProductId(ids[1]), 0x5678);

    // As the real libusb lists them: the context that saw the board come
    // lists it first, a new context where the chip was.
    // A board plugged in now is first for both, last for a context after it.
    libusb_context *fresh = nullptr, *later = nullptr;
    ASSERT_EQ(libusb_init(&fresh), 0);
    int plugged = kelbsim::AddBoard(1);
    ASSERT_EQ(libusb_init(&later), 0);
    for (auto [context, first, second] : {std::tuple{ctx, plugged, ids[1]}, std::tuple{fresh, plugged, before},
                                          std::tuple{later, before, ids[1]}}) {
        ASSERT_EQ(libusb_get_device_list(context, &list), 4);
        EXPECT_EQ(libusb_get_device_address(list[0]), first);
        EXPECT_EQ(libusb_get_device_address(list[1]), second);
        libusb_free_device_list(list, 1);
    }
    libusb_exit(later);
    libusb_exit(fresh);
    libusb_exit(ctx);
    kelbsim::Counts n = kelbsim::Alive();
    EXPECT_EQ(n.contexts + n.handles + n.lists + n.deviceRefs + n.misuse, 0);
    kelbsim::Reset();
}

TEST(VirtualBus, StaleAndDoubleReleasesCountAsMisuse) {
    kelbsim::Reset();
    kelbsim::AddBoard(2);
    libusb_context *ctx = nullptr;
    ASSERT_EQ(libusb_init(&ctx), 0);
    libusb_device **list = nullptr;
    ASSERT_EQ(libusb_get_device_list(ctx, &list), 1);
    libusb_device_handle *h = nullptr;
    ASSERT_EQ(libusb_open(list[0], &h), 0);
    libusb_free_device_list(list, 1);
    libusb_free_device_list(list, 1);
    libusb_close(h);
    libusb_close(h);
    int sent = 0;
    unsigned char byte = 0;
    EXPECT_EQ(libusb_bulk_transfer(h, 0x02, &byte, 1, &sent, 100), LIBUSB_ERROR_INVALID_PARAM);
    libusb_exit(ctx);
    libusb_exit(ctx);
    EXPECT_EQ(kelbsim::Alive().misuse, 4);
    kelbsim::Reset();
}

TEST(VirtualBus, FaultWithCodeZeroLetsTheCallDoWhatItWould) {
    kelbsim::Reset();
    int board = kelbsim::AddBoard(1);
    for (kelbsim::Op op : {kelbsim::Op::Init, kelbsim::Op::Descriptor, kelbsim::Op::Open,
                           kelbsim::Op::Claim, kelbsim::Op::String}) {
        kelbsim::Script({op, 0, 0});
    }
    libusb_context *ctx = nullptr;
    ASSERT_EQ(libusb_init(&ctx), 0);
    ASSERT_NE(ctx, nullptr);
    libusb_device **list = nullptr;
    ASSERT_EQ(libusb_get_device_list(ctx, &list), 1);
    libusb_device_descriptor desc{};
    EXPECT_EQ(libusb_get_device_descriptor(list[0], &desc), 0);
    EXPECT_EQ(desc.iProduct, 2);
    libusb_device_handle *h = nullptr;
    ASSERT_EQ(libusb_open(list[0], &h), 0);
    ASSERT_NE(h, nullptr);
    libusb_free_device_list(list, 1);
    EXPECT_EQ(libusb_claim_interface(h, 0), 0);
    unsigned char text[64] = {};
    EXPECT_EQ(libusb_get_string_descriptor_ascii(h, 2, text, sizeof text),
              static_cast<int>(kelbsim::Product(board).size()));
    // A list fault with code 0 is an empty bus, with a list to free.
    kelbsim::Script({kelbsim::Op::List, 0, 0});
    list = nullptr;
    EXPECT_EQ(libusb_get_device_list(ctx, &list), 0);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list[0], nullptr);
    libusb_free_device_list(list, 1);
    libusb_release_interface(h, 0);
    libusb_close(h);
    libusb_exit(ctx);
    kelbsim::Counts n = kelbsim::Alive();
    EXPECT_EQ(n.contexts + n.handles + n.lists + n.deviceRefs + n.misuse, 0);
    kelbsim::Reset();
}

TEST(VirtualBus, EnvironmentNamesBoardsAndFaults) {
    kelbsim::Reset();
    std::string problems;
    EXPECT_FALSE(kelbsim::Configure("FX2;feldar=Rig 7 (0.2);bogus;;TIRK",
                                    "BulkIn:2:LIBUSB_ERROR_TIMEOUT:1:-1;claim:3:-6;Nope:1:1;Open:x:1",
                                    &problems));
    // One line per unusable entry, naming what would have worked.
    EXPECT_EQ(problems,
              "kelbsim: unknown board \"bogus\" in KELBSIM_BOARDS; the boards are TIRK, SORVANDEL, FELDAR,"
              " MORSIVAN, GASPILODEN and FX2 (a chip without firmware)\n"
              "kelbsim: cannot use fault \"Nope:1:1\" in KELBSIM_FAULTS; a fault is"
              " <op>:<device>:<code>[:<skip>[:<times>[:<transferred>[:unplug]]]], <op> one of Init, List,"
              " Descriptor, Open, Claim, Release, String, Control, BulkOut, BulkIn\n"
              "kelbsim: cannot use fault \"Open:x:1\" in KELBSIM_FAULTS; a fault is"
              " <op>:<device>:<code>[:<skip>[:<times>[:<transferred>[:unplug]]]], <op> one of Init, List,"
              " Descriptor, Open, Claim, Release, String, Control, BulkOut, BulkIn\n");
    auto ids = kelbsim::Devices();
    ASSERT_EQ(ids.size(), 3u);
    EXPECT_EQ(kelbsim::ProductId(ids[0]), 0x8613);
    EXPECT_EQ(kelbsim::Product(ids[1]), "Rig 7 (0.2)");
    EXPECT_EQ(kelbsim::Model(ids[1]), 2);
    EXPECT_EQ(kelbsim::Product(ids[2]), "KELBIO TIRK board (0.0)");

    libusb_context *ctx = nullptr;
    ASSERT_EQ(libusb_init(&ctx), 0);
    libusb_device **list = nullptr;
    ASSERT_EQ(libusb_get_device_list(ctx, &list), 3);
    libusb_device_handle *feldar = nullptr, *tirk = nullptr;
    ASSERT_EQ(libusb_open(list[1], &feldar), 0);
    ASSERT_EQ(libusb_open(list[2], &tirk), 0);
    libusb_free_device_list(list, 1);
    EXPECT_EQ(libusb_claim_interface(tirk, 0), LIBUSB_ERROR_BUSY);
    EXPECT_EQ(libusb_claim_interface(tirk, 0), 0);
    unsigned char buffer[16];
    int got = 0;
    EXPECT_EQ(libusb_bulk_transfer(feldar, 0x86, buffer, 16, &got, 100), 0);
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(libusb_bulk_transfer(feldar, 0x86, buffer, 16, &got, 100), LIBUSB_ERROR_TIMEOUT);
    }
    libusb_close(feldar);
    libusb_close(tirk);
    libusb_exit(ctx);
    kelbsim::Reset();
}

}  // namespace
