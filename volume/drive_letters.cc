#include <cstdio>

#include "volume/steps.h"
#include "volume/trace.h"

bool IsDriveLetterAvailable(char letter) {
    const char upper_letter = letter >= 'a' && letter <= 'z' ? letter - 'a' + 'A' : letter;
    KELVANE_TRACE(" === IsDriveLetterAvailable == chUpperLetter %c\n", upper_letter);
    if (upper_letter < 'A' || upper_letter > 'Z') {
        SetLastError(ERROR_INVALID_DRIVE);
        return false;
    }
    const int bit_index = upper_letter - 'A';
    KELVANE_TRACE(" === IsDriveLetterAvailable == chBitIndex %d\n", bit_index);
    DWORD logical = GetLogicalDrives();
    const bool in_use = (logical & (DWORD{1} << bit_index)) != 0;
    KELVANE_TRACE(" === IsDriveLetterAvailable == dwLogical %x\n", static_cast<unsigned>(logical));
    logical = ~logical & kFreeLetterMask;
    KELVANE_TRACE(" === IsDriveLetterAvailable == dwLogical %x\n", static_cast<unsigned>(logical));
    const DWORD bit_mask = DWORD{1} << bit_index;
    KELVANE_TRACE(" === IsDriveLetterAvailable == dwBitMask %x\n", static_cast<unsigned>(bit_mask));
    if ((logical & bit_mask) != 0) return true;
    // Why not, for the error texts: the letter is in use, or it is never offered (A, B, D).
    SetLastError(in_use ? ERROR_ALREADY_EXISTS : ERROR_INVALID_DRIVE);
    return false;
}

DriveNames NamesOfDrive(char letter) {
    DriveNames names = {};
    std::snprintf(names.dos_name, sizeof names.dos_name, "%c:", letter);
    std::snprintf(names.drive_path, sizeof names.drive_path, "\\\\.\\%c:", letter);
    std::snprintf(names.notify_path, sizeof names.notify_path, "%c:\\", letter);
    return names;
}

HANDLE OpenDrive(const char* drive_path) {
    return CreateFileA(drive_path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING, nullptr);
}
