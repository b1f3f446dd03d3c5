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
#include <random>
#include <thread>

#include "platform/win32.h"
#include "tests/softcard/child_process.h"
#include "tests/softcard/softcard_fixture.h"

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
};

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
        // Once they have written, let them run on for a moment of random length. (The store is
        // read as the card reads it, sharing it with the writers' replacements.)
        const auto written = [] {
            CardRecord r{};
            return read_card_record(&r) == 0 && r.key_present == 1;
        };
        for (int polls = 0; !written(); ++polls) {
            ASSERT_LT(polls, 30000) << "the writers never wrote";
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        first.kill();
        second.kill();
        EXPECT_EQ(first.wait(), -1);
        EXPECT_EQ(second.wait(), -1);

        const auto bytes = store_bytes();
        ASSERT_EQ(bytes.size(), STORE_RECORD_SIZE) << "seed " << seed << " round " << round;
        CardRecord now;
        decode_record(bytes.data(), &now);
        EXPECT_EQ(std::memcmp(now.seed, initial.seed, sizeof now.seed), 0);
        EXPECT_EQ(now.key_present, 1);
        EXPECT_TRUE(now.volume_key[0] == 0x11 || now.volume_key[0] == 0x22);
        EXPECT_TRUE(std::all_of(now.volume_key, now.volume_key + 32,
                                [&](uint8_t b) { return b == now.volume_key[0]; }));
        // The lock went with the writers: the next change goes through.
        const uint8_t zero[32] = {};
        ASSERT_EQ(StoreVolumeKey(zero), 0u);
        CardRecord reset = record();
        reset.key_present = 0;
        set_record(reset);
    }
}

HANDLE open_sharing_everything(const char* path) {
    return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Another process or application holds the store open while a write puts the new record in
// place: the write waits a short while for the handle to go and then goes through; when the
// handle stays, it gives up with 2 and the old record stays.
TEST_F(Concurrency, HandleOnTheStoreDelaysAWrite) {
    ASSERT_EQ(init_cfg(), 0u);
    const std::function<void()> hold_for_100ms[] = {
        [] {  // as the software card's own reads open it
            HANDLE handle = open_sharing_everything(kStorePath);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            CloseHandle(handle);
        },
        [] {  // as the C runtime opens it, without delete sharing
            FILE* file = fopen(kStorePath, "rb");
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (file) std::fclose(file);
        },
    };
    int32_t retries = PIN_TRIES;
    for (const auto& hold : hold_for_100ms) {
        std::atomic<bool> opened{false};
        std::thread holder([&] {
            opened = true;
            hold();
        });
        while (!opened) std::this_thread::yield();
        EXPECT_EQ(DecrementPinRetries(nullptr), 0u);
        holder.join();
        EXPECT_EQ(record().retries_left, --retries);
    }

    FILE* held = fopen(kStorePath, "rb");
    ASSERT_NE(held, nullptr);
    const auto before = store_bytes();
    EXPECT_EQ(DecrementPinRetries(nullptr), 2u);
    std::fclose(held);
    EXPECT_EQ(store_bytes(), before);
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(root.path("C:/Halden/etc")))
        files += entry.is_regular_file();
    EXPECT_EQ(files, 2u);  // the store and its lock file: no temporary file stays
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
