// The dispatch answers: OPEN's record checks and mode switch, the refusals without media, and the
// disk, storage and mount-manager queries.
#include <cstring>

#include "base/byte_access.h"
#include "platform/ddk/mountdev.h"
#include "tests/support/orvik_test.h"

namespace {

namespace fd = wire::file_descriptor;

constexpr char kSwitchLine[] = "=== Open ===: set g_dwEnableCrypte = SW_CRYPT\n";

class OrvikDispatch : public Orvik {
  protected:
    void SetUp() override {
        Orvik::SetUp();
        ASSERT_EQ(load(2), STATUS_SUCCESS);
        disk1_ = disk(1);
        ASSERT_NE(disk1_, INVALID_HANDLE_VALUE);
        sim::kernel::clear_debug_output();
    }
    // Disk 1 with a 1 MiB image attached in software mode.
    void attach_image() { ASSERT_EQ(attach(disk1_, soft_record("vol.img", 1 << 20)), 0u); }
    HANDLE disk1_ = INVALID_HANDLE_VALUE;
};

struct RecordCase {
    const char* name;
    void (*change)(MountRecord&);
    size_t size;
    DWORD error;
};

class OrvikRecord : public OrvikDispatch, public ::testing::WithParamInterface<RecordCase> {};

TEST_P(OrvikRecord, OpenChecksTheRecord) {
    MountRecord record = soft_record("vol.img", 1 << 20);
    GetParam().change(record);
    EXPECT_EQ(attach(disk1_, record, GetParam().size), GetParam().error);
    // A refused record changes nothing: no image, no mode switch.
    if (GetParam().error != 0) {
        EXPECT_FALSE(folder_.exists("vol.img"));
        EXPECT_TRUE(sim::kernel::debug_output().empty());
        EXPECT_EQ(detach(disk1_), error_of(STATUS_NO_MEDIA_IN_DEVICE));
    }
}

const DWORD kInvalid = error_of(STATUS_INVALID_PARAMETER);

INSTANTIATE_TEST_SUITE_P(
    Orvik, OrvikRecord,
    ::testing::Values(
        RecordCase{"Whole", [](MountRecord&) {}, fd::kSize, 0},
        RecordCase{"Longer", [](MountRecord&) {}, fd::kSize + 100, 0},
        RecordCase{"OneByteShort", [](MountRecord&) {}, fd::kSize - 1, kInvalid},
        RecordCase{"Empty", [](MountRecord&) {}, 0, kInvalid},
        RecordCase{"Guard1", [](MountRecord& r) { r.guard1 = 0xCCCCCCCD; }, fd::kSize, kInvalid},
        RecordCase{"Guard2", [](MountRecord& r) { r.guard2 = 0; }, fd::kSize, kInvalid},
        RecordCase{"NameLength240",
                   [](MountRecord& r) {
                       r.file_name.resize(fd::kFileNameSize, 'x');
                       r.file_name_length = 240;
                   },
                   fd::kSize, 0},
        RecordCase{"NameLength241", [](MountRecord& r) { r.file_name_length = 241; }, fd::kSize,
                   kInvalid}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(OrvikDispatch, OpenTakesExactlyTheNameLengthBytes) {
    MountRecord record = soft_record("vol.img", 1 << 20);
    const auto length = static_cast<uint16_t>(record.file_name.size());
    record.file_name += "-not-this";  // no NUL where the length ends
    record.file_name_length = length;
    EXPECT_EQ(attach(disk1_, record), 0u);
    EXPECT_TRUE(folder_.exists("vol.img"));
}

TEST_F(OrvikDispatch, OpenWithMediaIsRefusedAndChangesNothing) {
    attach_image();
    const std::vector<uint8_t> data = pattern(512, 9);
    ASSERT_EQ(write(disk1_, 0, data), 0u);
    sim::kernel::clear_debug_output();
    MountRecord other = soft_record("other.img", 1 << 20, 2);
    EXPECT_EQ(attach(disk1_, other), error_of(STATUS_INVALID_DEVICE_REQUEST));
    EXPECT_FALSE(folder_.exists("other.img"));
    std::vector<uint8_t> back(512);
    ASSERT_EQ(read(disk1_, 0, back), 0u);
    EXPECT_EQ(back, data);  // still the first key
}

TEST_F(OrvikDispatch, WithoutMediaOnlyOpenIsTaken) {
    std::vector<uint8_t> buffer(512);
    EXPECT_EQ(detach(disk1_), error_of(STATUS_NO_MEDIA_IN_DEVICE));
    EXPECT_EQ(read(disk1_, 0, buffer), error_of(STATUS_NO_MEDIA_IN_DEVICE));
    EXPECT_EQ(write(disk1_, 0, buffer), error_of(STATUS_NO_MEDIA_IN_DEVICE));
    std::vector<uint8_t> empty;
    EXPECT_EQ(read(disk1_, 0, empty), error_of(STATUS_NO_MEDIA_IN_DEVICE));
    EXPECT_EQ(control(disk1_, IOCTL_DISK_IS_WRITABLE, nullptr, 0),
              error_of(STATUS_NO_MEDIA_IN_DEVICE));
    EXPECT_EQ(control(disk1_, IOCTL_MOUNTDEV_QUERY_DEVICE_NAME, nullptr, 64),
              error_of(STATUS_NO_MEDIA_IN_DEVICE));
}

TEST_F(OrvikDispatch, EmptyTransfersSucceedWithMedia) {
    attach_image();
    std::vector<uint8_t> empty;
    DWORD moved = 99;
    EXPECT_EQ(read(disk1_, 0, empty, &moved), 0u);
    EXPECT_EQ(moved, 0u);
    EXPECT_EQ(write(disk1_, 1 << 30, empty, &moved), 0u);
    EXPECT_EQ(moved, 0u);
}

// The mode is driver-wide: a software OPEN switches every disk once (with the debug line), a
// card OPEN switches them back even when it fails.
TEST_F(OrvikDispatch, ModeSwitchesForEveryDisk) {
    attach_image();
    EXPECT_EQ(sim::kernel::debug_output(), std::vector<std::string>{kSwitchLine});
    HANDLE disk2 = disk(2);
    ASSERT_EQ(attach(disk2, soft_record("second.img", 1 << 20, 2)), 0u);
    EXPECT_EQ(sim::kernel::debug_output().size(), 1u);  // already in software mode
    ASSERT_EQ(detach(disk2), 0u);

    // A card path of 120 characters does not fit the 240-byte UTF-16 buffer.
    MountRecord card = soft_record("third.img", 1 << 20);
    card.soft = false;
    card.device_path = "\\GLOBAL??\\" + std::string(110, 'p');
    EXPECT_EQ(attach(disk2, card), error_of(STATUS_NO_SUCH_DEVICE));
    EXPECT_FALSE(folder_.exists("third.img"));
    // Now in card mode without a card: disk 1's requests are refused at dispatch.
    std::vector<uint8_t> buffer(512);
    EXPECT_EQ(read(disk1_, 0, buffer), error_of(STATUS_NO_SUCH_DEVICE));
    // A software OPEN switches back.
    ASSERT_EQ(attach(disk2, soft_record("second.img", 0, 2)), 0u);
    EXPECT_EQ(sim::kernel::debug_output().size(), 2u);
    EXPECT_EQ(read(disk1_, 0, buffer), 0u);
}

TEST_F(OrvikDispatch, GeometryAndLengthOfAOneMebibyteImage) {
    attach_image();
    std::vector<uint8_t> out;
    ASSERT_EQ(control(disk1_, IOCTL_DISK_GET_DRIVE_GEOMETRY, &out, 64), 0u);
    ASSERT_EQ(out.size(), sizeof(DISK_GEOMETRY));
    DISK_GEOMETRY geometry;
    std::memcpy(&geometry, out.data(), sizeof geometry);
    EXPECT_EQ(geometry.Cylinders.QuadPart, 32);
    EXPECT_EQ(geometry.MediaType, FixedMedia);
    EXPECT_EQ(geometry.TracksPerCylinder, 2u);
    EXPECT_EQ(geometry.SectorsPerTrack, 32u);
    EXPECT_EQ(geometry.BytesPerSector, 512u);

    ASSERT_EQ(control(disk1_, IOCTL_DISK_GET_LENGTH_INFO, &out, 8), 0u);
    ASSERT_EQ(out.size(), 8u);
    EXPECT_EQ(bytes::load_le64(out.data()), 1u << 20);

    ASSERT_EQ(control(disk1_, IOCTL_DISK_GET_PARTITION_INFO_EX, &out, 200), 0u);
    ASSERT_EQ(out.size(), sizeof(PARTITION_INFORMATION_EX));
    PARTITION_INFORMATION_EX expected{};
    expected.PartitionStyle = PARTITION_STYLE_MBR;
    expected.PartitionLength.QuadPart = 1 << 20;
    expected.Mbr.HiddenSectors = 1;
    EXPECT_EQ(std::memcmp(out.data(), &expected, sizeof expected), 0);

    ASSERT_EQ(control(disk1_, IOCTL_STORAGE_GET_HOTPLUG_INFO, &out, 8), 0u);
    EXPECT_EQ(out, (std::vector<uint8_t>{8, 0, 0, 0, 0, 0, 0, 0}));
}

// The geometry counts whole cylinders of 32 KiB; the length is exact.
TEST_F(OrvikDispatch, GeometryTruncatesAnImageOfPartCylinders) {
    folder_.write("odd.img", std::string(32768 * 3 + 512, '\0'));
    ASSERT_EQ(attach(disk1_, soft_record("odd.img")), 0u);
    std::vector<uint8_t> out;
    ASSERT_EQ(control(disk1_, IOCTL_DISK_GET_DRIVE_GEOMETRY, &out, 24), 0u);
    EXPECT_EQ(bytes::load_le64(out.data()), 3u);
    ASSERT_EQ(control(disk1_, IOCTL_DISK_GET_LENGTH_INFO, &out, 8), 0u);
    EXPECT_EQ(bytes::load_le64(out.data()), 32768u * 3 + 512);
}

struct ControlCase {
    DWORD code;
    size_t out_size;
    size_t in_size;
    NTSTATUS status;
};

TEST_F(OrvikDispatch, ControlCodesAndTheirLengthChecks) {
    attach_image();
    const ControlCase cases[] = {
        {IOCTL_DISK_GET_DRIVE_GEOMETRY, 23, 0, STATUS_BUFFER_TOO_SMALL},
        {IOCTL_DISK_GET_PARTITION_INFO_EX, 143, 0, STATUS_BUFFER_TOO_SMALL},
        {IOCTL_DISK_GET_LENGTH_INFO, 7, 0, STATUS_BUFFER_TOO_SMALL},
        {IOCTL_STORAGE_GET_HOTPLUG_INFO, 7, 0, STATUS_BUFFER_TOO_SMALL},
        {IOCTL_MOUNTDEV_QUERY_DEVICE_NAME, 3, 0, STATUS_BUFFER_TOO_SMALL},
        {IOCTL_DISK_SET_PARTITION_INFO, 0, 0, STATUS_BUFFER_TOO_SMALL},
        {IOCTL_DISK_SET_PARTITION_INFO, 0, 1, STATUS_SUCCESS},
        {IOCTL_DISK_IS_WRITABLE, 0, 0, STATUS_SUCCESS},
        {IOCTL_DISK_CHECK_VERIFY, 0, 0, STATUS_SUCCESS},
        {IOCTL_DISK_MEDIA_REMOVAL, 0, 0, STATUS_SUCCESS},
        {IOCTL_STORAGE_CHECK_VERIFY, 0, 0, STATUS_SUCCESS},
        {IOCTL_STORAGE_MEDIA_REMOVAL, 0, 0, STATUS_SUCCESS},
        {IOCTL_STORAGE_GET_DEVICE_NUMBER, 64, 0, STATUS_INVALID_DEVICE_REQUEST},
        {IOCTL_STORAGE_QUERY_PROPERTY, 64, 12, STATUS_INVALID_DEVICE_REQUEST},
        {CTL_CODE(FILE_DEVICE_DISK, 0x902, METHOD_BUFFERED, FILE_ANY_ACCESS), 64, 0,
         STATUS_INVALID_DEVICE_REQUEST},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << c.code << " out " << c.out_size);
        std::vector<uint8_t> out;
        EXPECT_EQ(control(disk1_, c.code, &out, c.out_size, std::vector<uint8_t>(c.in_size, 0x07)),
                  c.status == STATUS_SUCCESS ? 0 : error_of(c.status));
        if (c.status == STATUS_SUCCESS) {
            EXPECT_TRUE(out.empty());
        }
    }
}

// NameLength first; the name itself only when the output holds it, without a terminator.
TEST_F(OrvikDispatch, DeviceNameQuery) {
    attach_image();
    const std::u16string name = u"\\Device\\orvik\\device1";
    const size_t name_bytes = name.size() * 2;
    std::vector<uint8_t> out;
    EXPECT_EQ(control(disk1_, IOCTL_MOUNTDEV_QUERY_DEVICE_NAME, &out, 4), ERROR_MORE_DATA);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(bytes::load_le16(out.data()), name_bytes);

    EXPECT_EQ(control(disk1_, IOCTL_MOUNTDEV_QUERY_DEVICE_NAME, &out, name_bytes + 1),
              ERROR_MORE_DATA);
    EXPECT_EQ(out.size(), 4u);

    ASSERT_EQ(control(disk1_, IOCTL_MOUNTDEV_QUERY_DEVICE_NAME, &out, 256), 0u);
    ASSERT_EQ(out.size(), name_bytes + 2);
    EXPECT_EQ(bytes::load_le16(out.data()), name_bytes);
    EXPECT_EQ(std::memcmp(out.data() + 2, name.data(), name_bytes), 0);
}

}  // namespace
