#include "platform/core/trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {

bool trace_enabled(const char* channel) {
    static const char* const channels = std::getenv("HALDEN_TRACE");
    if (!channels || !*channels) return false;
    const size_t len = std::strlen(channel);
    for (const char* p = channels; *p;) {
        const char* end = std::strchr(p, ',');
        const size_t n = end ? static_cast<size_t>(end - p) : std::strlen(p);
        if ((n == 3 && std::strncmp(p, "all", 3) == 0) ||
            (n == len && std::strncmp(p, channel, n) == 0))
            return true;
        if (!end) break;
        p = end + 1;
    }
    return false;
}

void trace_print(const char* channel, const char* format, ...) {
    std::fprintf(stderr, "trace:%s: ", channel);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

}  // namespace platform
