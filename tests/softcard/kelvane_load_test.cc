// softcard/libKelvane.so as an application loads it: the exports resolve, nothing else does,
// and the export test runs through the library.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "tests/softcard/softcard_fixture.h"

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
    "QeltZeroSetCard",
};

class KelvaneLibrary : public SoftcardTest {
  protected:
    void SetUp() override {
        SoftcardTest::SetUp();
        library = dlopen(KELVANE_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
    }
    void TearDown() override {
        if (library) dlclose(library);
        SoftcardTest::TearDown();
    }
    template <class F>
    F* symbol(const char* name) {
        return reinterpret_cast<F*>(dlsym(library, name));
    }
    void* library = nullptr;
};

TEST_F(KelvaneLibrary, ExportsResolveAndInternalsStayHidden) {
    for (const char* name : kExports) EXPECT_NE(dlsym(library, name), nullptr) << name;
    for (const char* name : {"get_cfg", "WriteCardStore", "GetMac", "LogPrint", "sm3", "sm2_sign",
                             "get_random", "QeltFormatVolume", "QeltMountVolume"})
        EXPECT_EQ(dlsym(library, name), nullptr) << name;
}

TEST_F(KelvaneLibrary, TestRunsThroughTheLibrary) {
    root.make_folder("E:/");
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
}

}  // namespace
