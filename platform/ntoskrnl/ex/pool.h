// The pool as the rest of the kernel uses it (system buffers, strings it allocates), and what the
// test controls ask of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/wdm.h"

namespace ntoskrnl {

// Tag of the kernel's own blocks: "Krnl".
inline constexpr ULONG kKernelPoolTag = 'K' | 'r' << 8 | 'n' << 16 | 'l' << 24;
// Tag of the strings the run-time library allocates for a caller (RtlAnsiStringToUnicodeString,
// RtlQueryRegistryValues), which RtlFreeUnicodeString frees: "Strg".
inline constexpr ULONG kStringPoolTag = 'S' | 't' << 8 | 'r' << 16 | 'g' << 24;

void* pool_allocate(POOL_TYPE type, SIZE_T bytes, ULONG tag);
// tag null: any tag. routine names the caller in a bug check.
void pool_free(void* block, const ULONG* tag, const char* routine);

// From now on allocations of tag (any tag when empty) of at least min_bytes fail: the first skip
// of them still succeed, then count fail (-1: all).
struct PoolFault {
    std::string tag;
    size_t min_bytes = 0;
    unsigned skip = 0;
    int count = 1;
};
void pool_fail(const PoolFault& fault);
void pool_clear_faults();
// Bytes and blocks of tag ("Orvk") allocated and not yet freed.
uint64_t pool_live_bytes(const std::string& tag);
size_t pool_live_blocks(const std::string& tag);

}  // namespace ntoskrnl
