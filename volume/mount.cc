#include <cstring>

#include "crypto/secure_wipe.h"
#include "volume/last_error.h"
#include "volume/steps.h"
#include "volume/trace.h"
#include "volume/variant.h"
#include "wire/orvik_interface.h"

namespace {

namespace fd = wire::file_descriptor;

// Removes the letter's definition after a later step failed.
void remove_definition(const char* dos_name) {
    KeepLastError failure;
    DefineDosDeviceA(DDD_REMOVE_DEFINITION, dos_name, nullptr);
}

// Sends the record; true when the driver's worker has attached the image.
bool open_image(HANDLE drive, const fd::Contents& contents) {
    uint8_t record[fd::kSize];
    fd::Encode(contents, record);
    DWORD returned = 0;
    const bool sent = DeviceIoControl(drive, IOCTL_ORVIK_OPEN_IMAGE, record, sizeof record, nullptr,
                                      0, &returned, nullptr);
    crypto_internal::secure_wipe(record, sizeof record);
    return sent;
}

}  // namespace

bool Mount(const MountRequest& request, char* error_text, uint32_t error_text_size) {
    const fd::Contents& record = request.record;
    // The record's fields hold only so much, and in card mode the driver takes a shorter card
    // path still: a longer path is refused before anything is defined.
    const size_t card_limit = record.soft ? fd::kMaxCardDevicePath : fd::kMaxDriverCardDevicePath;
    const char* too_long = std::strlen(record.image_path) > fd::kMaxImagePath ? record.image_path
                           : std::strlen(record.card_device_path) > card_limit
                               ? record.card_device_path
                               : nullptr;
    if (too_long) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        ReportLastError("Mount", too_long, error_text, error_text_size);
        return false;
    }

    const char letter = request.letter;
    const DriveNames names = NamesOfDrive(letter);
    char target_path[wire::kOrvikDeviceNameUnits];
    wire::WriteOrvikDeviceName(target_path, request.device_number);

    if (!IsDriveLetterAvailable(letter)) {
        WriteErrorText(error_text, error_text_size, "Drive %s is not available", names.dos_name);
        KELVANE_TRACE(" === Mount Error ==  IsDriveLetterAvailable \n");
        return false;
    }
    KELVANE_TRACE(" === Mount ==  after IsDriveLetterAvailable \n");

    if (!DefineDosDeviceA(DDD_RAW_TARGET_PATH, names.dos_name, target_path)) {
        ReportLastError("DefineDosDevice", names.dos_name, error_text, error_text_size);
        return false;
    }
    HANDLE drive = OpenDrive(names.drive_path);
    if (drive == INVALID_HANDLE_VALUE) {
        ReportLastError("CreateFile", names.drive_path, error_text, error_text_size);
        remove_definition(names.dos_name);
        return false;
    }
    KELVANE_TRACE(" === Mount ==  after CreateFile \n");

    if (!open_image(drive, record)) {
        ReportLastError("DeviceIoControl", target_path, error_text, error_text_size);
        if (kVolumeVariant.logs_refused_mount && error_text && error_text_size != 0)
            KELVANE_TRACE("%s", error_text);
        remove_definition(names.dos_name);
        KeepLastError failure;
        CloseHandle(drive);
        return false;
    }
    CloseHandle(drive);
    SHChangeNotify(SHCNE_DRIVEADD, SHCNF_PATHA, names.notify_path, nullptr);
    KELVANE_TRACE(" === Mount ==  return success \n");
    return true;
}

bool SendVolumeIoctl(HANDLE handle, DWORD code) {
    DWORD returned = 0;
    return DeviceIoControl(handle, code, nullptr, 0, nullptr, 0, &returned, nullptr) != FALSE;
}

bool UnmountDriverVolume(HANDLE handle) {
    return SendVolumeIoctl(handle, IOCTL_ORVIK_CLOSE_IMAGE);
}
