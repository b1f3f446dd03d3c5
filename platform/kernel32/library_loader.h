// What modules asked of kernel32's loader, for the test controls.
#pragma once

#include "platform/win32.h"

namespace platform {

// True when DisableThreadLibraryCalls succeeded for the module.
bool thread_library_calls_disabled(HMODULE module);

}  // namespace platform
