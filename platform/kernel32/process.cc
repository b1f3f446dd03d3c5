// kernel32's calls on the current process and thread, and local memory.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/core/trace.h"
#include "platform/win32.h"

using namespace platform;

namespace {

// The pseudo-handle of the current process, as Windows gives it: (HANDLE)-1.
const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));

}  // namespace

extern "C" HANDLE WINAPI GetCurrentProcess() {
    return kCurrentProcess;
}

extern "C" void WINAPI Sleep(DWORD milliseconds) {
    TRACE("kernel32", "Sleep(%u)", milliseconds);
    if (milliseconds == INFINITE) {
        for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

extern "C" HANDLE WINAPI LocalAlloc(UINT flags, SIZE_T bytes) {
    TRACE("kernel32", "LocalAlloc(%#x, %zu)", flags, static_cast<size_t>(bytes));
    if (flags & ~LMEM_ZEROINIT) {
        TRACE("kernel32", "movable local memory is not provided");
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    void* block = std::malloc(bytes ? bytes : 1);
    if (!block) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (flags & LMEM_ZEROINIT) std::memset(block, 0, bytes);
    return block;
}

extern "C" HANDLE WINAPI LocalFree(HANDLE memory) {
    TRACE("kernel32", "LocalFree(%p)", memory);
    std::free(memory);
    return nullptr;
}
