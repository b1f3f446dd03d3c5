// QeltEvEncFile and QeltEvDecFile: files to envelope files and back.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "card/containers/padding.h"
#include "card/containers/same_file.h"
#include "crypto/random.h"
#include "crypto/secure_wipe.h"
#include "crypto/sm2_encrypt.h"
#include "crypto/sm4_xts_units.h"
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

// A heap buffer for the plaintext of a run, wiped before it is freed; null when there is no
// memory for it.
class RunBuffer {
  public:
    explicit RunBuffer(size_t size) : data_(new (std::nothrow) uint8_t[size]), size_(size) {}
    ~RunBuffer() {
        if (data_) crypto_internal::secure_wipe(data_.get(), size_);
    }
    RunBuffer(const RunBuffer&) = delete;
    RunBuffer& operator=(const RunBuffer&) = delete;
    uint8_t* get() const { return data_.get(); }

  private:
    std::unique_ptr<uint8_t[]> data_;
    size_t size_;
};

// Each block is one XTS data unit with the all-zero tweak; a run of them shares one key set-up.
void transform_blocks(const uint8_t* key, uint8_t* data, size_t blocks, bool encrypt) {
    crypto_internal::sm4_xts_units(key, kZeroTweak, data, data, blocks, ENVELOPE_BLOCK_SIZE,
                                   encrypt);
}

uint32_t encrypt_and_write(const uint8_t* key, uint8_t* data, size_t size, FILE* out) {
    transform_blocks(key, data, size / ENVELOPE_BLOCK_SIZE, true);
    if (!write_all(out, data, size)) {
        std::printf(MSG_WRITE_CT_BLOCK_FAILED);
        return SC_FAIL;
    }
    return SC_OK;
}

// run holds ENVELOPE_RUN_SIZE bytes.
uint32_t encrypt_blocks(const uint8_t* key, FILE* in, FILE* out, uint8_t* run) {
    for (;;) {
        const size_t got = std::fread(run, 1, ENVELOPE_RUN_SIZE, in);
        if (got == ENVELOPE_RUN_SIZE) {
            const uint32_t result = encrypt_and_write(key, run, got, out);
            if (result != SC_OK) return result;
            continue;
        }
        const size_t whole = got - got % ENVELOPE_BLOCK_SIZE;
        if (std::ferror(in) || !std::feof(in)) {
            // The whole blocks read before the fault are encrypted and written first.
            if (whole > 0) {
                const uint32_t result = encrypt_and_write(key, run, whole, out);
                if (result != SC_OK) return result;
            }
            std::printf(MSG_PT_READ_FAILED);
            return SC_FAIL;
        }
        // got is below the run, so the padded last block fits behind the whole ones.
        uint32_t rest = static_cast<uint32_t>(got - whole);
        PadIso7816(run + whole, &rest, ENVELOPE_BLOCK_SIZE);
        const uint32_t result = encrypt_and_write(key, run, whole + ENVELOPE_BLOCK_SIZE, out);
        if (result != SC_OK) return result;
        // Buffered bytes that cannot reach the file (a full disk) fail the last block.
        if (std::fflush(out) != 0) {
            std::printf(MSG_WRITE_CT_BLOCK_FAILED);
            return SC_FAIL;
        }
        return SC_OK;
    }
}

// Decrypts blocks blocks, holding back the last one or two for the final cut at the 0x80 pad:
// block i is written once block i + 1 is decrypted and at least one block follows that. Between
// runs one decrypted block waits at the start of run, which holds ENVELOPE_RUN_SIZE bytes and one
// block more.
uint32_t decrypt_blocks(const uint8_t* key, uint64_t blocks, FILE* in, FILE* out, uint8_t* run) {
    uint64_t decrypted = 0, written = 0;
    // Writes the held blocks that the rule above lets go and moves the others to the start.
    auto write_ready = [&](size_t held) -> bool {
        const uint64_t ready_to = decrypted >= 2 ? std::min(decrypted - 1, blocks - 2) : 0;
        const size_t ready = static_cast<size_t>(ready_to > written ? ready_to - written : 0);
        if (ready > 0 && !write_all(out, run, ready * ENVELOPE_BLOCK_SIZE)) return false;
        written += ready;
        std::memmove(run, run + ready * ENVELOPE_BLOCK_SIZE, (held - ready) * ENVELOPE_BLOCK_SIZE);
        return true;
    };
    while (decrypted < blocks) {
        const size_t held = static_cast<size_t>(decrypted - written);
        const size_t want = static_cast<size_t>(
            std::min<uint64_t>(blocks - decrypted, ENVELOPE_RUN_SIZE / ENVELOPE_BLOCK_SIZE));
        uint8_t* at = run + held * ENVELOPE_BLOCK_SIZE;
        const size_t got = std::fread(at, 1, want * ENVELOPE_BLOCK_SIZE, in);
        const size_t whole = got / ENVELOPE_BLOCK_SIZE;
        transform_blocks(key, at, whole, false);
        decrypted += whole;
        if (!write_ready(held + whole)) {
            std::printf(MSG_WRITE_PT_BLOCK_FAILED);
            return SC_DEC_BLOCK_WRITE;
        }
        if (whole < want) {
            std::printf(MSG_CT_READ_FAILED, static_cast<int>(got % ENVELOPE_BLOCK_SIZE));
            return SC_DEC_READ;
        }
    }
    uint32_t final_size = static_cast<uint32_t>(decrypted - written) * ENVELOPE_BLOCK_SIZE;
    unpad_80(run, &final_size);
    if (!write_all(out, run, final_size) || std::fflush(out) != 0) {
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

    RunBuffer run(ENVELOPE_RUN_SIZE);
    if (!run.get()) return SC_FAIL;
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
    return encrypt_blocks(key, in.get(), out.get(), run.get());
} catch (...) {
    return SC_FAIL;
}

KELVANE_EXPORT uint32_t QeltEvDecFile(const char* ctFileName, const char* ptFileName) try {
    if (!envelope_path_ok(ctFileName) || !envelope_path_ok(ptFileName)) return SC_ARG;
    const uint32_t checked = check_card_login_and_binding();
    if (checked != SC_OK) return checked;
    if (same_file(ctFileName, ptFileName)) return SC_FAIL;

    RunBuffer run(ENVELOPE_RUN_SIZE + ENVELOPE_BLOCK_SIZE);
    if (!run.get()) return SC_FAIL;
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
    return decrypt_blocks(key, blocks, in.get(), out.get(), run.get());
} catch (...) {
    return SC_FAIL;
}
