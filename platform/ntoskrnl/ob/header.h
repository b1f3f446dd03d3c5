// The object header in front of every body; internal to the object manager.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ntoskrnl/ob/object.h"

namespace ntoskrnl::ob {

struct Header {
    std::atomic<long> pointers{1};
    std::atomic<long> handles{0};
    POBJECT_TYPE type = nullptr;
    // Guarded by the namespace lock.
    std::u16string name;
    void* directory = nullptr;  // the directory body holding the name (referenced)
    bool permanent = false;
    // Self-relative; empty until one is set. Guarded by the security lock (security.cc).
    std::vector<uint8_t> security;
};

inline constexpr size_t kHeaderSize = (sizeof(Header) + 15) & ~size_t{15};

inline Header* header_of(const void* body) {
    return reinterpret_cast<Header*>(const_cast<char*>(static_cast<const char*>(body)) -
                                     kHeaderSize);
}

}  // namespace ntoskrnl::ob
