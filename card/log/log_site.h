// Where a card function's log lines come from, the line of a failed argument check, and what an
// exception turns into: no exception crosses an export.
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

// Logs "invalid arg" and returns 3: a failed argument check, before the lock.
uint32_t invalid_argument(LogSite site);

// An exception that reached an export or its steps. Every one that the calls below an export can
// raise is a failed allocation, or the runtime's own lack of a resource: "no memory" (when it can
// be logged) and 16, as for a frame that cannot be allocated.
uint32_t out_of_memory(LogSite site) noexcept;

// Runs steps(), whose exception ends them as out_of_memory(site) does, so that the caller's ending
// (files, link, slot) runs as after any failure.
template <class Steps>
uint32_t guarded_steps(LogSite site, Steps&& steps) noexcept {
    try {
        return steps();
    } catch (...) {
        return out_of_memory(site);
    }
}
