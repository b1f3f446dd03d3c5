// Key backup and recovery: the card's two key pairs and its volume key, sealed under a password
// hash in a 304-byte block that any card opens with the same hash.
//
// Block: salt (16) || body encrypted with SM4-XTS (256, zero tweak) || check (32), where the XTS
// key and the check key are SM3-KDF(password hash || salt) and check = SM3(check key || salt ||
// encrypted body). A fresh salt per backup makes each block's keys its own.
#include <cstring>

#include "crypto/constant_time.h"
#include "crypto/random.h"
#include "crypto/secure_wipe.h"
#include "crypto/sm2_encrypt.h"
#include "crypto/sm3.h"
#include "crypto/sm4_xts.h"
#include "sim/card/commands.h"
#include "sim/card/frame_format.h"

namespace sim::card {
namespace {
using crypto_internal::secure_wipe;

namespace block {
constexpr size_t kSalt = 0, kBody = 16, kCheck = 272;
constexpr uint32_t kSaltSize = 16, kBodySize = 256;
static_assert(kCheck + SM3_DIGEST_SIZE == kBackupSize && kBody + kBodySize == kCheck);
}  // namespace block

namespace body {
constexpr size_t kSigningPrivate = 0, kSigningPublic = 32, kEncryptionPrivate = 96;
constexpr size_t kEncryptionPublic = 128, kHasVolumeKey = 192, kVolumeKey = 193;
static_assert(kVolumeKey + kXtsKeySize <= block::kBodySize);
}  // namespace body

// The XTS key (32) and the check key (32) of a block.
struct SealKeys {
    uint8_t bytes[64];
    ~SealKeys() { secure_wipe(bytes, sizeof bytes); }
    const uint8_t* xts() const { return bytes; }
    const uint8_t* check() const { return bytes + 32; }
};

void derive(const uint8_t* password_hash, const uint8_t* salt, SealKeys& keys) {
    uint8_t input[kPasswordHashSize + block::kSaltSize];
    std::memcpy(input, password_hash, kPasswordHashSize);
    std::memcpy(input + kPasswordHashSize, salt, block::kSaltSize);
    sm2_kdf(input, sizeof input, keys.bytes, sizeof keys.bytes);
    secure_wipe(input, sizeof input);
}

void check_value(const SealKeys& keys, const uint8_t* sealed, uint8_t* check) {
    sm3_ctx ctx;
    sm3_init(&ctx);
    sm3_update(&ctx, keys.check(), 32);
    sm3_update(&ctx, sealed + block::kSalt, block::kSaltSize);
    sm3_update(&ctx, sealed + block::kBody, block::kBodySize);
    sm3_final(&ctx, check);
    secure_wipe(&ctx, sizeof ctx);
}

const uint8_t kZeroTweak[kTweakSize] = {};

}  // namespace

uint32_t backup_keys(CardState& card, std::span<const uint8_t> request,
                     std::span<uint8_t> response) {
    const uint32_t status = check_logged_in(card);
    if (status != kOk) return status;
    uint8_t* sealed = response.data() + wire::backup::kBlock;
    if (get_random(sealed + block::kSalt, block::kSaltSize) != 0) {
        std::memset(sealed, 0, kBackupSize);
        return kFailed;
    }
    uint8_t plain[block::kBodySize] = {};
    std::memcpy(plain + body::kSigningPrivate, card.signing.private_key.data(), 32);
    std::memcpy(plain + body::kSigningPublic, card.signing.public_key.data(), 64);
    std::memcpy(plain + body::kEncryptionPrivate, card.encryption.private_key.data(), 32);
    std::memcpy(plain + body::kEncryptionPublic, card.encryption.public_key.data(), 64);
    if (card.volume_key) {
        plain[body::kHasVolumeKey] = 1;
        std::memcpy(plain + body::kVolumeKey, card.volume_key->data(), kXtsKeySize);
    }
    SealKeys keys;
    derive(request.data() + wire::backup::kHash, sealed + block::kSalt, keys);
    sm4_xts(keys.xts(), kZeroTweak, plain, block::kBodySize, sealed + block::kBody, 1);
    check_value(keys, sealed, sealed + block::kCheck);
    secure_wipe(plain, sizeof plain);
    return kOk;
}

uint32_t recover_keys(CardState& card, std::span<const uint8_t> request, std::span<uint8_t>) {
    const uint32_t status = check_logged_in(card);
    if (status != kOk) return status;
    const uint8_t* sealed = request.data() + wire::backup::kRecoverBlock;
    SealKeys keys;
    derive(request.data() + wire::backup::kHash, sealed + block::kSalt, keys);
    uint8_t check[SM3_DIGEST_SIZE];
    check_value(keys, sealed, check);
    if (!crypto_internal::ct_bytes_eq_mask(check, sealed + block::kCheck, sizeof check))
        return kBackupRejected;
    uint8_t plain[block::kBodySize];
    sm4_xts(keys.xts(), kZeroTweak, sealed + block::kBody, block::kBodySize, plain, 0);
    std::memcpy(card.signing.private_key.data(), plain + body::kSigningPrivate, 32);
    std::memcpy(card.signing.public_key.data(), plain + body::kSigningPublic, 64);
    std::memcpy(card.encryption.private_key.data(), plain + body::kEncryptionPrivate, 32);
    std::memcpy(card.encryption.public_key.data(), plain + body::kEncryptionPublic, 64);
    card.volume_key.reset();
    if (plain[body::kHasVolumeKey] == 1) {
        Key32 key;
        std::memcpy(key.data(), plain + body::kVolumeKey, kXtsKeySize);
        card.volume_key = key;
        secure_wipe(key.data(), key.size());
    }
    secure_wipe(plain, sizeof plain);
    return kOk;
}

}  // namespace sim::card
