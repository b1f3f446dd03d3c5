// QeltEvEncFile and QeltEvDecFile: files to envelope files and back.
#include <cstdio>
#include <cstring>

#include "card/padding.h"
#include "card/same_file.h"
#include "crypto/random.h"
#include "crypto/sm2_encrypt.h"
#include "crypto/sm4_xts.h"
#include "platform/win32.h"
#include "softcard/block_padding.h"
#include "softcard/envelope_format.h"
#include "softcard/envelope_messages.h"
#include "softcard/exports.h"
#include "softcard/keys.h"
#include "softcard/result.h"
#include "softcard/wipe.h"

namespace {

constexpr uint8_t kZeroTweak[16] = {};

// Closes the file when the scope ends, on every path.
class ScopedFile {
  public:
    ScopedFile(const char* path, const char* mode) : file_(fopen(path, mode)) {}
    ~ScopedFile() {
        if (file_) std::fclose(file_);
    }
    ScopedFile(const ScopedFile&) = delete;
    ScopedFile& operator=(const ScopedFile&) = delete;
    FILE* get() const { return file_; }

  private:
    FILE* file_;
};

bool write_all(FILE* file, const uint8_t* data, size_t size) {
    return std::fwrite(data, 1, size, file) == size;
}

// The file's length as a 64-bit position, or -1 when it cannot be taken.
int64_t file_length(FILE* file) {
    if (_fseeki64(file, 0, SEEK_END) != 0) return -1;
    return _ftelli64(file);
}

uint32_t encrypt_and_write(const uint8_t* key, uint8_t* block, FILE* out) {
    uint8_t ct[ENVELOPE_BLOCK_SIZE];
    if (sm4_xts_encrypt(key, kZeroTweak, block, ENVELOPE_BLOCK_SIZE, ct) != 0) {
        std::printf("sm4_xts_encrypt err\n");
        return SC_FAIL;
    }
    if (!write_all(out, ct, sizeof ct)) {
        std::printf(MSG_WRITE_CT_BLOCK_FAILED);
        return SC_FAIL;
    }
    return SC_OK;
}

uint32_t encrypt_blocks(const uint8_t* key, FILE* in, FILE* out) {
    uint8_t block[ENVELOPE_BLOCK_SIZE];
    WipeOnExit wipe(block);
    for (;;) {
        std::memset(block, 0, sizeof block);
        uint32_t got = static_cast<uint32_t>(std::fread(block, 1, sizeof block, in));
        if (got == ENVELOPE_BLOCK_SIZE) {
            const uint32_t result = encrypt_and_write(key, block, out);
            if (result != SC_OK) return result;
            continue;
        }
        if (std::ferror(in) || !std::feof(in)) {
            std::printf(MSG_PT_READ_FAILED);
            return SC_FAIL;
        }
        PadIso7816(block, &got, ENVELOPE_BLOCK_SIZE);
        const uint32_t result = encrypt_and_write(key, block, out);
        if (result != SC_OK) return result;
        // Buffered bytes that cannot reach the file (a full disk) fail the last block.
        if (std::fflush(out) != 0) {
            std::printf(MSG_WRITE_CT_BLOCK_FAILED);
            return SC_FAIL;
        }
        return SC_OK;
    }
}

// Decrypts blocks blocks, holding back the last one or two for the final cut at the 0x80 pad.
uint32_t decrypt_blocks(const uint8_t* key, uint64_t blocks, FILE* in, FILE* out) {
    uint8_t ct[ENVELOPE_BLOCK_SIZE];
    uint8_t held[2 * ENVELOPE_BLOCK_SIZE];
    WipeOnExit wipe(held);
    uint32_t held_size = 0;
    for (uint64_t b = 0; b < blocks; ++b) {
        const size_t got = std::fread(ct, 1, sizeof ct, in);
        if (got != sizeof ct) {
            std::printf(MSG_CT_READ_FAILED, static_cast<int>(got));
            return SC_DEC_READ;
        }
        if (sm4_xts_decrypt(key, kZeroTweak, ct, sizeof ct, held + held_size) != 0) {
            std::printf("sm4_xts_decrypt err\n");
            return SC_DEC_DECRYPT;
        }
        held_size += ENVELOPE_BLOCK_SIZE;
        if (b + 1 < blocks && held_size == sizeof held) {
            if (!write_all(out, held, ENVELOPE_BLOCK_SIZE)) {
                std::printf(MSG_WRITE_PT_BLOCK_FAILED);
                return SC_DEC_BLOCK_WRITE;
            }
            std::memcpy(held, held + ENVELOPE_BLOCK_SIZE, ENVELOPE_BLOCK_SIZE);
            held_size = ENVELOPE_BLOCK_SIZE;
        }
    }
    unpad_80(held, &held_size);
    if (!write_all(out, held, held_size) || std::fflush(out) != 0) {
        std::printf(MSG_WRITE_FINAL_FAILED);
        return SC_DEC_FINAL_WRITE;
    }
    return SC_OK;
}

}  // namespace

KELVANE_EXPORT uint32_t QeltEvEncFile(const uint8_t* pke, const char* ptFileName,
                                      const char* ctFileName) try {
    if (!pke || !envelope_path_ok(ptFileName) || !envelope_path_ok(ctFileName)) return SC_ARG;
    const uint32_t checked = check_card_login_and_binding();
    if (checked != SC_OK) return checked;
    if (same_file(ptFileName, ctFileName)) return SC_FAIL;

    uint8_t key[ENVELOPE_FILE_KEY_SIZE];
    WipeOnExit wipe(key);
    if (get_random(key, sizeof key) != 0) return SC_FAIL;
    uint8_t csk[ENVELOPE_CSK_SIZE];
    if (sm2_encrypt(pke, key, sizeof key, csk, nullptr) != 0) return SC_FAIL;

    ScopedFile in(ptFileName, "rb");
    if (!in.get()) {
        std::printf(MSG_PT_OPEN_FAILED);
        return SC_FAIL;
    }
    ScopedFile out(ctFileName, "wb");
    if (!out.get()) {
        std::printf(MSG_CT_OPEN_FAILED);
        return SC_FAIL;
    }
    if (!write_all(out.get(), pke, ENVELOPE_PKE_SIZE)) {
        std::printf(MSG_WRITE_PKE_FAILED);
        return SC_FAIL;
    }
    if (!write_all(out.get(), csk, sizeof csk)) {
        std::printf(MSG_WRITE_CSK_FAILED);
        return SC_FAIL;
    }
    return encrypt_blocks(key, in.get(), out.get());
} catch (...) {
    return SC_FAIL;
}

KELVANE_EXPORT uint32_t QeltEvDecFile(const char* ctFileName, const char* ptFileName) try {
    if (!envelope_path_ok(ctFileName) || !envelope_path_ok(ptFileName)) return SC_ARG;
    const uint32_t checked = check_card_login_and_binding();
    if (checked != SC_OK) return checked;
    if (same_file(ctFileName, ptFileName)) return SC_FAIL;

    ScopedFile out(ptFileName, "wb");
    if (!out.get()) {
        std::printf(MSG_PT_OPEN_FAILED);
        return SC_FAIL;
    }
    ScopedFile in(ctFileName, "rb");
    if (!in.get()) {
        std::printf(MSG_CT_OPEN_FAILED);
        return SC_FAIL;
    }
    const int64_t length = file_length(in.get());
    if (length < ENVELOPE_HEADER_SIZE ||
        (length - ENVELOPE_HEADER_SIZE) % ENVELOPE_BLOCK_SIZE != 0) {
        std::printf(MSG_CT_LENGTH_WRONG);
        return SC_FAIL;
    }
    std::rewind(in.get());
    uint8_t pke[ENVELOPE_PKE_SIZE];
    if (std::fread(pke, 1, sizeof pke, in.get()) != sizeof pke) {
        std::printf(MSG_READ_PKE_FAILED);
        return SC_FAIL;
    }
    uint8_t csk[ENVELOPE_CSK_SIZE];
    if (std::fread(csk, 1, sizeof csk, in.get()) != sizeof csk) {
        std::printf(MSG_READ_CSK_FAILED);
        return SC_FAIL;
    }
    DerivedKeyPairs pairs;
    WipeOnExit wipe_pairs(pairs);
    const uint32_t derived = get_dkp(&pairs);
    if (derived != SC_OK) {
        std::printf("get_dkp err\n");
        return derived;
    }
    if (std::memcmp(pke, pairs.enc_public, sizeof pke) != 0) {
        std::printf(MSG_PKE_MISMATCH);
        return SC_FAIL;
    }
    uint8_t key[ENVELOPE_FILE_KEY_SIZE];
    WipeOnExit wipe_key(key);
    uint32_t key_length = 0;
    if (sm2_decrypt(pairs.enc_private, csk, sizeof csk, key, &key_length) != 0 ||
        key_length != sizeof key) {
        std::printf("sm2_decrypt err\n");
        return SC_FAIL;
    }
    const uint64_t blocks =
        static_cast<uint64_t>(length - ENVELOPE_HEADER_SIZE) / ENVELOPE_BLOCK_SIZE;
    return decrypt_blocks(key, blocks, in.get(), out.get());
} catch (...) {
    return SC_FAIL;
}
