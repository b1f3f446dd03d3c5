// The file containers on a machine without the card: the V2 and FPGA exports' opening log lines
// around their argument checks, what each export leaves behind when the card cannot be reached,
// and the length rule, also for sparse containers past 2^31 and 2^32 bytes. Runs on Linux and
// under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "card/card_api.h"
#include "tests/card/container_files.h"
#include "tests/support/log_capture.h"

namespace {

const uint8_t kPke[64] = {1};
const std::string kPath255(255, 'p');
// "ciphertext file length incorrect", "plaintext file open failed" (GBK)
const std::string kLengthWrong =
    "\xc3\xdc\xce\xc4\xce\xc4\xbc\xfe\xb3\xa4\xb6\xc8\xb2\xbb\xd5\xfd\xc8\xb7";
const std::string kPtOpenFailed =
    "\xc3\xf7\xce\xc4\xce\xc4\xbc\xfe\xb4\xf2\xbf\xaa\xca\xa7\xb0\xdc";
const std::string kNoLink = "open_usb_dev error:-2";

class NoCardContainers : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("halden-containers-" + std::to_string(std::random_device()()));
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    std::string file(const char* name) const { return (folder_ / name).string(); }
    bool logged(const std::string& line) const {
        const auto lines = log.messages();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    LogCapture log;
    std::filesystem::path folder_;
};

// ---- Argument checks that log a line of their own first ----

TEST_F(NoCardContainers, V2ArgumentChecksLogOnlyTheStart) {
    const std::string pt = file("pt"), ct = file("ct");
    struct Case {
        const char* pin;
        const char* first;
        const char* second;
    };
    for (const Case& c :
         {Case{nullptr, "a", "b"}, Case{"1234567", "a", "b"}, Case{"12345678901234567", "a", "b"},
          Case{"12345678", "", "b"}, Case{"12345678", "a", nullptr},
          Case{"12345678", kPath255.c_str(), "b"}}) {
        log.clear();
        EXPECT_EQ(QeltEvEncFile_V2(c.pin, c.first, c.second), 3u);
        EXPECT_EQ(log.messages(), (std::vector<std::string>{"enc start", "invalid arg"}));
        log.clear();
        EXPECT_EQ(QeltEvDecFile_V2(c.pin, c.first, c.second), 3u);
        EXPECT_EQ(log.messages(), (std::vector<std::string>{"dec start", "invalid arg"}));
    }
    EXPECT_TRUE(std::filesystem::is_empty(folder_));
}

TEST_F(NoCardContainers, FpgaDecryptorLogsItsPathsBeforeTheCheck) {
    EXPECT_EQ(QeltEvDecFile_FPGA(nullptr, "plain.txt"), 3u);
    EXPECT_EQ(QeltEvDecFile_FPGA("c.ctr", ""), 3u);
    EXPECT_EQ(log.messages(),
              (std::vector<std::string>{"ctFileName[(null)],ptFileName[plain.txt]", "invalid arg",
                                        "ctFileName[c.ctr],ptFileName[]", "invalid arg"}));
}

// ---- Without the card ----

TEST_F(NoCardContainers, V1EncryptionLeavesTheNameFieldAlone) {
    const std::string pt = file("plain.txt"), ct = file("plain.ctr");
    write_file(pt, plaintext(5000));
    for (auto encrypt : {QeltEvEncFile, QeltEvEncFile_FPGA}) {
        log.clear();
        EXPECT_EQ(encrypt(kPke, pt.c_str(), ct.c_str()), 17u);
        Bytes name(255, 0);
        std::copy_n("plain.txt", 9, name.begin());
        EXPECT_EQ(read_file(ct), name);
        EXPECT_EQ(log.messages(), (std::vector<std::string>{kNoLink, "ret[17]"}));
    }
}

TEST_F(NoCardContainers, V1DecryptionLeavesAnEmptyPlaintext) {
    const std::string ct = file("c.ctr"), pt = file("out.txt");
    write_file(ct, Bytes(447 + 4096, 7));
    for (auto decrypt : {QeltEvDecFile, QeltEvDecFile_FPGA}) {
        write_file(pt, Bytes(10, 0xEE));
        log.clear();
        EXPECT_EQ(decrypt(ct.c_str(), pt.c_str()), 17u);
        EXPECT_EQ(std::filesystem::file_size(pt), 0u);
        EXPECT_TRUE(logged("brel_import_sk err[17]"));
    }
}

TEST_F(NoCardContainers, V2LeavesNoOutputFile) {
    const std::string pt = file("plain.txt"), ct = file("plain.ctr"), out = file("out.txt");
    write_file(pt, plaintext(5000));
    EXPECT_EQ(QeltEvEncFile_V2("12345678", pt.c_str(), ct.c_str()), 17u);
    EXPECT_FALSE(std::filesystem::exists(ct));
    EXPECT_EQ(log.messages(),
              (std::vector<std::string>{"enc start", kNoLink, "ret[17]", "enc over"}));
    write_file(ct, Bytes(303 + 4096, 7));
    log.clear();
    EXPECT_EQ(QeltEvDecFile_V2("12345678", ct.c_str(), out.c_str()), 17u);
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_EQ(log.messages(),
              (std::vector<std::string>{"dec start", kNoLink, "ret[17]", "dec over"}));
}

// A failure before the output was opened leaves a file that stood at its path as it was.
TEST_F(NoCardContainers, V2KeepsAnOutputItNeverOpened) {
    const std::string ct = file("plain.ctr");
    write_file(ct, Bytes(5, 0xEE));
    EXPECT_EQ(QeltEvEncFile_V2("12345678", file("missing.txt").c_str(), ct.c_str()), 1u);
    EXPECT_TRUE(logged(kPtOpenFailed));
    EXPECT_EQ(read_file(ct), Bytes(5, 0xEE));
}

// ---- Input and output naming one file ----

// Refused before the output is opened for writing, as an output that cannot be opened; the file
// stays as it was and nothing reaches the card, whose absence would give 17.
TEST_F(NoCardContainers, OutputThatIsTheInputIsRefused) {
    // "ciphertext file open failed" (GBK)
    const std::string ct_open_failed =
        "\xc3\xdc\xce\xc4\xce\xc4\xbc\xfe\xb4\xf2\xbf\xaa\xca\xa7\xb0\xdc";
    const std::string name = file("both.bin");
    const std::string other_spelling = (folder_ / "." / "both.bin").string();
    const Bytes content = plaintext(447 + 4096);
    write_file(name, content);
    const auto v2_encrypt = [](const uint8_t*, const char* pt, const char* ct) {
        return QeltEvEncFile_V2("12345678", pt, ct);
    };
    const auto v2_decrypt = [](const char* ct, const char* pt) {
        return QeltEvDecFile_V2("12345678", ct, pt);
    };
    for (const std::string& second : {name, other_spelling}) {
        for (uint32_t (*encrypt)(const uint8_t*, const char*, const char*) :
             {+QeltEvEncFile, +QeltEvEncFile_FPGA, +v2_encrypt}) {
            log.clear();
            EXPECT_EQ(encrypt(kPke, name.c_str(), second.c_str()), 1u) << second;
            EXPECT_TRUE(logged(ct_open_failed)) << second;
            EXPECT_FALSE(logged(kNoLink));
            EXPECT_EQ(read_file(name), content);
        }
        for (uint32_t (*decrypt)(const char*, const char*) :
             {+QeltEvDecFile, +QeltEvDecFile_FPGA, +v2_decrypt}) {
            log.clear();
            EXPECT_EQ(decrypt(name.c_str(), second.c_str()), 1u) << second;
            EXPECT_TRUE(logged(kPtOpenFailed)) << second;
            EXPECT_FALSE(logged(kNoLink));
            EXPECT_EQ(read_file(name), content);
        }
    }
}

// ---- The length rule, up to sparse containers past 32 bits ----

// Lengths that keep the rule reach the card (17 without one); the others end with 1.
TEST_F(NoCardContainers, LengthRuleAt64Bits) {
    const std::string ct = file("c.ctr"), pt = file("out.txt");
    struct Case {
        uint32_t (*decrypt)(const char*, const char*);
        uint32_t header;
    };
    const auto v2 = [](const char* c, const char* p) { return QeltEvDecFile_V2("12345678", c, p); };
    for (const Case& c : {Case{QeltEvDecFile, 447}, Case{QeltEvDecFile_FPGA, 447}, Case{v2, 303}}) {
        for (const uint64_t blocks :
             {uint64_t{0}, uint64_t{1}, uint64_t{1} << 19, (uint64_t{1} << 19) + 1,
              uint64_t{1} << 20, (uint64_t{1} << 20) + 5}) {
            for (const int64_t off : {0, 1, -1}) {
                const int64_t length = c.header + static_cast<int64_t>(blocks * 4096) + off;
                write_file(ct, Bytes(std::min<int64_t>(length, c.header), 0));
                std::filesystem::resize_file(ct, static_cast<uintmax_t>(length));
                log.clear();
                const uint32_t result = c.decrypt(ct.c_str(), pt.c_str());
                EXPECT_EQ(result, off == 0 ? 17u : 1u)
                    << c.header << " + " << blocks << " blocks " << off;
                EXPECT_EQ(logged(kLengthWrong), off != 0) << length;
            }
        }
    }
}

}  // namespace
