// The card's key slots (1..128): it makes a file key in a slot and hands it back wrapped, takes a
// wrapped key into a slot, encrypts or decrypts up to 4096 bytes with SM4-XTS under a slot, and
// frees a slot. A key the card makes never leaves it in clear. Each is one exchange; outputs are
// written only on status 0.
#pragma once

#include <cstdint>

constexpr uint32_t KEY_SLOT_MIN = 1;
constexpr uint32_t KEY_SLOT_MAX = 128;
constexpr uint32_t WRAPPED_KEY_SIZE = 128;  // an SM2 ciphertext of a 32-byte key
constexpr uint32_t XTS_TWEAK_SIZE = 16;
constexpr uint32_t CARD_XTS_MAX = 4096;

// A fresh key in a slot, wrapped under pke (64-byte public key) into skCt (128 bytes).
uint32_t brel_gen_wrapped_sk(const uint8_t* pke, uint8_t* skCt, uint32_t* slot);
// The card unwraps skCt (128 bytes) with its encryption key into a slot.
uint32_t brel_import_sk(const uint8_t* skCt, uint32_t* slot);
uint32_t brel_free_sk(uint32_t slot);
// len: a nonzero multiple of 16, at most 4096; out receives the card's count of bytes, at most
// len.
uint32_t brel_xts_enc(uint32_t slot, const uint8_t* tweak, const uint8_t* in, uint32_t len,
                      uint8_t* out);
uint32_t brel_xts_dec(uint32_t slot, const uint8_t* tweak, const uint8_t* in, uint32_t len,
                      uint8_t* out);
