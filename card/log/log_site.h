// Where a card function's log lines come from, and the lines it logs at level 2.
#pragma once

#include <cstdint>

#include "card/log/log.h"
#include "card/log/source_name.h"

// Where a log line comes from: the source file's name and the line.
struct LogSite {
    const char* file;
    uint32_t line;
};
#define LOG_SITE (LogSite{SOURCE_FILE_NAME, static_cast<uint32_t>(__LINE__)})

// Logs a failure at level 2 (ERROR) with the site: LOG_FAILURE(site, format, arguments...).
#define LOG_FAILURE(site, ...) LogPrint(LOG_ERROR, (site).file, (site).line, __VA_ARGS__)

// Logs a line at level 2 that reports no failure (the device build shows level 2 and above):
// LOG_NOTE(site, format, arguments...).
#define LOG_NOTE(site, ...) LogPrint(LOG_ERROR, (site).file, (site).line, __VA_ARGS__)
