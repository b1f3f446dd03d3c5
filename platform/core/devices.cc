#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/core/object.h"
#include "platform/core/trace.h"

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

bool is_device_name(const char* name) {
    return name[0] == '\\' && name[1] == '\\' && (name[2] == '.' || name[2] == '?') &&
           name[3] == '\\';
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

}  // namespace platform

using namespace platform;

extern "C" HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share,
                                     LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                     HANDLE template_file) {
    (void)security, (void)template_file;
    TRACE("kernel32", "CreateFileA(\"%s\", %#x, %#x, %u, %#x)", name ? name : "(null)", access,
          share, disposition, flags);
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (!is_device_name(name)) {
        // Plain files are not provided by this layer yet.
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return INVALID_HANDLE_VALUE;
    }
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

extern "C" BOOL WINAPI DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD in_size,
                                       LPVOID out, DWORD out_size, LPDWORD returned,
                                       LPOVERLAPPED overlapped) {
    TRACE("kernel32", "DeviceIoControl(%p, %#x, %p, %u, %p, %u, %p, %p)", device, code, in, in_size,
          out, out_size, static_cast<void*>(returned), static_cast<void*>(overlapped));
    auto target = handle_get<IoTarget>(device);
    if (!target) return FALSE;
    return target->device_io_control(code, in, in_size, out, out_size, returned, overlapped);
}
