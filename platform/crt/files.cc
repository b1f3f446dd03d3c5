// The C runtime's file functions with Windows drive paths. The real functions are named with
// the global scope operator, since platform/win32.h maps the plain names onto these.
#include <cerrno>
#include <filesystem>
#include <string>

#include "platform/core/paths.h"
#include "platform/core/trace.h"
#include "platform/crt/disk_space.h"
#include "platform/win32.h"

#undef fopen
#undef rename

namespace {

// Windows creates no folders on open, but every drive's root exists; so does the drive folder
// under the machine's root, made on demand.
void ensure_drive_folder(const char* path) {
    if (!platform::is_drive_path(path)) return;
    std::error_code ignored;
    std::filesystem::create_directories(platform::drive_folder(path), ignored);
}

}  // namespace

extern "C" FILE* halden_crt_fopen(const char* path, const char* mode) {
    TRACE("crt", "fopen(\"%s\", \"%s\")", path ? path : "(null)", mode ? mode : "(null)");
    if (!path || !mode) {
        errno = EINVAL;
        return nullptr;
    }
    ensure_drive_folder(path);
    return platform::limit_by_free_space(path, mode,
                                         ::fopen(platform::map_path(path).c_str(), mode));
}

extern "C" int halden_crt_rename(const char* from, const char* to) {
    TRACE("crt", "rename(\"%s\", \"%s\")", from ? from : "(null)", to ? to : "(null)");
    if (!from || !to) {
        errno = EINVAL;
        return -1;
    }
    return ::rename(platform::map_path(from).c_str(), platform::map_path(to).c_str());
}
