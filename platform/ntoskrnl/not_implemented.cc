#include "platform/ntoskrnl/not_implemented.h"

#include <cstdio>
#include <cstdlib>

namespace ntoskrnl {

void not_implemented(const char* what) {
    std::fprintf(stderr, "ntoskrnl: %s is not implemented by the simulated kernel\n", what);
    std::fflush(stderr);
    std::abort();
}

void bug_check(const char* check, const char* detail) {
    std::fprintf(stderr, "ntoskrnl: bug check %s: %s\n", check, detail);
    std::fflush(stderr);
    std::abort();
}

}  // namespace ntoskrnl
