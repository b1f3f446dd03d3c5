// Configuration, interface and BOS objects built straight from descriptor sets.
#include "usb/configuration.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <vector>

#include "platform/usb_bus/usb_controls.h"

namespace {

using sim::usb::Companion;
using sim::usb::Configuration;
using sim::usb::Endpoint;
using sim::usb::Interface;

const HANDLE kNoHandle = INVALID_HANDLE_VALUE;

// Each set is built in a block of exactly its size, so that a read past it shows under ASan.
std::unique_ptr<CCyConfiguration> build(const std::vector<uint8_t>& set, WalkKind kind) {
    std::unique_ptr<uint8_t[]> exact(new uint8_t[set.size()]);
    std::copy(set.begin(), set.end(), exact.get());
    return std::make_unique<CCyConfiguration>(kNoHandle, exact.get(), set.size(), kind);
}

Interface bulk_pair(uint8_t number, uint8_t alternate, bool companions = false) {
    Interface i;
    i.number = number;
    i.alternate = alternate;
    std::optional<Companion> companion;
    if (companions) companion = Companion{15, 0, 0};
    i.endpoints = {{0x02, 2, 1024, 0, companion}, {0x86, 2, 1024, 0, companion}};
    return i;
}

TEST(ConfigurationWalk, AlternateSettingsAreInterfaceObjectsOfTheirOwn) {
    Configuration c;
    c.interfaces = {bulk_pair(0, 0), bulk_pair(0, 1)};
    auto config = build(sim::usb::configuration_set(c), WalkKind::Plain);
    EXPECT_EQ(config->CfgInterfaceObjectCount, 2);
    EXPECT_EQ(config->CfgInterfaceCount, 1);
    ASSERT_NE(config->InterfaceObjects[1], nullptr);
    EXPECT_EQ(config->InterfaceObjects[0]->IfAltSettingCount, 2);
    EXPECT_EQ(config->InterfaceObjects[1]->IfAltSettingCount, 2);
    EXPECT_EQ(config->InterfaceObjects[1]->IfAltSetting, 1);
    EXPECT_EQ(config->InterfaceObjects[2], nullptr);
}

TEST(ConfigurationWalk, HeaderFieldsAreCopied) {
    Configuration c;
    c.value = 3;
    c.string_index = 4;
    c.attributes = 0xC0;
    c.max_power = 250;
    c.interfaces = {bulk_pair(0, 0), bulk_pair(1, 0)};
    auto set = sim::usb::configuration_set(c);
    auto config = build(set, WalkKind::Plain);
    EXPECT_EQ(config->CfgLength, 9);
    EXPECT_EQ(config->CfgType, 2);
    EXPECT_EQ(config->CfgTotalLength, set.size());
    EXPECT_EQ(config->CfgInterfaceCount, 2);
    EXPECT_EQ(config->CfgValue, 3);
    EXPECT_EQ(config->CfgStringIndex, 4);
    EXPECT_EQ(config->CfgAttributes, 0xC0);
    EXPECT_EQ(config->CfgMaxPower, 250);
    EXPECT_EQ(config->InterfaceObjects[0]->IfAltSettingCount, 1);
}

struct ClassDescriptorCase {
    const char* name;
    bool companions;
    WalkKind kind;
    int endpoint_bytes;  // what the two endpoints take, companions included
};

void PrintTo(const ClassDescriptorCase& c, std::ostream* os) {
    *os << c.name;
}

class ClassSpecificDescriptor : public ::testing::TestWithParam<ClassDescriptorCase> {};

TEST_P(ClassSpecificDescriptor, IsSteppedOverAndCounted) {
    auto p = GetParam();
    Configuration c;
    Interface first = bulk_pair(0, 0, p.companions);
    first.interface_class = 0x0B;
    first.extra = {{5, 0x24, 1, 2, 3}};
    Interface next = bulk_pair(1, 0, p.companions);
    next.endpoints = {{0x81, 3, 8, 4, {}}};
    c.interfaces = {first, next};
    auto config = build(sim::usb::configuration_set(c), p.kind);
    ASSERT_EQ(config->CfgInterfaceObjectCount, 2);
    const CCyInterface& i = *config->InterfaceObjects[0];
    EXPECT_EQ(i.IfTotalLength, 9 + 5 + p.endpoint_bytes);
    ASSERT_NE(dynamic_cast<CCyBulkEndPoint*>(i.EndPointSlots[1]), nullptr);
    ASSERT_NE(dynamic_cast<CCyBulkEndPoint*>(i.EndPointSlots[2]), nullptr);
    EXPECT_EQ(i.EndPointSlots[0], nullptr);
    EXPECT_EQ(i.EndPointSlots[3], nullptr);
    EXPECT_EQ(i.EndPointSlots[1]->Address, 0x02);
    EXPECT_EQ(i.EndPointSlots[2]->Address, 0x86);
    bool with_companion = p.kind == WalkKind::CompanionAware && p.companions;
    EXPECT_EQ(i.EndPointSlots[1]->MaxBurst, with_companion ? 15 : 0);
    EXPECT_EQ(i.EndPointSlots[2]->MaxPacketSize, with_companion ? 16384 : 1024);
    EXPECT_EQ(i.EndPointSlots[2]->CompanionType, with_companion ? 0x30 : 0);
    // The next interface is found right after.
    EXPECT_EQ(config->InterfaceObjects[1]->IfNumber, 1);
    EXPECT_NE(dynamic_cast<CCyInterruptEndPoint*>(config->InterfaceObjects[1]->EndPointSlots[1]),
              nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Walks, ClassSpecificDescriptor,
    ::testing::Values(
        ClassDescriptorCase{"Usb2", false, WalkKind::Plain, 7 + 7},
        ClassDescriptorCase{"SuperSpeed", true, WalkKind::CompanionAware, 7 + 6 + 7 + 6},
        // The plain walk steps over the first companion and ends at the second
        // endpoint; the configuration walk steps over the last companion.
        ClassDescriptorCase{"CompanionsInPlainWalk", true, WalkKind::Plain, 7 + 6 + 7}),
    [](const auto& info) { return info.param.name; });

TEST(ConfigurationWalk, TransferTypePicksTheClass) {
    Configuration c;
    Interface i;
    i.endpoints = {{0x81, 0x05, 1024, 1, Companion{1, 2, 0}},
                   {0x02, 0x02, 512, 0, {}},
                   {0x83, 0x03, 64, 1, Companion{0, 0, 64}},
                   {0x04, 0x00, 64, 0, Companion{3, 0, 0}}};
    c.interfaces = {i};
    auto config = build(sim::usb::configuration_set(c), WalkKind::CompanionAware);
    auto* slots = config->InterfaceObjects[0]->EndPointSlots;
    auto* isoc = dynamic_cast<CCyIsocEndPoint*>(slots[1]);
    ASSERT_NE(isoc, nullptr);
    EXPECT_EQ(isoc->MaxPacketSize, 6144);
    EXPECT_NE(dynamic_cast<CCyBulkEndPoint*>(slots[2]), nullptr);
    EXPECT_NE(dynamic_cast<CCyInterruptEndPoint*>(slots[3]), nullptr);
    auto* control = dynamic_cast<CCyControlEndPoint*>(slots[4]);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->MaxBurst, 0);  // built without its companion
    EXPECT_EQ(config->InterfaceObjects[0]->IfTotalLength, 9 + 4 * 7 + 3 * 6);
}

TEST(ConfigurationWalk, AtMostThirtyOneEndpointsAreTaken) {
    Configuration c;
    Interface big;
    for (int e = 0; e < 40; ++e)
        big.endpoints.push_back({static_cast<uint8_t>(0x81 + (e % 15)), 2, 512, 0, {}});
    c.interfaces = {big, bulk_pair(1, 0)};
    auto config = build(sim::usb::configuration_set(c), WalkKind::Plain);
    const CCyInterface& i = *config->InterfaceObjects[0];
    EXPECT_EQ(i.IfEndPointCount, 40);
    for (int e = 1; e < 32; ++e) EXPECT_NE(i.EndPointSlots[e], nullptr);
    EXPECT_EQ(i.IfTotalLength, 9 + 31 * 7);
    ASSERT_EQ(config->CfgInterfaceObjectCount, 2);
    EXPECT_EQ(config->InterfaceObjects[1]->IfNumber, 1);
}

TEST(ConfigurationWalk, TwelfthForeignDescriptorEndsTheInterfaceWalk) {
    Configuration c;
    Interface crowded = bulk_pair(0, 0);
    for (int k = 0; k < 12; ++k) crowded.extra.push_back({4, 0x24, static_cast<uint8_t>(k), 0});
    c.interfaces = {crowded, bulk_pair(1, 0)};
    auto config = build(sim::usb::configuration_set(c), WalkKind::Plain);
    const CCyInterface& i = *config->InterfaceObjects[0];
    EXPECT_EQ(i.IfTotalLength, 9 + 11 * 4);
    EXPECT_EQ(i.EndPointSlots[1], nullptr);
    // The configuration walk steps over the rest and finds the next interface.
    ASSERT_EQ(config->CfgInterfaceObjectCount, 2);
    EXPECT_EQ(config->InterfaceObjects[1]->IfNumber, 1);
    EXPECT_NE(config->InterfaceObjects[1]->EndPointSlots[2], nullptr);
}

TEST(ConfigurationWalk, ElevenForeignDescriptorsAreSteppedOver) {
    Configuration c;
    Interface crowded = bulk_pair(0, 0);
    for (int k = 0; k < 11; ++k) crowded.extra.push_back({4, 0x24, static_cast<uint8_t>(k), 0});
    c.interfaces = {crowded};
    auto config = build(sim::usb::configuration_set(c), WalkKind::Plain);
    EXPECT_NE(config->InterfaceObjects[0]->EndPointSlots[2], nullptr);
}

TEST(ConfigurationWalk, ZeroLengthDescriptorEndsTheWalk) {
    Configuration c;
    Interface broken = bulk_pair(0, 0);
    broken.extra = {{0, 0x24}};
    c.interfaces = {broken, bulk_pair(1, 0)};
    auto set = sim::usb::configuration_set(c);
    auto config = build(set, WalkKind::Plain);
    EXPECT_EQ(config->InterfaceObjects[0]->EndPointSlots[1], nullptr);
    EXPECT_EQ(config->CfgInterfaceObjectCount, 1);

    std::vector<uint8_t> top = {9, 2, 20, 0, 1, 1, 0, 0x80, 50, 0, 0, 9, 4, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(build(top, WalkKind::CompanionAware)->CfgInterfaceObjectCount, 0);
}

TEST(ConfigurationWalk, MissingEndpointsStayEmpty) {
    Configuration c;
    Interface liar = bulk_pair(0, 0);
    liar.endpoint_count = 4;
    c.interfaces = {liar};
    auto config = build(sim::usb::configuration_set(c), WalkKind::Plain);
    const CCyInterface& i = *config->InterfaceObjects[0];
    EXPECT_NE(i.EndPointSlots[2], nullptr);
    EXPECT_EQ(i.EndPointSlots[3], nullptr);
    EXPECT_EQ(i.EndPointSlots[4], nullptr);
}

TEST(ConfigurationWalk, TotalLengthBeyondTheSetIsNotFollowed) {
    Configuration c;
    c.interfaces = {bulk_pair(0, 0)};
    auto set = sim::usb::configuration_set(c);
    set[2] = 0xFF;
    set[3] = 0x7F;
    set.resize(set.size() - 3);  // the last endpoint descriptor is cut
    auto config = build(set, WalkKind::Plain);
    EXPECT_NE(config->InterfaceObjects[0]->EndPointSlots[1], nullptr);
    EXPECT_EQ(config->InterfaceObjects[0]->EndPointSlots[2], nullptr);
}

TEST(ConfigurationCopy, IsDeepAndKeepsTheClasses) {
    Configuration c;
    Interface i = bulk_pair(0, 0);
    i.endpoints.push_back({0x83, 1, 256, 1, {}});
    c.interfaces = {i, bulk_pair(0, 1)};
    auto config = build(sim::usb::configuration_set(c), WalkKind::Plain);
    config->InterfaceObjects[0]->EndPointSlots[1]->TimeoutMs = 1234;
    CCyConfiguration copy(*config);
    EXPECT_EQ(copy.CfgTotalLength, config->CfgTotalLength);
    EXPECT_EQ(copy.CfgInterfaceObjectCount, 2);
    ASSERT_NE(copy.InterfaceObjects[0], config->InterfaceObjects[0]);
    const CCyInterface& a = *config->InterfaceObjects[0];
    const CCyInterface& b = *copy.InterfaceObjects[0];
    EXPECT_EQ(b.IfTotalLength, a.IfTotalLength);
    EXPECT_EQ(b.IfAltSettingCount, 2);
    ASSERT_NE(b.EndPointSlots[1], a.EndPointSlots[1]);
    EXPECT_EQ(b.EndPointSlots[1]->TimeoutMs, 1234u);
    EXPECT_NE(dynamic_cast<CCyBulkEndPoint*>(b.EndPointSlots[2]), nullptr);
    EXPECT_NE(dynamic_cast<CCyIsocEndPoint*>(b.EndPointSlots[3]), nullptr);
    EXPECT_EQ(b.EndPointSlots[0], nullptr);

    CCyConfiguration assigned;
    assigned = copy;
    EXPECT_EQ(assigned.InterfaceObjects[1]->IfAltSetting, 1);
}

std::unique_ptr<CCyBos> build_bos(const std::vector<uint8_t>& set) {
    std::unique_ptr<uint8_t[]> exact(new uint8_t[set.size()]);
    std::copy(set.begin(), set.end(), exact.get());
    return std::make_unique<CCyBos>(kNoHandle, exact.get(), set.size());
}

TEST(BosWalk, UnknownCapabilitiesAreSteppedOver) {
    auto set = sim::usb::bos_set({sim::usb::usb20_extension_capability(0x1E),
                                  sim::usb::capability(5, std::vector<uint8_t>(17, 0xAB)),
                                  sim::usb::superspeed_capability(2, 0x0E, 1, 10, 0x07FF)});
    auto bos = build_bos(set);
    EXPECT_EQ(bos->BosLength, 5);
    EXPECT_EQ(bos->BosType, 15);
    EXPECT_EQ(bos->BosTotalLength, set.size());
    EXPECT_EQ(bos->BosCapCount, 3);
    ASSERT_NE(bos->Usb20ExtensionCap, nullptr);
    EXPECT_EQ(bos->Usb20ExtensionCap->bmAttributes, 0x1Eu);
    ASSERT_NE(bos->SuperSpeedCap, nullptr);
    EXPECT_EQ(bos->SuperSpeedCap->bmAttributes, 2);
    EXPECT_EQ(bos->SuperSpeedCap->wSpeedsSupported, 0x0E);
    EXPECT_EQ(bos->SuperSpeedCap->bFunctionalitySupport, 1);
    EXPECT_EQ(bos->SuperSpeedCap->bU1DevExitLat, 10);
    EXPECT_EQ(bos->SuperSpeedCap->wU2DevExitLat, 0x07FF);
    EXPECT_EQ(bos->ContainerIdCap, nullptr);
}

TEST(BosWalk, LaterCapabilityReplacesEarlierAndContainerIdIsKept) {
    const uint8_t id[16] = {0xF0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0x0F};
    auto bos = build_bos(sim::usb::bos_set({sim::usb::usb20_extension_capability(2),
                                            sim::usb::container_id_capability(id),
                                            sim::usb::usb20_extension_capability(6)}));
    EXPECT_EQ(bos->Usb20ExtensionCap->bmAttributes, 6u);
    ASSERT_NE(bos->ContainerIdCap, nullptr);
    EXPECT_EQ(bos->ContainerIdCap->bLength, 20);
    EXPECT_EQ(bos->ContainerIdCap->ContainerID[0], 0xF0);
    EXPECT_EQ(bos->ContainerIdCap->ContainerID[15], 0x0F);
}

TEST(BosWalk, CountsAndLengthsThatLieEndTheWalk) {
    auto set = sim::usb::bos_set({sim::usb::usb20_extension_capability(2)});
    set[4] = 9;  // more capabilities announced than present
    EXPECT_NE(build_bos(set)->Usb20ExtensionCap, nullptr);
    set[2] = 3;  // wTotalLength below bLength
    EXPECT_EQ(build_bos(set)->Usb20ExtensionCap, nullptr);
    EXPECT_EQ(build_bos({5, 15})->BosTotalLength, 0);
}

}  // namespace
