// The volume exports of Kelvane, their argument records and results (declared in the public
// header include/kelvane_shared.h), and the steps that both builds' exports share. The
// software-card build has its own QeltFormatVolume and QeltMountVolume
// (softcard/volume_exports.cc); QeltDismountVolume is the same in both.
//
// On failure the error text (written within its size) is "[operation]detail <the system's message
// for the thread's last error>", with the export's own operation and detail.
#pragma once

#include <cstddef>
#include <cstdint>

#include "card/export.h"
#include "crypto/secure_wipe.h"
#include "include/kelvane_shared.h"
#include "wire/orvik_interface.h"

static_assert(offsetof(VolumeFormatArgs, size) == 8 && offsetof(VolumeFormatArgs, deviceNo) == 16 &&
              offsetof(VolumeFormatArgs, letter) == 20 && sizeof(VolumeFormatArgs) == 24);
static_assert(offsetof(VolumeMountArgs, deviceNo) == 8 && offsetof(VolumeMountArgs, letter) == 12 &&
              sizeof(VolumeMountArgs) == 16);
static_assert(offsetof(VolumeDismountArgs, force) == 1 && sizeof(VolumeDismountArgs) == 2);
static_assert(VOLUME_KEY_SIZE == wire::file_descriptor::kVolumeKeySize);

inline constexpr char kCreateVolume[] = "CreateVolume";
inline constexpr char kMountVolume[] = "MountVolume";
inline constexpr char kDismountVolume[] = "DismountVolume";

// A volume key, wiped when it goes.
struct VolumeKey {
    uint8_t bytes[wire::file_descriptor::kVolumeKeySize] = {};
    VolumeKey() = default;
    VolumeKey(const VolumeKey&) = delete;
    VolumeKey& operator=(const VolumeKey&) = delete;
    ~VolumeKey() { crypto_internal::secure_wipe(bytes, sizeof bytes); }
};

// Writes the export's error text and returns result.
uint32_t VolumeFailure(const char* operation, const char* detail, uint32_t result, char* error_text,
                       uint32_t error_text_size);
// A null record, path or key: result 3, the text "[operation]invalid arg <the system's message for
// an invalid parameter>".
uint32_t VolumeInvalidArgs(const char* operation, char* error_text, uint32_t error_text_size);

// An exception that reached an export (every one that the steps can raise is a failed
// allocation): result 1, the text "[operation]failed <the system's message for
// ERROR_NOT_ENOUGH_MEMORY>". Steps done before it are not undone.
uint32_t VolumeOutOfMemory(const char* operation, char* error_text,
                           uint32_t error_text_size) noexcept;

// A format once its key is known (without soft: card mode): the image created and mounted, the
// format program run, the volume taken down with force (once more after 2 s should that fail). 0; 1
// with "Create volume failed" or "Clean volume failed" (the volume then stays mounted).
uint32_t CreateVolume(const VolumeFormatArgs& args, bool soft, const uint8_t* key, char* error_text,
                      uint32_t error_text_size);

// What both builds' QeltMountVolume begin with: the argument check, whose failure gives the
// result of VolumeInvalidArgs (VOLUME_OK when the arguments hold), and the entry trace.
uint32_t BeginMountVolume(const VolumeMountArgs* args, uint32_t use_software_key,
                          const uint8_t* key, char* error_text, uint32_t error_text_size);

// A mount once its key is known: the image probe (an image that exists but may not be opened,
// access denied, is mounted with the size 0 in the request), then the mount step. 0; 5 with "Raw
// file not exists"; 1 with "failed".
uint32_t MountImage(const VolumeMountArgs& args, bool soft, const uint8_t* key, char* error_text,
                    uint32_t error_text_size);

// Returns 0 and does nothing else; nothing calls it.
int VolumeNoop();
