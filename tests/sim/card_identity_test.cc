// Card information, PIN, login, the key pairs and the bind list, through the simulated bus.
#include <gtest/gtest.h>

#include "crypto/random.h"
#include "crypto/sm2.h"
#include "crypto/sm2_encrypt.h"
#include "tests/sim/card_wire.h"

namespace {

using namespace cardtest;
using namespace sim::card;

using CardIdentity = SimCard;

uint8_t info_state() {
    const Answer info = roundtrip(kQueryCardInfo);
    EXPECT_EQ(info.read, 0);
    EXPECT_EQ(info.status(), kOk);
    return info.bytes.at(16);
}

uint32_t tries_of(const Answer& answer) {
    return load_be32(answer.bytes, 16);
}

TEST_F(CardIdentity, CardInfoCarriesSerialAndStateInAFullResponse) {
    plug();
    const Answer info = roundtrip(kQueryCardInfo);
    ASSERT_EQ(info.write, 0);
    ASSERT_EQ(info.read, 0);
    ASSERT_EQ(info.bytes.size(), 128u);
    EXPECT_EQ(load_le32(info.bytes, 0), 0x720u);
    EXPECT_EQ(load_be32(info.bytes, 4), 0x535u);
    EXPECT_EQ(load_le32(info.bytes, 8), 112u);
    EXPECT_EQ(info.status(), kOk);
    EXPECT_EQ(info.bytes[16], 0);
    EXPECT_EQ(slice(info.bytes, 73, 16),
              (Bytes{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}));
}

TEST_F(CardIdentity, StateBitsFollowLoginBindingVolumeKeyAndLock) {
    auto card = plug();
    EXPECT_EQ(login(), kPinRightHostNotBound);
    EXPECT_EQ(info_state(), kInfoLoggedIn);
    EXPECT_EQ(bind(), kOk);
    EXPECT_EQ(info_state(), kInfoLoggedIn | kInfoBound);
    CardState state = card->state();
    state.volume_key = Key32{};
    state.pin_tries = 0;
    card->set_state(state);
    EXPECT_EQ(info_state(), kInfoLoggedIn | kInfoBound | kInfoVolumeKey | kInfoLocked);
}

TEST_F(CardIdentity, SixWrongPinsCountDownThenTheCardIsLocked) {
    auto card = plug();
    for (uint32_t left = 5;; --left) {
        const Answer wrong = roundtrip(kVerifyPin, verify_pin_frame("87654321", 8));
        EXPECT_EQ(wrong.status(), kWrongPin);
        EXPECT_EQ(tries_of(wrong), left);
        if (left == 0) break;
    }
    EXPECT_EQ(login(), kLocked);
    EXPECT_EQ(card->state().pin_tries, 0u);
    EXPECT_FALSE(card->state().logged_in);
}

TEST_F(CardIdentity, TheRightPinRestoresTheTries) {
    auto card = plug();
    EXPECT_EQ(roundtrip(kVerifyPin, verify_pin_frame("87654321", 8)).status(), kWrongPin);
    EXPECT_EQ(roundtrip(kVerifyPin, verify_pin_frame("87654321", 8)).status(), kWrongPin);
    EXPECT_EQ(card->state().pin_tries, 4u);
    EXPECT_EQ(login(), kPinRightHostNotBound);
    EXPECT_EQ(card->state().pin_tries, kPinTries);
    EXPECT_TRUE(card->state().logged_in);
}

TEST_F(CardIdentity, PinFieldsAreComparedWithTheirLength) {
    struct Case {
        const char* name;
        std::string pin;
        uint32_t length;
        uint32_t status;
    };
    const Case cases[] = {
        {"length 7", "1234567", 7, kInvalidArgument},
        {"length 17", "12345678", 17, kInvalidArgument},
        // The field holds the PIN's characters and zeros: length 9 covers a zero byte.
        {"longer length", "12345678", 9, kWrongPin},
        {"same bytes longer PIN", "123456789", 9, kWrongPin},
        {"right", "12345678", 8, kPinRightHostNotBound},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::usb::unplug_all();
        auto card = plug();
        EXPECT_EQ(roundtrip(kVerifyPin, verify_pin_frame(c.pin, c.length)).status(), c.status);
        EXPECT_EQ(card->state().pin_tries, c.status == kWrongPin ? kPinTries - 1 : kPinTries);
    }
}

TEST_F(CardIdentity, ALoggedInCardRefusesAnotherLoginWithoutCountingIt) {
    auto card = plug();
    ASSERT_EQ(login(), kPinRightHostNotBound);
    EXPECT_EQ(roundtrip(kVerifyPin, verify_pin_frame("87654321", 8)).status(), kAlreadyLoggedIn);
    EXPECT_EQ(card->state().pin_tries, kPinTries);
}

TEST_F(CardIdentity, LoginFindsTheHostInTheAllowedBindSlots) {
    CardState state = known_card();
    state.bind_slots[2] = {true, kHostMac};
    auto card = plug(state);
    EXPECT_EQ(login(), kOk);
    EXPECT_TRUE(card->state().bound);
    EXPECT_EQ(card->state().bind_index, 3u);

    sim::usb::unplug_all();
    state.bind_allowed = 2;
    card = plug(state);
    EXPECT_EQ(login(), kPinRightHostNotBound);
    EXPECT_FALSE(card->state().bound);
}

TEST_F(CardIdentity, LogoutEndsTheLoginAndNeedsOne) {
    auto card = plug();
    EXPECT_EQ(roundtrip(kLogout).status(), kNotLoggedIn);
    login_bound();
    EXPECT_EQ(roundtrip(kLogout).status(), kOk);
    EXPECT_FALSE(card->state().logged_in);
    EXPECT_FALSE(card->state().bound);
    EXPECT_EQ(card->state().bind_index, 0u);
}

Frame set_pin_frame(const std::string& old_pin, const std::string& new_pin) {
    Frame frame = request(kSetPin);
    frame.be32(16, static_cast<uint32_t>(old_pin.size())).text(20, old_pin);
    frame.be32(36, static_cast<uint32_t>(new_pin.size())).text(40, new_pin);
    return frame;
}

TEST_F(CardIdentity, SetPinNeedsABoundLoginAndTheOldPin) {
    auto card = plug();
    const std::string new_pin = "abcdefghijklmnop";  // 16 characters fill the field
    EXPECT_EQ(roundtrip(kSetPin, set_pin_frame(kPin, new_pin)).status(), kNotLoggedIn);
    ASSERT_EQ(login(), kPinRightHostNotBound);
    EXPECT_EQ(roundtrip(kSetPin, set_pin_frame(kPin, new_pin)).status(), kNotBound);
    ASSERT_EQ(bind(), kOk);
    EXPECT_EQ(roundtrip(kSetPin, set_pin_frame(kPin, "1234567")).status(), kInvalidArgument);
    const Answer wrong = roundtrip(kSetPin, set_pin_frame("00000000", new_pin));
    EXPECT_EQ(wrong.status(), kWrongPin);
    EXPECT_EQ(tries_of(wrong), 5u);
    EXPECT_EQ(roundtrip(kSetPin, set_pin_frame(kPin, new_pin)).status(), kOk);
    EXPECT_EQ(card->state().pin, new_pin);
    EXPECT_EQ(card->state().pin_tries, kPinTries);
    ASSERT_EQ(roundtrip(kLogout).status(), kOk);
    EXPECT_EQ(login(kPin), kWrongPin);
    EXPECT_EQ(login(new_pin), kOk);
}

TEST_F(CardIdentity, KeyAndBindingCommandsNeedALoginAndAnUnlockedCard) {
    const Command commands[] = {kExportPublicKeys, kSign,         kImportVolumeKey, kBind,
                                kUnbind,           kQueryBinding, kBackup,          kRecover};
    CardState state = known_card();
    auto card = plug(state);
    for (const Command& c : commands) EXPECT_EQ(roundtrip(c).status(), kNotLoggedIn) << c.code;
    state.pin_tries = 0;
    card->set_state(state);
    for (const Command& c : commands) EXPECT_EQ(roundtrip(c).status(), kLocked) << c.code;
}

TEST_F(CardIdentity, PublicKeysAndSignaturesComeFromTheCardsPairs) {
    auto card = plug();
    login_bound();
    const CardState state = card->state();
    const Answer keys = roundtrip(kExportPublicKeys);
    ASSERT_EQ(keys.status(), kOk);
    EXPECT_EQ(slice(keys.bytes, 16, 64),
              Bytes(state.signing.public_key.begin(), state.signing.public_key.end()));
    EXPECT_EQ(slice(keys.bytes, 80, 64),
              Bytes(state.encryption.public_key.begin(), state.encryption.public_key.end()));

    const Bytes message = {'s', 'i', 'g', 'n', ' ', 'm', 'e'};
    uint8_t e[32];
    sm2_msg_digest(state.signing.public_key.data(), message.data(),
                   static_cast<uint32_t>(message.size()), e);
    const Answer signed_ = roundtrip(kSign, request(kSign).bytes(16, e, 32));
    ASSERT_EQ(signed_.status(), kOk);
    EXPECT_EQ(sm2_verify(state.signing.public_key.data(), message.data(),
                         static_cast<uint32_t>(message.size()), signed_.bytes.data() + 16),
              0);
    EXPECT_NE(sm2_verify(state.encryption.public_key.data(), message.data(),
                         static_cast<uint32_t>(message.size()), signed_.bytes.data() + 16),
              0);
}

Bytes wrapped(const std::array<uint8_t, 64>& public_key, const Key32& key) {
    Bytes out(128);
    EXPECT_EQ(sm2_encrypt(public_key.data(), key.data(), 32, out.data(), nullptr), 0);
    return out;
}

TEST_F(CardIdentity, AVolumeKeyImportsOnlyWhenSentToTheEncryptionKey) {
    auto card = plug();
    login_bound();
    const CardState state = card->state();
    Key32 key;
    ASSERT_EQ(get_random(key.data(), 32), 0);
    Bytes to_signing = wrapped(state.signing.public_key, key);
    EXPECT_EQ(
        roundtrip(kImportVolumeKey, request(kImportVolumeKey).bytes(16, to_signing.data(), 128))
            .status(),
        kFailed);
    Bytes damaged = wrapped(state.encryption.public_key, key);
    damaged[100] ^= 1;
    EXPECT_EQ(roundtrip(kImportVolumeKey, request(kImportVolumeKey).bytes(16, damaged.data(), 128))
                  .status(),
              kFailed);
    EXPECT_FALSE(card->state().volume_key);
    Bytes good = wrapped(state.encryption.public_key, key);
    EXPECT_EQ(
        roundtrip(kImportVolumeKey, request(kImportVolumeKey).bytes(16, good.data(), 128)).status(),
        kOk);
    ASSERT_TRUE(card->state().volume_key);
    EXPECT_EQ(*card->state().volume_key, key);
}

std::array<uint8_t, 6> mac(uint8_t last) {
    return {0x0A, 0x0B, 0x0C, 0x0D, 0x0E, last};
}

Answer query_binding() {
    return roundtrip(kQueryBinding);
}

TEST_F(CardIdentity, BindingFillsFiveSlotsAndRefusesDoubles) {
    auto card = plug();
    ASSERT_EQ(login(), kPinRightHostNotBound);
    EXPECT_EQ(bind(), kOk);
    EXPECT_EQ(card->state().bind_index, 1u);
    EXPECT_EQ(bind(mac(9)), kAlreadyBound);  // this login is bound already
    ASSERT_EQ(roundtrip(kLogout).status(), kOk);
    // Another host: not bound at login, and the first host's MAC is taken.
    ASSERT_EQ(login(kPin, mac(1)), kPinRightHostNotBound);
    EXPECT_EQ(bind(kHostMac), kAlreadyBound);
    for (uint8_t i = 1; i <= 4; ++i) {
        ASSERT_EQ(bind(mac(i)), kOk);
        ASSERT_EQ(roundtrip(kLogout).status(), kOk);
        ASSERT_EQ(login(kPin, mac(static_cast<uint8_t>(i + 1))), kPinRightHostNotBound);
    }
    EXPECT_EQ(bind(mac(5)), kNoFreeBindSlot);
}

TEST_F(CardIdentity, QueryListsBoundMacsWithoutGapsAndUnbindClearsTheHost) {
    CardState state = known_card();
    state.bind_slots[0] = {true, mac(1)};
    state.bind_slots[2] = {true, kHostMac};
    state.bind_slots[4] = {true, mac(5)};
    auto card = plug(state);
    ASSERT_EQ(login(), kOk);
    Answer list = query_binding();
    ASSERT_EQ(list.status(), kOk);
    EXPECT_EQ(list.bytes.size(), 128u);
    EXPECT_EQ(list.bytes[16], 3);  // this host's slot
    EXPECT_EQ(list.bytes[17], 3);
    EXPECT_EQ(list.bytes[18], 2);
    Bytes expected;
    for (const auto& m : {mac(1), kHostMac, mac(5)})
        expected.insert(expected.end(), m.begin(), m.end());
    expected.resize(30, 0);
    EXPECT_EQ(slice(list.bytes, 20, 30), expected);

    EXPECT_EQ(roundtrip(kUnbind, request(kUnbind).bytes(16, mac(7))).status(), kMacNotBound);
    EXPECT_EQ(roundtrip(kUnbind, request(kUnbind).bytes(16, mac(1))).status(), kOk);
    EXPECT_TRUE(card->state().bound);
    EXPECT_EQ(roundtrip(kUnbind, request(kUnbind).bytes(16, kHostMac)).status(), kOk);
    EXPECT_FALSE(card->state().bound);
    EXPECT_EQ(card->state().bind_index, 0u);
    list = query_binding();
    EXPECT_EQ(list.bytes[16], 0);
    EXPECT_EQ(list.bytes[17], 1);
    EXPECT_EQ(list.bytes[18], 4);
    const auto last = mac(5);
    EXPECT_EQ(slice(list.bytes, 20, 6), Bytes(last.begin(), last.end()));
}

}  // namespace
