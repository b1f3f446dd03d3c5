#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/core/object.h"

namespace platform {
namespace {

struct Providers {
    std::mutex lock;
    std::vector<std::pair<std::string, DeviceProvider>> list;
};

Providers& providers() {
    static Providers* instance = new Providers;
    return *instance;
}

}  // namespace

void register_device_provider(const std::string& key, DeviceProvider provider) {
    auto& p = providers();
    std::lock_guard guard(p.lock);
    for (auto& entry : p.list) {
        if (entry.first == key) {
            entry.second = std::move(provider);
            return;
        }
    }
    p.list.emplace_back(key, std::move(provider));
}

void unregister_device_provider(const std::string& key) {
    auto& p = providers();
    std::lock_guard guard(p.lock);
    std::erase_if(p.list, [&](const auto& entry) { return entry.first == key; });
}

HANDLE open_device(const char* name, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    std::vector<DeviceProvider> candidates;
    {
        auto& p = providers();
        std::lock_guard guard(p.lock);
        for (auto& entry : p.list) candidates.push_back(entry.second);
    }
    OpenRequest request{name, access, share, disposition, flags};
    for (auto& provider : candidates) {
        bool claimed = false;
        if (auto target = provider(request, &claimed)) return handle_insert(std::move(target));
        if (claimed) return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

}  // namespace platform
