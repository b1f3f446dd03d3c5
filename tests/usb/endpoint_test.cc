// Endpoint objects on a simulated card: packet sizes, the envelope they send, direct, buffered,
// control and isochronous transfers, and the time-out and abort rule.
#include "usb/endpoint.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <ostream>
#include <vector>

#include "tests/support/sim_devices.h"
#include "usb/bytes.h"
#include "wire/transfer_envelope.h"
#include "wire/vendor_control_codes.h"

namespace {

using usbtest::Bus;

std::vector<uint8_t> endpoint_descriptor(uint8_t address, uint8_t attributes, uint16_t max_packet,
                                         uint8_t interval = 0) {
    return {7,
            5,
            address,
            attributes,
            static_cast<uint8_t>(max_packet),
            static_cast<uint8_t>(max_packet >> 8),
            interval};
}

struct PacketCase {
    uint8_t attributes;
    uint16_t max_packet;
    bool companion;
    uint8_t max_burst, companion_attributes;
    uint16_t expected, multiplier;
};

void PrintTo(const PacketCase& c, std::ostream* os) {
    *os << std::hex << c.max_packet << " burst " << std::dec << int(c.max_burst);
}

class PacketSizes : public ::testing::TestWithParam<PacketCase> {};

TEST_P(PacketSizes, FollowTheDescriptors) {
    auto p = GetParam();
    auto d = endpoint_descriptor(0x81, p.attributes, p.max_packet);
    std::vector<uint8_t> c = {6, 0x30, p.max_burst, p.companion_attributes, 0, 4};
    CCyBulkEndPoint ep(INVALID_HANDLE_VALUE, d.data(), p.companion ? c.data() : nullptr);
    EXPECT_EQ(ep.MaxPacketSize, p.expected);
    EXPECT_EQ(ep.PacketMultiplier, p.multiplier);
    EXPECT_TRUE(ep.IsIn);
    EXPECT_EQ(ep.TransferMode, 1u);
    EXPECT_EQ(ep.TimeoutMs, 10000u);
    EXPECT_EQ(ep.BytesPerInterval, p.companion ? 0x400 : 0);
}

INSTANTIATE_TEST_SUITE_P(Rules, PacketSizes,
                         ::testing::Values(PacketCase{2, 0x0200, false, 0, 0, 512, 1},
                                           PacketCase{1, 0x1400, false, 0, 0, 3072, 3},
                                           PacketCase{2, 1024, true, 15, 0, 16384, 1},
                                           PacketCase{1, 1024, true, 1, 2, 6144, 1},
                                           PacketCase{3, 0x0840, true, 0, 2, 128, 2}));

TEST(ControlTimeouts, RoundToWholeSeconds) {
    const std::pair<uint32_t, uint32_t> cases[] = {{0, 0},    {1, 1},    {999, 1},
                                                   {1000, 1}, {2500, 2}, {10000, 10}};
    for (auto [ms, seconds] : cases) EXPECT_EQ(ControlTimeoutSeconds(ms), seconds) << ms;
}

// A card opened straight through CreateFileA, for endpoint objects of the test's own making.
class OpenCard : public Bus {
  protected:
    void SetUp() override {
        Bus::SetUp();
        card = usbtest::plug_card();
        handle = CreateFileA(card.device->path().c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, nullptr);
        ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        CloseHandle(handle);
        Bus::TearDown();
    }
    CCyBulkEndPoint bulk(uint8_t address) {
        auto d = endpoint_descriptor(address, 2, 512);
        return CCyBulkEndPoint(handle, d.data());
    }
    CCyControlEndPoint control() {
        CCyControlEndPoint ep(handle, nullptr);
        ep.MaxPacketSize = 64;
        return ep;
    }
    sim::usb::TransferRecord last_transfer() {
        auto t = card.device->transfers();
        EXPECT_FALSE(t.empty());
        return t.empty() ? sim::usb::TransferRecord{} : t.back();
    }
    size_t aborts() {
        size_t n = 0;
        for (uint32_t c : card.device->control_codes()) n += c == wire::kIoctlAbortPipe;
        return n;
    }

    usbtest::Card card;
    HANDLE handle = INVALID_HANDLE_VALUE;
};

struct RequestTypeCase {
    uint32_t target, request_type, direction;
    uint8_t expected;
};

void PrintTo(const RequestTypeCase& c, std::ostream* os) {
    *os << std::hex << int(c.expected);
}

class ControlRequestTypes : public OpenCard,
                            public ::testing::WithParamInterface<RequestTypeCase> {};

TEST_P(ControlRequestTypes, AreEncodedInTheEnvelope) {
    auto p = GetParam();
    struct Acknowledge : sim::usb::EndpointBehaviour {
        sim::usb::Reply control(const sim::usb::SetupPacket&, std::span<uint8_t> data) override {
            return sim::usb::Reply::ok(static_cast<uint32_t>(data.size()));
        }
    };
    card.device->set_behaviour(0, std::make_shared<Acknowledge>());
    auto ep = control();
    ep.Target = p.target;
    ep.RequestType = p.request_type;
    ep.Direction = p.direction;
    ep.RequestCode = 0xB5;
    ep.Value = 0x1234;
    ep.Index = 0xABCD;
    ep.TimeoutMs = 2500;
    uint8_t data[4] = {1, 2, 3, 4};
    int32_t length = 4;
    EXPECT_TRUE(ep.TransferData(data, length));
    EXPECT_EQ(length, 4);
    EXPECT_EQ(ep.IsIn, p.direction == 1);
    auto t = last_transfer();
    EXPECT_EQ(t.code, wire::kIoctlControlTransfer);
    auto e = wire::TransferEnvelope::decode(t.envelope.data());
    EXPECT_EQ(e.request_type, p.expected);
    EXPECT_EQ(e.request, 0xB5);
    EXPECT_EQ(e.value, 0x1234);
    EXPECT_EQ(e.index, 0xABCD);
    EXPECT_EQ(e.length, 4);
    EXPECT_EQ(e.timeout_seconds, 2u);
    EXPECT_EQ(e.endpoint, 0);
    EXPECT_EQ(e.data_offset, 38u);
    EXPECT_EQ(e.data_length, 4u);
}

INSTANTIATE_TEST_SUITE_P(Kinds, ControlRequestTypes,
                         ::testing::Values(RequestTypeCase{0, 2, 1, 0xC0},
                                           RequestTypeCase{0, 2, 0, 0x40},
                                           RequestTypeCase{1, 1, 1, 0xA1},
                                           RequestTypeCase{2, 0, 0, 0x02}));

TEST_F(OpenCard, ControlReadCopiesTheAnswerBehindTheEnvelope) {
    struct Answer : sim::usb::EndpointBehaviour {
        sim::usb::Reply control(const sim::usb::SetupPacket& setup,
                                std::span<uint8_t> data) override {
            if (!(setup.request_type & 0x80))
                return sim::usb::Reply::ok(static_cast<uint32_t>(data.size()));
            for (size_t i = 0; i < data.size(); ++i)
                data[i] = static_cast<uint8_t>(setup.request + i);
            return sim::usb::Reply::ok(static_cast<uint32_t>(data.size() - 1));
        }
    };
    card.device->set_behaviour(0, std::make_shared<Answer>());
    auto ep = control();
    ep.RequestCode = 0x10;
    uint8_t data[8];
    std::memset(data, 0xEE, sizeof data);
    int32_t length = 8;
    EXPECT_TRUE(ep.ControlRead(data, length));
    EXPECT_EQ(length, 7);
    EXPECT_EQ(ep.BytesTransferred, 7u);
    EXPECT_EQ(data[0], 0x10);
    EXPECT_EQ(data[6], 0x16);
    EXPECT_EQ(data[7], 0xEE);
    EXPECT_EQ(ep.Direction, 1u);
    length = 8;
    EXPECT_TRUE(ep.ControlWrite(data, length));
    EXPECT_EQ(ep.Direction, 0u);
    EXPECT_EQ(last_transfer().out_data.size(), 8u);
}

TEST_F(OpenCard, DirectBulkEnvelopeCarriesOnlyTheAddress) {
    auto ep = bulk(0x02);
    std::vector<uint8_t> frame(64, 0x77);
    int32_t length = 64;
    EXPECT_TRUE(ep.TransferData(frame.data(), length));
    EXPECT_EQ(length, 64);
    auto t = last_transfer();
    EXPECT_EQ(t.code, wire::kIoctlDirectTransfer);
    ASSERT_EQ(t.envelope.size(), 38u);
    for (size_t i = 0; i < 38; ++i) EXPECT_EQ(t.envelope[i], i == 13 ? 0x02 : 0) << i;
    EXPECT_EQ(t.out_data, frame);
    ASSERT_EQ(card.queue->received().size(), 1u);
}

TEST_F(OpenCard, BufferedInTransferCopiesFromBehindTheEnvelope) {
    std::vector<uint8_t> reply(64);
    for (size_t i = 0; i < reply.size(); ++i) reply[i] = static_cast<uint8_t>(i * 3);
    card.queue->push(reply);
    auto ep = bulk(0x86);
    ep.TransferMode = 0;
    std::vector<uint8_t> buffer(64);
    int32_t length = 64;
    EXPECT_TRUE(ep.TransferData(buffer.data(), length));
    EXPECT_EQ(length, 64);
    EXPECT_EQ(buffer, reply);
    auto t = last_transfer();
    EXPECT_EQ(t.code, wire::kIoctlBufferedTransfer);
    auto e = wire::TransferEnvelope::decode(t.envelope.data());
    EXPECT_EQ(e.data_offset, 38u);
    EXPECT_EQ(e.data_length, 64u);
    EXPECT_EQ(e.endpoint, 0x86);
}

TEST_F(OpenCard, ShortTransferSucceedsWithTheSmallerLength) {
    card.queue->push(std::vector<uint8_t>(128, 1));
    card.device->set_fault(0x86, {.max_bytes = 10});
    auto ep = bulk(0x86);
    std::vector<uint8_t> buffer(128);
    int32_t length = 128;
    EXPECT_TRUE(ep.TransferData(buffer.data(), length));
    EXPECT_EQ(length, 10);
}

struct StatusCase {
    const char* name;
    sim::usb::EndpointFault fault;
    uint32_t usbd, nt;
};

void PrintTo(const StatusCase& c, std::ostream* os) {
    *os << c.name;
}

class FailedTransfers : public OpenCard, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(FailedTransfers, ReportTheirStatusWords) {
    auto p = GetParam();
    card.queue->push({1, 2, 3});
    card.device->set_fault(0x86, p.fault);
    auto ep = bulk(0x86);
    uint8_t buffer[16];
    int32_t length = 16;
    EXPECT_FALSE(ep.TransferData(buffer, length));
    EXPECT_EQ(ep.LastUsbdStatus, p.usbd);
    EXPECT_EQ(ep.LastNtStatus, p.nt);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, FailedTransfers,
    ::testing::Values(StatusCase{"Stall", {.usbd_status = 0xC0000004}, 0xC0000004, 0},
                      StatusCase{"NtError", {.nt_status = 0xC0000001}, 0, 0xC0000001},
                      StatusCase{"Refused", {.refuse_status = 0xC000000D}, 0, 0xC000000D}),
    [](const auto& info) { return info.param.name; });

TEST_F(OpenCard, RefusedTransferIsNotWaitedFor) {
    card.device->set_fault(0x86, {.refuse_status = 0xC000000D});
    auto ep = bulk(0x86);
    ep.TimeoutMs = 5000;
    uint8_t buffer[16];
    int32_t length = 16;
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(ep.TransferData(buffer, length));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(ep.LastError, static_cast<uint32_t>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(aborts(), 0u);
}

TEST_F(OpenCard, UnknownEndpointFails) {
    auto ep = bulk(0x88);
    uint8_t buffer[16];
    int32_t length = 16;
    EXPECT_FALSE(ep.TransferData(buffer, length));
    EXPECT_EQ(ep.LastUsbdStatus, sim::usb::kUsbdInvalidPipe);
}

TEST_F(OpenCard, NoHandleOrNegativeLengthMovesNothing) {
    auto d = endpoint_descriptor(0x86, 2, 512);
    CCyBulkEndPoint unbound(INVALID_HANDLE_VALUE, d.data());
    uint8_t buffer[16];
    int32_t length = 16;
    EXPECT_FALSE(unbound.TransferData(buffer, length));
    EXPECT_EQ(length, 16);
    EXPECT_EQ(unbound.BeginDirectTransfer(buffer, 16, nullptr), nullptr);
    EXPECT_EQ(unbound.BeginBufferedTransfer(buffer, 16, nullptr), nullptr);
    auto ep = bulk(0x86);
    length = -1;
    EXPECT_FALSE(ep.TransferData(buffer, length));
    EXPECT_TRUE(card.device->transfers().empty());
}

// The time-out rule: wait TimeoutMs, abort, wait 50 ms more, abort again and wait for good.
// Whether a transfer completes before or after an abort is decided by the abort itself (the
// simulated device completes it when the abort arrives, or only after it), completions meant to
// beat or miss the time-out are seconds away from it, and durations are checked from below
// only, so a loaded machine cannot flip a case.
struct TimeoutCase {
    const char* name;
    sim::usb::EndpointFault fault;
    bool result;
    size_t aborts;
    bool cancelled;
    uint32_t timeout_ms = 100;
};

void PrintTo(const TimeoutCase& c, std::ostream* os) {
    *os << c.name;
}

class Timeouts : public OpenCard, public ::testing::WithParamInterface<TimeoutCase> {};

TEST_P(Timeouts, AbortAndGrace) {
    auto p = GetParam();
    card.queue->push({5, 6, 7, 8});
    card.device->set_fault(0x86, p.fault);
    auto ep = bulk(0x86);
    ep.TimeoutMs = p.timeout_ms;
    uint8_t buffer[8] = {};
    int32_t length = 8;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ep.TransferData(buffer, length), p.result);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(aborts(), p.aborts);
    // Waits end no earlier than asked, whatever the load: the first abort comes after TimeoutMs,
    // the second after 50 ms more.
    if (p.aborts >= 1) {
        EXPECT_GE(took, std::chrono::milliseconds(p.timeout_ms));
    }
    if (p.aborts >= 2) {
        EXPECT_GE(took, std::chrono::milliseconds(p.timeout_ms + 50));
    }
    EXPECT_EQ(ep.LastUsbdStatus == sim::usb::kUsbdCanceled, p.cancelled);
    if (p.result) {
        EXPECT_EQ(length, 4);
        EXPECT_EQ(buffer[0], 5);
    } else if (p.cancelled) {
        EXPECT_EQ(length, 0);
    }
    EXPECT_EQ(card.device->pending_transfers(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Rule, Timeouts,
    ::testing::Values(
        TimeoutCase{"InTime", {.delay_ms = 30}, true, 0, false, 30000},
        TimeoutCase{"FirstAbortEndsIt", {.delay_ms = 60000}, false, 1, true},
        TimeoutCase{"NeverCompletesUntilAborted", {.never_complete = true}, false, 1, true},
        TimeoutCase{"WithinGrace",
                    {.never_complete = true, .aborts_ignored = 1, .completes_after_ignored_ms = 0},
                    true,
                    1,
                    false},
        TimeoutCase{"WithinGraceWithStatus",
                    {.usbd_status = 0xC0000004,
                     .never_complete = true,
                     .aborts_ignored = 1,
                     .completes_after_ignored_ms = 0},
                    false,
                    1,
                    false},
        TimeoutCase{"BeyondGraceSecondAbort",
                    {.never_complete = true, .aborts_ignored = 1},
                    false,
                    2,
                    true},
        TimeoutCase{
            "BeyondGraceWaitsForGood",
            {.never_complete = true, .aborts_ignored = 2, .completes_after_ignored_ms = 300},
            true,
            2,
            false}),
    [](const auto& info) { return info.param.name; });

class IsochronousCard : public Bus {
  protected:
    void SetUp() override {
        Bus::SetUp();
        sim::usb::Configuration c;
        sim::usb::Interface i;
        i.endpoints = {{0x83, 0x05, 256, 1, {}}, {0x04, 0x01, 256, 1, {}}};
        c.interfaces = {i};
        device = sim::usb::plug(usbtest::describe({sim::usb::configuration_set(c)}));
        queue = std::make_shared<sim::usb::ReplyQueue>();
        device->set_behaviour(0x83, queue);
        handle = CreateFileA(device->path().c_str(), GENERIC_READ | GENERIC_WRITE, 3, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    }
    void TearDown() override {
        CloseHandle(handle);
        Bus::TearDown();
    }
    std::shared_ptr<sim::usb::Device> device;
    std::shared_ptr<sim::usb::ReplyQueue> queue;
    HANDLE handle = INVALID_HANDLE_VALUE;
};

TEST_F(IsochronousCard, PacketRecordsTravelWithTheEnvelope) {
    for (uint32_t mode : {1u, 0u}) {
        queue->push(std::vector<uint8_t>(300, static_cast<uint8_t>(mode + 1)));
        auto d = endpoint_descriptor(0x83, 0x05, 256, 1);
        CCyIsocEndPoint ep(handle, d.data());
        ep.TransferMode = mode;
        int32_t count = 0;
        IsoPacketRecord* records = ep.NewPacketInfoArray(512, count);
        ASSERT_EQ(count, 2);
        std::vector<uint8_t> buffer(512);
        int32_t length = 512;
        EXPECT_TRUE(ep.TransferData(buffer.data(), length, records)) << mode;
        EXPECT_EQ(length, 300);
        EXPECT_EQ(buffer[299], mode + 1);
        EXPECT_EQ(records[0].Length, 256u);
        EXPECT_EQ(records[1].Length, 44u);
        delete[] records;
        auto t = device->transfers().back();
        auto e = wire::TransferEnvelope::decode(t.envelope.data());
        EXPECT_EQ(t.code, mode ? wire::kIoctlDirectTransfer : wire::kIoctlBufferedTransfer);
        EXPECT_EQ(e.packet_offset, 38u);
        EXPECT_EQ(e.packet_length, 16u);
        EXPECT_EQ(e.data_offset, mode ? 0u : 54u);
        EXPECT_EQ(e.data_length, mode ? 0u : 512u);
    }
}

TEST_F(IsochronousCard, NoPacketSizeNoTransfer) {
    CCyIsocEndPoint ep(handle, nullptr);
    ep.Address = 0x83;
    uint8_t buffer[16];
    int32_t length = 16;
    EXPECT_FALSE(ep.TransferData(buffer, length));
    int32_t count = 5;
    EXPECT_EQ(ep.NewPacketInfoArray(100, count), nullptr);
    EXPECT_EQ(count, 0);
}

TEST_F(OpenCard, PipeRequests) {
    auto ep = bulk(0x86);
    EXPECT_TRUE(ep.ResetPipe());
    EXPECT_EQ(ep.GetTransferSize(), 0x10000u);
    ep.SetTransferSize(1000);
    EXPECT_EQ(ep.GetTransferSize(), 1024u);  // a multiple of MaxPacketSize
    EXPECT_TRUE(ep.AbortPipe());
    auto codes = card.device->control_codes();
    EXPECT_EQ(codes, (std::vector<uint32_t>{wire::kIoctlResetPipe, wire::kIoctlGetTransferSize,
                                            wire::kIoctlSetTransferSize,
                                            wire::kIoctlGetTransferSize, wire::kIoctlAbortPipe}));
    card.device->set_faults(
        {.failing_codes = {wire::kIoctlResetPipe, wire::kIoctlGetTransferSize}});
    EXPECT_FALSE(ep.ResetPipe());
    EXPECT_EQ(ep.LastError, static_cast<uint32_t>(ERROR_GEN_FAILURE));
    EXPECT_EQ(ep.GetTransferSize(), 0u);
    auto d = endpoint_descriptor(0x86, 2, 512);
    CCyBulkEndPoint unbound(INVALID_HANDLE_VALUE, d.data());
    EXPECT_EQ(unbound.GetTransferSize(), 0u);
}

TEST_F(OpenCard, WaitForCompletionFollowsTheLastError) {
    auto ep = bulk(0x86);
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ep.LastError = 0;
    EXPECT_TRUE(ep.WaitForCompletion(&overlapped, 0));
    ep.LastError = ERROR_GEN_FAILURE;
    EXPECT_FALSE(ep.WaitForCompletion(&overlapped, 0));
    ep.LastError = ERROR_IO_PENDING;
    EXPECT_FALSE(ep.WaitForCompletion(&overlapped, 10));
    SetEvent(overlapped.hEvent);
    EXPECT_TRUE(ep.WaitForCompletion(&overlapped, 10));
    CloseHandle(overlapped.hEvent);
}

TEST_F(OpenCard, CopiesKeepSettingsButNotStatus) {
    auto ep = control();
    ep.TimeoutMs = 777;
    ep.RequestCode = 0xA0;
    ep.Direction = 1;
    ep.Value = 9;
    ep.LastError = 5;
    ep.LastUsbdStatus = 0xC0000004;
    ep.PacketMultiplier = 2;
    CCyControlEndPoint copy(ep);
    EXPECT_EQ(copy.DeviceHandle, handle);
    EXPECT_EQ(copy.TimeoutMs, 777u);
    EXPECT_EQ(copy.MaxPacketSize, 64);
    EXPECT_EQ(copy.TransferMode, 0u);
    EXPECT_EQ(copy.RequestCode, 0xA0);
    EXPECT_EQ(copy.Direction, 1u);
    EXPECT_EQ(copy.Value, 9);
    EXPECT_EQ(copy.LastError, 0u);
    EXPECT_EQ(copy.LastUsbdStatus, 0u);
    EXPECT_EQ(copy.PacketMultiplier, 0);

    auto d = endpoint_descriptor(0x81, 3, 0x0840, 4);
    std::vector<uint8_t> companion = {6, 0x30, 2, 0, 0x80, 0};
    CCyInterruptEndPoint interrupt(handle, d.data(), companion.data());
    interrupt.TransferMode = 0;
    CCyInterruptEndPoint second(interrupt);
    EXPECT_EQ(second.MaxPacketSize, interrupt.MaxPacketSize);
    EXPECT_EQ(second.MaxBurst, 2);
    EXPECT_EQ(second.BytesPerInterval, 0x80);
    EXPECT_EQ(second.Interval, 4);
    EXPECT_EQ(second.TransferMode, 0u);
    EXPECT_TRUE(second.IsIn);
}

}  // namespace
