// Device requests that nothing in the system calls: read-outs, power, alternate settings, port
// requests, status texts and transfers repeated until a short packet.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/sim_devices.h"
#include "usb/device.h"
#include "usb/vendor_requests.h"
#include "wire/vendor_control_codes.h"

namespace {

using usbtest::Bus;

struct TextCase {
    uint32_t status;
    const char* text;
};

void PrintTo(const TextCase& c, std::ostream* os) {
    *os << std::hex << c.status;
}

class StatusTexts : public ::testing::TestWithParam<TextCase> {};

TEST_P(StatusTexts, NameStateAndStatus) {
    CCyUSBDriverDevice device(nullptr, UsbDriverInterfaceGuid, 0);
    char text[kUsbdStatusTextSize];
    device.UsbdStatusText(GetParam().status, text);
    EXPECT_STREQ(text, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, StatusTexts,
    ::testing::Values(
        TextCase{0, "[state=SUCCESS status=USBD_STATUS_SUCCESS]"},
        TextCase{0xC0000004, " [state=STALLED status=USBD_STATUS_STALL_PID]"},
        TextCase{0x80000030, " [state=ERROR   status=USBD_STATUS_ENDPOINT_HALTED]"},
        TextCase{0x40000000, "[state=SUCCESS status=USBD_STATUS_SUCCESS]"},
        TextCase{0x40000005, " [state=PENDING status=USBD_STATUS_DEV_NOT_RESPONDING]"},
        TextCase{0x00000001, " [state=SUCCESS status=USBD_STATUS_CRC]"},
        TextCase{0x20000001, "status=UNKNOWN]"},
        TextCase{0xC0001234, " [state=STALLED status=UNKNOWN]"},
        TextCase{0xC000000E, " [state=STALLED status=UNKNOWN]"},
        TextCase{0xC0000D00, " [state=STALLED status=USBD_STATUS_FRAME_CONTROL_NOT_OWNED]"}));

TEST_F(Bus, ReadOutsOfASuperSpeedCard) {
    usbtest::plug_card(true);
    CCyUSBDriverDevice device;  // no window, the vendor's GUID, attached at once
    ASSERT_NE(device.DeviceHandle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(device.GetConfigurationCount(), 1);
    EXPECT_EQ(device.GetInterfaceCount(), 1);
    EXPECT_EQ(device.GetAltSettingCount(), 0);
    uint8_t descriptor[18];
    device.GetDeviceDescriptor(descriptor);
    EXPECT_EQ(std::memcmp(descriptor, device.DeviceDescriptor, sizeof descriptor), 0);
    uint8_t config[9];
    device.GetConfigDescriptor(config);
    EXPECT_EQ(config[1], 2);
    EXPECT_EQ(config[4], 1);
    InterfaceDescriptorFields fields;
    device.GetInterfaceDescriptor(&fields);
    EXPECT_EQ(fields.bDescriptorType, 4);
    EXPECT_EQ(fields.bNumEndpoints, 2);
    EXPECT_EQ(fields.bInterfaceClass, 0xFF);
    BosHeaderFields header;
    ASSERT_TRUE(device.GetBosHeader(&header));
    EXPECT_EQ(header.bNumDeviceCaps, 3);
    EXPECT_EQ(header.wTotalLength, 5 + 7 + 10 + 20);
    Usb20ExtensionRecord extension;
    ASSERT_TRUE(device.GetUsb20Extension(&extension));
    EXPECT_EQ(extension.bmAttributes, 2u);
    SuperSpeedRecord speed;
    ASSERT_TRUE(device.GetSuperSpeedCapability(&speed));
    EXPECT_EQ(speed.wU2DevExitLat, 100);
    ContainerIdRecord id;
    ASSERT_TRUE(device.GetContainerId(&id));
    EXPECT_EQ(id.ContainerID[15], 16);

    CCyConfiguration copy;
    device.CopyConfiguration(&copy, 7);  // beyond the count: configuration 0
    EXPECT_EQ(copy.CfgInterfaceObjectCount, 1);
    EXPECT_EQ(copy.InterfaceObjects[0]->EndPointSlots[2]->Address, 0x86);

    device.DetachDevice();
    EXPECT_EQ(device.GetConfigurationCount(), 0);
    EXPECT_EQ(device.GetInterfaceCount(), 0);
    EXPECT_EQ(device.GetAltSettingCount(), 0);
    EXPECT_FALSE(device.GetBosHeader(&header));
}

TEST_F(Bus, Usb2CardHasNoBosReadOuts) {
    usbtest::plug_card(false);
    CCyUSBDriverDevice device;
    BosHeaderFields header;
    Usb20ExtensionRecord extension;
    EXPECT_FALSE(device.GetBosHeader(&header));
    EXPECT_FALSE(device.GetUsb20Extension(&extension));
}

TEST_F(Bus, PowerStateRequests) {
    auto card = usbtest::plug_card();
    CCyUSBDriverDevice device;
    EXPECT_EQ(device.QueryPowerState(), 1);
    EXPECT_TRUE(device.RequestPowerStateD3());
    EXPECT_EQ(card.device->power_state(), 4u);
    card.device->clear_traffic();
    EXPECT_TRUE(device.RequestPowerStateD3());  // already there: nothing sent
    EXPECT_EQ(card.device->control_codes(), (std::vector<uint32_t>{wire::kIoctlGetPowerState}));
    EXPECT_TRUE(device.RequestPowerStateD0());
    EXPECT_EQ(card.device->power_state(), 1u);
    card.device->set_faults({.failing_codes = {wire::kIoctlSetPowerState}});
    EXPECT_FALSE(device.RequestPowerStateD3());
    card.device->set_faults({.failing_codes = {wire::kIoctlGetPowerState}});
    EXPECT_EQ(device.QueryPowerState(), 0);
}

TEST_F(Bus, SetAltSettingBindsTheOtherInterface) {
    sim::usb::Configuration config;
    auto alt1 = usbtest::bulk_interface(1);
    alt1.endpoints = {{0x04, 2, 512, 0, {}}, {0x88, 2, 512, 0, {}}, {0x81, 3, 16, 1, {}}};
    config.interfaces = {usbtest::bulk_interface(0), alt1};
    auto dev = sim::usb::plug(usbtest::describe({sim::usb::configuration_set(config)}));
    CCyUSBDriverDevice device;
    EXPECT_EQ(device.GetAltSettingCount(), 1);
    ASSERT_NE(device.FindEndPoint(0x86), nullptr);
    EXPECT_TRUE(device.SetAltSetting(1));
    EXPECT_EQ(dev->alternate_setting(), 1);
    EXPECT_EQ(device.InterfaceIndex, 1);
    EXPECT_EQ(device.EndPointCount(), 4);
    EXPECT_EQ(device.FindEndPoint(0x86), nullptr);
    EXPECT_EQ(device.FirstBulkIn, device.FindEndPoint(0x88));
    EXPECT_EQ(device.FirstInterruptIn, device.FindEndPoint(0x81));
    dev->clear_traffic();
    EXPECT_TRUE(device.SetAltSetting(1));
    EXPECT_EQ(dev->control_codes(), (std::vector<uint32_t>{wire::kIoctlGetAltSetting}));
    EXPECT_FALSE(device.SetAltSetting(5));
}

TEST_F(Bus, PortRequestsGoWithoutBuffers) {
    auto card = usbtest::plug_card();
    CCyUSBDriverDevice device;
    card.device->clear_traffic();
    EXPECT_TRUE(device.RequestPortReset());
    EXPECT_TRUE(device.RequestPortCycle());
    EXPECT_EQ(card.device->control_codes(),
              (std::vector<uint32_t>{wire::kIoctlResetPort, wire::kIoctlCyclePort}));
    device.DetachDevice();
    EXPECT_FALSE(device.RequestPortReset());
}

class UntilShort : public Bus {
  protected:
    void SetUp() override {
        Bus::SetUp();
        card = usbtest::plug_card();
        device = std::make_unique<CCyUSBDriverDevice>();
        in = device->FindEndPoint(0x86);
        in->TimeoutMs = 100;
    }
    usbtest::Card card;
    std::unique_ptr<CCyUSBDriverDevice> device;
    CCyUSBEndPoint* in = nullptr;
};

TEST_F(UntilShort, StopsAtTheShortPacket) {
    card.queue->push(std::vector<uint8_t>(512, 1));
    card.queue->push(std::vector<uint8_t>(512, 2));
    card.queue->push(std::vector<uint8_t>(100, 3));
    card.queue->push(std::vector<uint8_t>(512, 4));
    std::vector<uint8_t> buffer(4096);
    int32_t length = 4096;
    EXPECT_TRUE(TransferDataUntilShort(in, buffer.data(), length, true));
    EXPECT_EQ(length, 1124);
    EXPECT_EQ(buffer[1123], 3);
    EXPECT_EQ(card.queue->queued(), 1u);
}

TEST_F(UntilShort, StopsAtTheLengthOrAFailure) {
    for (int k = 0; k < 3; ++k) card.queue->push(std::vector<uint8_t>(512, 5));
    std::vector<uint8_t> buffer(1024);
    int32_t length = 1024;
    EXPECT_TRUE(TransferDataUntilShort(in, buffer.data(), length, true));
    EXPECT_EQ(length, 1024);
    EXPECT_EQ(card.queue->queued(), 1u);

    struct StallsAfterOne : sim::usb::EndpointBehaviour {
        int answered = 0;
        sim::usb::Reply answer(uint8_t, std::span<uint8_t> buffer) override {
            if (answered++) return sim::usb::Reply::stall();
            std::fill(buffer.begin(), buffer.end(), 6);
            return sim::usb::Reply::ok(static_cast<uint32_t>(buffer.size()));
        }
    };
    card.device->set_behaviour(0x86, std::make_shared<StallsAfterOne>());
    length = 1024;
    EXPECT_TRUE(TransferDataUntilShort(in, buffer.data(), length, true));
    EXPECT_EQ(length, 512);
    EXPECT_EQ(buffer[511], 6);
}

TEST_F(UntilShort, FailureBeforeAnyByteIsTheResult) {
    card.device->set_fault(0x86, {.usbd_status = 0xC0000004});
    card.queue->push(std::vector<uint8_t>(512, 5));
    std::vector<uint8_t> buffer(1024);
    int32_t length = 1024;
    EXPECT_FALSE(TransferDataUntilShort(in, buffer.data(), length, true));
    EXPECT_EQ(length, 0);
}

TEST_F(UntilShort, WithoutTheFlagOneTransfer) {
    card.queue->push(std::vector<uint8_t>(512, 1));
    card.queue->push(std::vector<uint8_t>(512, 2));
    std::vector<uint8_t> buffer(1024);
    int32_t length = 1024;
    EXPECT_TRUE(TransferDataUntilShort(in, buffer.data(), length, false));
    EXPECT_EQ(length, 512);
    EXPECT_EQ(card.queue->queued(), 1u);
}

}  // namespace
