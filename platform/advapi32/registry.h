// The registry inside the platform library: keys under HKEY_LOCAL_MACHINE are answered by views,
// each owning the keys at and below its root, and otherwise by a store of keys and values that
// tests write. The ancestors of a root exist as plain keys.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace platform {

struct RegistryValue {
    std::string name;
    DWORD type;
    std::vector<BYTE> data;
};

// A key's content at the moment it is opened; enumeration works on this snapshot.
struct RegistryKeyData {
    std::vector<std::string> subkeys;
    std::vector<RegistryValue> values;
};

// below: the path components under the view's root (empty for the root itself). nullopt when
// the view has no such key.
using RegistryView =
    std::function<std::optional<RegistryKeyData>(const std::vector<std::string>& below)>;

// root: a path under HKEY_LOCAL_MACHINE with backslashes ("SOFTWARE\\Microsoft\\...").
void register_registry_view(const std::string& root, RegistryView view);

// The value text of a REG_SZ value, with its terminating NUL.
RegistryValue registry_string(const std::string& name, const std::string& text);

// A key's content now: a view's answer, or the key of the store that tests write
// (platform/sim/registry.h). path: under HKEY_LOCAL_MACHINE, with backslashes.
std::optional<RegistryKeyData> registry_key(const std::string& path);

}  // namespace platform
