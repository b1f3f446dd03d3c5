// The export test, end to end, its output compared line by line.
#include <cstring>

#include "tests/support/softcard_fixture.h"

namespace {

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size()) lines.push_back(text.substr(start) + "<no line break>");
    return lines;
}

bool is_serial(const std::string& text) {
    return text.size() == 32 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// "{sn}" in an expected line stands for a 32-digit lowercase serial.
bool line_matches(const std::string& expected, const std::string& actual) {
    const size_t at = expected.find("{sn}");
    if (at == std::string::npos) return expected == actual;
    const std::string after = expected.substr(at + 4);
    return actual.size() == expected.size() - 4 + 32 &&
           actual.compare(0, at, expected, 0, at) == 0 && is_serial(actual.substr(at, 32)) &&
           actual.substr(at + 32) == after;
}

std::string mac_dump(const MacAddress* mac) {
    std::string hex = "[hasBindMac]";
    char digits[3];
    for (int i = 0; i < 96; ++i) {
        std::snprintf(digits, sizeof digits, "%02x", mac && i < 6 ? (*mac)[i] : 0);
        hex += digits;
    }
    return hex;
}

std::vector<std::string> expected_output(bool with_document, const MacAddress& this_pc) {
    std::vector<std::string> lines = {
        "QeltQueryCardInfo befor init OK, len[32]sn[{sn}]stat[00]",
        "verify pin ok but not bind",
        "init_card ok",
        "QeltQueryCardInfo after init OK, len[32]sn[{sn}]stat[16]",
        "QeltExportPubkeys ok",
        "QeltExportPubkeys ok",
        "test_sm2 ok!",
        "",
        "verify pin ok but not bind",
        "init_card ok",
        "QeltExportPubkeys ok",
    };
    if (with_document) {
        lines.insert(lines.end(), {"QeltEvEncFile ok", "QeltEvDecFile ok", "test_ev OK!", ""});
    } else {
        // "plaintext file open failed", in GBK
        lines.insert(lines.end(),
                     {"\xc3\xf7\xce\xc4\xce\xc4\xbc\xfe\xb4\xf2\xbf\xaa\xca\xa7\xb0\xdc",
                      "QeltEvEncFile err[00000001]", "test_ev FAIL!", ""});
    }
    lines.insert(lines.end(), {"verify pin ok but not bind", "init_card ok", "QeltCardInfo1 [04]"});
    for (int i = 0; i < 6; ++i) {
        lines.push_back("QeltVerifyPinCode err[" + std::to_string(i) + "][00000001]");
        lines.push_back("leftretrycnt[" + std::to_string(5 - i) + "]");
    }
    lines.insert(lines.end(),
                 {"QeltCardInfo2 [0c]", "QeltVerifyPinCode err2[00000008]", "leftretrycnt[0]",
                  "QeltCardInfo3 [04]", "QeltVerifyPinCode ok", "QeltSetPinCode ok",
                  "QeltCardLoginOut ok", "QeltVerifyPinCode ok", "test_lock OK!", ""});
    // Still logged in from init_card: every PIN check answers 14 and counts nothing.
    lines.insert(lines.end(), {"verify pin ok but not bind", "init_card ok"});
    for (int i = 0; i < 6; ++i) {
        lines.push_back("QeltVerifyPinCode err[" + std::to_string(i) + "][0000000e]");
        lines.push_back("leftretrycnt[0]");
    }
    lines.insert(lines.end(), {"QeltVerifyPinCode err2[0000000e]", "leftretrycnt[0]", "test ok",
                               "test_reset_pin OK!", ""});
    lines.insert(
        lines.end(),
        {"verify pin ok but not bind", "init_card ok",
         "QeltQueryCardInfo1 OK, len[32]sn[{sn}]stat[16]",
         "QeltQueryBindedMac1 OK, curBindIndex[1]hasBindCnt[1]leftBindCnt[4]", mac_dump(&this_pc),
         "QeltUnbindMac ok", "QeltQueryCardInfo2 OK, len[32]sn[{sn}]stat[06]",
         "QeltQueryBindedMac2 OK, curBindIndex[0]hasBindCnt[0]leftBindCnt[5]", mac_dump(nullptr),
         "QeltBindCurMac ok", "QeltQueryCardInfo3 OK, len[32]sn[{sn}]stat[16]",
         "QeltQueryBindedMac3 OK, curBindIndex[1]hasBindCnt[1]leftBindCnt[4]", mac_dump(&this_pc),
         "test_bind OK!", ""});
    return lines;
}

// The routines' files are fixed: "E:/test_pt.docx" and the two made from it. Under Windows the
// drive E: is the Wine prefix's, which the scripts that run the tests map; the files are removed
// after each test.
const char* const kDocuments[] = {"E:/test_pt.docx", "E:/test_pt.docx.ev", "E:/test_pt_check.docx"};

class BuiltInTest : public SoftcardTest {
  protected:
    void TearDown() override {
#ifdef _WIN32
        std::error_code ignored;
        for (const char* document : kDocuments) std::filesystem::remove(document, ignored);
#endif
        SoftcardTest::TearDown();
    }

    std::vector<std::string> run_test() {
        testing::internal::CaptureStdout();
        test();
        return lines_of(testing::internal::GetCapturedStdout());
    }
    void expect_output(const std::vector<std::string>& actual, bool with_document) {
        const auto expected = expected_output(with_document, this_pc);
        for (size_t i = 0; i < std::max(expected.size(), actual.size()); ++i) {
            const std::string e = i < expected.size() ? expected[i] : "<none>";
            const std::string a = i < actual.size() ? actual[i] : "<none>";
            EXPECT_TRUE(line_matches(e, a))
                << "line " << i + 1 << "\n  expected: " << e << "\n  actual:   " << a;
        }
    }
};

TEST_F(BuiltInTest, WithTheDocument) {
#ifdef _WIN32
    if (!std::filesystem::exists("E:/")) GTEST_SKIP() << "the drive E: is not mapped here";
#else
    root.make_folder("E:/");
#endif
    std::ofstream(root.path(kDocuments[0]), std::ios::binary) << std::string(1500, '\x80');
    ASSERT_EQ(init_cfg(), 0u);
    const std::string before = serial();
    expect_output(run_test(), true);
    EXPECT_TRUE(std::filesystem::exists(root.path(kDocuments[1])));
    EXPECT_TRUE(std::filesystem::exists(root.path(kDocuments[2])));
    // A new, empty card, logged out.
    EXPECT_NE(serial(), before);
    EXPECT_EQ(status(), 0);
    EXPECT_EQ(record().retries_left, 6);
    EXPECT_EQ(login(), 15u);
}

TEST_F(BuiltInTest, WithoutTheDocument) {
    expect_output(run_test(), false);
    EXPECT_EQ(status(), 0);
}

}  // namespace
