// A call that is declared for its callers but not built yet stops the process with its name, so
// that nothing can pass on a silent no-op.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace platform {

[[noreturn]] inline void not_built(const char* name) {
    std::fprintf(stderr, "platform: %s is not built yet\n", name);
    std::fflush(stderr);
    std::abort();
}

}  // namespace platform
