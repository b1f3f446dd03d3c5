#include "volume/steps.h"

namespace {

constexpr int kLockTries = 3;
constexpr DWORD kLockRetryMs = 1000;

}  // namespace

bool Dismount(char letter, bool force, char* error_text, uint32_t error_text_size) {
    const DriveNames names = NamesOfDrive(letter);
    HANDLE drive = OpenDrive(names.drive_path);
    if (drive == INVALID_HANDLE_VALUE) {
        ReportLastError("CreateFile", names.drive_path, error_text, error_text_size);
        return false;
    }
    bool locked = false;
    for (int i = 0; i < kLockTries && !locked; ++i) {
        locked = LockVolume(drive);
        if (!locked) Sleep(kLockRetryMs);
    }
    if (!locked && !force) {
        ReportLastError("LockVolume", "Failed", error_text, error_text_size);
        CloseHandle(drive);
        return false;
    }
    DismountFileSystem(drive);
    UnmountDriverVolume(drive);
    if (locked) UnlockVolume(drive);
    CloseHandle(drive);

    if (!DefineDosDeviceA(DDD_REMOVE_DEFINITION, names.dos_name, nullptr)) {
        ReportLastError("DefineDosDevice", "Failed", error_text, error_text_size);
        return false;
    }
    SHChangeNotify(SHCNE_DRIVEREMOVED, SHCNF_PATHA, names.notify_path, nullptr);
    return true;
}

bool LockVolume(HANDLE handle) {
    return SendVolumeIoctl(handle, FSCTL_LOCK_VOLUME);
}

bool UnlockVolume(HANDLE handle) {
    return SendVolumeIoctl(handle, FSCTL_UNLOCK_VOLUME);
}

bool DismountFileSystem(HANDLE handle) {
    return SendVolumeIoctl(handle, FSCTL_DISMOUNT_VOLUME);
}
