// The registry's one store, below both sides: advapi32's Reg calls and the kernel's registry
// queries (RtlQueryRegistryValues) read it, the driver loader and the test controls
// (platform/testing/registry_controls.h) write it. Keys under HKEY_LOCAL_MACHINE are answered by
// views, each owning the keys at and below its root, and otherwise by the store of keys and values.
// The ancestors of a root exist as plain keys. Paths are under HKEY_LOCAL_MACHINE, with
// backslashes ("SYSTEM\\CurrentControlSet\\Services\\Orvik").
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ntoskrnl::cm {

// A path's components; empty components of the text are skipped.
using Path = std::vector<std::string>;
Path split_path(const char* text);
// Registry names compare without case.
bool same_name(const std::string& a, const std::string& b);

struct RegistryValue {
    std::string name;
    uint32_t type;  // REG_DWORD, REG_SZ, ...
    std::vector<uint8_t> data;
};

// A key's content at the moment it is opened; enumeration works on this snapshot.
struct RegistryKeyData {
    std::vector<std::string> subkeys;
    std::vector<RegistryValue> values;
};

// below: the path components under the view's root (empty for the root itself). nullopt when
// the view has no such key.
using RegistryView = std::function<std::optional<RegistryKeyData>(const Path& below)>;

// root: a path under HKEY_LOCAL_MACHINE ("SOFTWARE\\Microsoft\\...").
void register_registry_view(const std::string& root, RegistryView view);

// The value text of a REG_SZ value, with its terminating NUL.
RegistryValue registry_string(const std::string& name, const std::string& text);

// A key's content now: a view's answer, or the store's key.
std::optional<RegistryKeyData> registry_key(const Path& path);
std::optional<RegistryKeyData> registry_key(const std::string& path);

// The store's keys and values. Setting a value makes its key (and those on the way) when missing.
void registry_set_value(const std::string& key, const std::string& name, uint32_t type,
                        const std::vector<uint8_t>& data);
// Removes the key with everything below it.
void registry_delete_key(const std::string& key);
// Makes the key (and those on the way) when missing.
void registry_create_key(const std::string& key);

}  // namespace ntoskrnl::cm
