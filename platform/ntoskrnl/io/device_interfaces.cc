#include "platform/ntoskrnl/io/device_interfaces.h"

#include <algorithm>
#include <mutex>

namespace ntoskrnl::io {
namespace {

struct InterfaceTable {
    std::mutex lock;
    std::vector<DeviceInterface> entries;
};

InterfaceTable& table() {
    static InterfaceTable* instance = new InterfaceTable;
    return *instance;
}

}  // namespace

void add_device_interface(const DeviceInterface& entry) {
    auto& t = table();
    std::lock_guard guard(t.lock);
    for (auto& existing : t.entries) {
        if (existing.path == entry.path) {
            existing = entry;
            return;
        }
    }
    t.entries.push_back(entry);
}

void remove_device_interface(const std::string& path) {
    auto& t = table();
    std::lock_guard guard(t.lock);
    std::erase_if(t.entries, [&](const DeviceInterface& e) { return e.path == path; });
}

std::vector<DeviceInterface> device_interfaces(const GUID& class_guid) {
    auto& t = table();
    std::lock_guard guard(t.lock);
    std::vector<DeviceInterface> result;
    for (const auto& e : t.entries)
        if (e.class_guid == class_guid) result.push_back(e);
    return result;
}

}  // namespace ntoskrnl::io
