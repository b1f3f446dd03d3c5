// No exception crosses an export of the device build. A platform call that raises std::bad_alloc
// (a file's open, read or write, as the platform's own raise when they cannot allocate) ends a
// card export with 16 and "no memory" at the export's site, and the call ends as after any
// failure: the card lock free, the link closed, the key slot released, the backup file closed, a
// V2 output removed. A volume export ends with 1 and the text of ERROR_NOT_ENOUGH_MEMORY. A
// program of its own: it stands in front of the platform's file calls.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>

#include "card/card_api.h"
#include "card/exchange/card_lock.h"
#include "tests/card/container_files.h"
#include "tests/card/model_card.h"
#include "tests/support/raising_calls.h"
#include "tests/support/raising_exports.h"
#include "volume/exports.h"

namespace {

constexpr char kPin[] = "pin-of-16-chars!";
const std::string kPlain = "C:/data/plain.bin", kBackup = "C:/data/card.bak";

struct ExportCall {
    const char* name;
    const char* source;  // the export's source file, as the log lines name it
    std::function<uint32_t(const uint8_t* pke)> call;
    const char* output;  // a file that a failure must leave closed, and for V2 removed
    bool removed;
};

void PrintTo(const ExportCall& c, std::ostream* os) {
    *os << c.name;
}

class RaisingCalls : public ModelCard, public ::testing::WithParamInterface<ExportCall> {
  protected:
    void SetUp() override {
        ModelCard::SetUp();
        login_bound();
        root.make_folder("C:/data");
        write_file(root.path(kPlain), plaintext(2 * 4096 + 5));
        const uint8_t* pke = state.encryption.public_key.data();
        ASSERT_EQ(QeltEvEncFile(pke, kPlain.c_str(), "C:/data/v1.ctr"), 0u);
        ASSERT_EQ(QeltEvEncFile_V2(kPin, kPlain.c_str(), "C:/data/v2.ctr"), 0u);
        ASSERT_EQ(QeltBackupXk(kBackup.c_str(), "password-1"), 0u);
        log.clear();
    }

    // No other handle holds the file: it opens without sharing.
    bool closed(const std::string& path) const {
        HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return GetLastError() != ERROR_SHARING_VIOLATION;
        CloseHandle(h);
        return true;
    }
};

TEST_P(RaisingCalls, EndTheExportWith16AndLeaveNothingHeld) {
    const ExportCall& c = GetParam();
    int raised = 0;
    for (long n = 0;; ++n) {
        log.clear();
        uint32_t result = 99;
        bool crossed = false;
        raising::arm(n);
        try {
            result = c.call(state.encryption.public_key.data());
        } catch (...) {
            crossed = true;
        }
        if (!raising::disarm()) break;
        ++raised;
        SCOPED_TRACE(std::string(c.name) + ", call " + std::to_string(n) + " raised");
        ASSERT_FALSE(crossed);
        EXPECT_EQ(result, 16u);
        const auto lines = log.all();
        const auto no_memory = std::find_if(lines.begin(), lines.end(), [](const LoggedLine& l) {
            return l.message == "no memory";
        });
        ASSERT_NE(no_memory, lines.end());
        EXPECT_EQ(no_memory->file, c.source);
        ASSERT_TRUE(card_lock().try_lock());
        card_lock().unlock();
        EXPECT_EQ(card->device()->open_handles(), 0u);
        for (const auto& slot : card->state().key_slots) EXPECT_FALSE(slot.has_value());
        if (c.output) {
            EXPECT_TRUE(closed(c.output));
            if (c.removed) {
                EXPECT_FALSE(std::filesystem::exists(root.path(c.output)));
            }
        }
    }
    EXPECT_GE(raised, 2) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    FileCalls, RaisingCalls,
    ::testing::Values(
        ExportCall{"EncFile", "container_v1.cc",
                   [](const uint8_t* pke) {
                       return QeltEvEncFile(pke, kPlain.c_str(), "C:/data/out.ctr");
                   },
                   "C:/data/out.ctr", false},
        ExportCall{"DecFile", "container_v1.cc",
                   [](const uint8_t*) { return QeltEvDecFile("C:/data/v1.ctr", "C:/data/out"); },
                   "C:/data/out", false},
        ExportCall{"EncFileFpga", "container_v1.cc",
                   [](const uint8_t* pke) {
                       return QeltEvEncFile_FPGA(pke, kPlain.c_str(), "C:/data/out.ctr");
                   },
                   "C:/data/out.ctr", false},
        ExportCall{
            "DecFileFpga", "container_v1.cc",
            [](const uint8_t*) { return QeltEvDecFile_FPGA("C:/data/v1.ctr", "C:/data/out"); },
            "C:/data/out", false},
        ExportCall{"EncFileV2", "container_v2.cc",
                   [](const uint8_t*) {
                       return QeltEvEncFile_V2(kPin, kPlain.c_str(), "C:/data/out.ctr");
                   },
                   "C:/data/out.ctr", true},
        ExportCall{
            "DecFileV2", "container_v2.cc",
            [](const uint8_t*) { return QeltEvDecFile_V2(kPin, "C:/data/v2.ctr", "C:/data/out"); },
            "C:/data/out", true},
        ExportCall{"BackupXk", "key_backup.cc",
                   [](const uint8_t*) { return QeltBackupXk(kBackup.c_str(), "password-1"); },
                   "C:/data/card.bak", false},
        ExportCall{"RecoveryXk", "key_backup.cc",
                   [](const uint8_t*) { return QeltRecoveryXk(kBackup.c_str(), "password-1"); },
                   "C:/data/card.bak", false}),
    [](const auto& info) { return std::string(info.param.name); });

// The volume exports: the first file or drive call raising.
TEST(RaisingVolumeCalls, Give1AndTheTextOfNoMemory) {
    TempMachineRoot root;
    root.make_folder("C:/Halden");
    write_file(root.path("C:/Halden/vol.img"), Bytes(1 << 20));
    const LogCapture log;
    const uint8_t key[32] = {1};
    const VolumeMountArgs mount{"C:\\Halden\\vol.img", 1, free_letter()};
    const VolumeDismountArgs dismount{mount.letter, 1};
    expect_first_raise_ends_with_1(
        {{kMountVolume,
          [&](char* text, uint32_t size) { return QeltMountVolume(&mount, text, size, 1, key); }},
         {kDismountVolume,
          [&](char* text, uint32_t size) { return QeltDismountVolume(&dismount, text, size); }}},
        mount.letter);
}

}  // namespace
