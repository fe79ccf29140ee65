// Configuration and interface objects built from descriptor sets, including
// sets that a faulty device could return.
#include "cyusbtest.h"

#include <memory>

using cyusbsim::ConfigSet;
using cyusbsim::EndpointDescriptor;
using cyusbsim::InterfaceDescriptor;

namespace {

// The set in a buffer of exactly its size, so a read past it is caught.
std::unique_ptr<CCyConfiguration> Build(const std::vector<uint8_t> &set) {
    std::vector<uint8_t> exact(set);
    exact.shrink_to_fit();
    return std::make_unique<CCyConfiguration>(exact.data(), exact.size(), INVALID_HANDLE_VALUE);
}

TEST(DescriptorModel, AlternateSettingsAreInterfaceObjectsCountedPerInterfaceNumber) {
    auto config = Build(ConfigSet({InterfaceDescriptor(0, 0, 1), EndpointDescriptor(0x81, 2, 512),
                                   InterfaceDescriptor(0, 1, 1), EndpointDescriptor(0x82, 2, 512),
                                   InterfaceDescriptor(1, 0, 0)},
                                  2, 4));
    EXPECT_EQ(config->bNumInterfaces, 2);
    EXPECT_EQ(config->iConfiguration, 4);
    EXPECT_EQ(config->wTotalLength, 9 + 9 + 7 + 9 + 7 + 9);
    ASSERT_EQ(config->AltInterfaces, 3);
    EXPECT_EQ(config->Interfaces[0]->AltSettingCount, 2);
    EXPECT_EQ(config->Interfaces[1]->AltSettingCount, 2);
    EXPECT_EQ(config->Interfaces[1]->bAlternateSetting, 1);
    EXPECT_EQ(config->Interfaces[2]->AltSettingCount, 1);
    EXPECT_EQ(config->Interfaces[1]->EndPoints[1]->Address, 0x82);
    EXPECT_EQ(config->Interfaces[3], nullptr);
}

TEST(DescriptorModel, ClassSpecificDescriptorsUseNoEntryAndAttributesChooseTheKind) {
    const std::vector<uint8_t> classSpecific = {5, 0x24, 1, 2, 3};
    auto config = Build(ConfigSet({InterfaceDescriptor(0, 0, 6), classSpecific, EndpointDescriptor(0x81, 2, 512),
                                   EndpointDescriptor(0x01, 3, 64), EndpointDescriptor(0x82, 5, 512),
                                   EndpointDescriptor(0x03, 1, 1023), EndpointDescriptor(0x04, 0, 64),
                                   EndpointDescriptor(0x85, 0x42, 64)}));
    ASSERT_EQ(config->AltInterfaces, 1);
    CCyInterface *alt = config->Interfaces[0];
    EXPECT_EQ(alt->BlockLength, 9 + 5 + 6 * 7);
    EXPECT_NE(dynamic_cast<CCyBulkEndPoint *>(alt->EndPoints[1]), nullptr);
    EXPECT_EQ(alt->EndPoints[1]->Address, 0x81);
    EXPECT_NE(dynamic_cast<CCyInterruptEndPoint *>(alt->EndPoints[2]), nullptr);
    EXPECT_EQ(alt->EndPoints[3], nullptr);  // isochronous with synchronisation bits
    EXPECT_NE(dynamic_cast<CCyIsocEndPoint *>(alt->EndPoints[4]), nullptr);
    EXPECT_NE(dynamic_cast<CCyControlEndPoint *>(alt->EndPoints[5]), nullptr);
    EXPECT_EQ(alt->EndPoints[6], nullptr);
    EXPECT_EQ(alt->EndPoints[7], nullptr);
}

TEST(DescriptorModel, AtMostEightInterfaceObjects) {
    std::vector<std::vector<uint8_t>> descriptors;
    for (uint8_t i = 0; i < 10; i++) descriptors.push_back(InterfaceDescriptor(i, 0, 0));
    auto config = Build(ConfigSet(descriptors, 10));
    EXPECT_EQ(config->AltInterfaces, 8);
    EXPECT_EQ(config->Interfaces[7]->bInterfaceNumber, 7);
}

TEST(DescriptorModel, MoreThanFifteenEndpointsStayInsideTheTable) {
    std::vector<std::vector<uint8_t>> descriptors = {InterfaceDescriptor(3, 0, 20, 0xAB)};
    for (uint8_t i = 1; i <= 20; i++) descriptors.push_back(EndpointDescriptor(static_cast<uint8_t>(0x80 | i), 2, 64));
    auto config = Build(ConfigSet(descriptors));
    CCyInterface *alt = config->Interfaces[0];
    EXPECT_EQ(alt->EndPoints[15]->Address, 0x8F);
    // The fields behind the table are intact.
    EXPECT_EQ(alt->bLength, 9);
    EXPECT_EQ(alt->bInterfaceNumber, 3);
    EXPECT_EQ(alt->bNumEndpoints, 20);
    EXPECT_EQ(alt->bInterfaceClass, 0xAB);
}

TEST(DescriptorModel, MalformedLengthsEndTheWalkInsideTheSet) {
    // A zero-length descriptor between interface and endpoints.
    auto zeroInInterface = Build(ConfigSet({InterfaceDescriptor(0, 0, 2), {0, 0}, EndpointDescriptor(0x81, 2, 64)}));
    ASSERT_EQ(zeroInInterface->AltInterfaces, 1);
    EXPECT_EQ(zeroInInterface->Interfaces[0]->EndPoints[1], nullptr);

    // ... and one before any interface.
    auto zeroFirst = Build(ConfigSet({{0, 0}, InterfaceDescriptor(0, 0, 0)}));
    EXPECT_EQ(zeroFirst->AltInterfaces, 0);

    // An endpoint that runs past wTotalLength, although the buffer holds it.
    std::vector<uint8_t> set = ConfigSet({InterfaceDescriptor(0, 0, 2), EndpointDescriptor(0x81, 2, 64),
                                          EndpointDescriptor(0x02, 2, 64)});
    set[2] = static_cast<uint8_t>(set.size() - 3);
    auto pastTotal = Build(set);
    ASSERT_EQ(pastTotal->AltInterfaces, 1);
    EXPECT_NE(pastTotal->Interfaces[0]->EndPoints[1], nullptr);
    EXPECT_EQ(pastTotal->Interfaces[0]->EndPoints[2], nullptr);

    // wTotalLength larger than the set read, and an interface cut short.
    std::vector<uint8_t> cut = ConfigSet({InterfaceDescriptor(0, 0, 1), EndpointDescriptor(0x81, 2, 64)});
    cut[2] = 0xFF;
    cut.resize(cut.size() - 3);
    auto pastSet = Build(cut);
    ASSERT_EQ(pastSet->AltInterfaces, 1);
    EXPECT_EQ(pastSet->Interfaces[0]->EndPoints[1], nullptr);
    std::vector<uint8_t> shortInterface = {9, 2, 14, 0, 1, 1, 0, 0x80, 50, 9, 4, 0, 0, 0};
    EXPECT_EQ(Build(shortInterface)->AltInterfaces, 0);

    // More endpoints declared than present.
    auto fewer = Build(ConfigSet({InterfaceDescriptor(0, 0, 3), EndpointDescriptor(0x81, 2, 64)}));
    EXPECT_NE(fewer->Interfaces[0]->EndPoints[1], nullptr);
    EXPECT_EQ(fewer->Interfaces[0]->EndPoints[2], nullptr);

    // Shorter than its own header.
    EXPECT_EQ(Build({9, 2, 9, 0})->AltInterfaces, 0);
}

TEST(DescriptorModel, TwelfthForeignDescriptorUsesUpPositions) {
    std::vector<std::vector<uint8_t>> descriptors = {InterfaceDescriptor(0, 0, 2)};
    for (int i = 0; i < 11; i++) descriptors.push_back({3, 0x24, 0});
    descriptors.push_back(EndpointDescriptor(0x81, 2, 64));
    auto eleven = Build(ConfigSet(descriptors));
    EXPECT_NE(eleven->Interfaces[0]->EndPoints[1], nullptr);

    descriptors.insert(descriptors.begin() + 1, {3, 0x24, 0});
    auto twelve = Build(ConfigSet(descriptors));
    EXPECT_EQ(twelve->Interfaces[0]->EndPoints[1], nullptr);
    EXPECT_EQ(twelve->Interfaces[0]->EndPoints[2], nullptr);
}

}  // namespace
