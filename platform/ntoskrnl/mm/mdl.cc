// Memory descriptor lists over a caller's buffer. The buffer is already in the one address space
// here, so mapping it into system space gives its own address; the test controls can make
// the mapping fail, as it can on Windows under memory pressure.
#include "platform/ntoskrnl/mm/mdl.h"

#include <atomic>
#include <cstdint>

#include "platform/core/trace.h"
#include "platform/ntoskrnl/not_implemented.h"

namespace ntoskrnl::mm {
namespace {

constexpr uintptr_t kPageSize = 4096;

std::atomic<unsigned> failing_mappings{0};

}  // namespace

PMDL create_mdl(PVOID buffer, ULONG length) {
    const auto address = reinterpret_cast<uintptr_t>(buffer);
    const uintptr_t offset = address % kPageSize;
    const size_t pages = (offset + length + kPageSize - 1) / kPageSize;
    auto* mdl = new MDL{};
    mdl->Size = static_cast<CSHORT>(sizeof(MDL) + pages * sizeof(ULONG_PTR));
    mdl->MdlFlags = MDL_PAGES_LOCKED;
    mdl->StartVa = reinterpret_cast<PVOID>(address - offset);
    mdl->ByteOffset = static_cast<ULONG>(offset);
    mdl->ByteCount = length;
    return mdl;
}

void free_mdl(PMDL mdl) {
    delete mdl;
}

void fail_mdl_mappings(unsigned count) {
    failing_mappings = count;
}

}  // namespace ntoskrnl::mm

extern "C" PVOID NTAPI MmMapLockedPagesSpecifyCache(PMDL MemoryDescriptorList,
                                                    KPROCESSOR_MODE AccessMode,
                                                    MEMORY_CACHING_TYPE CacheType,
                                                    PVOID RequestedAddress, ULONG BugCheckOnFailure,
                                                    ULONG Priority) {
    (void)CacheType;
    TRACE("ntoskrnl", "MmMapLockedPagesSpecifyCache(%p, %u)",
          static_cast<void*>(MemoryDescriptorList), Priority);
    if (AccessMode != KernelMode || RequestedAddress)
        ntoskrnl::not_implemented("MmMapLockedPagesSpecifyCache into user space");
    if (!(MemoryDescriptorList->MdlFlags & MDL_PAGES_LOCKED))
        ntoskrnl::bug_check("PFN_LIST_CORRUPT", "mapping an MDL whose pages are not locked");
    for (unsigned left = ntoskrnl::mm::failing_mappings; left > 0;) {
        if (ntoskrnl::mm::failing_mappings.compare_exchange_weak(left, left - 1)) {
            if (BugCheckOnFailure) ntoskrnl::bug_check("NO_MORE_SYSTEM_PTES", "MDL mapping");
            return nullptr;
        }
    }
    MemoryDescriptorList->MappedSystemVa = MmGetMdlVirtualAddress(MemoryDescriptorList);
    MemoryDescriptorList->MdlFlags |= MDL_MAPPED_TO_SYSTEM_VA;
    return MemoryDescriptorList->MappedSystemVa;
}
