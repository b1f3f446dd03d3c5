// The device build's format and mount: card mode (the card encrypts the sectors), or for a mount a
// key that the caller supplies.
#include <cstring>

#include "volume/card_path.h"
#include "volume/exports.h"
#include "volume/trace.h"

KELVANE_EXPORT uint32_t QeltFormatVolume(const VolumeFormatArgs* args, char* error_text,
                                         uint32_t error_text_size) try {
    if (!args || !args->path) return VolumeInvalidArgs(kCreateVolume, error_text, error_text_size);
    const VolumeKey key;  // zero: the card encrypts
    if (QeltInit() != 0)
        return VolumeFailure(kCreateVolume, "Card error", VOLUME_NO_CARD, error_text,
                             error_text_size);
    return CreateVolume(*args, false, key.bytes, error_text, error_text_size);
} catch (...) {
    return VolumeOutOfMemory(kCreateVolume, error_text, error_text_size);
}

KELVANE_EXPORT uint32_t QeltMountVolume(const VolumeMountArgs* args, char* error_text,
                                        uint32_t error_text_size, uint32_t use_software_key,
                                        const uint8_t* key) try {
    const uint32_t refused =
        BeginMountVolume(args, use_software_key, key, error_text, error_text_size);
    if (refused != VOLUME_OK) return refused;
    VolumeKey volume_key;
    if (use_software_key != 0) {
        std::memcpy(volume_key.bytes, key, sizeof volume_key.bytes);
        LogHexDump("SWkey", volume_key.bytes, sizeof volume_key.bytes);
    } else if (QeltInit() != 0) {
        return VolumeFailure(kMountVolume, "Card error", VOLUME_NO_CARD, error_text,
                             error_text_size);
    }
    return MountImage(*args, use_software_key != 0, volume_key.bytes, error_text, error_text_size);
} catch (...) {
    return VolumeOutOfMemory(kMountVolume, error_text, error_text_size);
}
