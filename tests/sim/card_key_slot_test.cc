// Key slots, the card's SM4-XTS commands (checked against an OpenSSL-based XTS) and random bytes.
#include <gtest/gtest.h>

#include "crypto/random.h"
#include "crypto/sm2_encrypt.h"
#include "oracles/openssl_sm4_xts.h"
#include "tests/sim/card_wire.h"

namespace {

using namespace cardtest;
using namespace sim::card;

using CardKeySlots = SimCard;

Bytes random_bytes(size_t n) {
    Bytes b(n);
    EXPECT_EQ(get_random(b.data(), static_cast<uint32_t>(n)), 0);
    return b;
}

Bytes oracle_xts(const Key32& key, const Bytes& tweak, const Bytes& in, bool encrypt) {
    oracles::OpensslSm4Xts xts;
    Bytes out(in.size());
    EXPECT_TRUE(xts.crypt(key.data(), tweak.data(), in.data(), in.size(), out.data(), encrypt));
    return out;
}

// 0x729 under public_key: the status, the wrapped key and the slot.
struct Made {
    uint32_t status;
    Bytes wrapped;
    uint32_t slot;
};
Made make_key(const std::array<uint8_t, 64>& public_key) {
    const Answer answer = roundtrip(kMakeKey, request(kMakeKey).bytes(16, public_key));
    EXPECT_EQ(answer.bytes.size(), 192u);
    return {answer.status(), slice(answer.bytes, 16, 128), load_be32(answer.bytes, 144)};
}

Answer xts(uint32_t code, uint32_t slot, const Bytes& tweak, const Bytes& data) {
    return roundtrip(xts_frame(code, slot, tweak, data).data(),
                     rounded(36 + static_cast<uint32_t>(data.size())));
}

TEST_F(CardKeySlots, MakingAndImportingKeysNeedABoundLogin) {
    plug();
    const auto host = random_key_pair();
    EXPECT_EQ(make_key(host.public_key).status, kNotLoggedIn);
    EXPECT_EQ(roundtrip(kImportKey).status(), kNotLoggedIn);
    ASSERT_EQ(login(), kPinRightHostNotBound);
    EXPECT_EQ(make_key(host.public_key).status, kNotBound);
    EXPECT_EQ(roundtrip(kImportKey).status(), kNotBound);
}

TEST_F(CardKeySlots, AMadeKeyComesWrappedToTheHostAndEncryptsInItsSlot) {
    auto card = plug();
    login_bound();
    const auto host = random_key_pair();
    const Made made = make_key(host.public_key);
    ASSERT_EQ(made.status, kOk);
    EXPECT_EQ(made.slot, 1u);
    Key32 key;
    uint32_t length = 0;
    ASSERT_EQ(sm2_decrypt(host.private_key.data(), made.wrapped.data(), 128, key.data(), &length),
              0);
    ASSERT_EQ(length, 32u);
    EXPECT_EQ(card->state().key_slots[0], key);

    for (uint32_t size : {16u, 4096u}) {
        const Bytes tweak = random_bytes(16), plain = random_bytes(size);
        const Answer encrypted = xts(0x733, made.slot, tweak, plain);
        ASSERT_EQ(encrypted.status(), kOk);
        EXPECT_EQ(encrypted.bytes.size(), rounded(36 + size));
        EXPECT_EQ(load_be32(encrypted.bytes, 32), size);
        const Bytes cipher = slice(encrypted.bytes, 36, size);
        EXPECT_EQ(cipher, oracle_xts(key, tweak, plain, true));
        const Answer decrypted = xts(0x734, made.slot, tweak, cipher);
        ASSERT_EQ(decrypted.status(), kOk);
        EXPECT_EQ(slice(decrypted.bytes, 36, size), plain);
    }
}

TEST_F(CardKeySlots, AWrappedKeyImportsIntoTheNextFreeSlot) {
    auto card = plug();
    login_bound();
    const CardState state = card->state();
    Key32 key;
    ASSERT_EQ(get_random(key.data(), 32), 0);
    Bytes wrapped(128);
    ASSERT_EQ(
        sm2_encrypt(state.encryption.public_key.data(), key.data(), 32, wrapped.data(), nullptr),
        0);
    CardState with_first = state;
    with_first.key_slots[0] = Key32{7};
    card->set_state(with_first);
    const Answer imported =
        roundtrip(kImportKey, request(kImportKey).bytes(16, wrapped.data(), 128));
    ASSERT_EQ(imported.status(), kOk);
    EXPECT_EQ(load_be32(imported.bytes, 16), 2u);
    const Bytes tweak(16, 0), plain = random_bytes(4096);
    EXPECT_EQ(slice(xts(0x733, 2, tweak, plain).bytes, 36, 4096),
              oracle_xts(key, tweak, plain, true));

    Bytes to_signing(128);
    ASSERT_EQ(
        sm2_encrypt(state.signing.public_key.data(), key.data(), 32, to_signing.data(), nullptr),
        0);
    EXPECT_EQ(roundtrip(kImportKey, request(kImportKey).bytes(16, to_signing.data(), 128)).status(),
              kFailed);
    EXPECT_FALSE(card->state().key_slots[2]);
}

TEST_F(CardKeySlots, FreedAndUnknownSlotsAreRefused) {
    auto card = plug();
    CardState state = card->state();
    state.key_slots[127] = Key32{1};
    state.key_slots[4] = Key32{2};
    card->set_state(state);
    const Bytes tweak(16, 0), data(16, 0);
    for (uint32_t slot : {0u, 1u, 129u, 0xFFFFFFFFu}) {
        EXPECT_EQ(xts(0x733, slot, tweak, data).status(), kBadKeySlot) << slot;
        EXPECT_EQ(roundtrip(kFreeSlot, request(kFreeSlot).be32(16, slot)).status(), kBadKeySlot);
    }
    EXPECT_EQ(xts(0x734, 128, tweak, data).status(), kOk);
    EXPECT_EQ(roundtrip(kFreeSlot, request(kFreeSlot).be32(16, 128)).status(), kOk);
    EXPECT_EQ(xts(0x734, 128, tweak, data).status(), kBadKeySlot);
    EXPECT_EQ(roundtrip(kFreeSlot, request(kFreeSlot).be32(16, 128)).status(), kBadKeySlot);
    EXPECT_TRUE(card->state().key_slots[4]);
}

TEST_F(CardKeySlots, XtsLengthsOutOfRangeAreInvalid) {
    auto card = plug();
    CardState state = card->state();
    state.key_slots[0] = Key32{1};
    card->set_state(state);
    for (uint32_t length : {0u, 8u, 4097u, 4112u}) {
        Frame frame = xts_frame(0x733, 1, Bytes(16, 0), Bytes(16, 0));
        frame.be32(36, length);
        const Answer answer = roundtrip(frame.data(), 64);
        EXPECT_EQ(answer.read, 0);
        EXPECT_EQ(answer.status(), kInvalidArgument) << length;
    }
}

TEST_F(CardKeySlots, AllSlotsTakenAndABadPublicKeyTakeNoSlot) {
    auto card = plug();
    login_bound();
    CardState state = card->state();
    const auto host = random_key_pair();
    auto off_curve = host.public_key;
    off_curve[63] ^= 1;
    EXPECT_EQ(make_key(off_curve).status, kFailed);
    EXPECT_FALSE(card->state().key_slots[0]);
    for (auto& slot : state.key_slots) slot = Key32{};
    card->set_state(state);
    EXPECT_EQ(make_key(host.public_key).status, kNoFreeKeySlot);
}

TEST_F(CardKeySlots, RandomBytesComeInTheAskedNumber) {
    plug();
    const Answer small = roundtrip(random_frame(16).data(), 64);
    ASSERT_EQ(small.status(), kOk);
    const Answer again = roundtrip(random_frame(16).data(), 64);
    EXPECT_NE(slice(small.bytes, 16, 16), slice(again.bytes, 16, 16));
    EXPECT_EQ(slice(small.bytes, 32, 32), Bytes(32, 0));
    const Answer most = roundtrip(random_frame(4096).data(), 4160);
    EXPECT_EQ(most.read, 0);
    EXPECT_EQ(most.status(), kOk);
    EXPECT_NE(slice(most.bytes, 16, 4096), Bytes(4096, 0));
    for (uint32_t count : {0u, 4097u})
        EXPECT_EQ(roundtrip(random_frame(count).data(), 64).status(), kInvalidArgument);
}

}  // namespace
