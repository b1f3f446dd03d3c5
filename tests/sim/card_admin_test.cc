// Challenge, unlock, PIN reset, zeroise, key backup and recovery, activation.
#include <gtest/gtest.h>

#include "crypto/sm3.h"
#include "tests/sim/card_wire.h"

namespace {

using namespace cardtest;
using namespace sim::card;

using CardAdmin = SimCard;

Bytes challenge() {
    const Answer answer = roundtrip(kChallenge);
    EXPECT_EQ(answer.status(), kOk);
    EXPECT_EQ(answer.bytes.size(), 64u);
    return slice(answer.bytes, 16, 16);
}

const Bytes kExtra(16, 0xE7);

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Unlock (0x727) or zeroise (0x732) with a challenge, the extra bytes and a signature.
uint32_t admin_command(const Command& c, const Bytes& challenge,
                       const std::array<uint8_t, 64>& sig) {
    Frame frame = request(c);
    frame.bytes(16, challenge.data(), 16).bytes(32, kExtra.data(), 16).bytes(48, sig);
    return roundtrip(c, frame).status();
}

uint32_t admin_command(const Command& c, const Bytes& challenge) {
    return admin_command(c, challenge, admin_signature(concat({challenge, kExtra})));
}

// The 17-byte PIN field: the PIN, its NUL, zeros.
Bytes pin_field(const std::string& pin) {
    Bytes field(pin.begin(), pin.end());
    field.resize(17, 0);
    return field;
}

uint32_t reset_pin(const Bytes& challenge, const Bytes& field, const std::array<uint8_t, 64>& sig) {
    Frame frame = request(kResetPin);
    frame.bytes(16, challenge.data(), 16).bytes(32, field.data(), 17);
    frame.bytes(49, kExtra.data(), 16).bytes(65, sig);
    return roundtrip(kResetPin, frame).status();
}

CardState locked_card() {
    CardState state = known_card();
    state.pin_tries = 0;
    return state;
}

TEST_F(CardAdmin, ASignedChallengeUnlocksOnceAndALaterChallengeReplacesIt) {
    auto card = plug(locked_card());
    const Bytes first = challenge();
    const Bytes second = challenge();
    EXPECT_NE(first, second);
    EXPECT_EQ(admin_command(kUnlock, first), kFailed);
    EXPECT_EQ(card->state().pin_tries, 0u);
    EXPECT_EQ(admin_command(kUnlock, second), kOk);
    EXPECT_EQ(card->state().pin_tries, kPinTries);
    EXPECT_FALSE(card->state().challenge);
    EXPECT_FALSE(card->state().logged_in);
    // Used up: the same unlock of the card locked again fails.
    CardState relocked = card->state();
    relocked.pin_tries = 0;
    card->set_state(relocked);
    EXPECT_EQ(admin_command(kUnlock, second), kFailed);
}

TEST_F(CardAdmin, UnlockRefusals) {
    struct Case {
        const char* name;
        bool locked;
        bool issue;
        bool other_key;
        bool damaged;
    };
    const Case cases[] = {
        {"card not locked", false, true, false, false},
        {"no challenge issued", true, false, false, false},
        {"signed by another key", true, true, true, false},
        {"signature over other bytes", true, true, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::usb::unplug_all();
        auto card = plug(c.locked ? locked_card() : known_card());
        const Bytes issued = c.issue ? challenge() : Bytes(16, 0);
        std::array<uint8_t, 64> sig = admin_signature(concat({issued, kExtra}));
        if (c.other_key) {
            CardState state = card->state();
            state.admin_public_key = random_key_pair().public_key;
            card->set_state(state);
        }
        if (c.damaged) sig = admin_signature(concat({issued, Bytes(16, 0)}));
        EXPECT_EQ(admin_command(kUnlock, issued, sig), kFailed);
        EXPECT_EQ(card->state().pin_tries, c.locked ? 0u : kPinTries);
        // A failed check leaves the challenge pending.
        EXPECT_EQ(bool(card->state().challenge), c.issue);
    }
}

TEST_F(CardAdmin, ResetPinSignsTheWholePinFieldAndWorksOnALockedCard) {
    auto card = plug(locked_card());
    const Bytes issued = challenge();
    const Bytes field = pin_field("newpin88");
    EXPECT_EQ(reset_pin(issued, field,
                        admin_signature(
                            concat({issued, Bytes(field.begin(), field.begin() + 9), kExtra}))),
              kFailed);
    EXPECT_EQ(reset_pin(issued, field, admin_signature(concat({issued, field, kExtra}))), kOk);
    EXPECT_EQ(card->state().pin, "newpin88");
    EXPECT_EQ(card->state().pin_tries, kPinTries);
    EXPECT_EQ(login("newpin88"), kPinRightHostNotBound);
}

TEST_F(CardAdmin, ResetPinLogsOutAndChecksThePinLength) {
    auto card = plug();
    ASSERT_EQ(login(), kPinRightHostNotBound);
    const Bytes issued = challenge();
    Bytes no_nul(17, 'x');
    for (const Bytes& bad : {pin_field("1234567"), no_nul}) {
        EXPECT_EQ(reset_pin(issued, bad, admin_signature(concat({issued, bad, kExtra}))),
                  kInvalidArgument);
    }
    const Bytes longest = pin_field("0123456789abcdef");
    EXPECT_EQ(reset_pin(issued, longest, admin_signature(concat({issued, longest, kExtra}))), kOk);
    EXPECT_FALSE(card->state().logged_in);
    EXPECT_EQ(card->state().pin, "0123456789abcdef");
}

TEST_F(CardAdmin, ZeroiseNeedsALoginAndMakesANewCardWithTheSameAdministrator) {
    CardState state = known_card();
    state.volume_key = Key32{1, 2, 3};
    state.bind_slots[0] = {true, kHostMac};
    auto card = plug(state);
    EXPECT_EQ(admin_command(kZeroise, challenge()), kNotLoggedIn);
    ASSERT_EQ(login(), kOk);
    CardState logged = card->state();
    logged.key_slots[4] = Key32{9};
    card->set_state(logged);
    EXPECT_EQ(admin_command(kZeroise, challenge()), kOk);
    const CardState after = card->state();
    EXPECT_NE(after.serial, state.serial);
    EXPECT_NE(after.signing.public_key, state.signing.public_key);
    EXPECT_NE(after.encryption.public_key, state.encryption.public_key);
    EXPECT_EQ(after.pin, kDefaultPin);
    EXPECT_EQ(after.pin_tries, kPinTries);
    EXPECT_FALSE(after.volume_key);
    EXPECT_FALSE(after.bind_slots[0].used);
    EXPECT_FALSE(after.logged_in);
    EXPECT_FALSE(after.key_slots[4]);
    EXPECT_EQ(after.admin_public_key, state.admin_public_key);
    EXPECT_EQ(login(kDefaultPin), kPinRightHostNotBound);
}

Bytes password_hash(const std::string& password) {
    Bytes hash(32);
    sm3(reinterpret_cast<const uint8_t*>(password.data()), static_cast<uint32_t>(password.size()),
        hash.data());
    return hash;
}

Answer backup(const Bytes& hash) {
    return roundtrip(kBackup, request(kBackup).bytes(16, hash.data(), 32));
}

uint32_t recover(const Bytes& hash, const Bytes& block) {
    return roundtrip(kRecover,
                     request(kRecover).bytes(16, hash.data(), 32).bytes(48, block.data(), 304))
        .status();
}

TEST_F(CardAdmin, ABackupRecoversOnAnotherCardUnderTheSamePasswordOnly) {
    CardState original = known_card();
    original.volume_key = Key32{0xA5, 0x5A};
    auto card = plug(original);
    ASSERT_EQ(login(), kPinRightHostNotBound);
    const Bytes hash = password_hash("backup password");
    const Answer first = backup(hash);
    ASSERT_EQ(first.status(), kOk);
    ASSERT_EQ(first.bytes.size(), 320u);
    const Bytes block = slice(first.bytes, 16, 304);
    EXPECT_NE(slice(backup(hash).bytes, 16, 304), block);  // a fresh salt each time
    card->unplug();

    CardState other = known_card();
    other.serial[0] = 0xEE;
    card = plug(other);
    ASSERT_EQ(login(), kPinRightHostNotBound);
    Bytes tampered = block;
    tampered[150] ^= 0x01;
    EXPECT_EQ(recover(password_hash("backup passwore"), block), kBackupRejected);
    EXPECT_EQ(recover(hash, tampered), kBackupRejected);
    EXPECT_NE(card->state().signing.public_key, original.signing.public_key);
    EXPECT_EQ(recover(hash, block), kOk);
    const CardState recovered = card->state();
    EXPECT_EQ(recovered.signing.private_key, original.signing.private_key);
    EXPECT_EQ(recovered.signing.public_key, original.signing.public_key);
    EXPECT_EQ(recovered.encryption.private_key, original.encryption.private_key);
    EXPECT_EQ(recovered.encryption.public_key, original.encryption.public_key);
    EXPECT_EQ(recovered.volume_key, original.volume_key);
    EXPECT_EQ(recovered.serial, other.serial);
}

TEST_F(CardAdmin, ActivationAnswersAndUnknownCodesAreUnsupported) {
    auto card = plug();
    EXPECT_EQ(roundtrip(kActivate).status(), kOk);
    EXPECT_TRUE(card->state().activated);
    EXPECT_EQ(roundtrip(kActivate).status(), kOk);
    for (uint32_t code : {0x767u, 0x731u, 0x738u, 0u}) {
        const Answer answer = roundtrip(Frame(code, 16).data(), 64);
        EXPECT_EQ(answer.read, 0);
        EXPECT_EQ(answer.status(), kUnsupportedCommand) << code;
    }
}

}  // namespace
