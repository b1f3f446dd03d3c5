// RtlQueryRegistryValues(Ex) over the registry's store (platform/ntoskrnl/cm/registry.h).
// A REG_SZ value, kept as ANSI bytes, is handed over as UTF-16 with its terminator.
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/trace.h"
#include "platform/ntoskrnl/cm/registry.h"
#include "platform/ntoskrnl/ex/pool.h"
#include "platform/ntoskrnl/ke/thread.h"
#include "platform/ntoskrnl/not_implemented.h"
#include "platform/ntoskrnl/rtl/text.h"

namespace ntoskrnl {
namespace {

constexpr ULONG kImplementedFlags = RTL_QUERY_REGISTRY_SUBKEY | RTL_QUERY_REGISTRY_TOPKEY |
                                    RTL_QUERY_REGISTRY_REQUIRED | RTL_QUERY_REGISTRY_NOEXPAND |
                                    RTL_QUERY_REGISTRY_DIRECT | RTL_QUERY_REGISTRY_NOSTRING |
                                    RTL_QUERY_REGISTRY_TYPECHECK;

bool is_string_type(ULONG type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// The key path below HKEY_LOCAL_MACHINE that RelativeTo and Path name; nothing for a key outside
// it ("\Registry\User").
std::optional<std::string> key_path(ULONG relative_to, PCWSTR path) {
    std::u16string text = path ? path : u"";
    switch (relative_to & ~RTL_REGISTRY_OPTIONAL) {
        case RTL_REGISTRY_ABSOLUTE: {
            const std::u16string machine = u"\\REGISTRY\\MACHINE";
            if (upcase(std::u16string_view(text).substr(0, machine.size())) != machine ||
                (text.size() > machine.size() && text[machine.size()] != u'\\'))
                return std::nullopt;
            return utf16_to_utf8(std::u16string_view(text).substr(machine.size()));
        }
        case RTL_REGISTRY_SERVICES:
            return "SYSTEM\\CurrentControlSet\\Services\\" + utf16_to_utf8(text);
        case RTL_REGISTRY_CONTROL:
            return "SYSTEM\\CurrentControlSet\\Control\\" + utf16_to_utf8(text);
        case RTL_REGISTRY_WINDOWS_NT:
            return "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\" + utf16_to_utf8(text);
        case RTL_REGISTRY_DEVICEMAP:
            return "HARDWARE\\DEVICEMAP\\" + utf16_to_utf8(text);
        default:
            not_implemented("RtlQueryRegistryValues relative to a user key or a key handle");
    }
}

struct Value {
    ULONG type;
    std::vector<BYTE> data;  // as the kernel sees it: strings in UTF-16 with the terminator
};

Value kernel_value(const cm::RegistryValue& value) {
    if (!is_string_type(value.type)) return {value.type, value.data};
    const std::u16string text =
        utf8_to_utf16({reinterpret_cast<const char*>(value.data.data()), value.data.size()});
    Value out{value.type, std::vector<BYTE>(text.size() * sizeof(WCHAR))};
    std::memcpy(out.data.data(), text.data(), out.data.size());
    // ANSI text stored without its terminator gets one.
    if (text.empty() || text.back() != 0) out.data.insert(out.data.end(), {0, 0});
    return out;
}

// The default of an entry whose value is absent.
Value default_value(const RTL_QUERY_REGISTRY_TABLE& entry) {
    const ULONG type = entry.DefaultType & 0x00FFFFFF;
    auto* data = static_cast<const BYTE*>(entry.DefaultData);
    ULONG length = entry.DefaultLength;
    if (length == 0 && data && is_string_type(type)) {
        auto* text = static_cast<const WCHAR*>(entry.DefaultData);
        size_t n = 0;
        while (text[n]) ++n;
        length = static_cast<ULONG>((n + 1) * sizeof(WCHAR));
    }
    return {type, data ? std::vector<BYTE>(data, data + length) : std::vector<BYTE>()};
}

// Stores a value where a RTL_QUERY_REGISTRY_DIRECT entry's EntryContext points.
NTSTATUS store_direct(const RTL_QUERY_REGISTRY_TABLE& entry, const Value& value) {
    if (entry.Flags & RTL_QUERY_REGISTRY_TYPECHECK) {
        const ULONG expected = entry.DefaultType >> RTL_QUERY_REGISTRY_TYPECHECK_SHIFT;
        if (expected != value.type) return STATUS_OBJECT_TYPE_MISMATCH;
    }
    const auto length = static_cast<ULONG>(value.data.size());
    if (is_string_type(value.type)) {
        if (entry.Flags & RTL_QUERY_REGISTRY_NOSTRING) return STATUS_INVALID_PARAMETER;
        auto* string = static_cast<PUNICODE_STRING>(entry.EntryContext);
        if (length > 0xFFFF) return STATUS_BUFFER_TOO_SMALL;
        if (!string->Buffer) {
            string->Buffer = static_cast<PWSTR>(pool_allocate(PagedPool, length, kStringPoolTag));
            if (!string->Buffer) return STATUS_NO_MEMORY;
            string->MaximumLength = static_cast<USHORT>(length);
        } else if (length > string->MaximumLength) {
            return STATUS_BUFFER_TOO_SMALL;
        }
        std::memcpy(string->Buffer, value.data.data(), length);
        string->Length = static_cast<USHORT>(length >= sizeof(WCHAR) ? length - sizeof(WCHAR) : 0);
        return STATUS_SUCCESS;
    }
    if (length <= sizeof(ULONG)) {
        std::memcpy(entry.EntryContext, value.data.data(), length);
        return STATUS_SUCCESS;
    }
    // Longer data: the buffer starts with its size as a LONG; negative means "data only", else
    // the length and the type come first.
    auto* buffer = static_cast<BYTE*>(entry.EntryContext);
    LONG size;
    std::memcpy(&size, buffer, sizeof size);
    if (size < 0) {
        if (length > static_cast<ULONG>(-size)) return STATUS_BUFFER_TOO_SMALL;
        std::memcpy(buffer, value.data.data(), length);
    } else {
        if (length + 2 * sizeof(ULONG) > static_cast<ULONG>(size)) return STATUS_BUFFER_TOO_SMALL;
        std::memcpy(buffer, &length, sizeof length);
        std::memcpy(buffer + sizeof(ULONG), &value.type, sizeof value.type);
        std::memcpy(buffer + 2 * sizeof(ULONG), value.data.data(), length);
    }
    return STATUS_SUCCESS;
}

NTSTATUS deliver(const RTL_QUERY_REGISTRY_TABLE& entry, PWSTR name, Value value, PVOID context) {
    if (entry.Flags & RTL_QUERY_REGISTRY_DIRECT) return store_direct(entry, value);
    if ((value.type == REG_EXPAND_SZ || value.type == REG_MULTI_SZ) &&
        !(entry.Flags & RTL_QUERY_REGISTRY_NOEXPAND))
        not_implemented("RtlQueryRegistryValues expanding REG_EXPAND_SZ or REG_MULTI_SZ");
    return entry.QueryRoutine(name, value.type, value.data.empty() ? nullptr : value.data.data(),
                              static_cast<ULONG>(value.data.size()), context, entry.EntryContext);
}

NTSTATUS query(ULONG relative_to, PCWSTR path, PRTL_QUERY_REGISTRY_TABLE table, PVOID context) {
    TRACE("ntoskrnl", "RtlQueryRegistryValues(%#x, \"%s\", %p)", relative_to,
          path ? utf16_to_utf8(path).c_str() : "", static_cast<void*>(table));
    require_passive_level("RtlQueryRegistryValues");
    const std::optional<std::string> base = key_path(relative_to, path);
    const bool optional = (relative_to & RTL_REGISTRY_OPTIONAL) != 0;
    std::optional<cm::RegistryKeyData> top;
    if (base) top = cm::registry_key(*base);
    if (!top) return optional ? STATUS_SUCCESS : STATUS_OBJECT_NAME_NOT_FOUND;
    cm::RegistryKeyData key = *top;
    for (PRTL_QUERY_REGISTRY_TABLE entry = table; entry->QueryRoutine || entry->Name; ++entry) {
        if (entry->Flags & ~kImplementedFlags)
            not_implemented("this RtlQueryRegistryValues flag (NOVALUE or DELETE)");
        if (entry->Flags & RTL_QUERY_REGISTRY_TOPKEY) key = *top;
        if (entry->Flags & RTL_QUERY_REGISTRY_SUBKEY) {
            if (entry->QueryRoutine) not_implemented("RtlQueryRegistryValues of a whole subkey");
            auto sub = cm::registry_key(*base + "\\" + utf16_to_utf8(entry->Name));
            if (!sub) return STATUS_OBJECT_NAME_NOT_FOUND;
            key = *sub;
            continue;
        }
        if (!(entry->Flags & RTL_QUERY_REGISTRY_DIRECT) && !entry->QueryRoutine)
            return STATUS_INVALID_PARAMETER;
        NTSTATUS status = STATUS_SUCCESS;
        if (!entry->Name) {
            // Every value of the key goes to the routine.
            if (entry->Flags & RTL_QUERY_REGISTRY_DIRECT) return STATUS_INVALID_PARAMETER;
            for (const auto& value : key.values) {
                std::u16string name = utf8_to_utf16(value.name);
                status = deliver(*entry, name.data(), kernel_value(value), context);
                if (!NT_SUCCESS(status)) return status;
            }
            continue;
        }
        const std::u16string wanted = upcase(entry->Name);
        const cm::RegistryValue* found = nullptr;
        for (const auto& value : key.values) {
            if (upcase(utf8_to_utf16(value.name)) == wanted) {
                found = &value;
                break;
            }
        }
        if (found) {
            status = deliver(*entry, entry->Name, kernel_value(*found), context);
        } else if (entry->Flags & RTL_QUERY_REGISTRY_REQUIRED) {
            return STATUS_OBJECT_NAME_NOT_FOUND;
        } else if ((entry->DefaultType & 0x00FFFFFF) != REG_NONE) {
            status = deliver(*entry, entry->Name, default_value(*entry), context);
        }
        if (!NT_SUCCESS(status)) return status;
    }
    return STATUS_SUCCESS;
}

}  // namespace
}  // namespace ntoskrnl

extern "C" NTSTATUS NTAPI RtlQueryRegistryValues(ULONG RelativeTo, PCWSTR Path,
                                                 PRTL_QUERY_REGISTRY_TABLE QueryTable,
                                                 PVOID Context, PVOID Environment) {
    (void)Environment;
    return ntoskrnl::query(RelativeTo, Path, QueryTable, Context);
}

// Exported by the kernel (found through MmGetSystemRoutineAddress): the same query.
extern "C" NTSTATUS NTAPI RtlQueryRegistryValuesEx(ULONG RelativeTo, PCWSTR Path,
                                                   PRTL_QUERY_REGISTRY_TABLE QueryTable,
                                                   PVOID Context, PVOID Environment) {
    (void)Environment;
    return ntoskrnl::query(RelativeTo, Path, QueryTable, Context);
}
