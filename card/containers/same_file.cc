#include "card/containers/same_file.h"

#include "platform/win32.h"

namespace {

// The file's identity; false when it cannot be opened or asked.
bool identify(const char* path, BY_HANDLE_FILE_INFORMATION* info) {
    HANDLE file = CreateFileA(path, FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool known = GetFileInformationByHandle(file, info) != FALSE;
    CloseHandle(file);
    return known;
}

}  // namespace

bool same_file(const char* a, const char* b) {
    BY_HANDLE_FILE_INFORMATION first, second;
    return identify(a, &first) && identify(b, &second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh &&
           first.nFileIndexLow == second.nFileIndexLow;
}
