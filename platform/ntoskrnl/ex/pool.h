// The pool as the rest of the kernel uses it (system buffers, strings it allocates).
#pragma once

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

}  // namespace ntoskrnl
