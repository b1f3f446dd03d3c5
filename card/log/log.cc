#include "card/log/log.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "card/log/log_variant.h"
#include "card/log/source_name.h"
#include "platform/win32.h"

namespace {

const char* const kLevelNames[] = {"DEBUG", "TRACE", "ERROR", " LOG ", "ALARM", "FATAL", "ASSERT"};

struct LogSettings {
    LogLevel threshold = kLogVariant.initial_threshold;
    LogSink sink = LogWriteFile;
    char path[LOG_PATH_SIZE] = "C:/Halden/sdf-vrex.log";
    char backup_path[LOG_PATH_SIZE] = "C:/Halden/sdf-vrex-bak.log";
    uint32_t max_size = 0x00A00000;
};

LogSettings settings;

const char* level_name(LogLevel level) {
    return level >= LOG_DEBUG && level <= LOG_ASSERT ? kLevelNames[level] : "";
}

// The position after seeking to the end, or -1 when it cannot be read.
int64_t end_position(FILE* file) {
    if (_fseeki64(file, 0, SEEK_END) != 0) return -1;
    return _ftelli64(file);
}

}  // namespace

void LogPrint(LogLevel level, const char* file, uint32_t line, const char* format, ...) noexcept {
    if (level < settings.threshold) return;
    va_list args;
    va_start(args, format);
    // A line that cannot be written (the file's open could not allocate) is dropped, as when the
    // file cannot be opened: logging never changes a caller's result.
    try {
        settings.sink(level, "", file, line, format, args);
    } catch (...) {
    }
    va_end(args);
}

void LogSetLevel(LogLevel level) {
    settings.threshold = level;
}

void LogSetSink(LogSink sink) {
    if (sink) settings.sink = sink;
}

void LogInit(const char* path, LogLevel level, uint32_t max_size) {
    if (level >= LOG_DEBUG && level <= LOG_ASSERT) settings.threshold = level;
    if (path && *path) {
        std::snprintf(settings.path, sizeof settings.path, "%s", path);
        char backup[LOG_PATH_SIZE + 8];
        std::snprintf(backup, sizeof backup, "%s_bkp", settings.path);
        const size_t kept = std::min<size_t>(std::strlen(backup), LOG_PATH_SIZE - 2);
        std::memcpy(settings.backup_path, backup, kept);
        settings.backup_path[kept] = '\0';
    }
    if (max_size != 0) settings.max_size = max_size;
    settings.sink = LogWriteFile;
}

void LogWriteFile(LogLevel level, const char* tag, const char* file, uint32_t line,
                  const char* format, va_list args) {
    (void)tag;
    FILE* out = fopen(settings.path, "a");
    if (!out) return;
    struct tm now;
    GetLocalTimeStruct(&now, 0);
    const int64_t position = end_position(out);
    if (kLogVariant.moves_full_file && position != -1 &&
        position > static_cast<int64_t>(settings.max_size)) {
        std::fclose(out);
        // Windows' rename does not replace a file: without this, every move after the first
        // would fail, and the full log would be emptied by the open below instead of kept.
        DeleteFileA(settings.backup_path);
        rename(settings.path, settings.backup_path);
        out = fopen(settings.path, "w");
        if (!out) return;
    }
    char message[LOG_MESSAGE_SIZE];
    std::vsnprintf(message, sizeof message, format, args);
    std::fprintf(out, "[%04d-%02d-%02d %02d:%02d:%02d][%s] %s [%s][%d]\n", now.tm_year + 1900,
                 now.tm_mon + 1, now.tm_mday, now.tm_hour, now.tm_min, now.tm_sec,
                 level_name(level), message, file ? file : "", static_cast<int>(line));
    std::fclose(out);
}

struct tm* GetLocalTimeStruct(struct tm* out, int64_t t) {
    time_t when = t == 0 ? std::time(nullptr) : static_cast<time_t>(t);
    struct tm local {};
    localtime_s(&local, &when);
    *out = local;
    return out;
}

void dump_buf(const char* title, const uint8_t* data, uint64_t length) noexcept {
    // Formatting costs more than a whole frame exchange; skip it when the line would be dropped.
    if (LOG_DEBUG < settings.threshold) return;
    if (length > LOG_DUMP_MAX_BYTES) length = LOG_DUMP_MAX_BYTES;
    char text[LOG_DUMP_TEXT_SIZE];
    size_t used = 0;
    auto append = [&](const char* format, auto value) {
        int n = std::snprintf(text + used, sizeof text - used, format, value);
        if (n > 0) used += static_cast<size_t>(n);
        if (used >= sizeof text) used = sizeof text - 1;
    };
    text[0] = '\0';
    if (title) append("%s\n", title);
    for (uint64_t i = 0; i < length; ++i) {
        if (i % 16 == 0) append("0x%05lx: ", static_cast<unsigned long>(i));
        append("%02x ", static_cast<unsigned>(data[i]));
        if ((i + 1) % 16 == 0) append("%s", "\n");
    }
    LogPrint(LOG_DEBUG, SOURCE_FILE_NAME, __LINE__, "%s", text);
}

uint32_t LogGetErrno() {
    return static_cast<uint32_t>(errno);
}

const char* LogGetErrorText() {
    return "use error lookup please";
}
