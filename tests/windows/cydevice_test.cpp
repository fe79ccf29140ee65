// CCyDevice on the simulated driver: enumeration, opening by index, the
// descriptor and query requests, endpoint binding and closing.
#include "cyusbtest.h"

#include <cstring>
#include <string>

using cyusbsim::Board;
using cyusbsim::ConfigSet;
using cyusbsim::EndpointDescriptor;
using cyusbsim::InterfaceDescriptor;

namespace {

std::string Narrow(const WCHAR *text) {
    std::string s;
    for (; *text; ++text) s.push_back(static_cast<char>(*text));
    return s;
}

// GET_DESCRIPTOR requests for the given wValue, in order.
std::vector<cyusbsim::Request> DescriptorRequests(uint16_t value) {
    std::vector<cyusbsim::Request> found;
    for (const auto &r : RequestsWith(0x220020))
        if (Le16(r.Input, 2) == value) found.push_back(r);
    return found;
}

using CyDeviceTest = CyUsbTest;

TEST_F(CyDeviceTest, CountingSendsNoRequestAndLeavesTheDeviceAlone) {
    for (const char *product : {"A (0.0)", "B (0.2)", "C (0.1)"}) cyusbsim::AddDevice(Board(product, -1));
    CCyDevice dev(nullptr, CYUSB_INTERFACE_GUID, false);
    EXPECT_EQ(dev.CountDevices(), 3);
    EXPECT_EQ(dev.DeviceCount, 3);
    EXPECT_FALSE(dev.IsOpen());
    EXPECT_TRUE(cyusbsim::Log().empty());
    EXPECT_TRUE(cyusbsim::Stats().CreatedPaths.empty());
    EXPECT_EQ(cyusbsim::Stats().OpenDevInfo, 0);

    // A member that fails for another reason is stepped over.
    cyusbsim::Faults().EnumErrors[1] = 31;
    EXPECT_EQ(dev.CountDevices(), 2);
    cyusbsim::Faults().ClassDevs = true;
    EXPECT_EQ(dev.CountDevices(), 0);
}

TEST_F(CyDeviceTest, NoDeviceOpensNothing) {
    CCyDevice dev(nullptr, CYUSB_INTERFACE_GUID);
    EXPECT_FALSE(dev.IsOpen());
    EXPECT_FALSE(dev.OpenDevice(0));
    EXPECT_TRUE(cyusbsim::Log().empty());
    EXPECT_TRUE(cyusbsim::Stats().CreatedPaths.empty());
}

TEST_F(CyDeviceTest, OneObjectVisitsEveryIndexInTurn) {
    const char *products[] = {"A (0.0)", "B (0.2)", "C (0.1)"};
    for (const char *product : products) cyusbsim::AddDevice(Board(product, -1));
    CCyDevice dev(nullptr, CYUSB_INTERFACE_GUID, false);
    for (uint8_t i = 0; i < 3; i++) {
        ASSERT_TRUE(dev.OpenDevice(i));
        EXPECT_EQ(dev.DeviceIndex, i);
        EXPECT_EQ(Narrow(dev.Product), products[i]);
        EXPECT_EQ(std::string(dev.DevicePath), cyusbsim::DeviceAt(i).Path);
        EXPECT_EQ(cyusbsim::Stats().OpenFiles, 1);
    }
    EXPECT_EQ(cyusbsim::Stats().LastCreateAccess, 0xC0000000u);
    EXPECT_EQ(cyusbsim::Stats().LastCreateShare, 3u);
    EXPECT_EQ(cyusbsim::Stats().LastCreateDisposition, 3u);
    EXPECT_EQ(cyusbsim::Stats().LastCreateFlags, 0x40000000u);
    EXPECT_FALSE(dev.OpenDevice(3));
    EXPECT_FALSE(dev.IsOpen());
    EXPECT_EQ(cyusbsim::Stats().OpenFiles, 0);
    EXPECT_EQ(cyusbsim::Stats().OpenDevInfo, 0);
}

TEST_F(CyDeviceTest, OpenReadsTheDescriptorsAndQueriesTheDriver) {
    cyusbsim::Device board = Board("KELB board (0.2)", -1);
    board.DeviceName = "Ezusb-0";
    board.DriverVersion = 0x01050601;
    board.Address = 7;
    cyusbsim::AddDevice(board);
    CCyDevice dev(nullptr, CYUSB_INTERFACE_GUID);
    ASSERT_TRUE(dev.IsOpen());

    auto device = DescriptorRequests(0x0100);
    ASSERT_EQ(device.size(), 1u);
    std::vector<uint8_t> expected(38 + 18, 0);
    const uint8_t head[] = {0x80, 6, 0x00, 0x01, 0, 0, 18, 0, 5, 0, 0, 0};
    std::memcpy(expected.data(), head, sizeof(head));
    expected[30] = 38;
    expected[34] = 18;
    EXPECT_EQ(device[0].Input, expected);
    EXPECT_FALSE(device[0].Overlapped);

    EXPECT_EQ(dev.VendorId, 0x04B4);
    EXPECT_EQ(dev.ProductId, 0x1004);
    EXPECT_EQ(dev.BcdUsb, 0x0200);
    EXPECT_EQ(dev.MaxPacketSize0, 64);
    EXPECT_EQ(dev.ConfigCount, 1);
    EXPECT_EQ(Narrow(dev.Manufacturer), "Cypress");
    EXPECT_EQ(Narrow(dev.Product), "KELB board (0.2)");
    EXPECT_EQ(std::string(dev.DeviceName), "Ezusb-0");
    EXPECT_EQ(dev.DriverVersion, 0x01050601u);
    EXPECT_EQ(dev.UsbAddress, 7);
    EXPECT_TRUE(dev.HighSpeed);
    EXPECT_EQ(dev.ControlEndpoint->MaxPacketSize, 64);
    EXPECT_EQ(dev.ConfigValue, 1);
    EXPECT_EQ(dev.AltInterfaceCount, 1);
    EXPECT_EQ(dev.InterfaceClass, 0xFF);

    // Configuration: header first, then the whole set.
    auto config = DescriptorRequests(0x0200);
    ASSERT_EQ(config.size(), 2u);
    EXPECT_EQ(Le16(config[0].Input, 6), 9);
    EXPECT_EQ(Le16(config[1].Input, 6), 32);

    // The detail record's size field is that of the build's fixed part.
    EXPECT_EQ(cyusbsim::Stats().LastDetailSize, sizeof(void *) == 8 ? 8u : 5u);
    dev.CloseDevice();
    EXPECT_EQ(cyusbsim::Stats().OpenFiles, 0);
}

TEST_F(CyDeviceTest, FailedQueriesLeaveZero) {
    cyusbsim::Device board = Board("Board (0.0)", -1);
    board.FailingCodes = {0x220000, 0x220010};
    board.EmptyCodes = {0x220004};
    board.Speed = 1;
    cyusbsim::AddDevice(board);
    CCyDevice dev(nullptr, CYUSB_INTERFACE_GUID);
    ASSERT_TRUE(dev.IsOpen());
    EXPECT_EQ(dev.DriverVersion, 0u);
    EXPECT_EQ(dev.UsbdiVersion, 0u);
    EXPECT_EQ(dev.UsbAddress, 0);
    EXPECT_FALSE(dev.HighSpeed);
    // Version 0 is an old driver: buffered transfers.
    EXPECT_EQ(dev.BulkInEndpoint->TransferMode, Buffered);
    dev.CloseDevice();
}

TEST_F(CyDeviceTest, LanguageIsUsEnglishWhenListedElseTheFirst) {
    struct Case {
        std::vector<uint8_t> list;
        uint16_t language;
    } cases[] = {
        {{6, 3, 0x07, 0x04, 0x09, 0x04}, 0x0409},
        {{6, 3, 0x07, 0x04, 0x0C, 0x04}, 0x0407},
        {{2, 3}, 0},
    };
    for (const auto &c : cases) {
        cyusbsim::Reset();
        cyusbsim::Device board = Board("Board (0.0)", -1);
        board.Strings[0] = c.list;
        cyusbsim::AddDevice(board);
        CCyDevice dev(nullptr, CYUSB_INTERFACE_GUID);
        EXPECT_EQ(dev.LanguageId, c.language);
        auto product = DescriptorRequests(0x0302);
        ASSERT_EQ(product.size(), 2u);
        EXPECT_EQ(Le16(product[0].Input, 4), c.language);  // wIndex
        EXPECT_EQ(Le16(product[1].Input, 6), 2 + 2 * 11);  // "Board (0.0)"
        dev.CloseDevice();
    }
}

TEST_F(CyDeviceTest, ShortOrMistypedStringDescriptorsLeaveTheFieldAlone) {
    cyusbsim::Device board = Board("Board (0.0)", -1);
    board.Strings[1] = {2, 3};                          // manufacturer: no text
    board.Strings[2] = {8, 4, 'A', 0, 'B', 0, 'C', 0};  // product: wrong type
    board.FailingDescriptors = {0x0303};                // serial number stalls
    cyusbsim::AddDevice(board);
    CCyDevice dev(nullptr, CYUSB_INTERFACE_GUID);
    EXPECT_TRUE(dev.IsOpen());
    EXPECT_EQ(dev.Manufacturer[0], 0);
    EXPECT_EQ(dev.Product[0], 0);
    EXPECT_EQ(dev.SerialNumber[0], 0);
    EXPECT_EQ(DescriptorRequests(0x0303).size(), 1u);  // nothing to ask after a stall

    // A string that fills the descriptor stays terminated.
    cyusbsim::Device longName = Board(std::string(126, 'x'), -1);
    cyusbsim::AddDevice(longName);
    ASSERT_TRUE(dev.OpenDevice(1));
    EXPECT_EQ(Narrow(dev.Product), std::string(126, 'x'));
    dev.CloseDevice();
}

// Each string index the device descriptor names is asked for, 0 included:
// that is string 0, the language list, read as text; no text of the device
// looked at before survives it.
TEST_F(CyDeviceTest, StringIndexZeroIsAskedForLikeAnyOther) {
    cyusbsim::AddDevice(Board("Board (0.0)", -1));
    cyusbsim::Device stringless = Board("", -1);
    stringless.DeviceDescriptor[15] = 0;  // iProduct
    cyusbsim::AddDevice(stringless);
    CCyDevice dev(nullptr, CYUSB_INTERFACE_GUID);
    ASSERT_EQ(Narrow(dev.Product), "Board (0.0)");
    cyusbsim::ClearLog();
    ASSERT_TRUE(dev.OpenDevice(1));
    auto strings = DescriptorRequests(0x0300);
    ASSERT_EQ(strings.size(), 4u);  // the language list twice, then iProduct 0 twice
    EXPECT_EQ(Le16(strings[2].Input, 4), 0x0409);
    EXPECT_EQ(Le16(strings[3].Input, 6), 4);
    EXPECT_EQ(dev.Product[0], 0x0409);
    EXPECT_EQ(dev.Product[1], 0);
    dev.CloseDevice();
}

TEST_F(CyDeviceTest, FirstEndpointOfEachKindIsBound) {
    cyusbsim::Device board = Board("Board (0.0)", -1);
    board.Configs[0] = ConfigSet({InterfaceDescriptor(0, 0, 6), EndpointDescriptor(0x81, 2, 512),
                                  EndpointDescriptor(0x86, 2, 512), EndpointDescriptor(0x02, 2, 512),
                                  EndpointDescriptor(0x83, 3, 64), EndpointDescriptor(0x04, 1, 1024),
                                  EndpointDescriptor(0x08, 2, 512)});
    cyusbsim::AddDevice(board);
    CCyDevice dev(nullptr, CYUSB_INTERFACE_GUID);
    ASSERT_TRUE(dev.IsOpen());
    EXPECT_EQ(dev.BulkInEndpoint->Address, 0x81);
    EXPECT_EQ(dev.BulkOutEndpoint->Address, 0x02);
    EXPECT_EQ(dev.InterruptInEndpoint->Address, 0x83);
    EXPECT_EQ(dev.IsocOutEndpoint->Address, 0x04);
    EXPECT_EQ(dev.InterruptOutEndpoint, nullptr);
    EXPECT_EQ(dev.IsocInEndpoint, nullptr);
    EXPECT_EQ(dev.Endpoints[0], dev.ControlEndpoint);
    EXPECT_EQ(dev.Endpoints[6]->Address, 0x08);
    dev.CloseDevice();
    EXPECT_EQ(dev.BulkInEndpoint, nullptr);
    EXPECT_EQ(dev.ControlEndpoint, nullptr);

    // The standard board: bulk pair only.
    cyusbsim::AddDevice(Board("Board (0.2)", -1));
    ASSERT_TRUE(dev.OpenDevice(1));
    EXPECT_EQ(dev.BulkInEndpoint->Address, 0x86);
    EXPECT_EQ(dev.BulkOutEndpoint->Address, 0x02);
    EXPECT_EQ(dev.InterruptInEndpoint, nullptr);
    EXPECT_EQ(dev.InterruptOutEndpoint, nullptr);
    EXPECT_EQ(dev.IsocInEndpoint, nullptr);
    EXPECT_EQ(dev.IsocOutEndpoint, nullptr);
    dev.CloseDevice();
}

TEST_F(CyDeviceTest, CurrentAlternateSettingChoosesTheEndpoints) {
    cyusbsim::Device board = Board("Board (0.0)", -1);
    board.Configs[0] = ConfigSet({InterfaceDescriptor(0, 0, 2, 0x10), EndpointDescriptor(0x81, 2, 64),
                                  EndpointDescriptor(0x01, 2, 64), InterfaceDescriptor(0, 1, 2, 0x20),
                                  EndpointDescriptor(0x86, 2, 512), EndpointDescriptor(0x02, 2, 512)});
    board.AltSetting = 1;
    int index = cyusbsim::AddDevice(board);
    CCyDevice dev(nullptr, CYUSB_INTERFACE_GUID);
    ASSERT_TRUE(dev.IsOpen());
    EXPECT_EQ(dev.InterfaceIndex, 1);
    EXPECT_EQ(dev.InterfaceClass, 0x20);
    EXPECT_EQ(dev.BulkInEndpoint->Address, 0x86);
    EXPECT_EQ(dev.AltInterfaceCount, 2);

    // No answer to the query: no setting is made current, nothing is bound.
    cyusbsim::DeviceAt(index).FailingCodes = {0x220008};
    CCyDevice other(nullptr, CYUSB_INTERFACE_GUID);
    EXPECT_TRUE(other.IsOpen());
    EXPECT_EQ(other.BulkInEndpoint, nullptr);
    EXPECT_EQ(other.BulkOutEndpoint, nullptr);
    other.CloseDevice();
    dev.CloseDevice();
}

TEST_F(CyDeviceTest, WithoutConfigurationZeroOpenFailsButTheHandleStaysOpen) {
    cyusbsim::Device board = Board("Board (0.0)", -1);
    board.FailingDescriptors = {0x0200};
    cyusbsim::AddDevice(board);
    CCyDevice dev(nullptr, CYUSB_INTERFACE_GUID, false);
    EXPECT_FALSE(dev.OpenDevice(0));
    EXPECT_TRUE(dev.IsOpen());
    EXPECT_EQ(dev.BulkInEndpoint, nullptr);
    dev.CloseDevice();
    EXPECT_FALSE(dev.IsOpen());
    EXPECT_EQ(cyusbsim::Stats().OpenFiles, 0);
}

TEST_F(CyDeviceTest, OnlyTwoConfigurationsAreRead) {
    cyusbsim::Device board = Board("Board (0.0)", -1);
    board.DeviceDescriptor[17] = 3;
    board.Configs.push_back(board.Configs[0]);
    board.Configs.push_back(board.Configs[0]);
    cyusbsim::AddDevice(board);
    CCyDevice dev(nullptr, CYUSB_INTERFACE_GUID);
    ASSERT_TRUE(dev.IsOpen());
    EXPECT_NE(dev.Configurations[1], nullptr);
    EXPECT_TRUE(DescriptorRequests(0x0202).empty());
    dev.CloseDevice();
}

TEST_F(CyDeviceTest, DevicesThatCannotBeOpenedAreSkipped) {
    cyusbsim::Device tooLong = Board("A (0.0)", -1);
    tooLong.Path.resize(256, 'p');  // one more than DevicePath holds with its terminator
    cyusbsim::AddDevice(tooLong);
    cyusbsim::Device fits = Board("B (0.0)", -1);
    fits.Path.resize(255, 'q');
    cyusbsim::AddDevice(fits);
    cyusbsim::Device refused = Board("C (0.0)", -1);
    refused.FailCreateFile = true;
    cyusbsim::AddDevice(refused);

    CCyDevice dev(nullptr, CYUSB_INTERFACE_GUID, false);
    EXPECT_FALSE(dev.OpenDevice(0));
    EXPECT_TRUE(cyusbsim::Stats().CreatedPaths.empty());
    EXPECT_EQ(dev.DevicePath[255], 0);
    ASSERT_TRUE(dev.OpenDevice(1));
    EXPECT_EQ(std::string(dev.DevicePath), cyusbsim::DeviceAt(1).Path);
    EXPECT_FALSE(dev.OpenDevice(2));
    EXPECT_FALSE(dev.IsOpen());
    EXPECT_EQ(dev.DeviceIndex, 0);
    EXPECT_EQ(cyusbsim::Stats().OpenFiles, 0);
    EXPECT_EQ(cyusbsim::Stats().OpenDevInfo, 0);
}

TEST_F(CyDeviceTest, CloseFailuresCarryTheirMessages) {
    HWND window = reinterpret_cast<HWND>(uintptr_t{0x1000});
    cyusbsim::AddDevice(Board("Board (0.0)", -1));
    {
        CCyDevice dev(window, CYUSB_INTERFACE_GUID);
        ASSERT_TRUE(dev.IsOpen());
        const auto &filters = cyusbsim::Stats().NotificationFilters;
        ASSERT_EQ(filters.size(), 2u);
        EXPECT_EQ(Le32(filters[0], 4), 5u);  // device interface, at construction
        EXPECT_EQ(Le32(filters[1], 4), 6u);  // the open handle
        EXPECT_EQ(filters[1].size(), sizeof(void *) == 8 ? 56u : 44u);

        cyusbsim::Faults().Unregister = true;
        EXPECT_STREQ(dev.CloseDevice(), "Failed to close the handle notification handle.");
        cyusbsim::Faults().Unregister = false;
        EXPECT_EQ(dev.CloseDevice(), nullptr);
        EXPECT_FALSE(dev.IsOpen());
    }
    EXPECT_EQ(cyusbsim::Stats().Notifications, 0);

    CCyDevice dev(nullptr, CYUSB_INTERFACE_GUID);
    ASSERT_TRUE(dev.IsOpen());
    cyusbsim::Faults().CloseHandle = true;
    EXPECT_STREQ(dev.CloseDevice(), "Failed to close handle to driver.");
    EXPECT_TRUE(dev.IsOpen());
    // Opening another index first closes this one, and gives the same failure.
    const char *failure = nullptr;
    EXPECT_FALSE(dev.OpenDevice(0, &failure));
    EXPECT_STREQ(failure, "Failed to close handle to driver.");
    EXPECT_TRUE(dev.IsOpen());
    cyusbsim::Faults().CloseHandle = false;
    EXPECT_EQ(dev.CloseDevice(), nullptr);
    EXPECT_EQ(cyusbsim::Stats().OpenFiles, 0);
}

}  // namespace
