// Test controls of the loader: what modules asked of it.
#pragma once

#include "platform/win32.h"

namespace sim {

// True when DisableThreadLibraryCalls succeeded for the module.
bool thread_library_calls_disabled(HMODULE module);

}  // namespace sim
