#include "volume/trace.h"

#include <cstdarg>
#include <cstdio>

#include "card/log/log.h"
#include "volume/last_error.h"

void VolumeTrace(const char* source, uint32_t line, const char* format, ...) {
    char text[kTraceTextSize];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    KeepLastError keep;  // the log's file calls may set it
    LogPrint(LOG_TRACE, source, line, "%s", text);
}

void LogHexDump(const char* title, const uint8_t* data, uint64_t length) {
    if (title) API_TRACE("%s: \n", title);
    if (!data) length = 0;
    for (uint64_t i = 0; i < length; ++i) {
        if (i % 16 == 0) API_TRACE("0x%05lx: ", static_cast<unsigned long>(i));
        API_TRACE("%02x ", static_cast<unsigned>(data[i]));
        if ((i + 1) % 16 == 0) API_TRACE("\n");
    }
    API_TRACE("\n");
}
