#include <cstdio>

#include "volume/steps.h"
#include "volume/trace.h"

bool IsDriveLetterAvailable(char letter) {
    const char chUpperLetter = letter >= 'a' && letter <= 'z' ? letter - 'a' + 'A' : letter;
    KELVANE_TRACE(" === IsDriveLetterAvailable == chUpperLetter %c\n", chUpperLetter);
    if (chUpperLetter < 'A' || chUpperLetter > 'Z') return false;
    const int chBitIndex = chUpperLetter - 'A';
    KELVANE_TRACE(" === IsDriveLetterAvailable == chBitIndex %d\n", chBitIndex);
    DWORD dwLogical = GetLogicalDrives();
    KELVANE_TRACE(" === IsDriveLetterAvailable == dwLogical %x\n",
                  static_cast<unsigned>(dwLogical));
    dwLogical = ~dwLogical & kFreeLetterMask;
    KELVANE_TRACE(" === IsDriveLetterAvailable == dwLogical %x\n",
                  static_cast<unsigned>(dwLogical));
    const DWORD dwBitMask = DWORD{1} << chBitIndex;
    KELVANE_TRACE(" === IsDriveLetterAvailable == dwBitMask %x\n",
                  static_cast<unsigned>(dwBitMask));
    return (dwLogical & dwBitMask) != 0;
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
