// The image file and software mode: a missing image created sparse and hidden, an existing one
// opened as it is, the range checks, and every sector stored as SM4-XTS under the volume key with
// its sector number as tweak, checked against an independent XTS over the file's bytes.
#include <cstring>
#include <filesystem>
#include <optional>

#include "base/byte_access.h"
#include "tests/support/orvik_test.h"

namespace {

constexpr uint64_t kMiB = 1 << 20;

class OrvikImage : public Orvik {
  protected:
    void SetUp() override {
        Orvik::SetUp();
        ASSERT_EQ(load(2), STATUS_SUCCESS);
        disk_ = disk(1);
        ASSERT_NE(disk_, INVALID_HANDLE_VALUE);
    }

    // The image's attributes and size, read from user mode without data access.
    DWORD attributes_of(const std::string& relative, uint64_t* size = nullptr) {
        HANDLE file =
            CreateFileA(folder_.win(relative).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(file, INVALID_HANDLE_VALUE);
        BY_HANDLE_FILE_INFORMATION information{};
        EXPECT_TRUE(GetFileInformationByHandle(file, &information));
        CloseHandle(file);
        if (size) *size = uint64_t{information.nFileSizeHigh} << 32 | information.nFileSizeLow;
        return information.dwFileAttributes;
    }

    uint64_t disk_length() {
        std::vector<uint8_t> out;
        EXPECT_EQ(control(disk_, IOCTL_DISK_GET_LENGTH_INFO, &out, 8), 0u);
        return out.size() == 8 ? bytes::load_le64(out.data()) : 0;
    }

    HANDLE disk_ = INVALID_HANDLE_VALUE;
};

TEST_F(OrvikImage, AMissingImageIsCreatedSparseAndHidden) {
    ASSERT_EQ(attach(disk_, soft_record("new.img", kMiB)), 0u);
    EXPECT_EQ(disk_length(), kMiB);
    ASSERT_EQ(detach(disk_), 0u);
    uint64_t size = 0;
    const DWORD attributes = attributes_of("new.img", &size);
    EXPECT_EQ(size, kMiB);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_SPARSE_FILE);
}

TEST_F(OrvikImage, AMissingImageWithoutASizeIsNotCreated) {
    EXPECT_EQ(attach(disk_, soft_record("none.img", 0)), error_of(STATUS_NO_SUCH_FILE));
    EXPECT_FALSE(folder_.exists("none.img"));
    EXPECT_EQ(detach(disk_), error_of(STATUS_NO_MEDIA_IN_DEVICE));
}

TEST_F(OrvikImage, AnImageInAMissingFolderIsRefused) {
    EXPECT_EQ(attach(disk_, soft_record("nowhere\\vol.img", kMiB)),
              error_of(STATUS_OBJECT_PATH_NOT_FOUND));
    EXPECT_EQ(detach(disk_), error_of(STATUS_NO_MEDIA_IN_DEVICE));
}

TEST_F(OrvikImage, AnExistingImageIsOpenedAsItIs) {
    folder_.write("old.img", std::string(64 * 1024, '\x5A'));
    ASSERT_EQ(attach(disk_, soft_record("old.img", kMiB)), 0u);
    EXPECT_EQ(disk_length(), 64u * 1024);
    ASSERT_EQ(detach(disk_), 0u);
    EXPECT_EQ(attributes_of("old.img") & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SPARSE_FILE), 0u);
    EXPECT_EQ(folder_.read("old.img"), std::string(64 * 1024, '\x5A'));
}

// Attached, the image is the driver's alone: no other open for data, from user mode, succeeds.
TEST_F(OrvikImage, AnAttachedImageIsNotShared) {
    ASSERT_EQ(attach(disk_, soft_record("vol.img", kMiB)), 0u);
    HANDLE file =
        CreateFileA(folder_.win("vol.img").c_str(), GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    // The same image on a second disk.
    HANDLE second = disk(2);
    EXPECT_EQ(attach(second, soft_record("vol.img", kMiB)), error_of(STATUS_SHARING_VIOLATION));
    ASSERT_EQ(detach(disk_), 0u);
    file = CreateFileA(folder_.win("vol.img").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                       nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
}

struct PartSectorsCase {
    const char* name;
    std::optional<size_t> existing;  // the image's size; none: no image
    int64_t file_size;               // of the OPEN request
};

// An image, or a size to create one with, that is not a whole number of sectors (one at least) is
// refused: nothing is attached, created or changed.
TEST_F(OrvikImage, AnImageOfPartSectorsIsRefused) {
    const PartSectorsCase cases[] = {
        {"empty", 0, kMiB},
        {"under a sector", 511, 0},
        {"part of a last sector", 1000, 0},
        {"create part of a last sector", std::nullopt, kMiB + 100},
        {"create under a sector", std::nullopt, 511},
        {"create a negative size", std::nullopt, -512},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(folder_.host("vol.img"));
        if (c.existing) folder_.write("vol.img", std::string(*c.existing, '\x5A'));
        EXPECT_EQ(attach(disk_, soft_record("vol.img", c.file_size)),
                  error_of(STATUS_INVALID_PARAMETER));
        EXPECT_EQ(detach(disk_), error_of(STATUS_NO_MEDIA_IN_DEVICE));
        EXPECT_EQ(folder_.exists("vol.img"), c.existing.has_value());
        if (c.existing) {
            EXPECT_EQ(folder_.read("vol.img"), std::string(*c.existing, '\x5A'));
        }
    }
}

struct OpenPoolCase {
    const char* name;
    bool exists;
    size_t min_bytes;  // the allocation that fails: the first of the driver's of this size
    NTSTATUS status;
};

// An OPEN without pool for the image name's copy, or for the block map of the image it creates,
// fails: the disk stays without media and the image closed (a created one stays on disk), so the
// next OPEN takes it.
TEST_F(OrvikImage, AnOpenWithoutPoolLeavesTheDiskWithoutMedia) {
    const OpenPoolCase cases[] = {
        {"image name", true, 0, STATUS_INSUFFICIENT_RESOURCES},
        {"block map", false, kMiB / 4096, STATUS_NO_MEMORY},
    };
    ASSERT_LT(nt_path("vol.img").size(), kMiB / 4096) << "the name's copy is the shorter";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(folder_.host("vol.img"));
        if (c.exists) folder_.write("vol.img", std::string(kMiB, '\0'));
        sim::kernel::pool_fail({.tag = "Orvk", .min_bytes = c.min_bytes});
        EXPECT_EQ(attach(disk_, soft_record("vol.img", kMiB)), error_of(c.status));
        EXPECT_EQ(detach(disk_), error_of(STATUS_NO_MEDIA_IN_DEVICE));
        uint64_t size = 0;
        attributes_of("vol.img", &size);
        EXPECT_EQ(size, kMiB);
        ASSERT_EQ(attach(disk_, soft_record("vol.img", kMiB)), 0u);
        ASSERT_EQ(detach(disk_), 0u);
    }
}

// A read without pool for its buffer fails and leaves the caller's buffer as it was; the disk
// serves the next read.
TEST_F(OrvikImage, AReadWithoutPoolForItsBufferFails) {
    ASSERT_EQ(attach(disk_, soft_record("vol.img", kMiB)), 0u);
    const std::vector<uint8_t> data = pattern(64 * 1024, 3);
    ASSERT_EQ(write(disk_, 0, data), 0u);
    sim::kernel::pool_fail({.tag = "Orvk", .min_bytes = data.size()});
    std::vector<uint8_t> back(data.size(), 0xEE);
    EXPECT_EQ(read(disk_, 0, back), error_of(STATUS_INSUFFICIENT_RESOURCES));
    EXPECT_EQ(back, std::vector<uint8_t>(data.size(), 0xEE));
    EXPECT_EQ(read(disk_, 0, back), 0u);
    EXPECT_EQ(back, data);
}

struct RangeCase {
    uint64_t offset;
    size_t length;
    NTSTATUS status;
};

// Whole sectors inside the image; a write (through the write work item) no more than the work
// item's data area. A software-mode read takes no work item and has no such bound.
TEST_F(OrvikImage, TransfersMustBeWholeSectorsInsideTheImage) {
    ASSERT_EQ(attach(disk_, soft_record("vol.img", 8 * kMiB)), 0u);
    HANDLE buffered = disk(1, 0);  // the I/O manager checks no alignment on this handle
    constexpr size_t kDataArea = 0x300000 - 512;  // the largest whole-sector transfer
    const RangeCase cases[] = {
        {8 * kMiB - 512, 512, STATUS_SUCCESS},
        {8 * kMiB - 512, 1024, STATUS_INVALID_PARAMETER},
        {8 * kMiB, 512, STATUS_INVALID_PARAMETER},
        {uint64_t{1} << 62, 512, STATUS_INVALID_PARAMETER},
        {0, 511, STATUS_INVALID_PARAMETER},
        {0, 513, STATUS_INVALID_PARAMETER},
        {256, 512, STATUS_INVALID_PARAMETER},
        {0, kDataArea, STATUS_SUCCESS},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "offset " << c.offset << " length " << c.length);
        const DWORD expected = c.status == STATUS_SUCCESS ? 0 : error_of(c.status);
        std::vector<uint8_t> data = pattern(c.length, 1);
        DWORD moved = 1;
        EXPECT_EQ(write(buffered, c.offset, data, &moved), expected);
        EXPECT_EQ(moved, expected ? 0 : c.length);
        std::vector<uint8_t> back(c.length, 0xEE);
        EXPECT_EQ(read(buffered, c.offset, back, &moved), expected);
        EXPECT_EQ(moved, expected ? 0 : c.length);
        EXPECT_EQ(back, expected ? std::vector<uint8_t>(c.length, 0xEE) : data);
    }
    std::vector<uint8_t> longer = pattern(kDataArea + 512, 2);
    EXPECT_EQ(write(buffered, 0, longer), error_of(STATUS_INVALID_PARAMETER));
    EXPECT_EQ(read(buffered, 0, longer), 0u);
}

// Software mode stores sector k of the disk as SM4-XTS of the plain sector under key 1 (data)
// and key 2 (tweak) with tweak k; reads give the plain sectors back.
TEST_F(OrvikImage, SoftwareModeStoresEachSectorUnderItsNumber) {
    const Key32 key = test_key(4);
    MountRecord record = soft_record("vol.img", 4 * kMiB);
    record.key = key;
    ASSERT_EQ(attach(disk_, record), 0u);
    struct Piece {
        uint64_t offset;
        size_t length;
    };
    const Piece pieces[] = {{0, 512}, {512 * 7, 4096}, {kMiB + 512 * 3, 65536}, {3 * kMiB, kMiB}};
    std::vector<std::vector<uint8_t>> written;
    for (const auto& p : pieces) {
        written.push_back(pattern(p.length, static_cast<uint8_t>(p.offset / 512)));
        ASSERT_EQ(write(disk_, p.offset, written.back()), 0u);
    }
    for (size_t i = 0; i < std::size(pieces); ++i) {
        std::vector<uint8_t> back(pieces[i].length);
        ASSERT_EQ(read(disk_, pieces[i].offset, back), 0u);
        EXPECT_EQ(back, written[i]);
    }
    ASSERT_EQ(detach(disk_), 0u);
    for (size_t i = 0; i < std::size(pieces); ++i)
        EXPECT_EQ(decrypt_sectors(folder_.read("vol.img"), key.data(), pieces[i].offset,
                                  pieces[i].length),
                  written[i])
            << i;
    // Sectors never written read as what the sparse file holds: zeros, decrypted.
    ASSERT_EQ(attach(disk_, record), 0u);
    std::vector<uint8_t> untouched(512);
    ASSERT_EQ(read(disk_, 512, untouched), 0u);
    EXPECT_EQ(untouched, decrypt_sectors(folder_.read("vol.img"), key.data(), 512, 512));
}

// The key pair is driver-wide: the last OPEN's keys serve every disk.
TEST_F(OrvikImage, TheLastOpenSetsTheKeysOfEveryDisk) {
    ASSERT_EQ(attach(disk_, soft_record("one.img", kMiB, 1)), 0u);
    HANDLE second = disk(2);
    ASSERT_EQ(attach(second, soft_record("two.img", kMiB, 2)), 0u);
    const std::vector<uint8_t> data = pattern(4096, 6);
    ASSERT_EQ(write(disk_, 0, data), 0u);
    ASSERT_EQ(detach(disk_), 0u);
    EXPECT_EQ(decrypt_sectors(folder_.read("one.img"), test_key(2).data(), 0, 4096), data);
}

TEST_F(OrvikImage, AnUnmappableBufferIsRefused) {
    ASSERT_EQ(attach(disk_, soft_record("vol.img", kMiB)), 0u);
    std::vector<uint8_t> data = pattern(512, 1);
    sim::kernel::fail_mdl_mappings(1);
    EXPECT_EQ(write(disk_, 0, data), error_of(STATUS_INVALID_DEVICE_REQUEST));
    sim::kernel::fail_mdl_mappings(1);
    EXPECT_EQ(read(disk_, 0, data), error_of(STATUS_INVALID_DEVICE_REQUEST));
    EXPECT_EQ(write(disk_, 0, data), 0u);
}

}  // namespace
