// The volume functions' log lines: level TRACE, the message formatted into a 2048-byte buffer
// first and logged as "%s". The source they name is "api" (the exports, the card device path, the
// key dumps) or "Kelvane" (the mount, dismount, format and drive-letter steps).
//
// A trace never changes the thread's last error: the error texts report it after the trace.
#pragma once

#include <cstdint>

inline constexpr char kApiSource[] = "api";
inline constexpr char kKelvaneSource[] = "Kelvane";
inline constexpr uint32_t kTraceTextSize = 2048;

void VolumeTrace(const char* source, uint32_t line, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

#define API_TRACE(...) VolumeTrace(kApiSource, static_cast<uint32_t>(__LINE__), __VA_ARGS__)
#define KELVANE_TRACE(...) VolumeTrace(kKelvaneSource, static_cast<uint32_t>(__LINE__), __VA_ARGS__)

// A hex dump of data, one log line per piece: "%s: \n" with the title (when given), then for byte
// i "0x%05lx: " with i when i is a multiple of 16, "%02x " with the byte, "\n" after every 16th
// byte, and a last "\n". Source "api".
void LogHexDump(const char* title, const uint8_t* data, uint64_t length);
