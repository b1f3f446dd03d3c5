// device/libKelvane.so as an application loads it: its exports resolve and nothing else does, the
// entry point turned thread notifications off at load, and without a card every exchange fails
// with 17 and a line in the log file.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/testing/loader_controls.h"
#include "platform/usb_bus/usb_controls.h"
#include "platform/win32.h"
#include "tests/support/temp_machine_root.h"

namespace {

const char* const kExports[] = {
    "QeltQueryCardInfo",  "QeltSetPinCode",       "QeltVerifyPinCode",  "QeltImportKey",
    "QeltExportPubkeys",  "QeltSm2SignIn",        "QeltCardLoginOut",   "QeltEvEncFile",
    "QeltEvDecFile",      "QeltGetChallengeCode", "QeltUnlockCard",     "QeltResetPin",
    "QeltBindCurMac",     "QeltUnbindMac",        "QeltQueryBindedMac", "get_mac",
    "QeltZeroSetCard",    "BREL_Unsupport",       "QeltGenRand",        "QeltGetCardCnt",
    "QeltActiveDevEx",    "QeltBackupXk",         "QeltRecoveryXk",     "brel_xts_fpga",
    "QeltEvEncFile_FPGA", "QeltEvDecFile_FPGA",   "QeltEvEncFile_V2",   "QeltEvDecFile_V2",
    "QeltFormatVolume",   "QeltMountVolume",      "QeltDismountVolume",
};

// Internals and the software card's own exports.
const char* const kHidden[] = {
    "DllMain",
    "card_lock",
    "brel_gen_random",
    "brel_xts_enc",
    "brel_backup_xk",
    "brel_noop",
    "brel_xts_fpga_dev",
    "brel_xts_fpga_rawkey",
    "brel_xts_fpga_test",
    "gen_key",
    "pad_80",
    "LogPrint",
    "dump_buf",
    "GetMac",
    "open_usb_dev",
    "sm3",
    "get_random",
    "init_cfg",
    "test",
};

class DeviceLibrary : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::usb::unplug_all();
        library = dlopen(KELVANE_DEVICE_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
    }
    void TearDown() override {
        if (library) dlclose(library);
    }
    void* library = nullptr;
};

TEST_F(DeviceLibrary, ExportsResolveAndInternalsStayHidden) {
    for (const char* name : kExports) EXPECT_NE(dlsym(library, name), nullptr) << name;
    for (const char* name : kHidden) EXPECT_EQ(dlsym(library, name), nullptr) << name;
}

TEST_F(DeviceLibrary, LoadTurnedThreadNotificationsOff) {
    const HMODULE module = halden_module_of(dlsym(library, "QeltQueryCardInfo"));
    ASSERT_NE(module, nullptr);
    EXPECT_TRUE(sim::thread_library_calls_disabled(module));
}

TEST_F(DeviceLibrary, WithoutACardTheExchangeFailsAndIsLogged) {
    TempMachineRoot root;
    root.make_folder("C:/Halden");
    auto query = reinterpret_cast<uint32_t (*)(uint8_t*)>(dlsym(library, "QeltQueryCardInfo"));
    uint8_t info[38] = {};
    EXPECT_EQ(query(info), 17u);
    std::ifstream in(root.path("C:/Halden/sdf-vrex.log"));
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_NE(line.find("][ERROR] open_usb_dev error:-2 ["), std::string::npos) << line;
    EXPECT_FALSE(std::getline(in, line)) << line;  // frame dumps are below the threshold
}

}  // namespace
