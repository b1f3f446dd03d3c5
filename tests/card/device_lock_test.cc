// The card lock under eight threads calling mixed commands for a few seconds: the card sees one
// whole exchange at a time (every frame well formed, none arriving before the previous answer was
// read), nothing deadlocks, and every result is right.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "card/commands/key_slots.h"
#include "crypto/sm2.h"
#include "tests/card/model_card.h"

namespace {

constexpr int kThreads = 8;
constexpr auto kRunTime = std::chrono::seconds(3);

// One thread's calls, in a cycle; returns the number of frames sent.
struct Worker {
    const sim::card::CardState& state;
    int id;
    std::string serial_hex;
    uint64_t frames = 0;
    uint64_t calls = 0;

    void call_once() {
        switch (calls++ % 8) {
            case 0: {
                uint8_t info[CARD_INFO_SIZE];
                ASSERT_EQ(QeltQueryCardInfo(info), 0u);
                ASSERT_EQ(std::string(reinterpret_cast<char*>(info + 1)), serial_hex);
                ASSERT_EQ(info[0], sim::card::kInfoLoggedIn | sim::card::kInfoBound);
                frames += 1;
                break;
            }
            case 1: {
                uint8_t sign[64], enc[64];
                ASSERT_EQ(QeltExportPubkeys(sign, enc), 0u);
                ASSERT_EQ(0, std::memcmp(sign, state.signing.public_key.data(), 64));
                ASSERT_EQ(0, std::memcmp(enc, state.encryption.public_key.data(), 64));
                frames += 1;
                break;
            }
            case 2: {
                const uint8_t message[3] = {static_cast<uint8_t>(id), 1, 2};
                uint8_t signature[64];
                ASSERT_EQ(QeltSm2SignIn(message, 3, signature), 0u);
                ASSERT_EQ(sm2_verify(state.signing.public_key.data(), message, 3, signature), 0);
                frames += 2;
                break;
            }
            case 3: {
                uint8_t bytes[100];
                ASSERT_EQ(QeltGenRand(bytes, sizeof bytes), 0u);
                frames += 1;
                break;
            }
            case 4: {
                uint32_t index = 0, count = 0, left = 0;
                uint8_t list[30];
                ASSERT_EQ(QeltQueryBindedMac(&index, &count, &left, list), 0u);
                ASSERT_EQ(count, 1u);
                ASSERT_EQ(0, std::memcmp(list, kHostMac.data(), 6));
                frames += 1;
                break;
            }
            case 5: {
                // Already logged in: refused without costing a try.
                uint32_t tries = 77;
                ASSERT_EQ(
                    QeltVerifyPinCode(reinterpret_cast<const uint8_t*>("00000000"), 8, &tries),
                    static_cast<uint32_t>(sim::card::kAlreadyLoggedIn));
                frames += 1;
                break;
            }
            case 6: {
                // A slot of this thread's own: a key, a block there and back, the slot freed.
                uint8_t wrapped[128], tweak[16] = {static_cast<uint8_t>(id)};
                uint8_t data[256], cipher[256], plain[256];
                std::memset(data, id, sizeof data);
                uint32_t slot = 0;
                ASSERT_EQ(brel_gen_wrapped_sk(state.encryption.public_key.data(), wrapped, &slot),
                          0u);
                ASSERT_EQ(brel_xts_enc(slot, tweak, data, 256, cipher), 0u);
                ASSERT_EQ(brel_xts_dec(slot, tweak, cipher, 256, plain), 0u);
                ASSERT_EQ(0, std::memcmp(plain, data, 256));
                ASSERT_EQ(brel_free_sk(slot), 0u);
                frames += 4;
                break;
            }
            case 7: {
                uint8_t challenge[16];
                ASSERT_EQ(QeltGetChallengeCode(challenge), 0u);
                frames += 1;
                break;
            }
        }
    }
};

TEST_F(ModelCard, EightThreadsTakeTurnsWholeExchangeByWholeExchange) {
    login_bound();
    card->clear_records();
    log.clear();
    char serial[33];
    for (int i = 0; i < 16; ++i) std::snprintf(serial + 2 * i, 3, "%02x", state.serial[i]);
    std::vector<Worker> workers;
    for (int i = 0; i < kThreads; ++i) workers.push_back({state, i, serial});
    std::atomic<bool> stop{false};
    std::atomic<int> failed{0};
    std::vector<std::thread> threads;
    for (Worker& w : workers)
        threads.emplace_back([&w, &stop, &failed] {
            while (!stop && !failed) {
                w.call_once();
                if (::testing::Test::HasFatalFailure()) ++failed;
            }
        });
    std::this_thread::sleep_for(kRunTime);
    stop = true;
    for (auto& t : threads) t.join();
    EXPECT_EQ(failed, 0);

    uint64_t frames = 0;
    for (const Worker& w : workers) {
        EXPECT_GT(w.calls, 8u) << "thread " << w.id;
        frames += w.frames;
    }
    EXPECT_EQ(card->frames().size(), frames);
    expect_clean_frames();
    for (const std::string& line : log.messages()) EXPECT_EQ(line, "proc err:0000000e");
}

}  // namespace
