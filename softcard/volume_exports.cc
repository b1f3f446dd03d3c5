// The software card's format and mount: no card encrypts, so Orvik always encrypts in software
// mode, under the caller's key or the volume key kept in the store file. The volume steps are
// the device build's; this build does not look for a card (QeltInit returns 0).
#include "softcard/volume_exports.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "card/log/log.h"
#include "crypto/hex.h"
#include "softcard/store.h"
#include "volume/card_path.h"
#include "volume/exports.h"
#include "volume/trace.h"

namespace {

constexpr uint64_t kMaxDumpedKey = 1024;
constexpr size_t kDumpTextSize = 3000;

// The stored volume key; false when there is none or the store cannot be read.
bool stored_key(VolumeKey* key) {
    uint32_t length = 0;
    return get_key(key->bytes, &length) == SC_OK && length == sizeof key->bytes;
}

}  // namespace

void DumpKeyHex(const char* name, const uint8_t* data, uint64_t length) {
    if (length == 0 || length > kMaxDumpedKey || !name || !data) return;
    char text[kDumpTextSize] = {};
    const int written = std::snprintf(text, sizeof text, "%s:", name);
    // A name too long for the text cuts the hex short (at the worst, leaves none).
    const size_t used = std::min(static_cast<size_t>(written < 0 ? 0 : written), sizeof text - 1);
    const uint64_t fits = std::min<uint64_t>(length, (sizeof text - 1 - used) / 2);
    bytes_to_hex(data, static_cast<int32_t>(fits), text + used);
    LogPrint(LOG_TRACE, kApiSource, __LINE__, "%s:", text);
    crypto_internal::secure_wipe(text, sizeof text);
}

void HexDumpNoop(const char*, const uint8_t*, uint64_t) {}

KELVANE_EXPORT uint32_t QeltFormatVolume(const VolumeFormatArgs* args, char* error_text,
                                         uint32_t error_text_size) try {
    if (!args || !args->path) return VolumeInvalidArgs(kCreateVolume, error_text, error_text_size);
    if (QeltInit() != 0)
        return VolumeFailure(kCreateVolume, "Card error", VOLUME_NO_CARD, error_text,
                             error_text_size);
    VolumeKey key;
    if (!stored_key(&key))
        return VolumeFailure(kCreateVolume, "Get key failed", VOLUME_NO_KEY, error_text,
                             error_text_size);
    return CreateVolume(*args, true, key.bytes, error_text, error_text_size);
} catch (...) {
    return VolumeOutOfMemory(kCreateVolume, error_text, error_text_size);
}

KELVANE_EXPORT uint32_t QeltMountVolume(const VolumeMountArgs* args, char* error_text,
                                        uint32_t error_text_size, uint32_t use_software_key,
                                        const uint8_t* key) try {
    const uint32_t refused =
        BeginMountVolume(args, use_software_key, key, error_text, error_text_size);
    if (refused != VOLUME_OK) return refused;
    if (QeltInit() != 0)
        return VolumeFailure(kMountVolume, "Card error", VOLUME_NO_CARD, error_text,
                             error_text_size);
    VolumeKey volume_key;
    if (use_software_key != 0) {
        std::memcpy(volume_key.bytes, key, sizeof volume_key.bytes);
        DumpKeyHex("SWkey", volume_key.bytes, sizeof volume_key.bytes);
    } else if (stored_key(&volume_key)) {
        DumpKeyHex("HWkey", volume_key.bytes, sizeof volume_key.bytes);
    } else {
        return VolumeFailure(kMountVolume, "Get key failed", VOLUME_NO_KEY, error_text,
                             error_text_size);
    }
    return MountImage(*args, true, volume_key.bytes, error_text, error_text_size);
} catch (...) {
    return VolumeOutOfMemory(kMountVolume, error_text, error_text_size);
}
