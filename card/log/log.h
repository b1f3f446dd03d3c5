// The log facility: a level filter, one replaceable sink, and the default sink that appends one
// line per message to the log file. Nothing is kept open: every line opens, appends, closes.
//
// The build chooses the variant (log_variant.h): the device build starts at threshold 2 and moves
// a file grown past the maximum size to the backup path; the software-card build writes every
// level and never moves the file.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <ctime>

typedef int32_t LogLevel;

constexpr LogLevel LOG_DEBUG = 0;
constexpr LogLevel LOG_TRACE = 1;
constexpr LogLevel LOG_ERROR = 2;
constexpr LogLevel LOG_LOG = 3;
constexpr LogLevel LOG_ALARM = 4;
constexpr LogLevel LOG_FATAL = 5;
constexpr LogLevel LOG_ASSERT = 6;

constexpr uint32_t LOG_MESSAGE_SIZE = 4096;  // the formatted message is cut to 4095 characters
constexpr uint32_t LOG_DUMP_TEXT_SIZE = 2048;
constexpr uint64_t LOG_DUMP_MAX_BYTES = 512;
constexpr uint32_t LOG_PATH_SIZE = 260;

// (level, tag, source file, line, format, arguments)
typedef void (*LogSink)(LogLevel, const char*, const char*, uint32_t, const char*, va_list);

// Drops levels below the threshold (signed comparison), else hands the message to the sink with
// an empty tag. A sink's exception drops the line.
void LogPrint(LogLevel level, const char* file, uint32_t line, const char* format, ...) noexcept
    __attribute__((format(printf, 4, 5)));
// Sets the threshold, unchecked.
void LogSetLevel(LogLevel level);
// A null sink is ignored.
void LogSetSink(LogSink sink);
// Level 0..6 sets the threshold; a non-empty path sets the log path (at most 259 characters) and
// the backup path "<path>_bkp" (at most 258); a nonzero size sets the maximum size. The sink is
// set back to LogWriteFile in every case.
void LogInit(const char* path, LogLevel level, uint32_t max_size);
// The default sink; ignores the tag.
void LogWriteFile(LogLevel level, const char* tag, const char* file, uint32_t line,
                  const char* format, va_list args);
// Local broken-down time of t (0: now), copied to out; returns out.
struct tm* GetLocalTimeStruct(struct tm* out, int64_t t);
// Logs a hex dump of at most 512 bytes at level 0, under title when it is not null.
void dump_buf(const char* title, const uint8_t* data, uint64_t length) noexcept;

// Uncalled: the C runtime's errno, and the fixed text "use error lookup please".
uint32_t LogGetErrno();
const char* LogGetErrorText();
