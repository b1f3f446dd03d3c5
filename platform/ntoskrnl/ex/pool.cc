// The pool: blocks from the host heap behind a header with the tag, the size and a mark. Live
// bytes are counted per tag; the test API can make allocations fail.
#include "platform/ntoskrnl/ex/pool.h"

#include <cstdlib>
#include <map>
#include <mutex>
#include <new>
#include <string>

#include "platform/ntoskrnl/ke/thread.h"
#include "platform/ntoskrnl/not_implemented.h"
#include "platform/sim/kernel.h"

namespace ntoskrnl {
namespace {

constexpr uint64_t kLiveMark = 0x6C6F6F5065766954;  // "TivePool"
constexpr uint64_t kFreedMark = 0x6C6F6F5064656546;

struct alignas(16) BlockHeader {
    uint64_t mark;
    uint64_t size;
    ULONG tag;
    POOL_TYPE type;
};

struct Usage {
    uint64_t bytes = 0;
    size_t blocks = 0;
};

struct Pool {
    std::mutex lock;
    std::map<ULONG, Usage> usage;
    sim::kernel::PoolFault fault;
    bool faulting = false;
    unsigned skipped = 0;
    int failed = 0;
};

Pool& pool() {
    static Pool* instance = new Pool;
    return *instance;
}

ULONG tag_value(const std::string& tag) {
    ULONG value = 0;
    for (size_t i = 0; i < 4 && i < tag.size(); ++i)
        value |= static_cast<ULONG>(static_cast<unsigned char>(tag[i])) << (8 * i);
    return value;
}

// With the pool lock held: whether this allocation is one the test asked to fail.
bool should_fail(Pool& p, SIZE_T bytes, ULONG tag) {
    if (!p.faulting) return false;
    const auto& f = p.fault;
    if ((!f.tag.empty() && tag_value(f.tag) != tag) || bytes < f.min_bytes) return false;
    if (p.skipped < f.skip) {
        ++p.skipped;
        return false;
    }
    if (f.count >= 0 && p.failed >= f.count) return false;
    ++p.failed;
    return true;
}

}  // namespace

void* pool_allocate(POOL_TYPE type, SIZE_T bytes, ULONG tag) {
    if (type == PagedPool) require_passive_level("ExAllocatePoolWithTag of paged pool");
    auto& p = pool();
    {
        std::lock_guard guard(p.lock);
        if (should_fail(p, bytes, tag)) return nullptr;
    }
    void* block = std::malloc(sizeof(BlockHeader) + bytes);
    if (!block) return nullptr;
    auto* header = new (block) BlockHeader{kLiveMark, bytes, tag, type};
    {
        std::lock_guard guard(p.lock);
        Usage& u = p.usage[tag];
        u.bytes += bytes;
        ++u.blocks;
    }
    return header + 1;
}

void pool_free(void* block, const ULONG* tag, const char* routine) {
    if (!block) bug_check("BAD_POOL_CALLER", routine);
    auto* header = static_cast<BlockHeader*>(block) - 1;
    if (header->mark != kLiveMark)
        bug_check("BAD_POOL_CALLER",
                  header->mark == kFreedMark ? "a pool block freed twice" : "not a pool block");
    if (tag && *tag != header->tag) bug_check("BAD_POOL_CALLER", "freed with another tag");
    auto& p = pool();
    {
        std::lock_guard guard(p.lock);
        Usage& u = p.usage[header->tag];
        u.bytes -= header->size;
        --u.blocks;
    }
    header->mark = kFreedMark;
    std::free(header);
}

}  // namespace ntoskrnl

namespace sim::kernel {

void pool_fail(const PoolFault& fault) {
    auto& p = ntoskrnl::pool();
    std::lock_guard guard(p.lock);
    p.fault = fault;
    p.faulting = true;
    p.skipped = 0;
    p.failed = 0;
}

void pool_clear_faults() {
    auto& p = ntoskrnl::pool();
    std::lock_guard guard(p.lock);
    p.faulting = false;
}

uint64_t pool_live_bytes(const std::string& tag) {
    auto& p = ntoskrnl::pool();
    std::lock_guard guard(p.lock);
    auto found = p.usage.find(ntoskrnl::tag_value(tag));
    return found == p.usage.end() ? 0 : found->second.bytes;
}

size_t pool_live_blocks(const std::string& tag) {
    auto& p = ntoskrnl::pool();
    std::lock_guard guard(p.lock);
    auto found = p.usage.find(ntoskrnl::tag_value(tag));
    return found == p.usage.end() ? 0 : found->second.blocks;
}

}  // namespace sim::kernel

using namespace ntoskrnl;

extern "C" PVOID NTAPI ExAllocatePoolWithTag(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG Tag) {
    return pool_allocate(PoolType, NumberOfBytes, Tag);
}

extern "C" VOID NTAPI ExFreePoolWithTag(PVOID P, ULONG Tag) {
    pool_free(P, &Tag, "ExFreePoolWithTag");
}

extern "C" VOID NTAPI ExFreePool(PVOID P) {
    pool_free(P, nullptr, "ExFreePool");
}
