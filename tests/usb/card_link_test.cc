// The card link's results against simulated cards.
#include "usb/card_link.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <vector>

#include "tests/support/sim_devices.h"

namespace {

using usbtest::Bus;

TEST_F(Bus, NoCardMeansOpenFailsAndCloseOfNullIsRejected) {
    CCyUSBDriverDevice* handle = nullptr;
    EXPECT_EQ(open_usb_dev(&handle), -2);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(close_usb_dev(handle), -1);
    EXPECT_EQ(count_usb_dev(), 0u);
}

TEST_F(Bus, NullArgumentsGiveMinusOne) {
    auto card = usbtest::plug_card();
    EXPECT_EQ(open_usb_dev(nullptr), -1);
    uint8_t buffer[64] = {};
    EXPECT_EQ(write_usb_dev(nullptr, buffer, 64), -1);
    EXPECT_EQ(read_usb_dev(nullptr, buffer, 64), -1);
    CCyUSBDriverDevice* handle = nullptr;
    ASSERT_EQ(open_usb_dev(&handle), 0);
    EXPECT_EQ(write_usb_dev(handle, nullptr, 64), -1);
    EXPECT_EQ(read_usb_dev(handle, nullptr, 64), -1);
    EXPECT_EQ(close_usb_dev(handle), 0);
    EXPECT_TRUE(card.device->transfers().empty() || card.device->transfers().back().endpoint == 0);
}

TEST_F(Bus, WriteThenReadOneFrame) {
    auto card = usbtest::plug_card();
    std::vector<uint8_t> reply(128);
    for (size_t i = 0; i < reply.size(); ++i) reply[i] = static_cast<uint8_t>(0xFF - i);
    card.queue->push(reply);
    CCyUSBDriverDevice* handle = nullptr;
    ASSERT_EQ(open_usb_dev(&handle), 0);
    ASSERT_NE(handle, nullptr);
    std::vector<uint8_t> frame(64, 0x35);
    EXPECT_EQ(write_usb_dev(handle, frame.data(), 64), 0);
    std::vector<uint8_t> answer(128);
    EXPECT_EQ(read_usb_dev(handle, answer.data(), 128), 0);
    EXPECT_EQ(answer, reply);
    ASSERT_EQ(card.queue->received().size(), 1u);
    EXPECT_EQ(card.queue->received()[0], frame);
    EXPECT_EQ(handle->FindEndPoint(0x02)->TimeoutMs, 3000u);
    EXPECT_EQ(handle->FindEndPoint(0x86)->TimeoutMs, 3000u);
    // Both transfers went direct on the card's endpoints.
    std::vector<uint8_t> endpoints;
    for (const auto& t : card.device->transfers())
        if (t.endpoint) endpoints.push_back(t.endpoint);
    EXPECT_EQ(endpoints, (std::vector<uint8_t>{0x02, 0x86}));
    EXPECT_EQ(close_usb_dev(handle), 0);
    EXPECT_EQ(card.device->open_handles(), 0u);
}

TEST_F(Bus, MissingInEndpointGivesMinusThreeAndKeepsTheHandle) {
    sim::usb::Configuration config;
    auto only_out = usbtest::bulk_interface();
    only_out.endpoints.pop_back();
    config.interfaces = {only_out};
    auto device = sim::usb::plug(usbtest::describe({sim::usb::configuration_set(config)}));
    CCyUSBDriverDevice* handle = nullptr;
    ASSERT_EQ(open_usb_dev(&handle), 0);
    uint8_t buffer[64] = {};
    EXPECT_EQ(read_usb_dev(handle, buffer, 64), -3);
    EXPECT_EQ(read_usb_dev(handle, buffer, 64), -3);
    EXPECT_EQ(write_usb_dev(handle, buffer, 64), 0);
    EXPECT_EQ(close_usb_dev(handle), 0);
    EXPECT_EQ(device->open_handles(), 0u);
}

TEST_F(Bus, UnboundInterfaceGivesMinusThreeWithoutAnException) {
    auto card = usbtest::plug_card();
    card.device->set_faults({.no_alternate_setting = true});
    CCyUSBDriverDevice* handle = nullptr;
    ASSERT_EQ(open_usb_dev(&handle), 0);
    uint8_t buffer[64] = {};
    EXPECT_EQ(write_usb_dev(handle, buffer, 64), -3);
    EXPECT_EQ(read_usb_dev(handle, buffer, 64), -3);
    EXPECT_EQ(close_usb_dev(handle), 0);
}

TEST_F(Bus, ShortReadGivesMinusTwo) {
    auto card = usbtest::plug_card();
    card.queue->push(std::vector<uint8_t>(64, 1));
    CCyUSBDriverDevice* handle = nullptr;
    ASSERT_EQ(open_usb_dev(&handle), 0);
    uint8_t buffer[128] = {};
    EXPECT_EQ(read_usb_dev(handle, buffer, 128), -2);
    EXPECT_EQ(buffer[63], 1);
    EXPECT_EQ(close_usb_dev(handle), 0);
}

struct FaultCase {
    const char* name;
    uint8_t endpoint;
    sim::usb::EndpointFault fault;
    int32_t result;
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name;
}

class TransferFaults : public Bus, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(TransferFaults, MapToLinkResults) {
    auto p = GetParam();
    auto card = usbtest::plug_card();
    card.queue->push(std::vector<uint8_t>(64, 2));
    card.device->set_fault(p.endpoint, p.fault);
    CCyUSBDriverDevice* handle = nullptr;
    ASSERT_EQ(open_usb_dev(&handle), 0);
    uint8_t buffer[64] = {};
    int32_t result =
        p.endpoint == 0x02 ? write_usb_dev(handle, buffer, 64) : read_usb_dev(handle, buffer, 64);
    EXPECT_EQ(result, p.result);
    EXPECT_EQ(close_usb_dev(handle), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, TransferFaults,
    ::testing::Values(FaultCase{"Stall", 0x02, {.usbd_status = 0xC0000004}, -3},
                      FaultCase{"NtStatus", 0x86, {.nt_status = 0xC0000001}, -3},
                      FaultCase{"Refused", 0x02, {.refuse_status = 0xC000009D}, -3},
                      FaultCase{"ShortWrite", 0x02, {.max_bytes = 63}, -2},
                      FaultCase{"SlowButInTime", 0x86, {.delay_ms = 50}, 0}),
    [](const auto& info) { return info.param.name; });

TEST_F(Bus, ReadThatNeverCompletesIsAbortedAfterThreeSeconds) {
    auto card = usbtest::plug_card();
    CCyUSBDriverDevice* handle = nullptr;
    ASSERT_EQ(open_usb_dev(&handle), 0);
    uint8_t buffer[64] = {};
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(read_usb_dev(handle, buffer, 64), -3);  // nothing queued: the card never answers
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(3000));
    EXPECT_LT(took, std::chrono::milliseconds(4500));
    EXPECT_EQ(card.device->pending_transfers(), 0u);
    EXPECT_EQ(close_usb_dev(handle), 0);
}

TEST_F(Bus, CardThatCannotBeSetUpIsNotOpened) {
    for (auto faults : {sim::usb::DeviceFaults{.open_error = ERROR_ACCESS_DENIED},
                        sim::usb::DeviceFaults{.failing_descriptors = {1}},
                        sim::usb::DeviceFaults{.failing_descriptors = {2}}}) {
        auto card = usbtest::plug_card();
        card.device->set_faults(faults);
        CCyUSBDriverDevice* handle = nullptr;
        EXPECT_EQ(open_usb_dev(&handle), -2);
        EXPECT_EQ(handle, nullptr);
        EXPECT_EQ(card.device->open_handles(), 0u);
        card.device->unplug();
    }
}

TEST_F(Bus, TwoCardsAreCountedAndDeviceZeroIsUsed) {
    auto first = usbtest::plug_card();
    auto second = usbtest::plug_card();
    EXPECT_EQ(count_usb_dev(), 2u);
    for (int command = 0; command < 3; ++command) {
        first.queue->push(std::vector<uint8_t>(64, static_cast<uint8_t>(command)));
        CCyUSBDriverDevice* handle = nullptr;
        ASSERT_EQ(open_usb_dev(&handle), 0);
        uint8_t buffer[64] = {};
        EXPECT_EQ(write_usb_dev(handle, buffer, 64), 0);
        EXPECT_EQ(read_usb_dev(handle, buffer, 64), 0);
        EXPECT_EQ(buffer[0], command);
        EXPECT_EQ(close_usb_dev(handle), 0);
    }
    EXPECT_EQ(first.queue->received().size(), 3u);
    EXPECT_TRUE(second.queue->received().empty());
    EXPECT_TRUE(second.device->transfers().empty() ||
                second.device->transfers().back().endpoint == 0);
    EXPECT_EQ(first.device->open_handles(), 0u);
    EXPECT_EQ(second.device->open_handles(), 0u);
}

TEST_F(Bus, RefusedCloseStaysInsideTheLink) {
    auto card = usbtest::plug_card();
    CCyUSBDriverDevice* handle = nullptr;
    ASSERT_EQ(open_usb_dev(&handle), 0);
    card.device->set_faults({.close_refused = true});
    EXPECT_EQ(close_usb_dev(handle), 0);
}

}  // namespace
