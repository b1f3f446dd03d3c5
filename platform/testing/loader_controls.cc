#include "platform/testing/loader_controls.h"

#include "platform/kernel32/library_loader.h"

namespace sim {

bool thread_library_calls_disabled(HMODULE module) {
    return platform::thread_library_calls_disabled(module);
}

}  // namespace sim
