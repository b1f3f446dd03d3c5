#include "platform/testing/registry_controls.h"

#include "base/byte_access.h"
#include "platform/ntoskrnl/cm/registry.h"
#include "platform/wdm.h"

namespace sim {

void registry_set_value(const std::string& key, const std::string& name, uint32_t type,
                        const std::vector<uint8_t>& data) {
    ntoskrnl::cm::registry_set_value(key, name, type, data);
}

void registry_set_dword(const std::string& key, const std::string& name, uint32_t value) {
    std::vector<uint8_t> data(4);
    bytes::store_le32(data.data(), value);
    registry_set_value(key, name, REG_DWORD, data);
}

void registry_set_string(const std::string& key, const std::string& name, const std::string& text) {
    registry_set_value(key, name, REG_SZ, ntoskrnl::cm::registry_string(name, text).data);
}

void registry_delete_key(const std::string& key) {
    ntoskrnl::cm::registry_delete_key(key);
}

void registry_create_key(const std::string& key) {
    ntoskrnl::cm::registry_create_key(key);
}

}  // namespace sim
