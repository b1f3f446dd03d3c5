#include "platform/kernel32/overlapped.h"

#include <atomic>

#include "platform/core/trace.h"
#include "platform/ntoskrnl/ke/event.h"
#include "platform/ntoskrnl/rtl/status_error.h"

using ntoskrnl::nt_status_to_error;

namespace platform {

void overlapped_begin(OVERLAPPED* overlapped) {
    std::atomic_ref<ULONG_PTR>(overlapped->InternalHigh).store(0, std::memory_order_relaxed);
    std::atomic_ref<ULONG_PTR>(overlapped->Internal)
        .store(STATUS_PENDING, std::memory_order_release);
    if (overlapped->hEvent) {
        if (auto event =
                std::dynamic_pointer_cast<ntoskrnl::Event>(handle_lookup(overlapped->hEvent)))
            event->reset();
    }
}

void overlapped_complete(OVERLAPPED* overlapped, uint32_t nt_status, uint32_t information) {
    HANDLE event = overlapped->hEvent;  // read first: the owner may reuse the record once done
    std::atomic_ref<ULONG_PTR>(overlapped->InternalHigh)
        .store(information, std::memory_order_relaxed);
    std::atomic_ref<ULONG_PTR>(overlapped->Internal).store(nt_status, std::memory_order_release);
    if (event) ntoskrnl::signal_event(event);
}

}  // namespace platform

using namespace platform;

extern "C" BOOL WINAPI GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped,
                                           LPDWORD transferred, BOOL wait) {
    TRACE("kernel32", "GetOverlappedResult(%p, %p, %p, %d)", file, static_cast<void*>(overlapped),
          static_cast<void*>(transferred), wait);
    if (!overlapped || !transferred) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::atomic_ref<ULONG_PTR> internal(overlapped->Internal);
    if (internal.load(std::memory_order_acquire) == STATUS_PENDING) {
        if (!wait) {
            SetLastError(ERROR_IO_INCOMPLETE);
            return FALSE;
        }
        auto target =
            handle_get<ntoskrnl::Waitable>(overlapped->hEvent ? overlapped->hEvent : file);
        if (!target) return FALSE;
        while (internal.load(std::memory_order_acquire) == STATUS_PENDING) target->wait(INFINITE);
    }
    auto status = static_cast<uint32_t>(internal.load(std::memory_order_acquire));
    *transferred = static_cast<DWORD>(
        std::atomic_ref<ULONG_PTR>(overlapped->InternalHigh).load(std::memory_order_relaxed));
    if (!NT_SUCCESS(status)) {
        SetLastError(nt_status_to_error(status));
        return FALSE;
    }
    return TRUE;
}
