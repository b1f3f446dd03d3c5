// Random mount records into OPEN (run under ASan in CI): whatever the bytes, the request ends with
// a status, an accepted record leaves the disk with media and a refused one without, and unload
// finds nothing left behind.
#include <random>

#include "base/byte_access.h"
#include "tests/support/orvik_test.h"

namespace {

namespace fd = wire::file_descriptor;

constexpr int kRecords = 5000;

class OrvikRecordFuzz : public Orvik {
  protected:
    // A record that is valid in most fields and random in a few, or random throughout.
    std::vector<uint8_t> random_record(std::mt19937& random) {
        auto chance = [&](int percent) { return static_cast<int>(random() % 100) < percent; };
        MountRecord record = soft_record("fuzz" + std::to_string(random() % 8) + ".img",
                                         (random() % 64) * 512 * 1024);
        std::vector<uint8_t> bytes = record.bytes();
        if (chance(10)) {
            for (auto& b : bytes) b = static_cast<uint8_t>(random());
        }
        if (chance(30)) bytes[fd::kSoft] = chance(50) ? 0 : static_cast<uint8_t>(random());
        if (chance(30)) {
            for (uint32_t i = fd::kDevicePath; i < fd::kGuard2; ++i)
                bytes[i] = chance(80) ? static_cast<uint8_t>(random()) : 0;
        }
        if (chance(30)) {
            const uint32_t from = static_cast<uint32_t>(random() % fd::kFileNameSize);
            for (uint32_t i = from; i < fd::kFileNameSize; ++i)
                bytes[i] = static_cast<uint8_t>(random());
        }
        if (chance(30))
            bytes::store_le16(bytes.data() + fd::kFileNameLength,
                              static_cast<uint16_t>(random() % 300));
        if (chance(20)) bytes::store_le32(bytes.data() + fd::kChunkSize, random());
        // Sizes that a host file system takes, and negative ones.
        if (chance(20))
            bytes::store_le64(bytes.data() + fd::kFileSize,
                              chance(50) ? random() % (64 << 20) : ~uint64_t{random()});
        if (chance(10)) bytes::store_le32(bytes.data() + fd::kGuard1, random());
        if (chance(10)) bytes::store_le32(bytes.data() + fd::kGuard2, random());
        if (chance(20)) bytes.resize(random() % (fd::kSize + 64));
        return bytes;
    }
};

TEST_F(OrvikRecordFuzz, RandomRecordsEndWithAStatusAndLeaveNothingBehind) {
    ASSERT_EQ(load(1), STATUS_SUCCESS);
    HANDLE disk1 = disk(1);
    std::mt19937 random(20261210);
    int accepted = 0;
    for (int i = 0; i < kRecords; ++i) {
        const std::vector<uint8_t> record = random_record(random);
        const DWORD error = attach(disk1, record);
        if (error == 0) {
            ++accepted;
            ASSERT_EQ(detach(disk1), 0u) << i;
        } else {
            ASSERT_EQ(detach(disk1), error_of(STATUS_NO_MEDIA_IN_DEVICE)) << i;
        }
    }
    EXPECT_GT(accepted, kRecords / 10);
    EXPECT_LT(accepted, kRecords);
}

}  // namespace
