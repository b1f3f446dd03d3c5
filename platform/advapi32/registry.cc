// advapi32's registry calls over the views of the platform library. Names compare without case,
// as on Windows; a path may carry empty components ("a\\b\\"), which are skipped.
#include "platform/advapi32/registry.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>

#include "base/byte_access.h"
#include "platform/core/object.h"
#include "platform/core/trace.h"
#include "platform/sim/registry.h"

namespace platform {
namespace {

using Path = std::vector<std::string>;

struct View {
    Path root;
    RegistryView answer;
};

struct Views {
    std::mutex lock;
    std::vector<View> list;
};

Views& views() {
    static Views* instance = new Views;
    return *instance;
}

Path split_path(const char* text) {
    Path path;
    std::string part;
    for (const char* c = text ? text : ""; *c; ++c) {
        if (*c == '\\') {
            if (!part.empty()) path.push_back(std::move(part));
            part.clear();
        } else {
            part += *c;
        }
    }
    if (!part.empty()) path.push_back(std::move(part));
    return path;
}

bool same_name(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// True when prefix is a leading part of path (or all of it).
bool starts_with(const Path& path, const Path& prefix) {
    if (prefix.size() > path.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (!same_name(path[i], prefix[i])) return false;
    return true;
}

// The keys that tests write, below HKEY_LOCAL_MACHINE.
struct StoreKey {
    std::string name;
    std::vector<RegistryValue> values;
    std::vector<std::unique_ptr<StoreKey>> subkeys;
};

struct Store {
    std::mutex lock;
    StoreKey root;
};

Store& store() {
    static Store* instance = new Store;
    return *instance;
}

// With the store locked: the key at path, made on the way when create is set; null when missing.
StoreKey* store_key(const Path& path, bool create) {
    StoreKey* key = &store().root;
    for (const std::string& part : path) {
        auto found = std::find_if(key->subkeys.begin(), key->subkeys.end(),
                                  [&](const auto& sub) { return same_name(sub->name, part); });
        if (found != key->subkeys.end()) {
            key = found->get();
        } else if (create) {
            key->subkeys.push_back(std::make_unique<StoreKey>(StoreKey{part, {}, {}}));
            key = key->subkeys.back().get();
        } else {
            return nullptr;
        }
    }
    return key;
}

void add_subkey(RegistryKeyData* data, const std::string& name) {
    if (std::none_of(data->subkeys.begin(), data->subkeys.end(),
                     [&](const std::string& s) { return same_name(s, name); }))
        data->subkeys.push_back(name);
}

std::optional<RegistryKeyData> lookup(const Path& path) {
    std::vector<View> list;
    {
        auto& v = views();
        std::lock_guard guard(v.lock);
        list = v.list;
    }
    for (auto& view : list) {
        if (starts_with(path, view.root))
            return view.answer(Path(path.begin() + view.root.size(), path.end()));
    }
    // A key of the store, and an ancestor of some root: its subkeys are the store's and the
    // next components of the roots below it.
    RegistryKeyData data;
    bool found = false;
    {
        auto& st = store();
        std::lock_guard guard(st.lock);
        if (const StoreKey* key = store_key(path, false)) {
            found = true;
            data.values = key->values;
            for (const auto& sub : key->subkeys) data.subkeys.push_back(sub->name);
        }
    }
    for (auto& view : list) {
        if (view.root.size() > path.size() && starts_with(view.root, path)) {
            found = true;
            add_subkey(&data, view.root[path.size()]);
        }
    }
    if (!found && !path.empty()) return std::nullopt;
    return data;
}

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
        auto data = lookup({});
        return std::make_shared<RegistryKey>(Path{}, data.value_or(RegistryKeyData{}));
    }
    return handle_get<RegistryKey>(key);
}

}  // namespace

void register_registry_view(const std::string& root, RegistryView view) {
    auto& v = views();
    std::lock_guard guard(v.lock);
    v.list.push_back({split_path(root.c_str()), std::move(view)});
}

RegistryValue registry_string(const std::string& name, const std::string& text) {
    RegistryValue value{name, REG_SZ, std::vector<BYTE>(text.begin(), text.end())};
    value.data.push_back(0);
    return value;
}

std::optional<RegistryKeyData> registry_key(const std::string& path) {
    return lookup(split_path(path.c_str()));
}

}  // namespace platform

namespace sim {

void registry_set_value(const std::string& key, const std::string& name, uint32_t type,
                        const std::vector<uint8_t>& data) {
    auto& st = platform::store();
    std::lock_guard guard(st.lock);
    auto& values = platform::store_key(platform::split_path(key.c_str()), true)->values;
    auto found = std::find_if(values.begin(), values.end(),
                              [&](const auto& v) { return platform::same_name(v.name, name); });
    if (found != values.end())
        *found = {name, type, data};
    else
        values.push_back({name, type, data});
}

void registry_set_dword(const std::string& key, const std::string& name, uint32_t value) {
    std::vector<uint8_t> data(4);
    bytes::store_le32(data.data(), value);
    registry_set_value(key, name, REG_DWORD, data);
}

void registry_set_string(const std::string& key, const std::string& name, const std::string& text) {
    registry_set_value(key, name, REG_SZ, platform::registry_string(name, text).data);
}

void registry_delete_key(const std::string& key) {
    auto path = platform::split_path(key.c_str());
    if (path.empty()) return;
    const std::string last = path.back();
    path.pop_back();
    auto& st = platform::store();
    std::lock_guard guard(st.lock);
    if (auto* parent = platform::store_key(path, false))
        std::erase_if(parent->subkeys,
                      [&](const auto& s) { return platform::same_name(s->name, last); });
}

void registry_create_key(const std::string& key) {
    auto& st = platform::store();
    std::lock_guard guard(st.lock);
    platform::store_key(platform::split_path(key.c_str()), true);
}

}  // namespace sim

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
    auto data = lookup(path);
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
