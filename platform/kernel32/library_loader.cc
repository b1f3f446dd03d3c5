// kernel32's loader calls over the Linux dynamic loader: a module is a loaded object, named by
// its base address as on Windows.
#include "platform/kernel32/library_loader.h"

#include <dlfcn.h>

#include <mutex>
#include <set>

#include "platform/core/trace.h"
#include "platform/win32.h"

namespace {

std::mutex lock;
std::set<HMODULE>& thread_calls_disabled() {
    static std::set<HMODULE> modules;
    return modules;
}

}  // namespace

extern "C" HMODULE halden_module_of(const void* address) {
    Dl_info info{};
    if (!address || dladdr(address, &info) == 0) return nullptr;
    return info.dli_fbase;
}

extern "C" BOOL WINAPI DisableThreadLibraryCalls(HMODULE module) {
    TRACE("kernel32", "DisableThreadLibraryCalls(%p)", module);
    if (!module || halden_module_of(module) != module) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard guard(lock);
    thread_calls_disabled().insert(module);
    return TRUE;
}

bool platform::thread_library_calls_disabled(HMODULE module) {
    std::lock_guard guard(lock);
    return thread_calls_disabled().count(module) != 0;
}
