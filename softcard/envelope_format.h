// The envelope file: pke (64) || csk (128) || SM4-XTS blocks of 512 bytes, the last one padded
// with 0x80 and zeros; every block uses the all-zero tweak.
#pragma once

#include <cstdint>

constexpr uint32_t ENVELOPE_PKE = 0;
constexpr uint32_t ENVELOPE_PKE_SIZE = 64;
constexpr uint32_t ENVELOPE_CSK = 64;
constexpr uint32_t ENVELOPE_CSK_SIZE = 128;  // an sm2_ciphertext of the 32-byte file key
constexpr uint32_t ENVELOPE_HEADER_SIZE = ENVELOPE_CSK + ENVELOPE_CSK_SIZE;
constexpr uint32_t ENVELOPE_BLOCK_SIZE = 512;
constexpr uint32_t ENVELOPE_FILE_KEY_SIZE = 32;
// The envelope functions read, transform and write the blocks in runs of this many bytes: one
// fread or fwrite and one key set-up per run. Not part of the format.
constexpr uint32_t ENVELOPE_RUN_SIZE = 1 << 20;
static_assert(ENVELOPE_HEADER_SIZE == 192);
static_assert(ENVELOPE_RUN_SIZE % ENVELOPE_BLOCK_SIZE == 0);
static_assert(ENVELOPE_FILE_KEY_SIZE + 96 == ENVELOPE_CSK_SIZE);

constexpr uint32_t MAX_PATH_LENGTH = 254;

// 3 unless the path is non-null and 1 to 254 characters long.
bool envelope_path_ok(const char* path);

// The checks of the envelope functions after their arguments: card state, login, binding.
uint32_t check_card_login_and_binding();
