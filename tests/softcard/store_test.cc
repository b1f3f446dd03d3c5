// The store file: its layout, the PIN counter, the volume key, and writes that fail part-way.
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>
#include <string>

#include "platform/win32.h"
#include "softcard/admin_key.h"
#include "tests/support/softcard_fixture.h"

namespace {

using StoreFile = SoftcardTest;

uint32_t le32(const std::vector<uint8_t>& bytes, size_t offset) {
    return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
           static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

TEST_F(StoreFile, NoStoreUntilInitialised) {
    EXPECT_EQ(CheckCardState(), 2u);
    uint8_t buffer[STORE_RECORD_SIZE];
    EXPECT_EQ(get_cfg(buffer), 2u);
    EXPECT_EQ(get_cfg(nullptr), 3u);
    EXPECT_EQ(WriteCardStore(nullptr), 3u);
    ASSERT_EQ(init_cfg(), 0u);
    EXPECT_EQ(CheckCardState(), 0u);
    EXPECT_EQ(std::filesystem::file_size(store_file()), 179u);
}

TEST_F(StoreFile, InitialRecordLayout) {
    ASSERT_EQ(init_cfg(), 0u);
    const auto bytes = store_bytes();
    ASSERT_EQ(bytes.size(), 179u);
    EXPECT_EQ(le32(bytes, 16), 0u);  // key present
    EXPECT_TRUE(
        std::all_of(bytes.begin() + 20, bytes.begin() + 52, [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(le32(bytes, 52), 8u);
    EXPECT_EQ(std::string(bytes.begin() + 56, bytes.begin() + 72),
              std::string("58302741\0\0\0\0\0\0\0\0", 16));
    EXPECT_EQ(std::memcmp(bytes.data() + 72, kAdminPublicKey, 64), 0);
    EXPECT_EQ(le32(bytes, 136), 6u);
    EXPECT_EQ(le32(bytes, 140), 5u);
    EXPECT_TRUE(std::all_of(bytes.begin() + 144, bytes.end(), [](uint8_t b) { return b == 0; }));
}

TEST_F(StoreFile, EachInitialisationDrawsANewSeed) {
    ASSERT_EQ(init_cfg(), 0u);
    const auto first = store_bytes();
    ASSERT_EQ(init_cfg(), 0u);
    const auto second = store_bytes();
    EXPECT_NE(std::vector<uint8_t>(first.begin(), first.begin() + 16),
              std::vector<uint8_t>(second.begin(), second.begin() + 16));
}

TEST_F(StoreFile, InitWithoutTheFolder) {
    std::filesystem::remove_all(root.path("C:/Halden/etc"));
    EXPECT_EQ(init_cfg(), 2u);
    EXPECT_FALSE(std::filesystem::exists(root.path("C:/Halden/etc")));
}

TEST_F(StoreFile, SixWrongPinsLockTheCard) {
    ASSERT_EQ(init_cfg(), 0u);
    for (uint32_t expected = 5;; --expected) {
        uint32_t tries = 99;
        ASSERT_EQ(CheckPin(bytes_of(kWrongPin), 8, &tries), 1u);
        EXPECT_EQ(tries, expected);
        if (expected == 0) break;
    }
    EXPECT_EQ(CheckCardState(), 8u);
}

TEST_F(StoreFile, WrongPinAtZeroStaysZeroAndRewritesTheRecord) {
    ASSERT_EQ(init_cfg(), 0u);
    CardRecord r = record();
    r.retries_left = 0;
    set_record(r);
    // A longer file is cut to 179 bytes by the next write: that shows the record was rewritten.
    auto bytes = store_bytes();
    bytes.resize(200, 0x5A);
    write_store_bytes(bytes);
    uint32_t tries = 99;
    EXPECT_EQ(CheckPin(bytes_of(kWrongPin), 8, &tries), 1u);
    EXPECT_EQ(tries, 0u);
    EXPECT_EQ(store_bytes().size(), 179u);
    EXPECT_EQ(record().retries_left, 0);
}

TEST_F(StoreFile, RightPinResetsTheTriesWithoutWritingThem) {
    ASSERT_EQ(init_cfg(), 0u);
    uint32_t tries = 99;
    ASSERT_EQ(CheckPin(bytes_of(kWrongPin), 8, &tries), 1u);
    ASSERT_EQ(CheckPin(bytes_of(kWrongPin), 8, &tries), 1u);
    tries = 99;
    EXPECT_EQ(CheckPin(bytes_of(kDefaultPin), 8, &tries), 0u);
    EXPECT_EQ(tries, 99u);
    EXPECT_EQ(record().retries_left, 6);
}

TEST_F(StoreFile, PinMustMatchInLengthToo) {
    ASSERT_EQ(init_cfg(), 0u);
    uint32_t tries = 0;
    EXPECT_EQ(CheckPin(bytes_of("583027419"), 9, &tries), 1u);
    EXPECT_EQ(CheckPin(bytes_of("58302741"), 7, &tries), 1u);
    EXPECT_EQ(tries, 4u);
}

TEST_F(StoreFile, DamagedPinLengthNeverMatches) {
    ASSERT_EQ(init_cfg(), 0u);
    CardRecord r = record();
    r.pin_length = 200;
    set_record(r);
    std::vector<uint8_t> long_pin(200, '5');
    uint32_t tries = 0;
    EXPECT_EQ(CheckPin(long_pin.data(), 200, &tries), 1u);
}

TEST_F(StoreFile, VolumeKeyIsKeptWhateverTheLoginOrLock) {
    ASSERT_EQ(init_cfg(), 0u);
    uint8_t key[32];
    uint32_t length = 0;
    EXPECT_EQ(get_key(key, &length), 7u);
    uint8_t stored[32];
    for (int i = 0; i < 32; ++i) stored[i] = static_cast<uint8_t>(0xA0 + i);
    ASSERT_EQ(StoreVolumeKey(stored), 0u);
    lock_card();
    EXPECT_EQ(get_key(key, &length), 0u);
    EXPECT_EQ(length, 32u);
    EXPECT_EQ(std::memcmp(key, stored, 32), 0);
    EXPECT_EQ(record().key_present, 1);
}

TEST_F(StoreFile, ShortAndLongFiles) {
    ASSERT_EQ(init_cfg(), 0u);
    auto bytes = store_bytes();
    write_store_bytes(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 178));
    EXPECT_EQ(CheckCardState(), 2u);
    uint8_t info[CARD_INFO_SIZE];
    EXPECT_EQ(QeltQueryCardInfo(info), 2u);
    bytes.push_back(0x77);
    write_store_bytes(bytes);
    EXPECT_EQ(CheckCardState(), 0u);
    EXPECT_EQ(ResetPinRetries(), 0u);
    EXPECT_EQ(store_bytes().size(), 179u);
}

// Files that writers killed part-way left behind do not matter.
TEST_F(StoreFile, StaleTemporaryFilesDoNotMatter) {
    ASSERT_EQ(init_cfg(), 0u);
    const auto before = store_bytes();
    for (const char* stale : {"C:/Halden/etc/halden.ini.new", "C:/Halden/etc/halden.ini.1-1.tmp"})
        std::ofstream(root.path(stale)) << "left by a crash";
    EXPECT_EQ(CheckCardState(), 0u);
    EXPECT_EQ(DecrementPinRetries(nullptr), 0u);
    auto expected = before;
    expected[STORE_RETRIES_LEFT] = 5;
    EXPECT_EQ(store_bytes(), expected);
}

using Bytes = std::vector<uint8_t>;

Bytes first_bytes(const Bytes& bytes, size_t n) {
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
}

// The one copy "halden.ini.tmp" as a killed writer leaves it beside the store. The store is cut
// short only while a write goes into it in place, which begins once the copy is one whole record
// on disk: a short store with such a copy is finished from it; every other copy is dropped.
TEST_F(StoreFile, CopyLeftByAKilledWriter) {
    ASSERT_EQ(init_cfg(), 0u);
    const Bytes old_record = store_bytes();
    Bytes new_record = old_record;
    new_record[STORE_RETRIES_LEFT] = 3;
    Bytes too_long = new_record;
    too_long.push_back(0);
    const auto copy_file = root.path("C:/Halden/etc/halden.ini.tmp");
    const struct {
        const char* killed;
        std::optional<Bytes> store;  // none: no store
        Bytes copy;
        uint32_t read;               // get_cfg's result
        std::optional<Bytes> after;  // the store afterwards
    } cases[] = {
        {"writing in place", first_bytes(new_record, 100), new_record, 0, new_record},
        {"having cut the store", Bytes{}, new_record, 0, new_record},
        {"before writing in place", old_record, new_record, 0, old_record},
        {"before removing the copy", new_record, new_record, 0, new_record},
        {"writing the copy", old_record, first_bytes(new_record, 100), 0, old_record},
        {"having made the copy", old_record, Bytes{}, 0, old_record},
        {"beside a short store", first_bytes(old_record, 100), first_bytes(new_record, 178), 2,
         first_bytes(old_record, 100)},
        {"beside a short store, a long copy", Bytes{}, too_long, 2, Bytes{}},
        {"before making the store", std::nullopt, new_record, 2, std::nullopt},
    };
    const auto set_up = [&](const auto& c) {
        if (c.store)
            write_store_bytes(*c.store);
        else
            std::filesystem::remove(store_file());
        write_file_bytes(copy_file, c.copy);
    };
    const std::set<std::string> store_and_lock = {"halden.ini", "halden.ini.lock"};
    for (const auto& c : cases) {
        set_up(c);
        uint8_t read[STORE_RECORD_SIZE];
        EXPECT_EQ(get_cfg(read), c.read) << c.killed;
        if (c.read == 0) {
            EXPECT_EQ(vector_of(read), *c.after) << c.killed;
        }
        if (c.after) {
            EXPECT_EQ(store_bytes(), *c.after) << c.killed;
        } else {
            EXPECT_FALSE(std::filesystem::exists(store_file())) << c.killed;
        }
        EXPECT_FALSE(std::filesystem::exists(copy_file)) << c.killed;

        // The next writer takes the copy up as well.
        set_up(c);
        EXPECT_EQ(init_cfg(), 0u) << c.killed;
        EXPECT_EQ(store_bytes().size(), STORE_RECORD_SIZE) << c.killed;
        EXPECT_EQ(etc_files(), store_and_lock) << c.killed;
    }
}

#ifndef _WIN32
// Linux only: these steer the random source and free space of the Linux platform layer.

TEST_F(StoreFile, InitWithoutRandomBytesLeavesTheFile) {
    ASSERT_EQ(init_cfg(), 0u);
    const auto before = store_bytes();
    sim::random_fail_generation(true);
    EXPECT_EQ(init_cfg(), 1u);
    sim::random_fail_generation(false);
    EXPECT_EQ(store_bytes(), before);
}

// A full disk part-way through a write leaves the previous record whole and readable.
TEST_F(StoreFile, FailedWriteLeavesTheOldRecord) {
    ASSERT_EQ(init_cfg(), 0u);
    const auto before = store_bytes();
    for (uint64_t free_bytes : {0u, 1u, 100u, 178u}) {
        sim::disk_set_free_space('C', free_bytes);
        EXPECT_EQ(init_cfg(), 2u) << free_bytes;
        EXPECT_EQ(DecrementPinRetries(nullptr), 2u) << free_bytes;
        sim::disk_clear_free_space_limits();
        EXPECT_EQ(store_bytes(), before) << free_bytes;
        EXPECT_EQ(etc_files(), (std::set<std::string>{"halden.ini", "halden.ini.lock"}));
        EXPECT_EQ(CheckCardState(), 0u);
        EXPECT_EQ(record().retries_left, 6);
    }
    sim::disk_set_free_space('C', 179);
    EXPECT_EQ(ResetPinRetries(), 0u);
}

// The disk fills while a write goes into the store in place (another program holds it open): the
// write fails with 2 and the store is left short, but the copy stays, and the next read finishes
// the write from it, in place again.
TEST_F(StoreFile, WriteInPlaceCutShortIsFinishedByTheNextRead) {
    ASSERT_EQ(init_cfg(), 0u);
    FILE* reader = fopen(kStorePath, "rb");
    ASSERT_NE(reader, nullptr);
    for (uint64_t written : {0u, 50u, 178u}) {
        Bytes expected = store_bytes();
        --expected[STORE_RETRIES_LEFT];
        sim::disk_set_free_space('C', STORE_RECORD_SIZE + written);
        EXPECT_EQ(DecrementPinRetries(nullptr), 2u) << written;
        sim::disk_clear_free_space_limits();
        EXPECT_EQ(store_bytes().size(), written);
        EXPECT_EQ(etc_files(),
                  (std::set<std::string>{"halden.ini", "halden.ini.lock", "halden.ini.tmp"}));
        EXPECT_EQ(CheckCardState(), 0u) << written;
        EXPECT_EQ(store_bytes(), expected) << written;
        EXPECT_EQ(etc_files(), (std::set<std::string>{"halden.ini", "halden.ini.lock"}));
        Bytes seen(STORE_RECORD_SIZE);
        std::rewind(reader);
        EXPECT_EQ(std::fread(seen.data(), 1, seen.size(), reader), seen.size());
        EXPECT_EQ(seen, expected) << written;
    }
    std::fclose(reader);
}
#endif

}  // namespace
