// Hardware mode through the card's firmware model: the kernel card client (descriptors, bulk
// endpoints, transfer sizes, the card handle and its references), the frames it sends, the
// hardware-crypto thread's chunks and gate, and the failures that drop the card.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>

#include "base/byte_access.h"
#include "sim/card/card_controls.h"
#include "tests/support/orvik_test.h"

namespace {

using sim::card::FrameRecord;

constexpr uint64_t kKiB = 1024;
constexpr uint64_t kMiB = 1 << 20;
constexpr uint32_t kEncrypt = 0x241;
constexpr uint32_t kDecrypt = 0x242;

// The transfer size that the function driver of the device at path holds for endpoint, asked
// from user mode.
uint32_t transfer_size(const std::string& path, uint8_t endpoint) {
    HANDLE card =
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(card, INVALID_HANDLE_VALUE);
    uint8_t request[5] = {endpoint};
    DWORD returned = 0;
    EXPECT_TRUE(DeviceIoControl(card, 0x220034, request, 5, request, 5, &returned, nullptr));
    CloseHandle(card);
    return bytes::load_le32(request + 1);
}

class OrvikCard : public Orvik {
  protected:
    void SetUp() override {
        Orvik::SetUp();
        sim::card::CardState state = sim::card::random_card();
        state.volume_key = volume_key_;
        card_ = sim::card::plug(state);
        ASSERT_EQ(load(2), STATUS_SUCCESS);
        disk_ = disk(1);
        ASSERT_NE(disk_, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        Orvik::TearDown();
        sim::usb::unplug_all();
    }

    // A card-mode record for the image named relative, reaching the card as the volume functions
    // name it: "\GLOBAL??\" and its interface path without "\\?\".
    MountRecord card_record(const std::string& relative, int64_t file_size = kMiB,
                            uint32_t chunk_size = 0x10000) const {
        MountRecord record = soft_record(relative, file_size);
        record.soft = false;
        record.key = {};
        record.chunk_size = chunk_size;
        record.device_path = "\\GLOBAL??\\" + card_->path().substr(4);
        return record;
    }

    // The FPGA frames the card received since the last clear.
    std::vector<FrameRecord> fpga_frames() const {
        std::vector<FrameRecord> frames;
        for (auto& f : card_->frames())
            if (f.fpga) frames.push_back(f);
        return frames;
    }
    static uint32_t data_length(const FrameRecord& f) {
        return bytes::load_le32(f.bytes.data() + 4);
    }
    static uint64_t sector(const FrameRecord& f) { return bytes::load_le64(f.bytes.data() + 40); }

    // The card's open handles once they have come down to at most n. The driver closes its
    // handle before it completes the request that released it, but the function driver hears
    // the close only when the last transfer has dropped its reference to the file, which may
    // trail that completion on another thread (as on Windows); so allow it ten seconds.
    size_t card_handles_down_to(size_t n) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (card_->device()->open_handles() > n && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return card_->device()->open_handles();
    }

    const sim::card::Key32 volume_key_ = test_key(9);
    std::shared_ptr<sim::card::Card> card_;
    HANDLE disk_ = INVALID_HANDLE_VALUE;
};

// The card encrypts each sector under the volume key with its sector number; the frames carry a
// zero key field and the sector twice.
TEST_F(OrvikCard, SectorsTravelThroughTheCard) {
    ASSERT_EQ(attach(disk_, card_record("vol.img")), 0u);
    const std::vector<uint8_t> data = pattern(8 * kKiB, 2);
    card_->clear_records();
    ASSERT_EQ(write(disk_, 64 * kKiB, data), 0u);
    std::vector<uint8_t> back(data.size());
    ASSERT_EQ(read(disk_, 64 * kKiB, back), 0u);
    EXPECT_EQ(back, data);
    const auto frames = fpga_frames();
    ASSERT_EQ(frames.size(), 2u);
    for (const auto& f : frames) {
        EXPECT_EQ(f.bytes.size(), 64 + data.size());
        EXPECT_EQ(std::vector<uint8_t>(f.bytes.begin() + 8, f.bytes.begin() + 40),
                  std::vector<uint8_t>(32, 0));
        EXPECT_EQ(sector(f), 128u);
        EXPECT_EQ(bytes::load_le64(f.bytes.data() + 48), 0u);
        EXPECT_EQ(bytes::load_le64(f.bytes.data() + 56), 128u);
        EXPECT_EQ(f.status, 0u);
    }
    EXPECT_EQ(frames[0].code, kEncrypt);
    EXPECT_EQ(frames[1].code, kDecrypt);
    ASSERT_EQ(detach(disk_), 0u);
    EXPECT_EQ(decrypt_sectors(folder_.read("vol.img"), volume_key_.data(), 64 * kKiB, data.size()),
              data);
}

struct ChunkCase {
    const char* name;
    uint32_t chunk_size;
    uint64_t length;
    std::vector<uint32_t> frames;
};

class OrvikChunks : public OrvikCard, public ::testing::WithParamInterface<ChunkCase> {};

TEST_P(OrvikChunks, AnItemIsCutIntoFrames) {
    ASSERT_EQ(attach(disk_, card_record("vol.img", 4 * kMiB, GetParam().chunk_size)), 0u);
    const std::vector<uint8_t> data = pattern(GetParam().length, 5);
    card_->clear_records();
    ASSERT_EQ(write(disk_, kMiB, data), 0u);
    std::vector<uint32_t> lengths;
    uint64_t expected_sector = kMiB / 512;
    for (const auto& f : fpga_frames()) {
        lengths.push_back(data_length(f));
        EXPECT_EQ(sector(f), expected_sector);
        expected_sector += data_length(f) / 512;
    }
    EXPECT_EQ(lengths, GetParam().frames);
    std::vector<uint8_t> back(data.size());
    ASSERT_EQ(read(disk_, kMiB, back), 0u);
    EXPECT_EQ(back, data);
}

INSTANTIATE_TEST_SUITE_P(
    Orvik, OrvikChunks,
    ::testing::Values(ChunkCase{"Small", 0x10000, 4 * kKiB, {4096}},
                      ChunkCase{"TwelveKiB", 0x10000, 12 * kKiB, {12288}},
                      ChunkCase{"SixtyFourPlusFour", 0x10000, 68 * kKiB, {65536, 4096}},
                      ChunkCase{"TwoChunksPlusEight", 0x10000, 136 * kKiB, {65536, 65536, 8192}},
                      ChunkCase{"ChunkOf4096", 4096, 10 * kKiB, {4096, 4096, 2048}},
                      ChunkCase{"ChunkOfZero", 0, 12 * kKiB, {4096, 4096, 4096}},
                      ChunkCase{"ChunkNotWholeSectors", 5000, 12 * kKiB, {4096, 4096, 4096}},
                      ChunkCase{"ChunkOfTwoSectors", 1024, 5 * kKiB, {1024, 4096}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(OrvikCard, AReadOfOneBlockIsOneFramePair) {
    ASSERT_EQ(attach(disk_, card_record("vol.img")), 0u);
    card_->clear_records();
    std::vector<uint8_t> back(4096);
    ASSERT_EQ(read(disk_, 40960, back), 0u);
    const auto frames = fpga_frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].code, kDecrypt);
    EXPECT_EQ(data_length(frames[0]), 4096u);
    EXPECT_EQ(sector(frames[0]), 80u);
    EXPECT_EQ(back, decrypt_sectors(folder_.read("vol.img"), volume_key_.data(), 40960, 4096));
}

// Two disks writing at once: their items reach the card one after the other, never interleaved,
// and no frame comes before the previous one's answer was read.
TEST_F(OrvikCard, TwoDisksWritingTakeTurnsAtTheCard) {
    HANDLE disk2 = disk(2);
    ASSERT_EQ(attach(disk_, card_record("one.img", 4 * kMiB)), 0u);
    ASSERT_EQ(attach(disk2, card_record("two.img", 4 * kMiB)), 0u);
    card_->clear_records();
    constexpr int kItems = 12;
    const std::vector<uint8_t> data = pattern(136 * kKiB, 1);
    auto writer = [&](HANDLE d, uint64_t base) {
        for (int i = 0; i < kItems; ++i) EXPECT_EQ(write(d, base + i * 136 * kKiB, data), 0u);
    };
    std::thread first(writer, disk_, 0), second(writer, disk2, 2 * kMiB);
    first.join();
    second.join();
    const auto frames = fpga_frames();
    ASSERT_EQ(frames.size(), 2u * kItems * 3);
    for (size_t i = 0; i < frames.size(); i += 3) {
        // Each item: 64 KiB, 64 KiB, 8 KiB at consecutive sectors.
        EXPECT_EQ(data_length(frames[i]), 65536u);
        EXPECT_EQ(data_length(frames[i + 1]), 65536u);
        EXPECT_EQ(data_length(frames[i + 2]), 8192u);
        EXPECT_EQ(sector(frames[i + 1]), sector(frames[i]) + 128);
        EXPECT_EQ(sector(frames[i + 2]), sector(frames[i]) + 256);
    }
    for (const auto& f : frames) EXPECT_FALSE(f.overlapped);
}

// The first chunk's reply echoes its sector, the second's does not: the item ends there, with no
// third frame, and the request fails.
TEST_F(OrvikCard, AFailingSecondChunkEndsTheItem) {
    ASSERT_EQ(attach(disk_, card_record("vol.img")), 0u);
    card_->clear_records();
    card_->fail(kEncrypt, {.echoed_sector = 0});
    EXPECT_EQ(write(disk_, 0, pattern(136 * kKiB, 3)), error_of(STATUS_IO_DEVICE_ERROR));
    EXPECT_EQ(fpga_frames().size(), 2u);
}

struct FailureCase {
    const char* name;
    sim::card::Fault fault;
    std::optional<sim::kernel::PoolFault> pool = {};  // instead of the card's fault
    friend void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }
};

class OrvikCardFailure : public OrvikCard, public ::testing::WithParamInterface<FailureCase> {};

// A frame exchange that fails fails its request and drops the card: the image keeps its bytes,
// later requests are refused at dispatch until an OPEN opens the card again.
TEST_P(OrvikCardFailure, DropsTheCard) {
    ASSERT_EQ(attach(disk_, card_record("vol.img")), 0u);
    const std::vector<uint8_t> before = pattern(8 * kKiB, 1);
    ASSERT_EQ(write(disk_, 0, before), 0u);
    const std::string image = folder_.read("vol.img");
    if (GetParam().pool)
        sim::kernel::pool_fail(*GetParam().pool);
    else
        card_->fail_next(1, GetParam().fault);
    EXPECT_EQ(write(disk_, 0, pattern(8 * kKiB, 2)), error_of(STATUS_IO_DEVICE_ERROR));
    std::vector<uint8_t> back(8 * kKiB);
    EXPECT_EQ(read(disk_, 0, back), error_of(STATUS_NO_SUCH_DEVICE));
    EXPECT_EQ(card_handles_down_to(0), 0u);
    EXPECT_EQ(card_->device()->pending_transfers(), 0u);
    ASSERT_EQ(detach(disk_), 0u);
    EXPECT_EQ(folder_.read("vol.img"), image);
    ASSERT_EQ(attach(disk_, card_record("vol.img")), 0u);
    ASSERT_EQ(read(disk_, 0, back), 0u);
    EXPECT_EQ(back, before);
}

INSTANTIATE_TEST_SUITE_P(
    Orvik, OrvikCardFailure,
    ::testing::Values(FailureCase{"WrongEchoedSector", {.echoed_sector = 99}},
                      FailureCase{"StatusByte", {.status = sim::card::kFpgaNoKey}},
                      FailureCase{"TotalLength", {.total_length = 64}},
                      FailureCase{"ShortReply", {.answer_bytes = 64 + 512}},
                      FailureCase{"Stall", {.stall = true}},
                      // The frame buffers: envelope, header and 8 KiB, the OUT frame's first.
                      FailureCase{
                          "NoOutFrameBuffer", sim::card::Fault{},
                          sim::kernel::PoolFault{.tag = "Orvk", .min_bytes = 38 + 64 + 8 * kKiB}},
                      FailureCase{"NoInFrameBuffer", sim::card::Fault{},
                                  sim::kernel::PoolFault{
                                      .tag = "Orvk", .min_bytes = 38 + 64 + 8 * kKiB, .skip = 1}}),
    [](const auto& info) { return std::string(info.param.name); });

// A reply that never comes: the IN transfer is given 3 seconds, then aborted and waited for; the
// request fails and nothing of it is left in the function driver.
TEST_F(OrvikCard, AReplyThatNeverComesTimesOutAfterThreeSeconds) {
    ASSERT_EQ(attach(disk_, card_record("vol.img")), 0u);
    card_->fail_next(1, {.no_answer = true});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(write(disk_, 0, pattern(4096, 1)), error_of(STATUS_IO_DEVICE_ERROR));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(card_->device()->pending_transfers(), 0u);
    bool aborted = false;
    for (const auto& t : card_->device()->transfers()) aborted = aborted || t.aborted;
    EXPECT_TRUE(aborted);
    std::vector<uint8_t> back(4096);
    EXPECT_EQ(read(disk_, 0, back), error_of(STATUS_NO_SUCH_DEVICE));
}

// References: a second card-mode OPEN takes one without reading the descriptors again; the card
// closes with the last CLOSE.
TEST_F(OrvikCard, TheCardHandleIsSharedAndClosedWithTheLastImage) {
    ASSERT_EQ(attach(disk_, card_record("one.img")), 0u);
    EXPECT_EQ(card_->device()->open_handles(), 1u);
    card_->device()->clear_traffic();
    HANDLE disk2 = disk(2);
    ASSERT_EQ(attach(disk2, card_record("two.img")), 0u);
    EXPECT_TRUE(card_->device()->transfers().empty());
    EXPECT_EQ(card_->device()->open_handles(), 1u);
    ASSERT_EQ(detach(disk_), 0u);
    EXPECT_EQ(card_->device()->open_handles(), 1u);
    std::vector<uint8_t> back(4096);
    EXPECT_EQ(read(disk2, 0, back), 0u);
    ASSERT_EQ(detach(disk2), 0u);
    EXPECT_EQ(card_handles_down_to(0), 0u);
}

// A disk attached in card mode keeps its reference when another disk switches the driver to
// software mode; its CLOSE still releases the card.
TEST_F(OrvikCard, ACloseReleasesTheCardWhateverTheModeThen) {
    ASSERT_EQ(attach(disk_, card_record("one.img")), 0u);
    HANDLE disk2 = disk(2);
    ASSERT_EQ(attach(disk2, soft_record("two.img", kMiB)), 0u);
    ASSERT_EQ(detach(disk_), 0u);
    EXPECT_EQ(card_handles_down_to(0), 0u);
}

TEST_F(OrvikCard, TransferSizeIsSetInWholePackets) {
    ASSERT_EQ(attach(disk_, card_record("vol.img")), 0u);
    EXPECT_EQ(transfer_size(card_->path(), 0x02), 4608u);  // 512-byte packets
    EXPECT_EQ(transfer_size(card_->path(), 0x86), 4608u);
}

TEST_F(OrvikCard, UnloadClosesTheCard) {
    ASSERT_EQ(attach(disk_, card_record("one.img")), 0u);
    ASSERT_EQ(attach(disk(2), card_record("two.img")), 0u);
    unload();
    EXPECT_EQ(card_->device()->open_handles(), 0u);
}

// Requests held at a slow card while unload starts: unload waits for them, and nothing is left.
TEST_F(OrvikCard, UnloadWithWorkQueuedAtTheCard) {
    HANDLE disk1 = disk(1, FILE_FLAG_OVERLAPPED);
    HANDLE disk2 = disk(2, FILE_FLAG_OVERLAPPED);
    ASSERT_EQ(attach(disk1, card_record("one.img")), 0u);
    ASSERT_EQ(attach(disk2, card_record("two.img")), 0u);
    card_->device()->set_fault(0x86, {.delay_ms = 100});
    const std::vector<uint8_t> data = pattern(64 * kKiB, 4);
    std::vector<OVERLAPPED> requests(8);
    for (size_t i = 0; i < requests.size(); ++i) {
        requests[i].hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        requests[i].Offset = static_cast<DWORD>(i / 2 * 64 * kKiB);
        const BOOL ok =
            WriteFile(i % 2 ? disk2 : disk1, data.data(), 64 * kKiB, nullptr, &requests[i]);
        ASSERT_TRUE(ok || GetLastError() == ERROR_IO_PENDING);
    }
    close(disk1);
    close(disk2);
    unload();
    EXPECT_EQ(card_->device()->open_handles(), 0u);
    for (OVERLAPPED& request : requests) {
        EXPECT_EQ(WaitForSingleObject(request.hEvent, 0), WAIT_OBJECT_0);
        EXPECT_EQ(request.Internal, static_cast<ULONG_PTR>(STATUS_SUCCESS));
        CloseHandle(request.hEvent);
    }
}

// A slow card holds the disk's worker in a request: requests queued behind a CLOSE find no
// media, and a second OPEN queued behind the first is refused once the first has attached.
TEST_F(OrvikCard, RequestsQueuedAroundOpenAndCloseFindTheStateTheWorkerLeft) {
    HANDLE overlapped = disk(1, FILE_FLAG_OVERLAPPED);
    const std::vector<uint8_t> record = card_record("vol.img").bytes();
    card_->device()->set_fault(0, {.delay_ms = 300});  // descriptor reads
    OVERLAPPED first{}, second{};
    first.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    second.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD moved = 0;
    BOOL ok =
        DeviceIoControl(overlapped, IOCTL_ORVIK_OPEN_IMAGE, const_cast<uint8_t*>(record.data()),
                        static_cast<DWORD>(record.size()), nullptr, 0, nullptr, &first);
    ASSERT_TRUE(!ok && GetLastError() == ERROR_IO_PENDING);
    ok = DeviceIoControl(overlapped, IOCTL_ORVIK_OPEN_IMAGE, const_cast<uint8_t*>(record.data()),
                         static_cast<DWORD>(record.size()), nullptr, 0, nullptr, &second);
    ASSERT_TRUE(!ok && GetLastError() == ERROR_IO_PENDING);
    EXPECT_TRUE(GetOverlappedResult(overlapped, &first, &moved, TRUE));
    EXPECT_FALSE(GetOverlappedResult(overlapped, &second, &moved, TRUE));
    EXPECT_EQ(GetLastError(), error_of(STATUS_INVALID_DEVICE_REQUEST));
    card_->device()->clear_faults();

    card_->device()->set_fault(0x86, {.delay_ms = 300});  // the write's reply
    std::vector<uint8_t> data = pattern(4096, 1), after(4096);
    OVERLAPPED writing{}, closing{}, reading{};
    for (OVERLAPPED* o : {&writing, &closing, &reading})
        o->hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ok = WriteFile(overlapped, data.data(), 4096, nullptr, &writing);
    ASSERT_TRUE(!ok && GetLastError() == ERROR_IO_PENDING);
    ok = DeviceIoControl(overlapped, IOCTL_ORVIK_CLOSE_IMAGE, nullptr, 0, nullptr, 0, nullptr,
                         &closing);
    ASSERT_TRUE(!ok && GetLastError() == ERROR_IO_PENDING);
    ok = ReadFile(overlapped, after.data(), 4096, nullptr, &reading);
    ASSERT_TRUE(!ok && GetLastError() == ERROR_IO_PENDING);
    EXPECT_TRUE(GetOverlappedResult(overlapped, &writing, &moved, TRUE));
    EXPECT_TRUE(GetOverlappedResult(overlapped, &closing, &moved, TRUE));
    EXPECT_FALSE(GetOverlappedResult(overlapped, &reading, &moved, TRUE));
    EXPECT_EQ(GetLastError(), error_of(STATUS_NO_MEDIA_IN_DEVICE));
    EXPECT_EQ(card_handles_down_to(0), 0u);
    for (OVERLAPPED* o : {&first, &second, &writing, &closing, &reading}) CloseHandle(o->hEvent);
}

// Card layouts: what the client needs of the descriptors to open the card (the bulk endpoints
// 0x02 and 0x86 of the interface in the current alternate setting), and the transfer size it sets
// on them. A card that cannot be opened leaves no handle.
struct LayoutCase {
    const char* name;
    sim::usb::Description description;
    sim::usb::DeviceFaults faults;
    uint32_t transfer_size;  // 0: the OPEN fails
    friend void PrintTo(const LayoutCase& c, std::ostream* out) { *out << c.name; }
};

sim::usb::Description with_endpoints(std::vector<sim::usb::Endpoint> endpoints,
                                     bool superspeed = false) {
    sim::usb::Description description = sim::usb::card_description(superspeed);
    sim::usb::Interface interface;
    interface.endpoints = std::move(endpoints);
    sim::usb::Configuration configuration;
    configuration.interfaces = {interface};
    description.configurations = {sim::usb::configuration_set(configuration)};
    return description;
}

sim::usb::Description without_interface() {
    sim::usb::Description description = sim::usb::card_description();
    description.configurations = {sim::usb::configuration_set({})};
    return description;
}

sim::usb::Description in_alternate_setting(uint8_t alternate) {
    sim::usb::Description description = sim::usb::card_description();
    description.alternate_setting = alternate;
    return description;
}

sim::usb::Description without_configurations() {
    sim::usb::Description description = sim::usb::card_description();
    sim::usb::DeviceFields fields;
    fields.configuration_count = 0;
    description.device = sim::usb::device_descriptor(fields);
    return description;
}

const sim::usb::Companion kBurstOfOne{.max_burst = 0};

class OrvikCardLayout : public Orvik, public ::testing::WithParamInterface<LayoutCase> {
  protected:
    void TearDown() override {
        Orvik::TearDown();
        sim::usb::unplug_all();
    }
};

TEST_P(OrvikCardLayout, OpensOnlyWithBothBulkEndpoints) {
    auto device = sim::usb::plug(GetParam().description);
    device->set_faults(GetParam().faults);
    ASSERT_EQ(load(1), STATUS_SUCCESS);
    MountRecord record = soft_record("vol.img", kMiB);
    record.soft = false;
    record.device_path = "\\GLOBAL??\\" + device->path().substr(4);
    HANDLE d = disk(1);
    const uint32_t size = GetParam().transfer_size;
    EXPECT_EQ(attach(d, record), size ? 0 : error_of(STATUS_NO_SUCH_DEVICE));
    EXPECT_EQ(device->open_handles(), size ? 1u : 0u);
    const std::vector<uint32_t> codes = device->control_codes();
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 0x220038u), size ? 2 : 0);
    if (size) {
        for (uint8_t endpoint : {0x02, 0x86})
            EXPECT_EQ(transfer_size(device->path(), endpoint), size) << int{endpoint};
    }
}

INSTANTIATE_TEST_SUITE_P(
    Orvik, OrvikCardLayout,
    ::testing::Values(
        // High speed: the last endpoint descriptor ends where the configuration data ends.
        LayoutCase{"HighSpeedCard", sim::usb::card_description(false), {}, 4608},
        LayoutCase{"SuperSpeedCard", sim::usb::card_description(true), {}, 5120},
        // Over 60 bytes after the configuration descriptor: endpoints taken with companions.
        LayoutCase{"FourEndpointsWithCompanions",
                   with_endpoints({{0x01, 2, 1024, 0, kBurstOfOne},
                                   {0x02, 2, 1024, 0, kBurstOfOne},
                                   {0x81, 2, 1024, 0, kBurstOfOne},
                                   {0x86, 2, 1024, 0, kBurstOfOne}},
                                  true),
                   {},
                   5120},
        LayoutCase{"OnlyEndpoints01And81", with_endpoints({{0x01, 2, 512}, {0x81, 2, 512}}), {}, 0},
        LayoutCase{"InterruptOut", with_endpoints({{0x02, 3, 512}, {0x86, 2, 512}}), {}, 0},
        LayoutCase{"NoInterface", without_interface(), {}, 0},
        LayoutCase{"NoConfiguration", without_configurations(), {}, 0},
        LayoutCase{"DeviceDescriptorStalls",
                   sim::usb::card_description(),
                   {.failing_descriptors = {1}},
                   0},
        LayoutCase{
            "ConfigurationStalls", sim::usb::card_description(), {.failing_descriptors = {2}}, 0},
        LayoutCase{
            "NoAlternateSetting", sim::usb::card_description(), {.no_alternate_setting = true}, 0},
        LayoutCase{"OtherAlternateSetting", in_alternate_setting(1), {}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
