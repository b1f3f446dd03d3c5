// The pool: 16-byte aligned blocks from the host heap, each known with its size and tag until it
// is freed, so that freeing anything else is caught without touching it. Live bytes are counted
// per tag; the test controls can make allocations fail.
#include "platform/ntoskrnl/ex/pool.h"

#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/core/trace.h"
#include "platform/ntoskrnl/ke/thread.h"
#include "platform/ntoskrnl/not_implemented.h"

namespace ntoskrnl {
namespace {

struct Block {
    SIZE_T size;
    ULONG tag;
};

struct Usage {
    uint64_t bytes = 0;
    size_t blocks = 0;
};

struct Pool {
    std::mutex lock;
    std::map<ULONG, Usage> usage;
    std::unordered_map<void*, Block> blocks;
    PoolFault fault;
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
    void* block = std::aligned_alloc(16, (bytes + 15) / 16 * 16 + (bytes == 0 ? 16 : 0));
    if (!block) return nullptr;
    std::lock_guard guard(p.lock);
    p.blocks.emplace(block, Block{bytes, tag});
    Usage& u = p.usage[tag];
    u.bytes += bytes;
    ++u.blocks;
    return block;
}

void pool_free(void* block, const ULONG* tag, const char* routine) {
    auto& p = pool();
    {
        std::lock_guard guard(p.lock);
        auto found = p.blocks.find(block);
        if (found == p.blocks.end())
            bug_check("BAD_POOL_CALLER", block ? "freeing what is not a live pool block" : routine);
        if (tag && *tag != found->second.tag)
            bug_check("BAD_POOL_CALLER", "freed with another tag");
        Usage& u = p.usage[found->second.tag];
        u.bytes -= found->second.size;
        --u.blocks;
        p.blocks.erase(found);
    }
    std::free(block);
}

void pool_fail(const PoolFault& fault) {
    auto& p = pool();
    std::lock_guard guard(p.lock);
    p.fault = fault;
    p.faulting = true;
    p.skipped = 0;
    p.failed = 0;
}

void pool_clear_faults() {
    auto& p = pool();
    std::lock_guard guard(p.lock);
    p.faulting = false;
}

uint64_t pool_live_bytes(const std::string& tag) {
    auto& p = pool();
    std::lock_guard guard(p.lock);
    auto found = p.usage.find(tag_value(tag));
    return found == p.usage.end() ? 0 : found->second.bytes;
}

size_t pool_live_blocks(const std::string& tag) {
    auto& p = pool();
    std::lock_guard guard(p.lock);
    auto found = p.usage.find(tag_value(tag));
    return found == p.usage.end() ? 0 : found->second.blocks;
}

}  // namespace ntoskrnl

using namespace ntoskrnl;

extern "C" PVOID NTAPI ExAllocatePoolWithTag(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG Tag) {
    PVOID block = pool_allocate(PoolType, NumberOfBytes, Tag);
    TRACE("ntoskrnl", "ExAllocatePoolWithTag(%d, %zu, %.4s): %p", static_cast<int>(PoolType),
          static_cast<size_t>(NumberOfBytes), reinterpret_cast<const char*>(&Tag), block);
    return block;
}

extern "C" VOID NTAPI ExFreePoolWithTag(PVOID P, ULONG Tag) {
    TRACE("ntoskrnl", "ExFreePoolWithTag(%p, %.4s)", P, reinterpret_cast<const char*>(&Tag));
    pool_free(P, &Tag, "ExFreePoolWithTag");
}

extern "C" VOID NTAPI ExFreePool(PVOID P) {
    TRACE("ntoskrnl", "ExFreePool(%p)", P);
    pool_free(P, nullptr, "ExFreePool");
}
