#include "platform/ntdll/dos_path.h"

#include <cctype>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/ddk/ntstatus.h"
#include "platform/ntoskrnl/rtl/status_error.h"
#include "platform/win32.h"

namespace platform {
namespace {

bool is_separator(char c) {
    return c == '\\' || c == '/';
}

bool is_drive(const char* p) {
    return std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':';
}

// The host's current directory as folder names under its root.
std::vector<std::string> current_directory() {
    std::vector<std::string> names;
    std::error_code error;
    const std::string cwd = std::filesystem::current_path(error).string();
    std::string name;
    for (char c : cwd) {
        if (c == '/') {
            if (!name.empty()) names.push_back(std::move(name));
            name.clear();
        } else {
            name += c;
        }
    }
    if (!name.empty()) names.push_back(std::move(name));
    return names;
}

// Appends the names of text to names, normalised; true when text ends in a separator.
bool append_normalised(const char* text, std::vector<std::string>* names) {
    std::vector<std::string> parts;
    std::string part;
    bool trailing_separator = false;
    for (const char* c = text;; ++c) {
        if (*c == '\0' || is_separator(*c)) {
            if (!part.empty()) parts.push_back(std::move(part));
            part.clear();
            if (*c == '\0') break;
            trailing_separator = true;
        } else {
            part += *c;
            trailing_separator = false;
        }
    }
    for (size_t i = 0; i < parts.size(); ++i) {
        std::string& name = parts[i];
        if (name == ".") continue;
        if (name == "..") {
            if (!names->empty()) names->pop_back();
            continue;
        }
        const bool last = i + 1 == parts.size() && !trailing_separator;
        if (last) {
            while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
            if (name.empty()) {
                trailing_separator = true;
                continue;
            }
        } else if (name.back() == '.') {
            name.pop_back();
        }
        names->push_back(std::move(name));
    }
    return trailing_separator;
}

std::string join(const std::string& root, const std::vector<std::string>& names, bool trailing) {
    std::string path = "\\??\\" + root;
    for (const auto& name : names) path += '\\' + name;
    if (trailing) path += '\\';
    return path;
}

}  // namespace

NTSTATUS dos_path_to_nt_name(const char* name, NtName* out) {
    const char* p = name ? name : "";
    if (*p == '\0') return STATUS_OBJECT_PATH_NOT_FOUND;
    if (p[0] == '\\' && p[1] == '\\' && p[2] == '?' && p[3] == '\\') {
        *out = {std::string("\\??\\") + (p + 4), true};
        return STATUS_SUCCESS;
    }
    if (p[0] == '\\' && p[1] == '?' && p[2] == '?' && p[3] == '\\') {
        *out = {p, true};
        return STATUS_SUCCESS;
    }
    std::vector<std::string> names;
    std::string root;
    const char* rest;
    bool folder_at_least = false;  // a drive's name alone is its root folder
    if (is_separator(p[0]) && is_separator(p[1])) {
        // "\\.\X" and "\\?\X" written with any separators: the device X, normalised.
        if (!((p[2] == '.' || p[2] == '?') && is_separator(p[3]))) return STATUS_BAD_NETWORK_PATH;
        const char* device = p + 4;
        const char* end = device;
        while (*end && !is_separator(*end)) ++end;
        root.assign(device, end);
        rest = end;
    } else if (is_drive(p)) {
        root = std::string{p[0], ':'};
        rest = p + 2;  // drive-absolute and drive-relative alike start at the drive's root
        folder_at_least = true;
    } else {
        root = "unix";
        if (!is_separator(p[0])) names = current_directory();
        rest = p;
    }
    const bool trailing = append_normalised(rest, &names) || (folder_at_least && names.empty());
    *out = {join(root, names, trailing), false};
    return STATUS_SUCCESS;
}

bool win32_name_to_nt(LPCSTR name, NtName* out) {
    if (name && std::strlen(name) > MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    if (NTSTATUS status = dos_path_to_nt_name(name, out); status != STATUS_SUCCESS) {
        SetLastError(ntoskrnl::nt_status_to_error(status));
        return false;
    }
    return true;
}

}  // namespace platform
