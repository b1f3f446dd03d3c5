// Challenge, unlock, PIN reset and zeroise with signatures by the administrator's key.
#include <cstring>
#include <functional>

#include "crypto/random.h"
#include "softcard/admin_key.h"
#include "softcard/result.h"
#include "tests/support/admin_signer.h"
#include "tests/support/softcard_fixture.h"

namespace {

struct Challenge {
    std::vector<uint8_t> challenge = std::vector<uint8_t>(16);
    std::vector<uint8_t> extra = std::vector<uint8_t>(16, 0x5E);
};

Challenge new_challenge() {
    Challenge c;
    EXPECT_EQ(QeltGetChallengeCode(c.challenge.data()), 0u);
    return c;
}

std::vector<uint8_t> pin_field(const char* pin) {
    std::vector<uint8_t> field(17, 0);
    std::memcpy(field.data(), pin, std::strlen(pin) < 17 ? std::strlen(pin) : 17);
    return field;
}

uint32_t unlock(const Challenge& c, const std::vector<uint8_t>& signature) {
    return QeltUnlockCard(c.challenge.data(), c.extra.data(), signature.data());
}
uint32_t unlock(const Challenge& c) {
    return unlock(c, admin_signature({c.challenge, c.extra}));
}

uint32_t reset_pin(const Challenge& c, const std::vector<uint8_t>& field) {
    const auto signature = admin_signature({c.challenge, field, c.extra});
    return QeltResetPin(c.challenge.data(), c.extra.data(), field.data(), signature.data());
}

uint32_t zeroise(const Challenge& c) {
    const auto signature = admin_signature({c.challenge, c.extra});
    return QeltZeroSetCard(c.challenge.data(), c.extra.data(), signature.data());
}

using Admin = SoftcardTest;

TEST_F(Admin, ChallengeWorksWithoutStoreOrLogin) {
    uint8_t first[16], second[16];
    EXPECT_EQ(QeltGetChallengeCode(first), 0u);
    EXPECT_EQ(QeltGetChallengeCode(second), 0u);
    EXPECT_NE(vector_of(first), vector_of(second));
    EXPECT_EQ(QeltGetChallengeCode(nullptr), 3u);
}

TEST_F(Admin, UnlockOnlyALockedCard) {
    fresh_bound_login();
    Challenge c = new_challenge();
    EXPECT_EQ(unlock(c), 1u);  // not locked, though the signature is valid
    QeltCardLoginOut();
    lock_card();
    EXPECT_EQ(unlock(c), 0u);
    EXPECT_EQ(record().retries_left, 6);
    EXPECT_EQ(status() & CARD_STATUS_LOGGED_IN, 0);
    lock_card();
    EXPECT_EQ(unlock(c), 1u);  // the challenge is used up
    EXPECT_EQ(login(), 8u);
}

// A success uses the challenge up: no challenge is pending afterwards, so neither the used one
// nor any other (sixteen zero bytes included) is taken, however well signed.
TEST_F(Admin, SuccessLeavesNoChallengePending) {
    struct Operation {
        const char* name;
        std::function<void()> prepare;  // the state in which the operation can succeed
        std::function<uint32_t(const Challenge&)> run;
    };
    const Operation operations[] = {
        {"unlock",
         [] {
             if (CheckCardState() != SC_LOCKED) lock_card();
         },
         [](const Challenge& c) { return unlock(c); }},
        {"reset", [] {}, [](const Challenge& c) { return reset_pin(c, pin_field(kOtherPin)); }},
        {"zeroise",
         [] {
             if (!card_session().loggedIn) {
                 ASSERT_EQ(login(), 15u);
             }
         },
         [](const Challenge& c) { return zeroise(c); }},
    };
    for (const Operation& op : operations) {
        ASSERT_EQ(init_cfg(), 0u);
        card_session() = CardSession{};
        op.prepare();
        const Challenge used = new_challenge();
        ASSERT_EQ(op.run(used), 0u) << op.name;
        Challenge zero = used;
        zero.challenge.assign(16, 0);
        for (const Challenge& c : {used, zero}) {
            op.prepare();
            EXPECT_EQ(op.run(c), 1u) << op.name;
        }
    }
}

TEST_F(Admin, FailedChecksKeepTheChallengePending) {
    ASSERT_EQ(init_cfg(), 0u);
    lock_card();
    Challenge c = new_challenge();
    Challenge other = c;
    other.challenge[0] ^= 1;
    EXPECT_EQ(unlock(other), 1u);  // signed, but not the pending challenge
    auto wrong = admin_signature({c.challenge, c.extra});
    wrong[10] ^= 1;
    EXPECT_EQ(unlock(c, wrong), 1u);
    Challenge changed_extra = c;
    EXPECT_EQ(unlock(changed_extra, admin_signature({c.challenge, std::vector<uint8_t>(16, 1)})),
              1u);
    EXPECT_EQ(unlock(c), 0u);
}

TEST_F(Admin, NewChallengeMakesTheOldOneUnusable) {
    ASSERT_EQ(init_cfg(), 0u);
    lock_card();
    Challenge first = new_challenge();
    Challenge second = new_challenge();
    EXPECT_EQ(unlock(first), 1u);
    EXPECT_EQ(unlock(second), 0u);
}

TEST_F(Admin, NoChallengeNoUnlock) {
    ASSERT_EQ(init_cfg(), 0u);
    lock_card();
    Challenge c;
    EXPECT_EQ(unlock(c), 1u);
}

TEST_F(Admin, UnlockWithTheStoreFileUnreadable) {
    ASSERT_EQ(init_cfg(), 0u);
    lock_card();
    Challenge c = new_challenge();
    std::filesystem::remove(store_file());
    EXPECT_EQ(unlock(c), 1u);
}

// An 8-character PIN is signed as 17 bytes: the characters and nine zeros.
TEST_F(Admin, ResetPinSignsTheWholeSeventeenByteField) {
    ASSERT_EQ(init_cfg(), 0u);
    lock_card();
    Challenge c = new_challenge();
    const auto field = pin_field(kOtherPin);
    const auto short_signature =
        admin_signature({c.challenge, std::vector<uint8_t>(kOtherPin, kOtherPin + 8), c.extra});
    EXPECT_EQ(
        QeltResetPin(c.challenge.data(), c.extra.data(), field.data(), short_signature.data()), 1u);
    EXPECT_EQ(reset_pin(c, field), 0u);
    EXPECT_EQ(record().retries_left, 6);
    EXPECT_EQ(record().pin_length, 8);
    EXPECT_EQ(login(kDefaultPin), 1u);
    EXPECT_EQ(login(kOtherPin), 15u);
    EXPECT_EQ(record().retries_left, 6);
}

// A short PIN after a long one: the store's PIN field holds the new PIN and zeros, no byte of the
// old one.
TEST_F(Admin, ResetPinLeavesNoByteOfTheOldPin) {
    ASSERT_EQ(init_cfg(), 0u);
    const char kLong[] = "0123456789abcdef";
    ASSERT_EQ(reset_pin(new_challenge(), pin_field(kLong)), 0u);
    ASSERT_EQ(reset_pin(new_challenge(), pin_field(kOtherPin)), 0u);
    const auto bytes = store_bytes();
    ASSERT_EQ(bytes.size(), STORE_RECORD_SIZE);
    std::vector<uint8_t> expected(STORE_PIN_SIZE, 0);
    std::memcpy(expected.data(), kOtherPin, 8);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + STORE_PIN, bytes.begin() + STORE_PIN + 16),
              expected);
    EXPECT_EQ(record().pin_length, 8);
}

TEST_F(Admin, ResetPinLogsOut) {
    fresh_bound_login();
    Challenge c = new_challenge();
    ASSERT_EQ(reset_pin(c, pin_field("0123456789abcdef")), 0u);
    EXPECT_EQ(status() & CARD_STATUS_LOGGED_IN, 0);
    EXPECT_EQ(login("0123456789abcdef"), 0u);
}

TEST_F(Admin, ResetPinArguments) {
    ASSERT_EQ(init_cfg(), 0u);
    Challenge c = new_challenge();
    std::vector<uint8_t> no_nul(17, '7');
    EXPECT_EQ(reset_pin(c, pin_field("1234567")), 3u);
    EXPECT_EQ(reset_pin(c, no_nul), 3u);
    uint8_t sig[64] = {};
    EXPECT_EQ(QeltResetPin(nullptr, c.extra.data(), pin_field(kOtherPin).data(), sig), 3u);
    EXPECT_EQ(QeltResetPin(c.challenge.data(), c.extra.data(), nullptr, sig), 3u);
    EXPECT_EQ(QeltUnlockCard(c.challenge.data(), nullptr, sig), 3u);
    EXPECT_EQ(QeltZeroSetCard(c.challenge.data(), c.extra.data(), nullptr), 3u);
    EXPECT_EQ(reset_pin(c, pin_field(kOtherPin)), 0u);  // the refusals left it pending
}

TEST_F(Admin, ZeroiseGivesANewEmptyCard) {
    fresh_bound_login();
    ASSERT_EQ(StoreVolumeKey(std::vector<uint8_t>(32, 9).data()), 0u);
    const std::string old_serial = serial();
    uint8_t old_sign[64], old_enc[64];
    ASSERT_EQ(QeltExportPubkeys(old_sign, old_enc), 0u);
    Challenge c = new_challenge();
    ASSERT_EQ(zeroise(c), 0u);
    EXPECT_NE(serial(), old_serial);
    EXPECT_EQ(status(), 0);
    uint8_t key[32];
    uint32_t length = 0;
    EXPECT_EQ(get_key(key, &length), 7u);
    EXPECT_EQ(login(), 15u);
    uint8_t sign[64], enc[64];
    ASSERT_EQ(QeltExportPubkeys(sign, enc), 0u);
    EXPECT_NE(vector_of(sign), vector_of(old_sign));
    EXPECT_NE(vector_of(enc), vector_of(old_enc));
    uint32_t index = 9, used = 9, left = 9;
    uint8_t macs[30];
    ASSERT_EQ(QeltQueryBindedMac(&index, &used, &left, macs), 0u);
    EXPECT_EQ(used, 0u);
    EXPECT_EQ(zeroise(c), 1u);  // the challenge is used up
}

TEST_F(Admin, ZeroiseNeedsTheLogin) {
    ASSERT_EQ(init_cfg(), 0u);
    Challenge c = new_challenge();
    EXPECT_EQ(zeroise(c), 6u);
}

#ifndef _WIN32
// Linux only: these steer the random source and free space of the Linux platform layer.

TEST_F(Admin, NoChallengeWithoutRandomBytes) {
    uint8_t challenge[16];
    std::memset(challenge, 0xEE, sizeof challenge);
    sim::random_fail_generation(true);
    EXPECT_EQ(QeltGetChallengeCode(challenge), 1u);
    EXPECT_EQ(vector_of(challenge), std::vector<uint8_t>(16, 0xEE));
}

TEST_F(Admin, FailedWriteAfterAValidSignatureKeepsTheChallenge) {
    ASSERT_EQ(init_cfg(), 0u);
    lock_card();
    Challenge c = new_challenge();
    sim::disk_set_free_space('C', 0);
    EXPECT_EQ(unlock(c), 2u);
    sim::disk_clear_free_space_limits();
    EXPECT_EQ(login(), 8u);
    EXPECT_EQ(unlock(c), 0u);
}
#endif

}  // namespace
