// The software-card build of Kelvane as an application loads it (softcard/libKelvane.so with
// dlopen; Kelvane.dll, copied beside the test program, with LoadLibraryA): the exports resolve,
// nothing else does, and the export test runs through the library.
#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <string>

#include "tests/support/softcard_fixture.h"

namespace {

const char* const kExports[] = {
    "QeltQueryCardInfo",  "QeltSetPinCode",
    "QeltVerifyPinCode",  "QeltImportKey",
    "QeltExportPubkeys",  "QeltSm2SignIn",
    "QeltCardLoginOut",   "QeltEvEncFile",
    "QeltEvDecFile",      "QeltGetChallengeCode",
    "QeltUnlockCard",     "QeltResetPin",
    "QeltBindCurMac",     "QeltUnbindMac",
    "QeltQueryBindedMac", "get_mac",
    "init_cfg",           "test",
    "QeltZeroSetCard",    "QeltFormatVolume",
    "QeltMountVolume",    "QeltDismountVolume",
};

class KelvaneLibrary : public SoftcardTest {
  protected:
    void SetUp() override {
        SoftcardTest::SetUp();
        if (IsSkipped()) return;
#ifdef _WIN32
        library = LoadLibraryA("Kelvane.dll");
        ASSERT_NE(library, nullptr) << GetLastError();
#else
        library = dlopen(KELVANE_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
#endif
    }
    void TearDown() override {
#ifdef _WIN32
        if (library) FreeLibrary(library);
#else
        if (library) dlclose(library);
#endif
        SoftcardTest::TearDown();
    }
    void* address(const char* name) const {
#ifdef _WIN32
        return reinterpret_cast<void*>(GetProcAddress(library, name));
#else
        return dlsym(library, name);
#endif
    }
    template <class F>
    F* symbol(const char* name) {
        return reinterpret_cast<F*>(address(name));
    }
#ifdef _WIN32
    HMODULE library = nullptr;
#else
    void* library = nullptr;
#endif
};

TEST_F(KelvaneLibrary, ExportsResolveAndInternalsStayHidden) {
    for (const char* name : kExports) EXPECT_NE(address(name), nullptr) << name;
    for (const char* name : {"get_cfg", "WriteCardStore", "GetMac", "LogPrint", "sm3", "sm2_sign",
                             "get_random", "BREL_Unsupport", "QeltGenRand"})
        EXPECT_EQ(address(name), nullptr) << name;
}

TEST_F(KelvaneLibrary, TestRunsThroughTheLibrary) {
#ifdef _WIN32
    if (!std::filesystem::exists("E:/")) GTEST_SKIP() << "the drive E: is not mapped here";
#else
    root.make_folder("E:/");
#endif
    std::ofstream(root.path("E:/test_pt.docx"), std::ios::binary) << "document";
    ASSERT_EQ(symbol<uint32_t()>("init_cfg")(), 0u);
    testing::internal::CaptureStdout();
    symbol<void()>("test")();
    const std::string output = testing::internal::GetCapturedStdout();
    for (const char* verdict : {"test_sm2 ok!\n", "test_ev OK!\n", "test_lock OK!\n",
                                "test_reset_pin OK!\n", "test_bind OK!\n"})
        EXPECT_NE(output.find(verdict), std::string::npos) << verdict << output;
    uint8_t info[38];
    ASSERT_EQ(symbol<uint32_t(uint8_t*)>("QeltQueryCardInfo")(info), 0u);
    EXPECT_EQ(info[0], 0);
#ifdef _WIN32
    std::error_code ignored;
    for (const char* document : {"E:/test_pt.docx", "E:/test_pt.docx.ev", "E:/test_pt_check.docx"})
        std::filesystem::remove(document, ignored);
#endif
}

}  // namespace
