// Captures what the card functions log, in place of the log file, for one test.
#pragma once

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "card/log/log.h"

struct LoggedLine {
    LogLevel level;
    std::string file;
    uint32_t line;
    std::string message;
};

class LogCapture {
  public:
    // Installs the capturing sink at the device build's threshold (2).
    LogCapture() {
        std::lock_guard guard(lock());
        lines().clear();
        line_hook() = nullptr;
        LogSetSink(capture);
        LogSetLevel(LOG_ERROR);
    }
    ~LogCapture() {
        on_line(nullptr);
        LogSetSink(LogWriteFile);
        LogSetLevel(LOG_ERROR);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LoggedLine> all() const {
        std::lock_guard guard(lock());
        return lines();
    }
    // The messages of one level, in order.
    std::vector<std::string> messages(LogLevel level = LOG_ERROR) const {
        std::vector<std::string> out;
        for (const LoggedLine& l : all())
            if (l.level == level) out.push_back(l.message);
        return out;
    }
    void clear() {
        std::lock_guard guard(lock());
        lines().clear();
    }
    // Called with each line once it is kept, on the thread that logs it (null: none).
    void on_line(std::function<void(const LoggedLine&)> hook) {
        std::lock_guard guard(lock());
        line_hook() = std::move(hook);
    }

  private:
    static std::mutex& lock() {
        static std::mutex m;
        return m;
    }
    static std::vector<LoggedLine>& lines() {
        static std::vector<LoggedLine> l;
        return l;
    }
    static std::function<void(const LoggedLine&)>& line_hook() {
        static std::function<void(const LoggedLine&)> hook;
        return hook;
    }
    static void capture(LogLevel level, const char*, const char* file, uint32_t line,
                        const char* format, va_list args) {
        char text[LOG_MESSAGE_SIZE];
        std::vsnprintf(text, sizeof text, format, args);
        const LoggedLine logged{level, file ? file : "", line, text};
        std::function<void(const LoggedLine&)> hook;
        {
            std::lock_guard guard(lock());
            lines().push_back(logged);
            hook = line_hook();
        }
        if (hook) hook(logged);
    }
};
