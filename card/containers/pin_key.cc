#include "card/containers/pin_key.h"

#include <cstring>

#include "base/byte_access.h"
#include "card/card_api.h"
#include "card/commands/key_slots.h"
#include "card/exchange/result.h"
#include "crypto/secure_wipe.h"
#include "crypto/sm2.h"
#include "crypto/sm2_encrypt.h"
#include "crypto/sm3.h"

namespace {

constexpr uint32_t kKeySize = 32;
constexpr uint32_t kConstantSize = 16;
constexpr uint32_t kPinFieldSize = 16;
constexpr uint32_t kConstantOffset = kPinFieldSize;
constexpr uint32_t kSaltOffset = kConstantOffset + kConstantSize;
constexpr uint32_t kInputSize = kSaltOffset + PIN_KEY_SALT_SIZE;
// The check value's input reuses the buffer: the key, then the constant.
constexpr uint32_t kMacConstantOffset = kKeySize;
static_assert(kInputSize == 48 && kMacConstantOffset + kConstantSize == kInputSize);

// The key constant, fixed for the system: containers written under one value open under no
// other. Assembled on use from four words.
void key_constant(uint8_t* out) {
    constexpr uint32_t kWords[] = {0x7bc5e131, 0xcdf5bb20, 0xe0177ca4, 0x51f7675a};
    static_assert(sizeof kWords == kConstantSize);
    for (uint32_t i = 0; i < 4; ++i) bytes::store_be32(out + 4 * i, kWords[i]);
}

}  // namespace

uint32_t gen_key(const char* pin, const uint8_t* salt, uint32_t* slot, uint8_t* mac) {
    uint8_t input[kInputSize] = {};
    const crypto_internal::WipeOnExit wipe_input(input);
    std::memcpy(input, pin, strnlen(pin, kPinFieldSize));
    key_constant(input + kConstantOffset);
    std::memcpy(input + kSaltOffset, salt, PIN_KEY_SALT_SIZE);
    uint8_t key[kKeySize];
    const crypto_internal::WipeOnExit wipe_key(key);
    sm2_kdf(input, kInputSize, key, kKeySize);

    uint8_t sign_public[SM2_PUBLIC_KEY_SIZE], enc_public[SM2_PUBLIC_KEY_SIZE];
    uint32_t result = QeltExportPubkeys(sign_public, enc_public);
    if (result == CARD_OK) {
        uint8_t wrapped[WRAPPED_KEY_SIZE];
        if (sm2_encrypt(enc_public, key, kKeySize, wrapped, nullptr) != 0) {
            result = CARD_SM2_FAILED;
        } else {
            result = brel_import_sk(wrapped, slot);
            std::memcpy(input, key, kKeySize);
            key_constant(input + kMacConstantOffset);
            sm3(input, kInputSize, mac);
        }
    }
    return result;
}
