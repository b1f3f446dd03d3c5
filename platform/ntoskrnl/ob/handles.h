// The kernel's handle table: the handles of the system process, which every Zw call and system
// thread uses. Kernel handles have the top bit set, as on Windows.
#pragma once

#include "platform/ntoskrnl/ob/object.h"

namespace ntoskrnl::ob {

// A new handle to body (taking a reference and a handle count of its own).
HANDLE insert_handle(void* body, ACCESS_MASK access);
// The object behind handle, referenced; null with *status set (STATUS_INVALID_HANDLE,
// STATUS_OBJECT_TYPE_MISMATCH) when there is none of that type (type null: any).
void* reference_handle(HANDLE handle, POBJECT_TYPE type, NTSTATUS* status);
// The number of open kernel handles (for the test controls).
size_t kernel_handles();

}  // namespace ntoskrnl::ob
