// The selection phase of USBopen: which board a port gets, what is passed
// over, the messages, and what the record keeps on each failure.
#include "usbtest.h"

namespace usbtest {
namespace {

using kelbsim::Op;

class SelectTest : public UsbTest {
protected:
    int Board(const std::string &product) {
        kelbsim::BoardSetup setup;
        setup.model = 2;
        setup.product = product;
        return kelbsim::AddBoard(setup);
    }
    // The device whose interface the port claimed.
    int Chosen() {
        auto claims = kelbsim::Calls("libusb_claim_interface");
        return claims.empty() ? 0 : claims.back().device;
    }
};

TEST_F(SelectTest, DeviceNumberCountsMatchesInListOrder) {
    int first = Board("A (0.2)");
    kelbsim::AddBoard(0);
    int second = Board("B (0.2)");
    ASSERT_EQ(Open(&port_), "");
    EXPECT_EQ(Chosen(), first);
    EXPECT_EQ(kelbsim::Calls("libusb_claim_interface").back().iface, 0);

    KELBstruct other = Record("(0.2)", 1);
    ASSERT_EQ(Open(&other), "");
    EXPECT_EQ(Chosen(), second);
    USBclose(&other);

    KELBstruct third = Record("(0.2)", 2);
    EXPECT_EQ(Open(&third), "No matching device found!");
    EXPECT_EQ(third.Context, nullptr);
    EXPECT_FALSE(PortIsOpen(&third));
}

TEST_F(SelectTest, TagIsTheTailFromTheLastParenthesisInAnyCase) {
    Board("Rig (0.2) (0.0)");     // last part is another model's tag
    Board("Rig (0.2) ");          // a blank after the tag
    Board("Rig 0.2");             // no parenthesis at all
    int match = Board("old (rev.A) rig (REV.b)");
    port_ = Record("(rev.B)");
    ASSERT_EQ(Open(&port_), "");
    EXPECT_EQ(Chosen(), match);

    KELBstruct tirk = Record("(0.0)");
    ASSERT_EQ(Open(&tirk), "");
    EXPECT_EQ(Chosen(), kelbsim::Devices()[0]);
    USBclose(&tirk);
}

TEST_F(SelectTest, UnusableDevicesArePassedOverAndClosed) {
    int noDescriptor = Board("x (0.2)");
    int refused = Board("x (0.2)");
    kelbsim::BoardSetup nameless;
    nameless.model = 2;
    nameless.hasProduct = false;
    kelbsim::AddBoard(nameless);
    int stalls = Board("x (0.2)");
    kelbsim::AddFX2();  // no product string at all
    int good = Board("x (0.2)");
    kelbsim::Script({Op::Descriptor, noDescriptor, LIBUSB_ERROR_IO, 0, -1});
    kelbsim::Script({Op::Open, refused, LIBUSB_ERROR_ACCESS, 0, -1});
    kelbsim::Script({Op::String, stalls, LIBUSB_ERROR_PIPE, 0, -1});
    ASSERT_EQ(Open(&port_), "");
    EXPECT_EQ(Chosen(), good);
    // Every handle opened on the way was closed again (TearDown checks the
    // count); only the chosen one was claimed.
    EXPECT_EQ(kelbsim::Calls("libusb_claim_interface").size(), 1u);
    size_t opened = 0;
    for (const auto &c : kelbsim::Calls("libusb_open")) opened += c.result == 0;
    EXPECT_EQ(opened, 4u);  // nameless, stalls, the chip, good
    EXPECT_EQ(kelbsim::Calls("libusb_close").size(), opened - 1);
}

TEST_F(SelectTest, ProductStringIsAskedWithItsIndexAnd200Bytes) {
    Board("KELBIO FELDAR board (0.2)");
    ASSERT_EQ(Open(&port_), "");
    auto strings = kelbsim::Calls("libusb_get_string_descriptor_ascii");
    ASSERT_EQ(strings.size(), 1u);
    EXPECT_EQ(strings[0].index, 2);
    EXPECT_EQ(strings[0].length, 200);
}

TEST_F(SelectTest, EmptyBus) {
    EXPECT_EQ(Open(&port_), "No USB devices found!");
    EXPECT_EQ(port_.Context, nullptr);
}

TEST_F(SelectTest, NoMatchingBoardReleasesTheContext) {
    kelbsim::AddBoard(0);
    kelbsim::AddFX2();
    EXPECT_EQ(Open(&port_), "No matching device found!");
    EXPECT_EQ(port_.Context, nullptr);
    EXPECT_FALSE(PortIsOpen(&port_));
}

TEST_F(SelectTest, EnumerationFailure) {
    Board("x (0.2)");
    kelbsim::Script({Op::List, 0, LIBUSB_ERROR_NO_MEM});
    EXPECT_EQ(Open(&port_), "Unable to get list of USB devices: LIBUSB_ERROR_NO_MEM.\n");
    EXPECT_EQ(port_.Context, nullptr);
}

TEST_F(SelectTest, ContextFailure) {
    kelbsim::Script({Op::Init, 0, LIBUSB_ERROR_OTHER});
    EXPECT_EQ(Open(&port_), "Unable to create USB context: LIBUSB_ERROR_OTHER.\n");
    EXPECT_EQ(port_.Context, nullptr);
    EXPECT_EQ(kelbsim::Calls("libusb_get_device_list").size(), 0u);
}

TEST_F(SelectTest, ClaimFailureKeepsTheContextForTheNextOpen) {
    int board = Board("x (0.2)");
    kelbsim::Script({Op::Claim, board, LIBUSB_ERROR_BUSY});
    EXPECT_EQ(Open(&port_), "Unable to claim USB interface: LIBUSB_ERROR_BUSY.\n");
    EXPECT_FALSE(PortIsOpen(&port_));
    ASSERT_NE(port_.Context, nullptr);
    EXPECT_EQ(kelbsim::Alive().handles, 0);
    EXPECT_EQ(kelbsim::Alive().lists, 0);
    libusb_context *kept = port_.Context;

    ASSERT_EQ(Open(&port_), "");
    EXPECT_EQ(port_.Context, kept);
    EXPECT_EQ(kelbsim::Calls("libusb_init").size(), 1u);
    EXPECT_TRUE(PortIsOpen(&port_));
}

}  // namespace
}  // namespace usbtest
