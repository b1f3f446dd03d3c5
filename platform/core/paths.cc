#include "platform/core/paths.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace platform {
namespace {

const char* skip_nt_prefix(const char* path) {
    return std::strncmp(path, "\\??\\", 4) == 0 ? path + 4 : path;
}

}  // namespace

std::string machine_root() {
    if (const char* root = std::getenv("HALDEN_ROOT"); root && *root) return root;
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::string(home) + "/.halden";
    return "/tmp/halden";
}

bool is_drive_path(const char* path) {
    if (!path) return false;
    const char* p = skip_nt_prefix(path);
    return std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':' &&
           (p[2] == '/' || p[2] == '\\');
}

std::string drive_folder(const char* path) {
    const char* p = skip_nt_prefix(path);
    return machine_root() + '/' + static_cast<char>(std::toupper(static_cast<unsigned char>(p[0])));
}

std::string map_path(const char* path) {
    if (!is_drive_path(path)) return path ? path : "";
    const char* p = skip_nt_prefix(path);
    std::string out = drive_folder(path);
    for (const char* c = p + 2; *c; ++c) out += (*c == '\\') ? '/' : *c;
    return out;
}

}  // namespace platform
