// The device build's exports against the card's firmware model: the model parses every frame
// with its own code, so the wire format is checked independently of the library's encoders.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <thread>

#include "card/commands/card_random.h"
#include "card/commands/key_slots.h"
#include "crypto/sm2.h"
#include "crypto/sm2_encrypt.h"
#include "crypto/sm4_xts.h"
#include "tests/card/model_card.h"

namespace {

using sim::card::Fault;

const uint8_t* text(const char* s) {
    return reinterpret_cast<const uint8_t*>(s);
}

std::string hex(const std::array<uint8_t, 16>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (uint8_t b : bytes) s += {digits[b >> 4], digits[b & 15]};
    return s;
}

// ---- Every command the card serves, as the card parsed it ----

TEST_F(ModelCard, EveryCommandArrivesWellFormed) {
    login_bound();
    uint8_t info[CARD_INFO_SIZE], sign[64], enc[64], signature[64], challenge[16] = {}, list[30];
    uint32_t a, b, c;
    ASSERT_EQ(QeltQueryCardInfo(info), 0u);
    ASSERT_EQ(QeltExportPubkeys(sign, enc), 0u);
    ASSERT_EQ(QeltSm2SignIn(text("message"), 7, signature), 0u);
    ASSERT_EQ(QeltQueryBindedMac(&a, &b, &c, list), 0u);
    uint8_t wrapped[128], data[4096] = {}, out[4096];
    uint32_t slot = 0;
    ASSERT_EQ(brel_gen_wrapped_sk(enc, wrapped, &slot), 0u);
    ASSERT_EQ(brel_xts_enc(slot, challenge, data, 4096, out), 0u);
    ASSERT_EQ(brel_xts_dec(slot, challenge, out, 16, out), 0u);
    ASSERT_EQ(brel_free_sk(slot), 0u);
    uint32_t imported = 0;
    ASSERT_EQ(brel_import_sk(wrapped, &imported), 0u);
    uint8_t key_ct[128];
    const uint8_t key[32] = {1, 2, 3};
    ASSERT_EQ(sm2_encrypt(enc, key, 32, key_ct, nullptr), 0);
    ASSERT_EQ(QeltImportKey(key_ct, 128), 0u);
    std::vector<uint8_t> random(4097);
    ASSERT_EQ(QeltGenRand(random.data(), 4097), 0u);
    ASSERT_EQ(QeltGetChallengeCode(challenge), 0u);
    ASSERT_EQ(QeltActiveDevEx(), 0u);
    ASSERT_EQ(QeltBackupXk("C:/Halden/card.bak", "password"), 0u);
    ASSERT_EQ(QeltRecoveryXk("C:/Halden/card.bak", "password"), 0u);
    uint32_t tries = 0;
    ASSERT_EQ(QeltSetPinCode(text(sim::card::kDefaultPin), 8, text("new-pin-16-chars"), 16, &tries),
              0u);
    ASSERT_EQ(QeltUnbindMac(kHostMac.data()), 0u);
    ASSERT_EQ(QeltCardLoginOut(), 0u);
    EXPECT_EQ(BREL_Unsupport(), static_cast<uint32_t>(sim::card::kUnsupportedCommand));
    expect_clean_frames();
    EXPECT_TRUE(card->state().activated);
    ASSERT_TRUE(card->state().volume_key);
    EXPECT_EQ(card->state().volume_key->at(2), 3);
    EXPECT_EQ(card->state().pin, "new-pin-16-chars");
}

// ---- PIN ----

TEST_F(ModelCard, WrongPinCountsDownWithTheTriesThenTheCardIsLocked) {
    for (uint32_t left = 5;; --left) {
        uint32_t tries = 99;
        ASSERT_EQ(verify_pin("00000000", &tries), 20u);
        EXPECT_EQ(tries, left);
        if (left == 0) break;
    }
    uint32_t tries = 99;
    EXPECT_EQ(verify_pin(sim::card::kDefaultPin, &tries), 8u);
    EXPECT_EQ(tries, 99u);
    uint8_t info[CARD_INFO_SIZE];
    ASSERT_EQ(QeltQueryCardInfo(info), 0u);
    EXPECT_EQ(info[0], sim::card::kInfoLocked);
}

TEST_F(ModelCard, PinFieldCarriesSixteenCharactersAtMostAndTheLengthAsGiven) {
    auto s = card->state();
    s.pin = "ABCDEFGHIJKLMNOP";
    card->set_state(s);
    uint32_t tries = 0;
    EXPECT_EQ(QeltVerifyPinCode(text("ABCDEFGHIJKLMNOPQRST"), 16, &tries), 15u);
    EXPECT_EQ(QeltCardLoginOut(), 0u);
    // Three characters with length 8: the field's zeros complete the PIN.
    s = card->state();
    s.pin = std::string("abc\0\0\0\0\0", 8);
    card->set_state(s);
    EXPECT_EQ(QeltVerifyPinCode(text("abc"), 8, &tries), 15u);
}

TEST_F(ModelCard, CardInfoCarriesTheSerialAndTheState) {
    uint8_t info[CARD_INFO_SIZE];
    std::memset(info, 0xA5, sizeof info);
    ASSERT_EQ(QeltQueryCardInfo(info), 0u);
    EXPECT_EQ(info[0], 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info + 1)), hex(state.serial));
    EXPECT_EQ(Frame(info + 34, info + 38), (Frame{32, 0, 0, 0}));
    login_bound();
    ASSERT_EQ(QeltQueryCardInfo(info), 0u);
    EXPECT_EQ(info[0], sim::card::kInfoLoggedIn | sim::card::kInfoBound);
}

TEST_F(ModelCard, RefusalsLeaveOutputsUntouched) {
    uint8_t buffer[256];
    std::memset(buffer, 0xA5, sizeof buffer);
    uint32_t* words = reinterpret_cast<uint32_t*>(buffer + 192);
    EXPECT_EQ(QeltExportPubkeys(buffer, buffer + 64), 6u);
    EXPECT_EQ(QeltSm2SignIn(text("m"), 1, buffer + 128), 6u);
    EXPECT_EQ(QeltQueryBindedMac(words, words + 1, words + 2, buffer), 6u);
    uint32_t slot = 0xA5A5A5A5;
    EXPECT_EQ(brel_gen_wrapped_sk(state.encryption.public_key.data(), buffer, &slot), 6u);
    for (uint8_t b : buffer) ASSERT_EQ(b, 0xA5);
    EXPECT_EQ(slot, 0xA5A5A5A5u);
    expect_clean_frames();
}

// ---- The lock is not taken for a refused argument ----

TEST_F(ModelCard, ArgumentChecksAnswerWhileAnotherThreadIsInAnExchange) {
    card->fail(0x737, fault(&Fault::no_answer, true), 1);
    std::thread busy([] { EXPECT_EQ(QeltActiveDevEx(), 17u); });
    // The other thread holds the lock from before its frame until its read gives up (3 s).
    while (card->frames().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    uint32_t tries;
    EXPECT_EQ(QeltVerifyPinCode(text("1234567"), 7, &tries), 3u);
    EXPECT_EQ(QeltQueryCardInfo(nullptr), 3u);
    EXPECT_EQ(QeltGenRand(nullptr, 1), 3u);
    EXPECT_EQ(card->frames().size(), 1u);
    busy.join();
}

// ---- Injected faults: the documented result, then the next call works ----

struct FaultCase {
    const char* name;
    Fault fault;
    uint32_t result;
    const char* first_line;
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name;
}

class Faults : public ModelCard, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(Faults, GiveTheirResultAndLeaveTheNextCallWorking) {
    const FaultCase& c = GetParam();
    card->fail(0x720, c.fault, 1);
    uint8_t info[CARD_INFO_SIZE];
    std::memset(info, 0xA5, sizeof info);
    EXPECT_EQ(QeltQueryCardInfo(info), c.result);
    for (uint8_t b : info) ASSERT_EQ(b, 0xA5);
    const auto lines = log.messages();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], c.first_line);
    ASSERT_EQ(QeltQueryCardInfo(info), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info + 1)), hex(state.serial));
    EXPECT_TRUE(card->refused().empty());
}

INSTANTIATE_TEST_SUITE_P(
    EveryKind, Faults,
    ::testing::Values(
        FaultCase{"Status", fault(&Fault::status, 0x6A82u), 0x6A82, "proc err:00006a82"},
        FaultCase{"Status20", fault(&Fault::status, 20u), 20, "proc err:00000014"},
        FaultCase{"ShortAnswer", fault(&Fault::answer_bytes, 64u), 17, "read error:-2"},
        FaultCase{"NoAnswer", fault(&Fault::no_answer, true), 17, "read error:-3"},
        FaultCase{"Stall", fault(&Fault::stall, true), 17, "read error:-3"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ModelCard, UnplugInTheMiddleOfAnExchange) {
    login_bound();
    log.clear();
    card->fail_next(1, fault(&Fault::unplug, true));
    uint8_t sign[64], enc[64];
    EXPECT_EQ(QeltExportPubkeys(sign, enc), 17u);
    EXPECT_EQ(log.messages()[0], "read error:-3");
    EXPECT_FALSE(card->plugged());
    uint8_t info[CARD_INFO_SIZE];
    log.clear();
    EXPECT_EQ(QeltQueryCardInfo(info), 17u);
    EXPECT_EQ(log.messages(), std::vector<std::string>{"open_usb_dev error:-2"});
    // Plugged again, the card has its state but lost its power: logged out.
    card = sim::card::plug(card->unplug());
    EXPECT_EQ(QeltExportPubkeys(sign, enc), 6u);
    ASSERT_EQ(QeltQueryCardInfo(info), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info + 1)), hex(state.serial));
}

TEST_F(ModelCard, FaultsOnTheNextFramesWhateverTheyAre) {
    card->fail_next(2, fault(&Fault::status, 0x6F00u));
    EXPECT_EQ(QeltActiveDevEx(), 0x6F00u);
    uint8_t challenge[16];
    EXPECT_EQ(QeltGetChallengeCode(challenge), 0x6F00u);
    EXPECT_EQ(QeltActiveDevEx(), 0u);
}

TEST_F(ModelCard, RandomChunkFailureKeepsTheEarlierChunks) {
    card->fail(0x72D, fault(&Fault::status, 0x6F00u), -1);
    card->fail_next(1, Fault{});  // the first chunk goes through
    std::vector<uint8_t> buffer(10000, 0xA5);
    EXPECT_EQ(QeltGenRand(buffer.data(), 10000), 0x6F00u);
    EXPECT_NE(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 4096),
              std::vector<uint8_t>(4096, 0xA5));
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin() + 4096, buffer.end()),
              std::vector<uint8_t>(5904, 0xA5));
    EXPECT_EQ(card->frames().size(), 2u);
}

// ---- Two cards ----

TEST_F(ModelCard, TwoCardsCountedAndTheFirstServes) {
    auto second = sim::card::plug(sim::card::random_card());
    uint32_t count = 0;
    EXPECT_EQ(QeltGetCardCnt(&count), 0u);
    EXPECT_EQ(count, 2u);
    uint8_t info[CARD_INFO_SIZE];
    ASSERT_EQ(QeltQueryCardInfo(info), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info + 1)), hex(state.serial));
    EXPECT_TRUE(second->frames().empty());
}

// ---- Key slots: the card's XTS against the host's with the unwrapped key ----

TEST_F(ModelCard, SlotKeyWrappedForTheHostEncryptsAsTheHostDoes) {
    login_bound();
    const auto host = sim::card::random_key_pair();
    uint8_t wrapped[128];
    uint32_t slot = 0;
    ASSERT_EQ(brel_gen_wrapped_sk(host.public_key.data(), wrapped, &slot), 0u);
    EXPECT_EQ(slot, 1u);
    uint8_t key[32];
    uint32_t key_length = 0;
    ASSERT_EQ(sm2_decrypt(host.private_key.data(), wrapped, 128, key, &key_length), 0);
    ASSERT_EQ(key_length, 32u);
    std::vector<uint8_t> tweak(16), data(4096), by_card(4096), by_host(4096);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
    tweak[0] = 9;
    ASSERT_EQ(brel_xts_enc(slot, tweak.data(), data.data(), 4096, by_card.data()), 0u);
    ASSERT_EQ(sm4_xts_encrypt(key, tweak.data(), data.data(), 4096, by_host.data()), 0);
    EXPECT_EQ(by_card, by_host);
    ASSERT_EQ(brel_xts_dec(slot, tweak.data(), by_card.data(), 4096, by_host.data()), 0u);
    EXPECT_EQ(by_host, data);
    EXPECT_EQ(brel_free_sk(slot), 0u);
    EXPECT_EQ(brel_free_sk(slot), static_cast<uint32_t>(sim::card::kBadKeySlot));
    EXPECT_EQ(brel_xts_enc(slot, tweak.data(), data.data(), 16, by_card.data()),
              static_cast<uint32_t>(sim::card::kBadKeySlot));
}

TEST_F(ModelCard, ImportedKeyServesItsSlot) {
    login_bound();
    uint8_t key[32], wrapped[128];
    for (int i = 0; i < 32; ++i) key[i] = static_cast<uint8_t>(200 - i);
    ASSERT_EQ(sm2_encrypt(state.encryption.public_key.data(), key, 32, wrapped, nullptr), 0);
    uint32_t slot = 0;
    ASSERT_EQ(brel_import_sk(wrapped, &slot), 0u);
    const uint8_t tweak[16] = {1};
    uint8_t data[64] = {5}, by_card[64], by_host[64];
    ASSERT_EQ(brel_xts_enc(slot, tweak, data, 64, by_card), 0u);
    ASSERT_EQ(sm4_xts_encrypt(key, tweak, data, 64, by_host), 0);
    EXPECT_EQ(Frame(by_card, by_card + 64), Frame(by_host, by_host + 64));
}

// ---- Backup and recovery through the card ----

TEST_F(ModelCard, BackupRecoversOnlyUnderItsPassword) {
    const char kName[] = "C:/Halden/card.bak";
    EXPECT_EQ(QeltBackupXk(kName, "password-1"), 6u);  // the card wants a login first
    login_bound();
    ASSERT_EQ(QeltBackupXk(kName, "password-1"), 0u);
    EXPECT_EQ(std::filesystem::file_size(root.path(kName)), 304u);
    EXPECT_EQ(QeltRecoveryXk(kName, "password-2"),
              static_cast<uint32_t>(sim::card::kBackupRejected));
    EXPECT_EQ(QeltRecoveryXk(kName, "password-1"), 0u);
    // A refused backup keeps the file as it was.
    std::ifstream in(root.path(kName), std::ios::binary);
    const Frame before{std::istreambuf_iterator<char>(in), {}};
    card->fail(0x735, fault(&Fault::status, 0x6F00u), 1);
    EXPECT_EQ(QeltBackupXk(kName, "password-3"), 0x6F00u);
    std::ifstream again(root.path(kName), std::ios::binary);
    EXPECT_EQ(Frame(std::istreambuf_iterator<char>(again), {}), before);
    expect_clean_frames();
}

}  // namespace
