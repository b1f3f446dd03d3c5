#include <cstdarg>
#include <cstdio>

#include "volume/last_error.h"
#include "volume/steps.h"
#include "volume/trace.h"
#include "volume/variant.h"

void WriteErrorText(char* error_text, uint32_t error_text_size, const char* format, ...) {
    if (!error_text || error_text_size == 0) return;
    va_list args;
    va_start(args, format);
    std::vsnprintf(error_text, error_text_size, format, args);
    va_end(args);
}

void ReportLastError(const char* operation, const char* detail, char* error_text,
                     uint32_t error_text_size) {
    KeepLastError keep;
    const DWORD error = GetLastError();
    char* message = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<LPSTR>(&message), 0, nullptr);
    // The system's text ends with its line break; a code it has no text for is named instead.
    char unknown[32];
    std::snprintf(unknown, sizeof unknown, "system error %lu", static_cast<unsigned long>(error));
    char text[kTraceTextSize];
    std::snprintf(text, sizeof text, "[%s]%s %s", operation, detail,
                  length != 0 && message ? message : unknown);
    WriteErrorText(error_text, error_text_size, "%s", text);
    if (kVolumeVariant.logs_reported_error) KELVANE_TRACE("%s\n", text);
    if (message) LocalFree(message);
}
