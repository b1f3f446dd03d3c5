#include "softcard/envelope_buffer.h"

#include <cstring>

#include "crypto/random.h"
#include "crypto/sm2_encrypt.h"
#include "crypto/sm4.h"
#include "softcard/block_padding.h"
#include "softcard/envelope_format.h"
#include "softcard/keys.h"
#include "softcard/result.h"
#include "softcard/wipe.h"

uint32_t EnvelopeEncryptBuffer(const uint8_t* pke, const uint8_t* data, uint32_t length,
                               uint8_t* out, int32_t* out_length) {
    if (!pke || !data || length == 0 || !out || !out_length) return SC_ARG;
    if (length > 0x7FFFFFFFu - ENVELOPE_HEADER_SIZE - SM4_BLOCK_SIZE) return SC_ARG;
    const uint32_t checked = check_card_login_and_binding();
    if (checked != SC_OK) return checked;
    uint8_t key[ENVELOPE_FILE_KEY_SIZE];
    WipeOnExit wipe(key);
    if (get_random(key, sizeof key) != 0) return SC_FAIL;
    std::memcpy(out + ENVELOPE_PKE, pke, ENVELOPE_PKE_SIZE);
    if (sm2_encrypt(pke, key, sizeof key, out + ENVELOPE_CSK, nullptr) != 0) return SC_FAIL;
    uint8_t* body = out + ENVELOPE_HEADER_SIZE;
    std::memmove(body, data, length);
    uint32_t padded = length;
    PadPkcs7(body, &padded, SM4_BLOCK_SIZE);
    uint8_t iv[SM4_BLOCK_SIZE] = {};
    if (sm4_cbc_encrypt(key, iv, body, padded, body) != 0) return SC_FAIL;
    *out_length = static_cast<int32_t>(padded + ENVELOPE_HEADER_SIZE);
    return SC_OK;
}

uint32_t EnvelopeDecryptBuffer(const uint8_t* in, uint32_t length, uint8_t* out,
                               uint32_t* out_length) {
    if (!in || !out || !out_length) return SC_ARG;
    if (length <= ENVELOPE_HEADER_SIZE || length % SM4_BLOCK_SIZE != 0) return SC_ARG;
    const uint32_t checked = check_card_login_and_binding();
    if (checked != SC_OK) return checked;
    DerivedKeyPairs pairs;
    WipeOnExit wipe_pairs(pairs);
    const uint32_t derived = get_dkp(&pairs);
    if (derived != SC_OK) return derived;
    if (std::memcmp(in + ENVELOPE_PKE, pairs.enc_public, ENVELOPE_PKE_SIZE) != 0) return SC_ARG;
    uint8_t key[ENVELOPE_FILE_KEY_SIZE];
    WipeOnExit wipe_key(key);
    uint32_t key_length = 0;
    if (sm2_decrypt(pairs.enc_private, in + ENVELOPE_CSK, ENVELOPE_CSK_SIZE, key, &key_length) !=
            0 ||
        key_length != sizeof key)
        return SC_FAIL;
    uint8_t iv[SM4_BLOCK_SIZE] = {};
    const uint32_t body = length - ENVELOPE_HEADER_SIZE;
    if (sm4_cbc_decrypt(key, iv, in + ENVELOPE_HEADER_SIZE, body, out) != 0) return SC_FAIL;
    uint32_t plain = body;
    if (UnpadPkcs7(out, &plain) != 0) return SC_FAIL;
    *out_length = plain;
    return SC_OK;
}
