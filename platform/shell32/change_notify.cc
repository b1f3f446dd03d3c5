// The shell's change notifications.
#include "platform/core/not_built.h"
#include "platform/win32.h"

extern "C" void WINAPI SHChangeNotify(LONG, UINT, LPCVOID, LPCVOID) {
    platform::not_built("SHChangeNotify");
}
