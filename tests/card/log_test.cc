// The device build's log facility: threshold 2, the move to the backup file past 10 MiB.
#include "card/log/log.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include "tests/support/temp_machine_root.h"

namespace {

constexpr char kLogPath[] = "C:/Halden/sdf-vrex.log";
constexpr char kBackupPath[] = "C:/Halden/sdf-vrex-bak.log";
constexpr uint64_t kMaxSize = 10485760;

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

// The log is written in text mode, so its lines end in "\r\n" as on Windows: the text as a
// reader in text mode sees it.
std::string text_mode(const std::string& bytes) {
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i)
        if (!(bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')) text += bytes[i];
    return text;
}

// What the sink was handed, formatted.
std::vector<std::string> captured;
void capture_sink(LogLevel level, const char* tag, const char* file, uint32_t line,
                  const char* format, va_list args) {
    (void)level, (void)tag, (void)file, (void)line;
    char text[4096];
    std::vsnprintf(text, sizeof text, format, args);
    captured.push_back(text);
}

class LogFile : public ::testing::Test {
  protected:
    void SetUp() override {
        root.make_folder("C:/Halden");
        LogInit(nullptr, LOG_ERROR, 0);
        captured.clear();
    }
    void TearDown() override { LogInit(nullptr, LOG_ERROR, 0); }

    std::string log_text() const { return text_mode(read_file(root.path(kLogPath))); }
    TempMachineRoot root;
};

TEST_F(LogFile, LineCarriesLocalTimeLevelMessageSourceAndLine) {
    const time_t before = std::time(nullptr);
    LogPrint(LOG_ERROR, "brel.cpp", 211, "invalid arg");
    const auto lines = lines_of(log_text());
    ASSERT_EQ(lines.size(), 1u);
    int year, month, day, hour, minute, second, consumed = 0;
    ASSERT_EQ(std::sscanf(lines[0].c_str(), "[%4d-%2d-%2d %2d:%2d:%2d]%n", &year, &month, &day,
                          &hour, &minute, &second, &consumed),
              6)
        << lines[0];
    EXPECT_EQ(consumed, 21);
    EXPECT_EQ(lines[0][5], '-');
    EXPECT_EQ(lines[0].substr(consumed), "[ERROR] invalid arg [brel.cpp][211]");
    struct tm local;
    GetLocalTimeStruct(&local, before);
    EXPECT_EQ(year, local.tm_year + 1900);
    EXPECT_EQ(month, local.tm_mon + 1);
    EXPECT_EQ(day, local.tm_mday);
    EXPECT_GE(hour * 3600 + minute * 60 + second,
              local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec);
}

TEST_F(LogFile, DefaultThresholdDropsLevelsBelowTwo) {
    LogPrint(LOG_DEBUG, "a.cpp", 1, "debug");
    LogPrint(LOG_TRACE, "a.cpp", 2, "trace");
    EXPECT_FALSE(std::filesystem::exists(root.path(kLogPath)));
    LogPrint(LOG_ERROR, "a.cpp", 3, "error");
    EXPECT_EQ(lines_of(log_text()).size(), 1u);
}

TEST_F(LogFile, EveryLevelFromTwoCarriesItsName) {
    const std::vector<std::string> names = {"ERROR", " LOG ", "ALARM", "FATAL", "ASSERT"};
    for (LogLevel level = LOG_ERROR; level <= LOG_ASSERT; ++level)
        LogPrint(level, "a.cpp", static_cast<uint32_t>(level), "m%d", level);
    const auto lines = lines_of(log_text());
    ASSERT_EQ(lines.size(), names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string expected = "][" + names[i] + "] m" + std::to_string(i + 2) + " [a.cpp][" +
                                     std::to_string(i + 2) + "]";
        EXPECT_NE(lines[i].find(expected), std::string::npos) << lines[i];
    }
}

TEST_F(LogFile, MissingFolderDropsTheLineSilently) {
    std::filesystem::remove_all(root.path("C:/Halden"));
    LogPrint(LOG_ERROR, "a.cpp", 1, "lost");
    EXPECT_FALSE(std::filesystem::exists(root.path("C:/Halden")));
}

// A sink that raises (the platform's open could not allocate) drops the line: nothing reaches
// the caller, whose result logging never changes.
TEST_F(LogFile, ASinkThatRaisesDropsTheLine) {
    LogSetSink([](LogLevel, const char*, const char*, uint32_t, const char*, va_list) {
        throw std::bad_alloc();
    });
    EXPECT_NO_THROW(LogPrint(LOG_ERROR, "a.cpp", 1, "lost"));
    const uint8_t frame[16] = {};
    LogSetLevel(LOG_DEBUG);
    EXPECT_NO_THROW(dump_buf("sendbuf ", frame, sizeof frame));
}

TEST_F(LogFile, LongMessageIsCutTo4095Characters) {
    const std::string longer(5000, 'x');
    LogPrint(LOG_ERROR, "a.cpp", 1, "%s", longer.c_str());
    const auto lines = lines_of(log_text());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("] " + std::string(4095, 'x') + " [a.cpp][1]"), std::string::npos);
}

// A file of exactly the maximum stays; one byte more and the next line moves it to the backup
// path and starts the new file.
TEST_F(LogFile, MovesToBackupOnlyPastTheMaximumSize) {
    const auto log = root.path(kLogPath);
    const auto backup = root.path(kBackupPath);
    { std::ofstream(log, std::ios::binary).put('x'); }
    std::filesystem::resize_file(log, kMaxSize);
    LogPrint(LOG_ERROR, "a.cpp", 1, "at the limit");
    EXPECT_FALSE(std::filesystem::exists(backup));
    EXPECT_GT(std::filesystem::file_size(log), kMaxSize);

    std::filesystem::resize_file(log, kMaxSize + 1);
    LogPrint(LOG_ERROR, "a.cpp", 2, "moves");
    ASSERT_TRUE(std::filesystem::exists(backup));
    EXPECT_EQ(std::filesystem::file_size(backup), kMaxSize + 1);
    const auto lines = lines_of(log_text());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("moves [a.cpp][2]"), std::string::npos);
}

// An older backup gives way to the newer one: Windows' rename alone would fail, keep the older
// backup and empty the full log in place.
TEST_F(LogFile, MoveReplacesAnOlderBackup) {
    const auto log = root.path(kLogPath);
    { std::ofstream(root.path(kBackupPath)) << "old backup\n"; }
    { std::ofstream(log, std::ios::binary).put('x'); }
    std::filesystem::resize_file(log, kMaxSize + 1);
    LogPrint(LOG_ERROR, "a.cpp", 1, "moves");
    EXPECT_EQ(std::filesystem::file_size(root.path(kBackupPath)), kMaxSize + 1);
    EXPECT_EQ(lines_of(log_text()).size(), 1u);
}

TEST_F(LogFile, InitKeepsWhatItIsNotGiven) {
    LogInit("", 7, 0);  // empty path, level out of range, size 0: nothing changes
    LogPrint(LOG_TRACE, "a.cpp", 1, "dropped");
    LogPrint(LOG_ERROR, "a.cpp", 2, "kept");
    EXPECT_EQ(lines_of(log_text()).size(), 1u);

    const auto log = root.path(kLogPath);
    std::filesystem::resize_file(log, kMaxSize + 1);
    LogPrint(LOG_ERROR, "a.cpp", 3, "moved at the old maximum");
    EXPECT_TRUE(std::filesystem::exists(root.path(kBackupPath)));
}

TEST_F(LogFile, InitSetsPathBackupLevelAndSize) {
    LogInit("C:/Halden/other.log", LOG_DEBUG, 100);
    LogPrint(LOG_DEBUG, "a.cpp", 1, "%s", std::string(120, 'y').c_str());
    LogPrint(LOG_DEBUG, "a.cpp", 2, "second");
    EXPECT_TRUE(std::filesystem::exists(root.path("C:/Halden/other.log_bkp")));
    const auto lines = lines_of(text_mode(read_file(root.path("C:/Halden/other.log"))));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("[DEBUG] second"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(root.path(kLogPath)));
}

TEST_F(LogFile, SetLevelAndSink) {
    LogSetLevel(LOG_DEBUG);
    LogSetSink(capture_sink);
    LogSetSink(nullptr);  // ignored: the capture stays
    LogPrint(LOG_DEBUG, "a.cpp", 1, "to %s", "sink");
    EXPECT_EQ(captured, std::vector<std::string>{"to sink"});
    EXPECT_FALSE(std::filesystem::exists(root.path(kLogPath)));
    LogSetLevel(LOG_ASSERT + 1);
    LogPrint(LOG_ASSERT, "a.cpp", 2, "below");
    EXPECT_EQ(captured.size(), 1u);
}

class DumpBuf : public ::testing::Test {
  protected:
    void SetUp() override {
        LogSetLevel(LOG_DEBUG);
        LogSetSink(capture_sink);
        captured.clear();
    }
    void TearDown() override { LogInit(nullptr, LOG_ERROR, 0); }

    static std::vector<uint8_t> counting(size_t n) {
        std::vector<uint8_t> data(n);
        for (size_t i = 0; i < n; ++i) data[i] = static_cast<uint8_t>(i);
        return data;
    }
};

TEST_F(DumpBuf, TitleThenSixteenBytesALine) {
    const auto data = counting(64);
    dump_buf("sendbuf ", data.data(), data.size());
    ASSERT_EQ(captured.size(), 1u);
    const auto lines = lines_of(captured[0]);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "sendbuf ");
    EXPECT_EQ(lines[1], "0x00000: 00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f ");
    EXPECT_EQ(lines[4].substr(0, 12), "0x00030: 30 ");
    EXPECT_EQ(captured[0].back(), '\n');
}

TEST_F(DumpBuf, ShowsAtMost512Bytes) {
    const auto data = counting(600);
    dump_buf(nullptr, data.data(), data.size());
    const auto lines = lines_of(captured.at(0));
    ASSERT_EQ(lines.size(), 32u);
    EXPECT_EQ(lines[31].substr(0, 9), "0x001f0: ");
    EXPECT_EQ(captured[0].size(), 32u * (9 + 16 * 3 + 1));
}

TEST_F(DumpBuf, LastShortLineHasNoBreakAndNullTitleStartsAtOffsetZero) {
    const auto data = counting(17);
    dump_buf(nullptr, data.data(), data.size());
    EXPECT_EQ(captured.at(0),
              "0x00000: 00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f \n0x00010: 10 ");
}

TEST_F(DumpBuf, DroppedUnderTheDefaultThreshold) {
    LogSetLevel(LOG_ERROR);
    const auto data = counting(4);
    dump_buf("t", data.data(), data.size());
    EXPECT_TRUE(captured.empty());
}

TEST(LogHelpers, LocalTimeOfAGivenMoment) {
    const time_t moment = 1730715302;  // 2024-11-04 10:15:02 UTC
    struct tm expected;
#ifdef _WIN32
    localtime_s(&expected, &moment);
#else
    localtime_r(&moment, &expected);
#endif
    struct tm out;
    EXPECT_EQ(GetLocalTimeStruct(&out, moment), &out);
    EXPECT_EQ(out.tm_year, expected.tm_year);
    EXPECT_EQ(out.tm_yday, expected.tm_yday);
    EXPECT_EQ(out.tm_hour, expected.tm_hour);
    EXPECT_EQ(out.tm_sec, 2);
}

TEST(LogHelpers, UncalledFunctions) {
    errno = 13;
    EXPECT_EQ(LogGetErrno(), 13u);
    EXPECT_STREQ(LogGetErrorText(), "use error lookup please");
}

}  // namespace
