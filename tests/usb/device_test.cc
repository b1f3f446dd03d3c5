// The device object: counting, attaching, binding the current interface, endpoint lookup,
// detaching, and the texts it raises.
#include "usb/device.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/ddk/ntstatus.h"
#include "platform/testing/notification_controls.h"
#include "tests/support/sim_devices.h"
#include "wire/usb_descriptors.h"

namespace {

using usbtest::Bus;

std::u16string text(const char16_t* units) {
    return std::u16string(units);
}

TEST_F(Bus, NoDevicePresentCountsZeroAndAttachesNothing) {
    CCyUSBDriverDevice device(nullptr, UsbDriverInterfaceGuid, 0);
    EXPECT_EQ(device.CountDevices(), 0);
    EXPECT_FALSE(device.AttachDevice(0));
    EXPECT_EQ(device.DeviceHandle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(device.DeviceIndex, 0);
    EXPECT_EQ(device.EndPointCount(), 0);
    EXPECT_EQ(device.FindEndPoint(0x86), nullptr);
    uint8_t byte = 0;
    EXPECT_FALSE(device.IoControl(0x220008, &byte, 1));
    EXPECT_EQ(device.LastErrorCode, 0u);
}

class CardAttach : public Bus, public ::testing::WithParamInterface<bool> {};

TEST_P(CardAttach, BindsBulkEndpointsOfInterfaceZero) {
    bool superspeed = GetParam();
    auto card = usbtest::plug_card(superspeed);
    CCyUSBDriverDevice device(nullptr, UsbDriverInterfaceGuid, 0);
    ASSERT_TRUE(device.AttachDevice(0));
    EXPECT_EQ(std::string(device.DevicePath), card.device->path());
    EXPECT_EQ(device.EndPointCount(), 3);
    auto* out = device.FindEndPoint(0x02);
    auto* in = device.FindEndPoint(0x86);
    ASSERT_NE(out, nullptr);
    ASSERT_NE(in, nullptr);
    EXPECT_NE(dynamic_cast<CCyBulkEndPoint*>(out), nullptr);
    EXPECT_NE(dynamic_cast<CCyBulkEndPoint*>(in), nullptr);
    EXPECT_EQ(device.FindEndPoint(0), device.ControlEndPoint);
    EXPECT_EQ(device.FirstBulkOut, out);
    EXPECT_EQ(device.FirstBulkIn, in);
    EXPECT_EQ(device.FirstIsocIn, nullptr);
    EXPECT_EQ(device.FirstInterruptOut, nullptr);
    EXPECT_EQ(device.EndPointTable[0], device.ControlEndPoint);
    for (int e = 1; e < device.EndPointCount(); ++e)
        EXPECT_EQ(device.EndPointTable[e]->TransferMode, 1u);
    EXPECT_EQ(device.ControlEndPoint->TransferMode, 0u);
    EXPECT_EQ(in->MaxPacketSize, superspeed ? 1024 : 512);
    EXPECT_TRUE(in->IsIn);
    EXPECT_FALSE(out->IsIn);

    EXPECT_EQ(device.VendorId, 0x1209);
    EXPECT_EQ(device.ProductId, 0x7A01);
    EXPECT_EQ(device.UsbVersion, superspeed ? 0x0300 : 0x0200);
    EXPECT_EQ(device.Ep0PacketSize, superspeed ? 512 : 64);
    EXPECT_EQ(device.ControlEndPoint->MaxPacketSize, superspeed ? 512 : 64);
    EXPECT_EQ(device.ConfigurationCount, 1);
    EXPECT_EQ(device.InterfaceCount, 1);
    EXPECT_EQ(device.InterfaceObjectCount, 1);
    EXPECT_EQ(device.ConfigValue, 1);
    EXPECT_EQ(device.InterfaceClass, 0xFF);
    EXPECT_EQ(device.LangId, 0x0409);
    EXPECT_EQ(text(device.ManufacturerText), u"Halden");
    EXPECT_EQ(text(device.ProductText), u"Security card");
    EXPECT_EQ(text(device.SerialNumberText), u"0001");
    EXPECT_EQ(device.UsbAddress, 1);
    EXPECT_EQ(device.DriverVersionNumber, 0x01020304u);
    EXPECT_EQ(device.UsbdiVersionNumber, 0x600u);
    EXPECT_STREQ(device.DriverFriendlyName, "Halden USB bridge");
    EXPECT_STREQ(device.DriverDeviceName, "USB bridge function driver");
    EXPECT_EQ(device.IsHighSpeed, !superspeed);
    EXPECT_EQ(device.IsSuperSpeed, superspeed);
    EXPECT_EQ(device.DeviceDescriptor[0], 18);
    EXPECT_EQ(device.LastUsbdStatus, 0u);
    if (superspeed) {
        ASSERT_NE(device.BosInfo, nullptr);
        EXPECT_NE(device.BosInfo->Usb20ExtensionCap, nullptr);
        EXPECT_NE(device.BosInfo->SuperSpeedCap, nullptr);
        EXPECT_NE(device.BosInfo->ContainerIdCap, nullptr);
    } else {
        EXPECT_EQ(device.BosInfo, nullptr);
    }
    EXPECT_EQ(card.device->open_handles(), 1u);
    device.DetachDevice();
    EXPECT_EQ(card.device->open_handles(), 0u);
    EXPECT_EQ(device.DeviceHandle, INVALID_HANDLE_VALUE);
}

INSTANTIATE_TEST_SUITE_P(Speeds, CardAttach, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "SuperSpeed" : "HighSpeed"; });

TEST_F(Bus, FindEndPointComparesTheDirectionBit) {
    usbtest::plug_card();
    CCyUSBDriverDevice device(nullptr, UsbDriverInterfaceGuid, 0);
    ASSERT_TRUE(device.AttachDevice(0));
    EXPECT_EQ(device.FindEndPoint(0x82), nullptr);
    EXPECT_EQ(device.FindEndPoint(0x06), nullptr);
}

struct LangIdCase {
    std::vector<uint16_t> table;
    uint16_t expected;
};

void PrintTo(const LangIdCase& c, std::ostream* os) {
    if (c.table.empty()) *os << "empty";
    for (uint16_t id : c.table) *os << std::hex << id << " ";
}

class LanguageTables : public Bus, public ::testing::WithParamInterface<LangIdCase> {};

TEST_P(LanguageTables, PreferUsEnglish) {
    auto d = sim::usb::card_description();
    d.strings[0] = sim::usb::langid_descriptor(GetParam().table);
    sim::usb::plug(d);
    CCyUSBDriverDevice device(nullptr, UsbDriverInterfaceGuid, 1);
    EXPECT_EQ(device.LangId, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Tables, LanguageTables,
                         ::testing::Values(LangIdCase{{0x0407, 0x0409}, 0x0409},
                                           LangIdCase{{0x0407}, 0x0407}, LangIdCase{{}, 0},
                                           LangIdCase{{0x0409, 0x0407}, 0x0409},
                                           LangIdCase{{0x0411, 0x0407}, 0x0411}));

TEST_F(Bus, StringRequestsCarryTheLanguageId) {
    auto d = sim::usb::card_description();
    d.strings[0] = sim::usb::langid_descriptor({0x0407});
    auto dev = sim::usb::plug(d);
    CCyUSBDriverDevice device(nullptr, UsbDriverInterfaceGuid, 1);
    int strings = 0;
    for (const auto& t : dev->transfers()) {
        const bool string_text = t.setup.request == wire::kGetDescriptor &&
                                 (t.setup.value >> 8) == wire::descriptor_type::kString &&
                                 (t.setup.value & 0xFF) != 0;
        if (!string_text) continue;
        EXPECT_EQ(t.setup.index, 0x0407);
        ++strings;
    }
    EXPECT_EQ(strings, 6);  // three strings, each read for its length and then whole
}

struct Ep0Case {
    uint16_t usb_version;
    uint8_t max_packet0;
    int32_t expected;
};

void PrintTo(const Ep0Case& c, std::ostream* os) {
    *os << std::hex << c.usb_version << " " << std::dec << int(c.max_packet0);
}

class Ep0Sizes : public Bus, public ::testing::WithParamInterface<Ep0Case> {};

TEST_P(Ep0Sizes, FollowTheUsbVersion) {
    auto c = GetParam();
    sim::usb::Configuration config;
    config.interfaces = {usbtest::bulk_interface(0, c.usb_version >= 0x0300)};
    sim::usb::plug(
        usbtest::describe({sim::usb::configuration_set(config)}, c.usb_version, c.max_packet0));
    CCyUSBDriverDevice device(nullptr, UsbDriverInterfaceGuid, 1);
    EXPECT_EQ(device.Ep0PacketSize, c.expected);
    EXPECT_EQ(device.ControlEndPoint->MaxPacketSize, static_cast<uint16_t>(c.expected));
}

INSTANTIATE_TEST_SUITE_P(Versions, Ep0Sizes,
                         ::testing::Values(Ep0Case{0x0300, 9, 512}, Ep0Case{0x0200, 64, 64},
                                           Ep0Case{0x0210, 64, 64}, Ep0Case{0x0310, 9, 512},
                                           Ep0Case{0x0110, 8, 8}));

TEST_F(Bus, AttachTwiceEndsAsOneAttach) {
    auto card = usbtest::plug_card(true);
    CCyUSBDriverDevice once(nullptr, UsbDriverInterfaceGuid, 0);
    ASSERT_TRUE(once.AttachDevice(0));
    CCyUSBDriverDevice twice(nullptr, UsbDriverInterfaceGuid, 0);
    ASSERT_TRUE(twice.AttachDevice(0));
    ASSERT_TRUE(twice.AttachDevice(0));
    EXPECT_EQ(card.device->open_handles(), 2u);
    EXPECT_EQ(twice.EndPointCount(), once.EndPointCount());
    EXPECT_EQ(std::memcmp(twice.DeviceDescriptor, once.DeviceDescriptor, 18), 0);
    EXPECT_EQ(twice.ConfigurationCount, once.ConfigurationCount);
    EXPECT_EQ(twice.InterfaceObjectCount, once.InterfaceObjectCount);
    EXPECT_EQ(twice.InterfaceIndex, once.InterfaceIndex);
    EXPECT_EQ(twice.LangId, once.LangId);
    EXPECT_NE(twice.BosInfo, nullptr);
    EXPECT_EQ(twice.FindEndPoint(0x86)->MaxPacketSize, once.FindEndPoint(0x86)->MaxPacketSize);
    EXPECT_EQ(twice.FirstBulkIn, twice.FindEndPoint(0x86));
}

TEST_F(Bus, DetachOnAClosedObjectDoesNothing) {
    CCyUSBDriverDevice device(nullptr, UsbDriverInterfaceGuid, 0);
    EXPECT_NO_THROW(device.DetachDevice());
    usbtest::plug_card();
    ASSERT_TRUE(device.AttachDevice(0));
    EXPECT_NO_THROW(device.DetachDevice());
    EXPECT_NO_THROW(device.DetachDevice());
    EXPECT_EQ(device.ControlEndPoint, nullptr);
    EXPECT_EQ(device.EndPointTable, nullptr);
    // What detach keeps.
    EXPECT_EQ(text(device.ProductText), u"Security card");
    EXPECT_EQ(device.DriverVersionNumber, 0x01020304u);
}

TEST_F(Bus, NoAlternateSettingLeavesTheInterfaceUnbound) {
    auto card = usbtest::plug_card();
    card.device->set_faults({.no_alternate_setting = true});
    CCyUSBDriverDevice device(nullptr, UsbDriverInterfaceGuid, 0);
    ASSERT_TRUE(device.AttachDevice(0));
    EXPECT_EQ(device.EndPointTable, nullptr);
    EXPECT_EQ(device.FirstBulkIn, nullptr);
    EXPECT_EQ(device.FindEndPoint(0), device.ControlEndPoint);
    try {
        device.FindEndPoint(0x86);
        ADD_FAILURE() << "no exception";
    } catch (const char* text) {
        EXPECT_STREQ(text, "Failed to find endpoint.");
    }
}

TEST_F(Bus, RefusedOpenReportsTheSystemError) {
    auto card = usbtest::plug_card();
    card.device->set_faults({.open_error = ERROR_ACCESS_DENIED});
    CCyUSBDriverDevice device(nullptr, UsbDriverInterfaceGuid, 0);
    EXPECT_FALSE(device.AttachDevice(0));
    EXPECT_EQ(device.LastErrorCode, static_cast<uint32_t>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(device.DeviceHandle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(device.PresentDevices, 1);
}

TEST_F(Bus, FailedDeviceDescriptorReadStopsBeforeBinding) {
    auto card = usbtest::plug_card();
    card.device->set_faults({.failing_descriptors = {1}});
    CCyUSBDriverDevice device(nullptr, UsbDriverInterfaceGuid, 0);
    EXPECT_FALSE(device.AttachDevice(0));
    EXPECT_NE(device.DeviceHandle, INVALID_HANDLE_VALUE);  // open until detached
    EXPECT_EQ(device.ConfigurationCount, 0);
    EXPECT_EQ(device.Configurations[0], nullptr);
    for (uint8_t b : device.DeviceDescriptor) EXPECT_EQ(b, 0);
    EXPECT_EQ(device.FindEndPoint(0x02), nullptr);
    device.ReadDeviceDescriptor();
    EXPECT_EQ(device.LastUsbdStatus, sim::usb::kUsbdStall);
    EXPECT_EQ(device.LastNtStatus, STATUS_UNSUCCESSFUL);
    device.DetachDevice();
    EXPECT_EQ(card.device->open_handles(), 0u);
}

TEST_F(Bus, FailedConfigurationReadStopsBeforeBinding) {
    auto card = usbtest::plug_card();
    card.device->set_faults({.failing_descriptors = {2}});
    CCyUSBDriverDevice device(nullptr, UsbDriverInterfaceGuid, 0);
    EXPECT_FALSE(device.AttachDevice(0));
    EXPECT_EQ(device.ConfigurationCount, 1);
    EXPECT_EQ(device.Configurations[0], nullptr);
}

TEST_F(Bus, FailedStringReadsLeaveTheTextsEmpty) {
    auto card = usbtest::plug_card();
    card.device->set_faults({.failing_descriptors = {3}});
    CCyUSBDriverDevice device(nullptr, UsbDriverInterfaceGuid, 0);
    EXPECT_TRUE(device.AttachDevice(0));
    EXPECT_EQ(device.LangId, 0);
    EXPECT_EQ(device.ManufacturerText[0], 0);
    EXPECT_NE(device.FindEndPoint(0x86), nullptr);
}

TEST_F(Bus, CurrentAlternateSettingPicksTheBoundInterface) {
    sim::usb::Configuration config;
    auto alt1 = usbtest::bulk_interface(1);
    alt1.endpoints = {{0x04, 3, 64, 1, {}}, {0x88, 2, 512, 0, {}}};
    config.interfaces = {usbtest::bulk_interface(0), alt1};
    auto d = usbtest::describe({sim::usb::configuration_set(config)});
    d.alternate_setting = 1;
    sim::usb::plug(d);
    CCyUSBDriverDevice device(nullptr, UsbDriverInterfaceGuid, 1);
    EXPECT_EQ(device.InterfaceIndex, 1);
    EXPECT_EQ(device.InterfaceObjectCount, 2);
    EXPECT_EQ(device.InterfaceCount, 1);
    EXPECT_EQ(device.FindEndPoint(0x86), nullptr);
    EXPECT_EQ(device.FirstInterruptOut, device.FindEndPoint(0x04));
    EXPECT_EQ(device.FirstBulkIn, device.FindEndPoint(0x88));
    EXPECT_EQ(device.FirstBulkOut, nullptr);
}

TEST_F(Bus, MoreThanTwoConfigurationsUseTwoSlots) {
    sim::usb::Configuration config;
    config.interfaces = {usbtest::bulk_interface()};
    auto set = sim::usb::configuration_set(config);
    sim::usb::plug(usbtest::describe({set, set, set}));
    CCyUSBDriverDevice device(nullptr, UsbDriverInterfaceGuid, 1);
    EXPECT_EQ(device.ConfigurationCount, 3);
    EXPECT_NE(device.Configurations[0], nullptr);
    EXPECT_NE(device.Configurations[1], nullptr);
    EXPECT_NE(device.FindEndPoint(0x02), nullptr);
}

TEST_F(Bus, TwoDevicesAreOpenedByIndex) {
    auto first = usbtest::plug_card();
    auto second = usbtest::plug_card(true);
    CCyUSBDriverDevice device(nullptr, UsbDriverInterfaceGuid, 0);
    EXPECT_EQ(device.CountDevices(), 2);
    ASSERT_TRUE(device.AttachDevice(1));
    EXPECT_EQ(device.DeviceIndex, 1);
    EXPECT_EQ(std::string(device.DevicePath), second.device->path());
    EXPECT_EQ(second.device->open_handles(), 1u);
    EXPECT_EQ(first.device->open_handles(), 0u);
    EXPECT_FALSE(device.AttachDevice(2));
    EXPECT_EQ(device.DeviceIndex, 0);
    EXPECT_EQ(second.device->open_handles(), 0u);
}

TEST_F(Bus, EnumerationFailureSkipsOnlyThatIndex) {
    usbtest::plug_card();
    auto broken = usbtest::plug_card();
    broken.device->set_faults({.enum_error = ERROR_GEN_FAILURE});
    usbtest::plug_card();
    CCyUSBDriverDevice device(nullptr, UsbDriverInterfaceGuid, 0);
    EXPECT_EQ(device.CountDevices(), 2);
}

TEST_F(Bus, WindowGetsBothNotificationsAndDropsThem) {
    usbtest::plug_card();
    size_t interfaces = sim::notifications_interface_registrations();
    size_t handles = sim::notifications_handle_registrations();
    HWND window = reinterpret_cast<HWND>(0x2000);
    {
        CCyUSBDriverDevice device(window, UsbDriverInterfaceGuid, 1);
        EXPECT_NE(device.InterfaceNotification, nullptr);
        EXPECT_NE(device.HandleNotification, nullptr);
        EXPECT_EQ(sim::notifications_interface_registrations(), interfaces + 1);
        EXPECT_EQ(sim::notifications_handle_registrations(), handles + 1);
        device.DetachDevice();
        EXPECT_EQ(device.HandleNotification, nullptr);
        EXPECT_EQ(sim::notifications_handle_registrations(), handles);
    }
    EXPECT_EQ(sim::notifications_interface_registrations(), interfaces);

    // Without a window nothing is registered.
    CCyUSBDriverDevice plain(nullptr, UsbDriverInterfaceGuid, 1);
    EXPECT_EQ(plain.InterfaceNotification, nullptr);
    EXPECT_EQ(sim::notifications_interface_registrations(), interfaces);
}

TEST_F(Bus, FailedRegistrationIsRecordedAndConstructionGoesOn) {
    usbtest::plug_card();
    sim::notifications_fail_register(true);
    CCyUSBDriverDevice device(reinterpret_cast<HWND>(0x2000), UsbDriverInterfaceGuid, 1);
    sim::notifications_fail_register(false);
    EXPECT_EQ(device.InterfaceNotification, nullptr);
    EXPECT_EQ(device.LastErrorCode, static_cast<uint32_t>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_NE(device.FindEndPoint(0x86), nullptr);
}

std::string raised(const std::function<void()>& action) {
    try {
        action();
    } catch (const char* text) {
        return text;
    }
    return "";
}

TEST_F(Bus, RefusedClosesRaiseTheirTexts) {
    auto card = usbtest::plug_card();
    HWND window = reinterpret_cast<HWND>(0x2000);
    auto* device = new CCyUSBDriverDevice(window, UsbDriverInterfaceGuid, 1);

    sim::notifications_fail_unregister(true);
    EXPECT_EQ(raised([&] { device->DetachDevice(); }),
              "Failed to close the handle notification handle.");
    sim::notifications_fail_unregister(false);
    EXPECT_EQ(device->ControlEndPoint, nullptr);  // freed all the same

    card.device->set_faults({.close_refused = true});
    EXPECT_EQ(raised([&] { device->DetachDevice(); }), "Failed to close handle to driver.");
    card.device->clear_faults();
    EXPECT_EQ(raised([&] { device->DetachDevice(); }), "");
    EXPECT_EQ(card.device->open_handles(), 0u);

    sim::notifications_fail_unregister(true);
    EXPECT_EQ(raised([&] { delete device; }), "Failed to close the device notification handle.");
    sim::notifications_fail_unregister(false);
}

}  // namespace
