#include "card/containers/container_steps.h"

#include <cstring>

#include "card/commands/key_slots.h"
#include "card/containers/container_format.h"
#include "card/containers/container_messages.h"
#include "card/containers/padding.h"
#include "card/containers/same_file.h"
#include "card/exchange/result.h"
#include "card/log/log_site.h"
#include "crypto/secure_wipe.h"
#include "platform/win32.h"

namespace {

using container::kBlockSize;

constexpr size_t kPathMax = 254;

}  // namespace

bool container_path_ok(const char* path) {
    if (!path) return false;
    const size_t length = strnlen(path, kPathMax + 1);
    return length >= 1 && length <= kPathMax;
}

uint32_t ContainerFiles::open_for_encryption(LogSite site, const char* plaintext_path,
                                             const char* container_path) {
    plaintext_ = fopen(plaintext_path, "rb");
    if (!plaintext_) {
        LOG_FAILURE(site, MSG_PT_OPEN_FAILED);
        return CARD_FILE_FAILED;
    }
    container_ = same_file(plaintext_path, container_path) ? nullptr : fopen(container_path, "wb");
    if (!container_) {
        LOG_FAILURE(site, MSG_CT_OPEN_FAILED);
        return CARD_FILE_FAILED;
    }
    output_opened_ = true;
    std::setvbuf(container_, nullptr, _IONBF, 0);
    return CARD_OK;
}

uint32_t ContainerFiles::open_for_decryption(LogSite site, const char* container_path,
                                             const char* plaintext_path) {
    plaintext_ = same_file(container_path, plaintext_path) ? nullptr : fopen(plaintext_path, "wb");
    if (!plaintext_) {
        LOG_FAILURE(site, MSG_PT_OPEN_FAILED);
        return CARD_FILE_FAILED;
    }
    output_opened_ = true;
    std::setvbuf(plaintext_, nullptr, _IONBF, 0);
    container_ = fopen(container_path, "rb");
    if (!container_) {
        LOG_FAILURE(site, MSG_CT_OPEN_FAILED);
        return CARD_FILE_FAILED;
    }
    return CARD_OK;
}

void ContainerFiles::close() {
    if (plaintext_) std::fclose(plaintext_);
    if (container_) std::fclose(container_);
    plaintext_ = container_ = nullptr;
}

uint32_t write_name_field(LogSite site, FILE* container, const char* plaintext_path) {
    char name[container::kNameSize] = {};
    get_base_name(plaintext_path, name);
    return write_header_field(site, container, reinterpret_cast<const uint8_t*>(name), sizeof name,
                              "write fn err, cnt[%d]");
}

uint32_t write_header_field(LogSite site, FILE* container, const uint8_t* field, uint32_t size,
                            const char* failure_format) {
    const size_t written = std::fwrite(field, 1, size, container);
    if (written == size) return CARD_OK;
    LOG_FAILURE(site, failure_format, static_cast<int>(written));
    return CARD_FILE_FAILED;
}

uint32_t read_header_field(LogSite site, FILE* container, uint8_t* field, uint32_t size,
                           const char* failure_message) {
    if (std::fread(field, 1, size, container) == size) return CARD_OK;
    LOG_FAILURE(site, "%s", failure_message);
    return CARD_FILE_FAILED;
}

uint32_t container_blocks_length(LogSite site, FILE* container, uint32_t header_size,
                                 uint64_t* blocks_length) {
    const int64_t length = _fseeki64(container, 0, SEEK_END) == 0 ? _ftelli64(container) : -1;
    if (length < 0 || !container::length_ok(static_cast<uint64_t>(length), header_size)) {
        LOG_FAILURE(site, MSG_CT_LENGTH_WRONG);
        return CARD_FILE_FAILED;
    }
    *blocks_length = static_cast<uint64_t>(length) - header_size;
    return CARD_OK;
}

namespace {

uint32_t encrypt_blocks_of(LogSite site, FILE* plaintext, FILE* container, const BlockPath& path,
                           uint8_t* block, uint8_t* out) {
    for (;;) {
        std::memset(block, 0, kBlockSize);
        uint32_t got = static_cast<uint32_t>(std::fread(block, 1, kBlockSize, plaintext));
        const bool last = got < kBlockSize;
        if (last) {
            if (std::ferror(plaintext) || !std::feof(plaintext)) {
                LOG_FAILURE(site, MSG_PT_READ_FAILED);
                return CARD_FILE_FAILED;
            }
            pad_80(block, &got, kBlockSize);
        }
        // A card that hands back fewer bytes leaves the rest zero, not an earlier block.
        std::memset(out, 0, kBlockSize);
        const uint32_t result = path.crypt(path.context, block, out);
        if (result != CARD_OK) {
            LOG_FAILURE(site, path.failure_format, static_cast<int>(result));
            return result;
        }
        const size_t written = std::fwrite(out, 1, kBlockSize, container);
        if (written != kBlockSize) {
            LOG_FAILURE(site, "write ctBlock err[%d]", static_cast<int>(written));
            return CARD_FILE_FAILED;
        }
        if (last) return CARD_OK;
    }
}

uint32_t decrypt_blocks_of(LogSite site, FILE* container, FILE* plaintext, uint64_t remaining,
                           const BlockPath& path, uint8_t* block, uint8_t* hold) {
    uint32_t held = 0;
    while (remaining > 0) {
        std::memset(block, 0, kBlockSize);
        const size_t got = std::fread(block, 1, kBlockSize, container);
        if (got != kBlockSize) {
            LOG_FAILURE(site, MSG_CT_READ_FAILED, static_cast<int>(got));
            return CARD_FILE_FAILED;
        }
        remaining -= kBlockSize;
        std::memset(hold + held, 0, kBlockSize);
        const uint32_t result = path.crypt(path.context, block, hold + held);
        if (result != CARD_OK) {
            LOG_FAILURE(site, path.failure_format, static_cast<int>(result));
            return result;
        }
        held += kBlockSize;
        if (remaining == 0) {
            unpad_80(hold, &held);
            if (std::fwrite(hold, 1, held, plaintext) != held) {
                LOG_FAILURE(site, MSG_WRITE_FINAL_FAILED);
                return CARD_FILE_FAILED;
            }
            return CARD_OK;
        }
        if (held == 2 * kBlockSize) {
            if (std::fwrite(hold, 1, kBlockSize, plaintext) != kBlockSize) {
                LOG_FAILURE(site, MSG_WRITE_PT_BLOCK_FAILED);
                return CARD_FILE_FAILED;
            }
            std::memcpy(hold, hold + kBlockSize, kBlockSize);
            held = kBlockSize;
        }
    }
    return CARD_OK;  // a container of its header alone
}

}  // namespace

uint32_t encrypt_blocks(LogSite site, FILE* plaintext, FILE* container, const BlockPath& path) {
    uint8_t block[kBlockSize], out[kBlockSize];
    const crypto_internal::WipeOnExit wipe(block);
    return encrypt_blocks_of(site, plaintext, container, path, block, out);
}

uint32_t decrypt_blocks(LogSite site, FILE* container, FILE* plaintext, uint64_t blocks_length,
                        const BlockPath& path) {
    uint8_t block[kBlockSize], hold[2 * kBlockSize];
    const crypto_internal::WipeOnExit wipe(hold);
    return decrypt_blocks_of(site, container, plaintext, blocks_length, path, block, hold);
}

void release_slot(uint32_t slot) noexcept {
    if (slot == 0) return;
    try {
        brel_free_sk(slot);
    } catch (...) {
    }
}
