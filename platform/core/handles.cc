#include <cstdint>
#include <mutex>
#include <unordered_map>

#include "platform/core/object.h"

namespace platform {
namespace {

struct HandleTable {
    std::mutex lock;
    std::unordered_map<uintptr_t, std::shared_ptr<Object>> objects;
    uintptr_t next = 0x100;  // multiples of 4, as Windows hands them out
};

HandleTable& table() {
    static HandleTable* instance = new HandleTable;  // never destroyed: handles outlive statics
    return *instance;
}

}  // namespace

HANDLE handle_insert(std::shared_ptr<Object> object) {
    auto& t = table();
    std::lock_guard guard(t.lock);
    uintptr_t value = t.next;
    t.next += 4;
    t.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<Object> handle_lookup(HANDLE handle) {
    auto& t = table();
    std::lock_guard guard(t.lock);
    auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
    return it == t.objects.end() ? nullptr : it->second;
}

bool handle_erase(HANDLE handle) {
    auto& t = table();
    std::lock_guard guard(t.lock);
    return t.objects.erase(reinterpret_cast<uintptr_t>(handle)) != 0;
}

}  // namespace platform
