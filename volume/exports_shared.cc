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

uint32_t VolumeFailure(const char* operation, const char* detail, uint32_t result, char* errorText,
                       uint32_t errorTextSize) {
    ReportLastError(operation, detail, errorText, errorTextSize);
    return result;
}

uint32_t VolumeInvalidArgs(const char* operation, char* errorText, uint32_t errorTextSize) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return VolumeFailure(operation, "invalid arg", VOLUME_INVALID_ARG, errorText, errorTextSize);
}

uint32_t VolumeOutOfMemory(const char* operation, char* errorText,
                           uint32_t errorTextSize) noexcept {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    try {
        return VolumeFailure(operation, "failed", VOLUME_FAILED, errorText, errorTextSize);
    } catch (...) {
        WriteErrorText(errorText, errorTextSize, "[%s]failed", operation);
        return VOLUME_FAILED;
    }
}

uint32_t CreateVolume(const VolumeFormatArgs& args, int soft, const uint8_t* key, char* errorText,
                      uint32_t errorTextSize) {
    API_TRACE(" === QeltFormatVolume ==  entry %s %lld %lu %c \n", args.path,
              static_cast<long long>(args.size), static_cast<unsigned long>(args.deviceNo),
              args.letter);
    const CardDevicePath card = CurrentCardDevicePath();
    if (!Mount(args.path, card.text, static_cast<int64_t>(args.size), args.deviceNo, args.letter,
               kVolumeChunkSize, soft, key, errorText, errorTextSize))
        return VolumeFailure(kCreateVolume, "Create volume failed", VOLUME_FAILED, errorText,
                             errorTextSize);
    Sleep(kBeforeFormatMs);
    FormatDrive(args.letter);
    Sleep(kAfterFormatMs);
    if (Dismount(args.letter, 1, errorText, errorTextSize)) return VOLUME_OK;
    Sleep(kBeforeSecondDismountMs);
    if (Dismount(args.letter, 1, errorText, errorTextSize)) return VOLUME_OK;
    return VolumeFailure(kCreateVolume, "Clean volume failed", VOLUME_FAILED, errorText,
                         errorTextSize);
}

uint32_t MountImage(const VolumeMountArgs& args, int soft, const uint8_t* key, char* errorText,
                    uint32_t errorTextSize) {
    int64_t image_size = 0;
    if (!probe_image(args.path, &image_size))
        return VolumeFailure(kMountVolume, "Raw file not exists", VOLUME_IMAGE_MISSING, errorText,
                             errorTextSize);
    const CardDevicePath card = CurrentCardDevicePath();
    if (!Mount(args.path, card.text, image_size, args.deviceNo, args.letter, kVolumeChunkSize, soft,
               key, errorText, errorTextSize))
        return VolumeFailure(kMountVolume, "failed", VOLUME_FAILED, errorText, errorTextSize);
    return VOLUME_OK;
}

KELVANE_EXPORT uint32_t QeltDismountVolume(const VolumeDismountArgs* args, char* errorText,
                                           uint32_t errorTextSize) try {
    if (!args) return VolumeInvalidArgs(kDismountVolume, errorText, errorTextSize);
    if (Dismount(args->letter, args->force, errorText, errorTextSize)) return VOLUME_OK;
    return VolumeFailure(kDismountVolume, "failed", VOLUME_FAILED, errorText, errorTextSize);
} catch (...) {
    return VolumeOutOfMemory(kDismountVolume, errorText, errorTextSize);
}

int VolumeNoop() {
    return 0;
}
