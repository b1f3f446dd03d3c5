// kernel32: the loader's calls on modules, and the entry point's notification reasons.
#pragma once

#include "platform/api/windef.h"

#define DLL_PROCESS_DETACH 0u
#define DLL_PROCESS_ATTACH 1u
#define DLL_THREAD_ATTACH 2u
#define DLL_THREAD_DETACH 3u

extern "C" {

// Stops thread attach and detach notifications to the module's entry point. FALSE with
// ERROR_INVALID_HANDLE for a handle that names no loaded module.
BOOL WINAPI DisableThreadLibraryCalls(HMODULE module);

// The Linux side of the loader: the module (its base address) that holds address, or null.
HMODULE halden_module_of(const void* address);

}  // extern "C"

// The Windows loader calls a library's DllMain on load and unload. On Linux the library names its
// entry point with HALDEN_DLL_ENTRY(DllMain): a static object of the library calls it with
// DLL_PROCESS_ATTACH when the library is loaded and DLL_PROCESS_DETACH when it is unloaded. There
// are no thread notifications on Linux.
#define HALDEN_DLL_ENTRY(entry)                                                               \
    namespace {                                                                               \
    struct HaldenDllEntry {                                                                   \
        HaldenDllEntry() { entry(module(), DLL_PROCESS_ATTACH, nullptr); }                    \
        ~HaldenDllEntry() { entry(module(), DLL_PROCESS_DETACH, nullptr); }                   \
        static HMODULE module() { return halden_module_of(reinterpret_cast<void*>(&entry)); } \
    } halden_dll_entry;                                                                       \
    }
