// One trace channel per component, off by default. HALDEN_TRACE lists the channels to print
// ("kernel32,advapi32", or "all"); lines go to standard error.
#pragma once

namespace platform {
bool trace_enabled(const char* channel);
void trace_print(const char* channel, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
}  // namespace platform

#define TRACE(channel, ...)                                                                    \
    do {                                                                                       \
        if (::platform::trace_enabled(channel)) ::platform::trace_print(channel, __VA_ARGS__); \
    } while (0)
