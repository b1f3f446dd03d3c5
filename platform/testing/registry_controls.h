// Test controls of the registry: keys and values under HKEY_LOCAL_MACHINE that tests write and that
// user mode (RegOpenKeyA, RegQueryValueExA) and kernel mode (RtlQueryRegistryValues) read. Paths
// are relative to HKEY_LOCAL_MACHINE ("SYSTEM\\CurrentControlSet\\Services\\Orvik"); keys on the
// way are made as needed. String values are stored as their ANSI bytes with a terminating NUL.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

void registry_set_value(const std::string& key, const std::string& name, uint32_t type,
                        const std::vector<uint8_t>& data);
void registry_set_dword(const std::string& key, const std::string& name, uint32_t value);
void registry_set_string(const std::string& key, const std::string& name, const std::string& text);
// Removes the key with everything below it.
void registry_delete_key(const std::string& key);
// Makes the key (and those on the way) when missing.
void registry_create_key(const std::string& key);

}  // namespace sim
