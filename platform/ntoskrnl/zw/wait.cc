// ZwWaitForSingleObject: a kernel handle's thread or file, waited for as a dispatcher object.
#include <string>

#include "platform/core/trace.h"
#include "platform/ntoskrnl/io/io.h"
#include "platform/ntoskrnl/ob/handles.h"
#include "platform/ntoskrnl/ps/system_threads.h"

using namespace ntoskrnl;

extern "C" NTSTATUS NTAPI ZwWaitForSingleObject(HANDLE Handle, BOOLEAN Alertable,
                                                PLARGE_INTEGER Timeout) {
    TRACE("ntoskrnl", "ZwWaitForSingleObject(%p, %d, %s)", Handle, Alertable,
          Timeout ? std::to_string(Timeout->QuadPart).c_str() : "no time-out");
    NTSTATUS status;
    void* body = ob::reference_handle(Handle, nullptr, &status);
    if (!body) return status;
    // A thread is its own dispatcher object; a file is waited for through its event.
    PVOID object = nullptr;
    if (ob::type_of(body) == &thread_type)
        object = body;
    else if (ob::type_of(body) == &io::file_type)
        object = &static_cast<PFILE_OBJECT>(body)->Event;
    status = object ? KeWaitForSingleObject(object, Executive, KernelMode, Alertable, Timeout)
                    : STATUS_OBJECT_TYPE_MISMATCH;
    ob::dereference(body);
    return status;
}
