#include "volume/card_path.h"
#include "volume/exports.h"
#include "volume/steps.h"
#include "volume/trace.h"

namespace {

constexpr DWORD kBeforeFormatMs = 500;
constexpr DWORD kAfterFormatMs = 1000;
constexpr DWORD kBeforeSecondDismountMs = 2000;

// True when the image exists, with *size its size (0 when it may not be opened).
bool probe_image(const char* path, int64_t* size) {
    *size = 0;
    HANDLE image = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (image == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_ACCESS_DENIED;
    LARGE_INTEGER file_size = {};
    if (GetFileSizeEx(image, &file_size)) *size = file_size.QuadPart;
    CloseHandle(image);
    return true;
}

}  // namespace

uint32_t VolumeFailure(const char* operation, const char* detail, uint32_t result, char* error_text,
                       uint32_t error_text_size) {
    ReportLastError(operation, detail, error_text, error_text_size);
    return result;
}

uint32_t VolumeInvalidArgs(const char* operation, char* error_text, uint32_t error_text_size) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return VolumeFailure(operation, "invalid arg", VOLUME_INVALID_ARG, error_text, error_text_size);
}

uint32_t VolumeOutOfMemory(const char* operation, char* error_text,
                           uint32_t error_text_size) noexcept {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    try {
        return VolumeFailure(operation, "failed", VOLUME_FAILED, error_text, error_text_size);
    } catch (...) {
        WriteErrorText(error_text, error_text_size, "[%s]failed", operation);
        return VOLUME_FAILED;
    }
}

uint32_t CreateVolume(const VolumeFormatArgs& args, bool soft, const uint8_t* key, char* error_text,
                      uint32_t error_text_size) {
    API_TRACE(" === QeltFormatVolume ==  entry %s %lld %lu %c \n", args.path,
              static_cast<long long>(args.size), static_cast<unsigned long>(args.deviceNo),
              args.letter);
    const CardDevicePath card = CurrentCardDevicePath();
    const MountRequest request = {
        {args.path, card.text, static_cast<int64_t>(args.size), kVolumeChunkSize, soft, key},
        args.deviceNo,
        args.letter};
    if (!Mount(request, error_text, error_text_size))
        return VolumeFailure(kCreateVolume, "Create volume failed", VOLUME_FAILED, error_text,
                             error_text_size);
    Sleep(kBeforeFormatMs);
    FormatDrive(args.letter);
    Sleep(kAfterFormatMs);
    if (Dismount(args.letter, true, error_text, error_text_size)) return VOLUME_OK;
    Sleep(kBeforeSecondDismountMs);
    if (Dismount(args.letter, true, error_text, error_text_size)) return VOLUME_OK;
    return VolumeFailure(kCreateVolume, "Clean volume failed", VOLUME_FAILED, error_text,
                         error_text_size);
}

uint32_t BeginMountVolume(const VolumeMountArgs* args, uint32_t use_software_key,
                          const uint8_t* key, char* error_text, uint32_t error_text_size) {
    if (!args || !args->path || (use_software_key != 0 && !key))
        return VolumeInvalidArgs(kMountVolume, error_text, error_text_size);
    API_TRACE(" === QeltMountVolume ==  entry %s %lu %c \n", args->path,
              static_cast<unsigned long>(args->deviceNo), args->letter);
    return VOLUME_OK;
}

uint32_t MountImage(const VolumeMountArgs& args, bool soft, const uint8_t* key, char* error_text,
                    uint32_t error_text_size) {
    int64_t image_size = 0;
    if (!probe_image(args.path, &image_size))
        return VolumeFailure(kMountVolume, "Raw file not exists", VOLUME_IMAGE_MISSING, error_text,
                             error_text_size);
    const CardDevicePath card = CurrentCardDevicePath();
    const MountRequest request = {{args.path, card.text, image_size, kVolumeChunkSize, soft, key},
                                  args.deviceNo,
                                  args.letter};
    if (!Mount(request, error_text, error_text_size))
        return VolumeFailure(kMountVolume, "failed", VOLUME_FAILED, error_text, error_text_size);
    return VOLUME_OK;
}

KELVANE_EXPORT uint32_t QeltDismountVolume(const VolumeDismountArgs* args, char* error_text,
                                           uint32_t error_text_size) try {
    if (!args) return VolumeInvalidArgs(kDismountVolume, error_text, error_text_size);
    if (Dismount(args->letter, args->force != 0, error_text, error_text_size)) return VOLUME_OK;
    return VolumeFailure(kDismountVolume, "failed", VOLUME_FAILED, error_text, error_text_size);
} catch (...) {
    return VolumeOutOfMemory(kDismountVolume, error_text, error_text_size);
}

int VolumeNoop() {
    return 0;
}
