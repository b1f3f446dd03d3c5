// advapi32's registry calls, over the registry's store (platform/ntoskrnl/cm/registry.h).
#include "platform/ntoskrnl/cm/registry.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "platform/core/object.h"
#include "platform/core/trace.h"

namespace platform {
namespace {

using ntoskrnl::cm::Path;
using ntoskrnl::cm::registry_key;
using ntoskrnl::cm::RegistryKeyData;
using ntoskrnl::cm::RegistryValue;
using ntoskrnl::cm::same_name;
using ntoskrnl::cm::split_path;

class RegistryKey : public Object {
  public:
    RegistryKey(Path path, RegistryKeyData data) : path(std::move(path)), data(std::move(data)) {}
    const Path path;
    const RegistryKeyData data;
};

bool is_local_machine(HKEY key) {
    return key == HKEY_LOCAL_MACHINE;
}

// The path of an open key or of HKEY_LOCAL_MACHINE; nullopt for anything else.
std::optional<Path> key_path(HKEY key) {
    if (is_local_machine(key)) return Path{};
    auto open = handle_get<RegistryKey>(key);
    if (!open) return std::nullopt;
    return open->path;
}

std::shared_ptr<RegistryKey> key_object(HKEY key) {
    if (is_local_machine(key)) {
        auto data = registry_key(Path{});
        return std::make_shared<RegistryKey>(Path{}, data.value_or(RegistryKeyData{}));
    }
    return handle_get<RegistryKey>(key);
}

}  // namespace
}  // namespace platform

using namespace platform;

extern "C" LSTATUS WINAPI RegOpenKeyA(HKEY key, LPCSTR sub_key, PHKEY result) {
    TRACE("advapi32", "RegOpenKeyA(%p, \"%s\", %p)", key, sub_key ? sub_key : "(null)",
          static_cast<void*>(result));
    if (!result) return ERROR_INVALID_PARAMETER;
    auto base = key_path(key);
    if (!base) return ERROR_INVALID_HANDLE;
    Path path = *base;
    for (auto& part : split_path(sub_key)) path.push_back(std::move(part));
    // With no subkey, a predefined key opens as itself.
    if (path.empty() && is_local_machine(key)) {
        *result = key;
        return ERROR_SUCCESS;
    }
    auto data = registry_key(path);
    if (!data) return ERROR_FILE_NOT_FOUND;
    *result = handle_insert(std::make_shared<RegistryKey>(std::move(path), std::move(*data)));
    return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD name_size,
                                        LPDWORD reserved, LPSTR class_name, LPDWORD class_size,
                                        PFILETIME last_write_time) {
    TRACE("advapi32", "RegEnumKeyExA(%p, %u, %p, %u, %p, %p, %p, %p)", key, index,
          static_cast<void*>(name), name_size ? *name_size : 0u, static_cast<void*>(reserved),
          static_cast<void*>(class_name), static_cast<void*>(class_size),
          static_cast<void*>(last_write_time));
    if (!name || !name_size || reserved) return ERROR_INVALID_PARAMETER;
    auto open = key_object(key);
    if (!open) return ERROR_INVALID_HANDLE;
    if (index >= open->data.subkeys.size()) return ERROR_NO_MORE_ITEMS;
    const std::string& subkey = open->data.subkeys[index];
    if (subkey.size() + 1 > *name_size) return ERROR_MORE_DATA;
    std::memcpy(name, subkey.c_str(), subkey.size() + 1);
    *name_size = static_cast<DWORD>(subkey.size());
    if (class_name && class_size && *class_size > 0) class_name[0] = '\0';
    if (class_size) *class_size = 0;
    if (last_write_time) *last_write_time = FILETIME{0, 0};
    return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR value_name, LPDWORD reserved,
                                           LPDWORD type, LPBYTE data, LPDWORD data_size) {
    TRACE("advapi32", "RegQueryValueExA(%p, \"%s\", %p, %p, %p, %u)", key,
          value_name ? value_name : "(null)", static_cast<void*>(reserved),
          static_cast<void*>(type), static_cast<void*>(data), data_size ? *data_size : 0u);
    if (reserved || (data && !data_size)) return ERROR_INVALID_PARAMETER;
    auto open = key_object(key);
    if (!open) return ERROR_INVALID_HANDLE;
    const std::string wanted = value_name ? value_name : "";
    auto it = std::find_if(open->data.values.begin(), open->data.values.end(),
                           [&](const RegistryValue& v) { return same_name(v.name, wanted); });
    if (it == open->data.values.end()) return ERROR_FILE_NOT_FOUND;
    const DWORD size = static_cast<DWORD>(it->data.size());
    if (type) *type = it->type;
    if (!data) {
        if (data_size) *data_size = size;
        return ERROR_SUCCESS;
    }
    if (*data_size < size) {
        *data_size = size;
        return ERROR_MORE_DATA;
    }
    std::memcpy(data, it->data.data(), size);
    *data_size = size;
    return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegCloseKey(HKEY key) {
    TRACE("advapi32", "RegCloseKey(%p)", key);
    if (is_local_machine(key)) return ERROR_SUCCESS;
    if (!handle_get<RegistryKey>(key)) return ERROR_INVALID_HANDLE;
    return CloseHandle(key) ? ERROR_SUCCESS : static_cast<LSTATUS>(GetLastError());
}
