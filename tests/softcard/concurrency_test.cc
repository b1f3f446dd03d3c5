// The store file used by several processes (softcard_store_client) and threads at once, by
// writers that die part-way, and beside other applications that hold it open.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <thread>

#include "platform/win32.h"
#include "tests/softcard/child_process.h"
#include "tests/support/softcard_fixture.h"

namespace {

class Concurrency : public SoftcardTest {
  protected:
    std::filesystem::path results_file(int client) const {
        return root.path(std::string(kFiles) + "/client" + std::to_string(client) + ".txt");
    }
    // Starts `clients` helper processes with the same command, waits for all of them, and gives
    // back every line they wrote.
    std::vector<std::string> run_clients(int clients, const std::vector<std::string>& command) {
        std::vector<std::unique_ptr<ChildProcess>> running;
        for (int i = 0; i < clients; ++i) {
            std::vector<std::string> args = {results_file(i).string()};
            args.insert(args.end(), command.begin(), command.end());
            running.push_back(std::make_unique<ChildProcess>(args));
            EXPECT_TRUE(running.back()->started()) << "error " << running.back()->start_error();
        }
        std::vector<std::string> lines;
        for (int i = 0; i < clients; ++i) {
            EXPECT_EQ(running[i]->wait(), 0) << "client " << i;
            std::ifstream in(results_file(i));
            for (std::string line; std::getline(in, line);) lines.push_back(line);
        }
        return lines;
    }

    // Once the writers have stored a volume key, lets them run on for a moment of random length
    // and kills them. (The store is read as the card reads it, beside the writers.)
    static void kill_once_a_key_is_stored(std::initializer_list<ChildProcess*> writers,
                                          std::mt19937& random) {
        const auto stored = [] {
            CardRecord r{};
            return read_card_record(&r) == 0 && r.key_present == 1;
        };
        for (int polls = 0; !stored(); ++polls) {
            ASSERT_LT(polls, 30000) << "the writers never stored a key";
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        for (ChildProcess* writer : writers) writer->kill();
        for (ChildProcess* writer : writers) EXPECT_EQ(writer->wait(), -1);
    }
    // The record holds one of the two keys that the writers store, whole.
    static void expect_a_writers_key(const CardRecord& record) {
        EXPECT_EQ(record.key_present, 1);
        EXPECT_TRUE(record.volume_key[0] == 0x11 || record.volume_key[0] == 0x22);
        EXPECT_TRUE(std::all_of(record.volume_key, record.volume_key + 32,
                                [&](uint8_t b) { return b == record.volume_key[0]; }));
    }
};

const std::set<std::string> kStoreAndLock = {"halden.ini", "halden.ini.lock"};

// What stands in "C:/Halden/etc" beside the store and its lock file.
std::set<std::string> copies(std::set<std::string> names) {
    for (const auto& name : kStoreAndLock) names.erase(name);
    return names;
}

// However the attempts interleave, exactly six wrong PINs are counted (5, 4, 3, 2, 1 and 0 tries
// left, once each); every later attempt finds the card locked.
void expect_six_counted_then_locked(const std::vector<std::string>& results, size_t attempts) {
    ASSERT_EQ(results.size(), attempts);
    std::map<std::string, int> seen;
    for (const std::string& r : results) ++seen[r];
    std::map<std::string, int> expected = {{"1 5", 1}, {"1 4", 1}, {"1 3", 1},
                                           {"1 2", 1}, {"1 1", 1}, {"1 0", 1}};
    expected["8 99"] = static_cast<int>(attempts) - 6;
    EXPECT_EQ(seen, expected);
}

TEST_F(Concurrency, RacingWrongPinsFromProcesses) {
    ASSERT_EQ(init_cfg(), 0u);
    expect_six_counted_then_locked(run_clients(6, {"wrong-pins", "3"}), 18);
    EXPECT_EQ(record().retries_left, 0);
}

TEST_F(Concurrency, RacingWrongPinsFromThreads) {
    ASSERT_EQ(init_cfg(), 0u);
    std::vector<std::string> results(18);
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([&results, t] {
            for (int i = 0; i < 3; ++i) {
                uint32_t tries = 99;
                const uint32_t result = QeltVerifyPinCode(bytes_of(kWrongPin), 8, &tries);
                results[3 * t + i] = std::to_string(result) + " " + std::to_string(tries);
            }
        });
    for (auto& thread : threads) thread.join();
    expect_six_counted_then_locked(results, 18);
}

// Right PINs rewrite the store at every login: no reader ever finds it missing or short, and no
// login fails for it.
TEST_F(Concurrency, RacingRightPinsNeverSeeAPartialStore) {
    ASSERT_EQ(init_cfg(), 0u);
    std::atomic<bool> done{false};
    std::vector<uint32_t> reads;
    std::vector<uintmax_t> sizes;
    std::thread reader([&] {
        while (!done) {
            uint8_t info[CARD_INFO_SIZE];
            reads.push_back(QeltQueryCardInfo(info));
            std::error_code error;
            sizes.push_back(std::filesystem::file_size(store_file(), error));
        }
    });
    const auto results = run_clients(4, {"right-pins", "25"});
    done = true;
    reader.join();
    EXPECT_EQ(results, std::vector<std::string>(100, "15"));
    EXPECT_EQ(std::count(reads.begin(), reads.end(), 0u), static_cast<long>(reads.size()));
    EXPECT_EQ(std::count(sizes.begin(), sizes.end(), STORE_RECORD_SIZE),
              static_cast<long>(sizes.size()));
    EXPECT_EQ(record().retries_left, 6);
}

// Writers killed at any point, two at a time, leave one whole record (the old one or a new one)
// and no lock held.
TEST_F(Concurrency, WritersKilledAtRandomPointsLeaveAWholeRecord) {
    ASSERT_EQ(init_cfg(), 0u);
    const CardRecord initial = record();
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    for (int round = 0; round < 20; ++round) {
        ChildProcess first({results_file(0).string(), "rewrite"});
        ChildProcess second({results_file(1).string(), "rewrite"});
        ASSERT_TRUE(first.started()) << "error " << first.start_error();
        ASSERT_TRUE(second.started()) << "error " << second.start_error();
        kill_once_a_key_is_stored({&first, &second}, random);
        ASSERT_FALSE(HasFatalFailure());

        const auto bytes = store_bytes();
        ASSERT_EQ(bytes.size(), STORE_RECORD_SIZE) << "seed " << seed << " round " << round;
        CardRecord now;
        decode_record(bytes.data(), &now);
        EXPECT_EQ(std::memcmp(now.seed, initial.seed, sizeof now.seed), 0);
        expect_a_writers_key(now);
        EXPECT_LE(copies(etc_files()).size(), 1u);
        // The lock went with the writers: the next change goes through, and takes up any copy.
        const uint8_t zero[32] = {};
        ASSERT_EQ(StoreVolumeKey(zero), 0u);
        EXPECT_EQ(etc_files(), kStoreAndLock);
        CardRecord reset = record();
        reset.key_present = 0;
        set_record(reset);
    }
}

using Bytes = std::vector<uint8_t>;

// Another program's open of the store for reading, held while this lives.
class HeldStore {
  public:
    // With the C runtime's fopen(..., "rb") (which shares reading and writing), or with
    // CreateFileA and the given sharing.
    explicit HeldStore(std::optional<DWORD> share) {
        if (share)
            handle_ = CreateFileA(kStorePath, GENERIC_READ, *share, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        else
            stream_ = fopen(kStorePath, "rb");
    }
    ~HeldStore() {
        if (stream_) std::fclose(stream_);
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    HeldStore(const HeldStore&) = delete;
    HeldStore& operator=(const HeldStore&) = delete;

    bool opened() const { return stream_ || handle_ != INVALID_HANDLE_VALUE; }
    // The store's first record as this open reads it now.
    Bytes read_record() {
        Bytes bytes(STORE_RECORD_SIZE);
        size_t got = 0;
        if (stream_) {
            std::rewind(stream_);
            got = std::fread(bytes.data(), 1, bytes.size(), stream_);
        } else {
            LARGE_INTEGER start = {};
            DWORD read = 0;
            if (SetFilePointerEx(handle_, start, nullptr, FILE_BEGIN) &&
                ReadFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr))
                got = read;
        }
        bytes.resize(got);
        return bytes;
    }

  private:
    FILE* stream_ = nullptr;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// Programs that hold the store open for reading for the whole of each call, sharing writing: no
// replacement of the store gets past them (Windows replaces no open file), so the record is
// written in place. A wrong PIN is counted, a new card made and a key stored, and their own open
// reads what was written; no copy stays beside the store.
TEST_F(Concurrency, ReadersHoldingTheStoreDoNotStopWrites) {
    const struct {
        const char* reader;
        std::optional<DWORD> share;
    } readers[] = {
        {"fopen rb", std::nullopt},
        {"sharing reading and writing", FILE_SHARE_READ | FILE_SHARE_WRITE},
        {"sharing everything, as the card reads",
         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE},
    };
    for (const auto& r : readers) {
        ASSERT_EQ(init_cfg(), 0u);
        const CardRecord before = record();
        HeldStore held(r.share);
        ASSERT_TRUE(held.opened()) << r.reader;
        EXPECT_EQ(init_cfg(), 0u) << r.reader;
        uint32_t tries = 99;
        EXPECT_EQ(QeltVerifyPinCode(bytes_of(kWrongPin), 8, &tries), 1u) << r.reader;
        EXPECT_EQ(tries, 5u) << r.reader;
        const uint8_t key[32] = {0x5A};
        EXPECT_EQ(StoreVolumeKey(key), 0u) << r.reader;

        const CardRecord now = record();
        EXPECT_NE(std::memcmp(now.seed, before.seed, sizeof now.seed), 0) << r.reader;
        EXPECT_EQ(now.retries_left, 5) << r.reader;
        EXPECT_EQ(now.key_present, 1) << r.reader;
        EXPECT_EQ(held.read_record(), store_bytes()) << r.reader;
        EXPECT_EQ(etc_files(), kStoreAndLock) << r.reader;
    }
}

// A program whose open of the store shares no writing refuses both the replacement and the
// write in place. The write is tried again for a short while: it goes through once that program
// closes the store, and gives up with 2, the old record kept, while the program holds it.
TEST_F(Concurrency, ReaderSharingNoWritingDelaysAWrite) {
    ASSERT_EQ(init_cfg(), 0u);
    {
        std::atomic<bool> opened{false};
        std::thread holder([&] {
            HeldStore held(FILE_SHARE_READ);
            opened = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        });
        while (!opened) std::this_thread::yield();
        EXPECT_EQ(DecrementPinRetries(nullptr), 0u);
        holder.join();
        EXPECT_EQ(record().retries_left, 5);
    }
    HeldStore held(FILE_SHARE_READ);
    ASSERT_TRUE(held.opened());
    const auto before = store_bytes();
    EXPECT_EQ(DecrementPinRetries(nullptr), 2u);
    EXPECT_EQ(store_bytes(), before);
    EXPECT_EQ(etc_files(), kStoreAndLock);  // no copy stays
}

// Writers that change the PIN and import keys, killed at random moments, alone and while another
// program holds the store open for the whole time (so that every write goes in place). After each
// kill at most the one copy stands beside the store; the card reads a whole record, the old one or
// a new one, which leaves no copy; and the next change goes through.
TEST_F(Concurrency, PinAndKeyWritersKilledAtRandomMoments) {
    ASSERT_EQ(init_cfg(), 0u);
    const CardRecord initial = record();
    char mac_hex[13];
    for (int i = 0; i < 6; ++i) std::snprintf(mac_hex + 2 * i, 3, "%02x", this_pc[i]);
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    constexpr int kRounds = 15;
    int copies_found = 0, short_stores = 0;
    for (const bool reader : {false, true}) {
        std::optional<HeldStore> held;
        if (reader) {
            held.emplace(std::nullopt);
            ASSERT_TRUE(held->opened());
        }
        for (int round = 0; round < kRounds; ++round) {
            SCOPED_TRACE("seed " + std::to_string(seed) + " round " + std::to_string(round) +
                         (reader ? " beside a reader" : ""));
            ChildProcess writer({results_file(0).string(), "pins-and-keys", mac_hex});
            ASSERT_TRUE(writer.started()) << "error " << writer.start_error();
            kill_once_a_key_is_stored({&writer}, random);
            ASSERT_FALSE(HasFatalFailure());

            const auto left = copies(etc_files());
            EXPECT_TRUE(left.empty() || left == std::set<std::string>{"halden.ini.tmp"});
            copies_found += static_cast<int>(left.size());
            short_stores += store_bytes().size() < STORE_RECORD_SIZE;
            CardRecord now{};
            ASSERT_EQ(read_card_record(&now), 0u);
            EXPECT_EQ(etc_files(), kStoreAndLock);
            EXPECT_EQ(store_bytes().size(), STORE_RECORD_SIZE);
            EXPECT_EQ(std::memcmp(now.seed, initial.seed, sizeof now.seed), 0);
            const std::string pin(reinterpret_cast<const char*>(now.pin), 8);
            EXPECT_TRUE(pin == kDefaultPin || pin == kOtherPin) << pin;
            EXPECT_EQ(now.pin_length, 8);
            EXPECT_TRUE(std::all_of(now.pin + 8, now.pin + STORE_PIN_SIZE,
                                    [](uint8_t b) { return b == 0; }));
            expect_a_writers_key(now);
            EXPECT_EQ(now.retries_left, PIN_TRIES);
            EXPECT_EQ(now.slots[0].used, 1);
            EXPECT_EQ(std::memcmp(now.slots[0].mac, this_pc.data(), 6), 0);

            // The next change goes through, and sets the card up for the next writer.
            std::memcpy(now.pin, kDefaultPin, 8);
            now.key_present = 0;
            ASSERT_EQ(write_card_record(now), 0u);
        }
        if (held) {
            EXPECT_EQ(held->read_record(), store_bytes());  // the writes went in place
        }
    }
    // How many kills met a write part-way: a copy left, and of those a store cut short.
    std::printf("%d kills: %d copies found, %d stores cut short\n", 2 * kRounds, copies_found,
                short_stores);
}

#ifndef _WIN32
// Linux only: the permissions of a file live in its ACL on Windows, and Wine maps ACLs onto modes
// only in part; the Linux layer keeps them as the file's mode.
TEST_F(Concurrency, PermissionsAreKeptAndANewStoreIsPrivate) {
    using std::filesystem::perms;
    ASSERT_EQ(init_cfg(), 0u);
    const perms access = perms::owner_all | perms::group_all | perms::others_all;
    EXPECT_EQ(std::filesystem::status(store_file()).permissions() &
                  (perms::group_all | perms::others_all),
              perms::none);
    for (perms chosen : {perms::owner_read | perms::owner_write | perms::group_read,
                         perms::owner_read | perms::owner_write}) {
        std::filesystem::permissions(store_file(), chosen);
        ASSERT_EQ(DecrementPinRetries(nullptr), 0u);
        EXPECT_EQ(std::filesystem::status(store_file()).permissions() & access, chosen);
    }
}
#endif

}  // namespace
