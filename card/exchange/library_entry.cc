// The device build's entry point. The library keeps nothing but the card lock, which static
// initialisation constructs: no log set-up, no device, no configuration, no thread at load.
#include "platform/win32.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) try {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(module);
    return TRUE;
} catch (...) {
    return TRUE;  // the notifications stay on; the library needs nothing else
}

HALDEN_DLL_ENTRY(DllMain)
