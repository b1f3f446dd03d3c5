// System threads of the driver: started with their thread object referenced, so that whoever
// ends them can wait until they have left the driver's code.
#include "driver/orvik.h"

NTSTATUS StartSystemThread(PKSTART_ROUTINE routine, PVOID context, VOID (*stop)(PVOID),
                           PVOID* thread) {
    *thread = nullptr;
    HANDLE handle;
    NTSTATUS status = PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr,
                                           routine, context);
    if (!NT_SUCCESS(status)) return status;
    status =
        ObReferenceObjectByHandle(handle, THREAD_ALL_ACCESS, nullptr, KernelMode, thread, nullptr);
    if (!NT_SUCCESS(status)) {
        *thread = nullptr;
        stop(context);
        ZwWaitForSingleObject(handle, FALSE, nullptr);
    }
    ZwClose(handle);
    return status;
}

VOID WaitForSystemThread(PVOID thread) {
    KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr);
    ObDereferenceObject(thread);
}
