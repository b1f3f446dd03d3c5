// Key pairs from the seed (private key = SM3-KDF(seed || label)), and the key exports.
#include "softcard/keys.h"

#include <cstring>

#include "crypto/sm2.h"
#include "crypto/sm2_encrypt.h"
#include "softcard/exports.h"
#include "softcard/result.h"
#include "softcard/session.h"
#include "softcard/wipe.h"

namespace {

constexpr uint32_t LABEL_SIZE = 8;
constexpr uint8_t kSignLabel[LABEL_SIZE] = {0x73, 0xc0, 0x9e, 0x2b, 0x5a, 0x41, 0xf8, 0x6d};
constexpr uint8_t kEncLabel[LABEL_SIZE] = {0xb8, 0x1d, 0x46, 0xe0, 0xc3, 0x92, 0x7a, 0x5f};
constexpr uint32_t IMPORT_SIZE = STORE_VOLUME_KEY_SIZE + SM2_CIPHERTEXT_OVERHEAD;
static_assert(IMPORT_SIZE == IMPORT_KEY_SIZE);

void derive_pair(const uint8_t* seed, const uint8_t* label, uint8_t* priv, uint8_t* pub) {
    uint8_t input[STORE_SEED_SIZE + LABEL_SIZE];
    WipeOnExit wipe(input);
    std::memcpy(input, seed, STORE_SEED_SIZE);
    std::memcpy(input + STORE_SEED_SIZE, label, LABEL_SIZE);
    sm2_kdf(input, sizeof input, priv, SM2_PRIVATE_KEY_SIZE);
    // Keeps the key below the curve order.
    if (priv[0] == 0xFF) priv[0] = 0xFE;
    sm2_pubkey_from_private(priv, pub);
}

}  // namespace

uint32_t get_dkp(DerivedKeyPairs* pairs) {
    if (!pairs) return SC_ARG;
    CardRecord record;
    WipeOnExit wipe(record);
    const uint32_t result = read_card_record(&record);
    if (result != SC_OK) return result;
    derive_pair(record.seed, kSignLabel, pairs->sign_private, pairs->sign_public);
    derive_pair(record.seed, kEncLabel, pairs->enc_private, pairs->enc_public);
    return SC_OK;
}

namespace {

// The checks of the key exports after their arguments (card state, then login), then the pairs.
uint32_t logged_in_key_pairs(DerivedKeyPairs* pairs) {
    const uint32_t state = CheckCardState();
    if (state != SC_OK) return state;
    if (!card_session().loggedIn) return SC_NOT_LOGGED_IN;
    return get_dkp(pairs);
}

}  // namespace

KELVANE_EXPORT uint32_t QeltImportKey(const uint8_t* ciphertext, int32_t length) try {
    if (!ciphertext || length != static_cast<int32_t>(IMPORT_SIZE)) return SC_ARG;
    DerivedKeyPairs pairs;
    WipeOnExit wipe_pairs(pairs);
    const uint32_t result = logged_in_key_pairs(&pairs);
    if (result != SC_OK) return result;
    uint8_t key[STORE_VOLUME_KEY_SIZE];
    WipeOnExit wipe_key(key);
    uint32_t key_length = 0;
    if (sm2_decrypt(pairs.enc_private, ciphertext, IMPORT_SIZE, key, &key_length) != 0 ||
        key_length != sizeof key)
        return SC_FAIL;
    return StoreVolumeKey(key);
} catch (...) {
    return SC_FAIL;
}

KELVANE_EXPORT uint32_t QeltExportPubkeys(uint8_t* sign_public_key, uint8_t* enc_public_key) try {
    if (!sign_public_key || !enc_public_key) return SC_ARG;
    DerivedKeyPairs pairs;
    WipeOnExit wipe(pairs);
    const uint32_t result = logged_in_key_pairs(&pairs);
    if (result != SC_OK) return result;
    std::memcpy(sign_public_key, pairs.sign_public, sizeof pairs.sign_public);
    std::memcpy(enc_public_key, pairs.enc_public, sizeof pairs.enc_public);
    return SC_OK;
} catch (...) {
    return SC_FAIL;
}

KELVANE_EXPORT uint32_t QeltSm2SignIn(const uint8_t* message, int32_t length,
                                      uint8_t* signature) try {
    if (!message || length <= 0 || !signature) return SC_ARG;
    DerivedKeyPairs pairs;
    WipeOnExit wipe(pairs);
    const uint32_t result = logged_in_key_pairs(&pairs);
    if (result != SC_OK) return result;
    uint8_t produced[SM2_SIGNATURE_SIZE];
    if (sm2_sign(pairs.sign_private, pairs.sign_public, message, static_cast<uint32_t>(length),
                 produced) != 0)
        return SC_FAIL;
    std::memcpy(signature, produced, sizeof produced);
    return SC_OK;
} catch (...) {
    return SC_FAIL;
}
