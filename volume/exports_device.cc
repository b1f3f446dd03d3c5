// The device build's format and mount: card mode (the card encrypts the sectors), or for a mount a
// key that the caller supplies.
#include <cstring>

#include "volume/card_path.h"
#include "volume/exports.h"
#include "volume/trace.h"

KELVANE_EXPORT uint32_t QeltFormatVolume(const VolumeFormatArgs* args, char* errorText,
                                         uint32_t errorTextSize) try {
    if (!args || !args->path) return VolumeInvalidArgs(kCreateVolume, errorText, errorTextSize);
    const VolumeKey key;  // zero: the card encrypts
    if (QeltInit() != 0)
        return VolumeFailure(kCreateVolume, "Card error", VOLUME_NO_CARD, errorText, errorTextSize);
    return CreateVolume(*args, 0, key.bytes, errorText, errorTextSize);
} catch (...) {
    return VolumeOutOfMemory(kCreateVolume, errorText, errorTextSize);
}

KELVANE_EXPORT uint32_t QeltMountVolume(const VolumeMountArgs* args, char* errorText,
                                        uint32_t errorTextSize, uint32_t useSoftwareKey,
                                        const uint8_t* key) try {
    if (!args || !args->path || (useSoftwareKey != 0 && !key))
        return VolumeInvalidArgs(kMountVolume, errorText, errorTextSize);
    VolumeKey volume_key;
    API_TRACE(" === QeltMountVolume ==  entry %s %lu %c \n", args->path,
              static_cast<unsigned long>(args->deviceNo), args->letter);
    if (useSoftwareKey != 0) {
        std::memcpy(volume_key.bytes, key, sizeof volume_key.bytes);
        LogHexDump("SWkey", volume_key.bytes, sizeof volume_key.bytes);
    } else if (QeltInit() != 0) {
        return VolumeFailure(kMountVolume, "Card error", VOLUME_NO_CARD, errorText, errorTextSize);
    }
    return MountImage(*args, useSoftwareKey != 0, volume_key.bytes, errorText, errorTextSize);
} catch (...) {
    return VolumeOutOfMemory(kMountVolume, errorText, errorTextSize);
}
