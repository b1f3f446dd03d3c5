// Key backup and recovery: the card's 304-byte backup block, kept in a file of exactly those
// bytes, tied to the SM3 digest of a password.
#include "card/commands/key_backup.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "card/card_api.h"
#include "card/exchange/command_frame.h"
#include "card/exchange/exchange.h"
#include "card/exchange/failures.h"
#include "card/exchange/result.h"
#include "crypto/secure_wipe.h"
#include "crypto/sm3.h"
#include "platform/win32.h"

namespace {

using frame::kHeaderSize;
using frame::kPayloadOffset;

// "备份文件打开失败" (backup file open failed)
#define MSG_BACKUP_OPEN_FAILED "\xb1\xb8\xb7\xdd\xce\xc4\xbc\xfe\xb4\xf2\xbf\xaa\xca\xa7\xb0\xdc"

constexpr uint32_t kFileNameMax = 255;
constexpr uint32_t kPasswordMin = 8;

// 0x735: the hash in, the block out.
constexpr uint32_t kHashOffset = kPayloadOffset;
constexpr uint32_t kBackupOutOffset = kPayloadOffset;
constexpr CardCommand kBackup = {CMD_BACKUP_XK, kHashOffset + PASSWORD_HASH_SIZE,
                                 kBackupOutOffset + BACKUP_DATA_SIZE};
static_assert(kBackup.request_length == 48 && kBackup.response_length == 320);

// 0x736: the hash and the block in.
constexpr uint32_t kBackupInOffset = kHashOffset + PASSWORD_HASH_SIZE;
constexpr CardCommand kRecovery = {CMD_RECOVERY_XK, kBackupInOffset + BACKUP_DATA_SIZE,
                                   kHeaderSize};
static_assert(kRecovery.request_length == 352);

bool arguments_ok(const char* file_name, const char* password) {
    if (!file_name || !password) return false;
    const size_t name_length = strnlen(file_name, kFileNameMax + 1);
    return name_length >= 1 && name_length <= kFileNameMax &&
           strnlen(password, kPasswordMin) == kPasswordMin;
}

// SM3 of the password's characters, without its NUL.
void password_hash(const char* password, uint8_t* hash) {
    sm3_ctx ctx;
    sm3_init(&ctx);
    const auto* text = reinterpret_cast<const uint8_t*>(password);
    // Lengths beyond 32 bits go in pieces.
    for (size_t left = std::strlen(password); left > 0;) {
        const uint32_t piece = left > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(left);
        sm3_update(&ctx, text, piece);
        text += piece;
        left -= piece;
    }
    sm3_final(&ctx, hash);
    crypto_internal::secure_wipe(&ctx, sizeof ctx);
}

// The backup file, closed as the scope ends: on every path.
using BackupFile = std::unique_ptr<FILE, int (*)(FILE*)>;

BackupFile open_backup_file(LogSite site, const char* file_name, const char* mode) {
    BackupFile file(fopen(file_name, mode), std::fclose);
    if (!file) LOG_FAILURE(site, MSG_BACKUP_OPEN_FAILED);
    return file;
}

// The backup block, once the card has answered, replaces the file's contents. Unbuffered, so
// that a short write shows in the count.
uint32_t write_backup_file(LogSite site, const char* file_name, const uint8_t* backup_data) {
    const BackupFile file = open_backup_file(site, file_name, "wb");
    if (!file) return CARD_FILE_FAILED;
    std::setvbuf(file.get(), nullptr, _IONBF, 0);
    const size_t written = std::fwrite(backup_data, 1, BACKUP_DATA_SIZE, file.get());
    if (written == BACKUP_DATA_SIZE) return CARD_OK;
    LOG_FAILURE(site, "write backup_data err[%d]", static_cast<int>(written));
    return CARD_FILE_FAILED;
}

}  // namespace

uint32_t brel_backup_xk(const uint8_t* password_hash, uint8_t* backup_data) {
    if (!password_hash || !backup_data) return invalid_argument(LOG_SITE);
    return card_exchange(
        LOG_SITE, kBackup,
        [&](uint8_t* request) {
            std::memcpy(request + kHashOffset, password_hash, PASSWORD_HASH_SIZE);
        },
        [&](const uint8_t* response) {
            std::memcpy(backup_data, response + kBackupOutOffset, BACKUP_DATA_SIZE);
        });
}

uint32_t brel_recovery_xk(const uint8_t* password_hash, const uint8_t* backup_data) {
    if (!password_hash || !backup_data) return invalid_argument(LOG_SITE);
    return card_exchange(
        LOG_SITE, kRecovery,
        [&](uint8_t* request) {
            std::memcpy(request + kHashOffset, password_hash, PASSWORD_HASH_SIZE);
            std::memcpy(request + kBackupInOffset, backup_data, BACKUP_DATA_SIZE);
        },
        kNoOutputs);
}

KELVANE_EXPORT uint32_t QeltBackupXk(const char* file_name, const char* password) try {
    const LogSite site = LOG_SITE;
    if (!arguments_ok(file_name, password)) return invalid_argument(site);
    // Opened for appending, the file is checked for writing (and created) without losing what it
    // holds: its earlier contents stay until the card's block is in hand.
    if (!open_backup_file(site, file_name, "ab")) return CARD_FILE_FAILED;
    uint8_t hash[PASSWORD_HASH_SIZE];
    const crypto_internal::WipeOnExit wipe_hash(hash);
    password_hash(password, hash);
    uint8_t backup_data[BACKUP_DATA_SIZE] = {};
    const crypto_internal::WipeOnExit wipe_data(backup_data);
    const uint32_t result = brel_backup_xk(hash, backup_data);
    return result == CARD_OK ? write_backup_file(site, file_name, backup_data) : result;
} catch (...) {
    return out_of_memory(LOG_SITE);
}

KELVANE_EXPORT uint32_t QeltRecoveryXk(const char* file_name, const char* password) try {
    const LogSite site = LOG_SITE;
    if (!arguments_ok(file_name, password)) return invalid_argument(site);
    const BackupFile file = open_backup_file(site, file_name, "rb");
    if (!file) return CARD_FILE_FAILED;
    uint8_t backup_data[BACKUP_DATA_SIZE];
    const crypto_internal::WipeOnExit wipe_data(backup_data);
    const size_t got = std::fread(backup_data, 1, BACKUP_DATA_SIZE, file.get());
    if (got != BACKUP_DATA_SIZE) {
        LOG_FAILURE(site, "read backup_data err[%d]", static_cast<int>(got));
        return CARD_FILE_FAILED;
    }
    uint8_t hash[PASSWORD_HASH_SIZE];
    const crypto_internal::WipeOnExit wipe_hash(hash);
    password_hash(password, hash);
    return brel_recovery_xk(hash, backup_data);
} catch (...) {
    return out_of_memory(LOG_SITE);
}
