// MS-DOS device names and drive letters: symbolic links in "\??" of the simulated kernel's one
// namespace, so that "\\.\X:" and "X:\..." reach the device a letter is defined to, from user and
// kernel mode alike. Stacked definitions live in the link's target text, newest first, separated
// by NULs (platform/ntoskrnl/ob/namespace.h).
#include <cctype>
#include <mutex>
#include <string>
#include <vector>

#include "platform/core/trace.h"
#include "platform/ntoskrnl/ob/namespace.h"
#include "platform/ntoskrnl/rtl/status_error.h"
#include "platform/ntoskrnl/rtl/text.h"
#include "platform/unix/unix_name.h"
#include "platform/win32.h"

using ntoskrnl::nt_status_to_error;

using namespace platform;

namespace {

constexpr DWORD kDefineFlags = DDD_RAW_TARGET_PATH | DDD_REMOVE_DEFINITION |
                               DDD_EXACT_MATCH_ON_REMOVE | DDD_NO_BROADCAST_SYSTEM;

// Definitions change one at a time, each reading and rewriting a link's list.
std::mutex& definitions_lock() {
    static std::mutex* instance = new std::mutex;
    return *instance;
}

std::u16string link_name(const char* device_name) {
    return u"\\??\\" + ntoskrnl::utf8_to_utf16(device_name);
}

std::vector<std::u16string> split(const std::u16string& text) {
    std::vector<std::u16string> targets;
    for (size_t start = 0; start <= text.size();) {
        size_t end = text.find(u'\0', start);
        if (end == std::u16string::npos) end = text.size();
        targets.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return targets;
}

std::u16string join(const std::vector<std::u16string>& targets) {
    std::u16string text;
    for (size_t i = 0; i < targets.size(); ++i) {
        if (i) text += u'\0';
        text += targets[i];
    }
    return text;
}

bool fail(DWORD error) {
    SetLastError(error);
    return false;
}

bool fail_status(NTSTATUS status) {
    return fail(nt_status_to_error(status));
}

// The definition that a removal names: the newest one when no target is given, else the first
// that the target matches exactly or (without DDD_EXACT_MATCH_ON_REMOVE) begins.
size_t find_definition(const std::vector<std::u16string>& targets, const char* target, bool exact) {
    if (!target || !*target) return 0;
    const std::u16string wanted = ntoskrnl::upcase(ntoskrnl::utf8_to_utf16(target));
    for (size_t i = 0; i < targets.size(); ++i) {
        const std::u16string candidate = ntoskrnl::upcase(targets[i]);
        if (exact ? candidate == wanted : candidate.compare(0, wanted.size(), wanted) == 0)
            return i;
    }
    return targets.size();
}

// Appends text and its NUL to out, narrowed.
void append_entry(std::string* out, std::u16string_view text) {
    *out += ntoskrnl::utf16_to_utf8(text);
    *out += '\0';
}

}  // namespace

extern "C" BOOL WINAPI DefineDosDeviceA(DWORD flags, LPCSTR device_name, LPCSTR target_path) {
    TRACE("kernel32", "DefineDosDeviceA(%#x, \"%s\", \"%s\")", flags,
          device_name ? device_name : "(null)", target_path ? target_path : "(null)");
    if (flags & ~kDefineFlags) return fail(ERROR_INVALID_PARAMETER);
    if (!device_name || !*device_name) return fail(ERROR_INVALID_NAME);
    const bool remove = flags & DDD_REMOVE_DEFINITION;
    const bool has_target = target_path && *target_path;
    if (!remove && !has_target) return fail(ERROR_INVALID_PARAMETER);
    if (!(flags & DDD_RAW_TARGET_PATH) && has_target) {
        TRACE("kernel32", "targets given as Win32 paths are not provided");
        return fail(ERROR_CALL_NOT_IMPLEMENTED);
    }
    const std::u16string name = link_name(device_name);
    std::lock_guard guard(definitions_lock());
    std::u16string text;
    const NTSTATUS found = ntoskrnl::ob::query_symbolic_link(name, &text);
    if (!remove) {
        // The new definition goes in front of those the name has.
        std::u16string targets = ntoskrnl::utf8_to_utf16(target_path);
        if (NT_SUCCESS(found)) targets += u'\0' + text;
        const NTSTATUS status = ntoskrnl::ob::set_symbolic_link(name, targets);
        return NT_SUCCESS(status) ? TRUE : fail_status(status);
    }
    if (!NT_SUCCESS(found)) return fail(ERROR_FILE_NOT_FOUND);
    std::vector<std::u16string> targets = split(text);
    const size_t index = find_definition(targets, target_path, flags & DDD_EXACT_MATCH_ON_REMOVE);
    if (index == targets.size()) return fail(ERROR_FILE_NOT_FOUND);
    targets.erase(targets.begin() + static_cast<ptrdiff_t>(index));
    const NTSTATUS status = targets.empty() ? ntoskrnl::ob::delete_symbolic_link(name)
                                            : ntoskrnl::ob::set_symbolic_link(name, join(targets));
    return NT_SUCCESS(status) ? TRUE : fail_status(status);
}

extern "C" DWORD WINAPI QueryDosDeviceA(LPCSTR device_name, LPSTR target_path, DWORD max_chars) {
    TRACE("kernel32", "QueryDosDeviceA(\"%s\", %p, %u)", device_name ? device_name : "(null)",
          static_cast<void*>(target_path), max_chars);
    std::string list;
    if (device_name) {
        std::u16string text;
        const NTSTATUS status = ntoskrnl::ob::query_symbolic_link(link_name(device_name), &text);
        if (!NT_SUCCESS(status)) {
            fail(status == STATUS_OBJECT_TYPE_MISMATCH ? ERROR_FILE_NOT_FOUND
                                                       : nt_status_to_error(status));
            return 0;
        }
        for (const auto& target : split(text)) append_entry(&list, target);
    } else {
        std::vector<std::u16string> names;
        ntoskrnl::ob::list_directory(u"\\GLOBAL??", &names, &ntoskrnl::ob::symbolic_link_type);
        for (const auto& name : names) append_entry(&list, name);
    }
    list += '\0';
    if (!target_path || list.size() > max_chars) {
        fail(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    list.copy(target_path, list.size());
    return static_cast<DWORD>(list.size());
}

extern "C" DWORD WINAPI GetLogicalDrives() {
    TRACE("kernel32", "GetLogicalDrives()");
    DWORD drives = host_drives();
    std::vector<std::u16string> names;
    ntoskrnl::ob::list_directory(u"\\GLOBAL??", &names, &ntoskrnl::ob::symbolic_link_type);
    for (const auto& name : names) {
        if (name.size() == 2 && name[0] < 0x80 && std::isalpha(static_cast<int>(name[0])) &&
            name[1] == u':')
            drives |= 1u << (std::toupper(static_cast<int>(name[0])) - 'A');
    }
    return drives;
}
