#include "platform/ntoskrnl/ob/handles.h"

#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/core/trace.h"
#include "platform/ntoskrnl/ke/thread.h"
#include "platform/ntoskrnl/not_implemented.h"
#include "platform/ntoskrnl/ob/namespace.h"
#include "platform/ntoskrnl/rtl/text.h"

namespace ntoskrnl::ob {
namespace {

constexpr uintptr_t kKernelHandleBit = 0xFFFFFFFF80000000ull;
// NtCurrentThread(): the calling thread, without a table entry.
const HANDLE kCurrentThread = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2));

struct Entry {
    void* body;
    ACCESS_MASK access;
};

struct Table {
    std::mutex lock;
    std::unordered_map<uintptr_t, Entry> entries;
    uintptr_t next = 4;
};

Table& table() {
    static Table* instance = new Table;
    return *instance;
}

}  // namespace

HANDLE insert_handle(void* body, ACCESS_MASK access) {
    reference(body);
    handle_opened(body);
    auto& t = table();
    std::lock_guard guard(t.lock);
    const uintptr_t value = kKernelHandleBit | t.next;
    t.next += 4;
    t.entries.emplace(value, Entry{body, access});
    return reinterpret_cast<HANDLE>(value);
}

void* reference_handle(HANDLE handle, POBJECT_TYPE type, NTSTATUS* status) {
    void* body = nullptr;
    if (handle == kCurrentThread) {
        body = current_thread();
        reference(body);
    } else {
        auto& t = table();
        std::lock_guard guard(t.lock);
        auto found = t.entries.find(reinterpret_cast<uintptr_t>(handle));
        if (found == t.entries.end()) {
            *status = STATUS_INVALID_HANDLE;
            return nullptr;
        }
        body = found->second.body;
        reference(body);
    }
    if (type && type_of(body) != type) {
        dereference(body);
        *status = STATUS_OBJECT_TYPE_MISMATCH;
        return nullptr;
    }
    *status = STATUS_SUCCESS;
    return body;
}

size_t kernel_handles() {
    auto& t = table();
    std::lock_guard guard(t.lock);
    return t.entries.size();
}

}  // namespace ntoskrnl::ob

using namespace ntoskrnl;

extern "C" NTSTATUS NTAPI ObReferenceObjectByHandle(HANDLE Handle, ACCESS_MASK DesiredAccess,
                                                    POBJECT_TYPE ObjectType,
                                                    KPROCESSOR_MODE AccessMode, PVOID* Object,
                                                    POBJECT_HANDLE_INFORMATION HandleInformation) {
    (void)AccessMode;
    TRACE("ntoskrnl", "ObReferenceObjectByHandle(%p, %#x, %p)", Handle, DesiredAccess,
          static_cast<void*>(ObjectType));
    NTSTATUS status;
    *Object = ob::reference_handle(Handle, ObjectType, &status);
    if (NT_SUCCESS(status) && HandleInformation) {
        HandleInformation->HandleAttributes = 0;
        HandleInformation->GrantedAccess = DesiredAccess;
    }
    return status;
}

extern "C" NTSTATUS NTAPI ObOpenObjectByPointer(PVOID Object, ULONG HandleAttributes,
                                                PACCESS_STATE PassedAccessState,
                                                ACCESS_MASK DesiredAccess, POBJECT_TYPE ObjectType,
                                                KPROCESSOR_MODE AccessMode, PHANDLE Handle) {
    TRACE("ntoskrnl", "ObOpenObjectByPointer(%p, %#x, %p, %#x, %p, %d)", Object, HandleAttributes,
          static_cast<void*>(PassedAccessState), DesiredAccess, static_cast<void*>(ObjectType),
          AccessMode);
    // A user-mode open would be checked against the object's DACL, which is not modelled.
    if (AccessMode != KernelMode || PassedAccessState)
        not_implemented("ObOpenObjectByPointer with an access check");
    if (ObjectType && ob::type_of(Object) != ObjectType) return STATUS_OBJECT_TYPE_MISMATCH;
    *Handle = ob::insert_handle(Object, DesiredAccess);
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS NTAPI ZwClose(HANDLE Handle) {
    TRACE("ntoskrnl", "ZwClose(%p)", Handle);
    require_passive_level("ZwClose");
    void* body = nullptr;
    {
        auto& t = ob::table();
        std::lock_guard guard(t.lock);
        auto found = t.entries.find(reinterpret_cast<uintptr_t>(Handle));
        if (found != t.entries.end()) {
            body = found->second.body;
            t.entries.erase(found);
        }
    }
    // Closing a kernel handle that is not open is a bug check on Windows.
    if (!body) bug_check("INVALID_KERNEL_HANDLE", "ZwClose of a handle that is not open");
    ob::handle_closed(body);
    ob::dereference(body);
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS NTAPI ZwCreateDirectoryObject(PHANDLE DirectoryHandle,
                                                  ACCESS_MASK DesiredAccess,
                                                  POBJECT_ATTRIBUTES ObjectAttributes) {
    TRACE("ntoskrnl", "ZwCreateDirectoryObject(%p, %#x, \"%s\", %#x)",
          static_cast<void*>(DirectoryHandle), DesiredAccess,
          ObjectAttributes ? utf16_to_utf8(view_of(ObjectAttributes->ObjectName)).c_str() : "",
          ObjectAttributes ? ObjectAttributes->Attributes : 0u);
    require_passive_level("ZwCreateDirectoryObject");
    if (!DirectoryHandle || !ObjectAttributes || !ObjectAttributes->ObjectName)
        return STATUS_INVALID_PARAMETER;
    void* root = nullptr;
    if (ObjectAttributes->RootDirectory) {
        NTSTATUS status;
        root = ob::reference_handle(ObjectAttributes->RootDirectory, &ob::directory_type, &status);
        if (!root) return status;
    }
    void* directory = ob::create_directory();
    void* existing = nullptr;
    NTSTATUS status = ob::insert_object(directory, view_of(ObjectAttributes->ObjectName), root,
                                        ObjectAttributes->Attributes, &existing);
    if (root) ob::dereference(root);
    if (status == STATUS_OBJECT_NAME_EXISTS) {
        ob::dereference(directory);
        directory = existing;
    }
    if (NT_SUCCESS(status)) *DirectoryHandle = ob::insert_handle(directory, DesiredAccess);
    ob::dereference(directory);
    return status;
}

extern "C" NTSTATUS NTAPI ZwMakeTemporaryObject(HANDLE Handle) {
    TRACE("ntoskrnl", "ZwMakeTemporaryObject(%p)", Handle);
    require_passive_level("ZwMakeTemporaryObject");
    NTSTATUS status;
    void* body = ob::reference_handle(Handle, nullptr, &status);
    if (!body) return status;
    ob::make_temporary(body);
    ob::dereference(body);
    return STATUS_SUCCESS;
}
