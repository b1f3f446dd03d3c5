// Host side of name lookup: folders are read with opendir to find a name without regard to case.
#include "platform/unix/unix_name.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/ddk/ntstatus.h"

namespace platform {
namespace {

constexpr char kNtPrefix[] = "\\??\\";
constexpr char kGlobalPrefix[] = "\\GLOBAL??\\";
constexpr char kHostRoot[] = "unix";

// The part of an NT path after "\??\" (or "\GLOBAL??\"), or null.
const char* after_prefix(const std::string& nt_path) {
    if (nt_path.compare(0, 4, kNtPrefix) == 0) return nt_path.c_str() + 4;
    if (nt_path.compare(0, 10, kGlobalPrefix) == 0) return nt_path.c_str() + 10;
    return nullptr;
}

bool same_ascii_name(const char* a, const std::string& b) {
    size_t i = 0;
    for (; a[i] && i < b.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return a[i] == '\0' && i == b.size();
}

bool valid_name(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (unsigned char c : name)
        if (c < 0x20 || std::strchr("\"*/:<>?|", c)) return false;
    return true;
}

enum class Kind { kMissing, kFile, kFolder };

Kind kind_of(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return Kind::kMissing;
    return S_ISDIR(st.st_mode) ? Kind::kFolder : Kind::kFile;
}

struct Entry {
    std::string spelling;  // empty when there is none
    Kind kind = Kind::kMissing;
};

// The host's spelling of name in folder and what it names: the exact name when it exists, else
// the first entry in the folder's order that equals it without case.
Entry find_entry(const std::string& folder, const std::string& name) {
    if (const Kind kind = kind_of(folder + '/' + name); kind != Kind::kMissing) return {name, kind};
    DIR* dir = opendir(folder.c_str());
    if (!dir) return {};
    Entry found;
    while (const dirent* entry = readdir(dir)) {
        if (same_ascii_name(entry->d_name, name)) {
            found.spelling = entry->d_name;
            break;
        }
    }
    closedir(dir);
    if (!found.spelling.empty()) found.kind = kind_of(folder + '/' + found.spelling);
    return found;
}

}  // namespace

std::string machine_root() {
    if (const char* root = std::getenv("HALDEN_ROOT"); root && *root) return root;
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::string(home) + "/.halden";
    return "/tmp/halden";
}

bool nt_name_is_host_path(const std::string& nt_path, char* drive) {
    *drive = 0;
    const char* rest = after_prefix(nt_path);
    if (!rest) return false;
    if (std::strncmp(rest, kHostRoot, 4) == 0 && (rest[4] == '\\' || rest[4] == '\0')) return true;
    if (!std::isalpha(static_cast<unsigned char>(rest[0])) || rest[1] != ':' || rest[2] != '\\')
        return false;
    *drive = rest[0];
    return true;
}

uint32_t host_drives() {
    uint32_t drives = 1u << ('C' - 'A');
    const std::string root = machine_root();
    for (char letter = 'A'; letter <= 'Z'; ++letter)
        if (kind_of(root + '/' + letter) == Kind::kFolder) drives |= 1u << (letter - 'A');
    return drives;
}

NTSTATUS nt_name_to_unix(const std::string& nt_path, UnixName* out) {
    char drive;
    if (!nt_name_is_host_path(nt_path, &drive)) return STATUS_OBJECT_PATH_NOT_FOUND;
    const char* rest = after_prefix(nt_path);
    UnixName name{};
    std::string folder;
    if (rest[1] == ':') {
        name.drive = static_cast<char>(std::toupper(static_cast<unsigned char>(rest[0])));
        folder = machine_root() + '/' + name.drive;
        if (name.drive == 'C') mkdir(folder.c_str(), 0755);  // every machine has C:
        if (kind_of(folder) != Kind::kFolder) return STATUS_OBJECT_PATH_NOT_FOUND;
        rest += 3;
    } else {
        rest += rest[4] ? 5 : 4;
    }
    std::vector<std::string> names;
    std::string part;
    for (const char* c = rest;; ++c) {
        if (*c == '\\' || *c == '\0') {
            names.push_back(std::move(part));
            part.clear();
            if (*c == '\0') break;
        } else {
            part += *c;
        }
    }
    // "C:\" names the drive's root; "C:\dir\" a folder (the empty name after the last '\').
    name.trailing_separator = names.size() > 1 && names.back().empty();
    if (names.back().empty()) names.pop_back();
    for (const auto& n : names)
        if (!valid_name(n)) return STATUS_OBJECT_NAME_INVALID;

    std::string path = name.drive ? folder : std::string();
    for (size_t i = 0; i < names.size(); ++i) {
        const bool last = i + 1 == names.size();
        const Entry entry = find_entry(path.empty() ? "/" : path, names[i]);
        if (entry.spelling.empty()) {
            if (!last) return STATUS_OBJECT_PATH_NOT_FOUND;
            path += '/' + names[i];
            name.path = path;
            *out = name;
            return STATUS_SUCCESS;
        }
        path += '/' + entry.spelling;
        if (!last && entry.kind != Kind::kFolder) return STATUS_OBJECT_PATH_NOT_FOUND;
        if (last) {
            name.exists = true;
            name.directory = entry.kind == Kind::kFolder;
        }
    }
    if (names.empty()) {
        name.exists = true;
        name.directory = true;
    }
    name.path = path.empty() ? "/" : path;
    *out = name;
    return STATUS_SUCCESS;
}

}  // namespace platform
