// device/Kelvane.dll under the Windows loader: it loads (its entry point runs), every export is
// found by name and by its ordinal, and without a card the card exports answer 17.
#include <gtest/gtest.h>

#include <cstdint>
#include <utility>

#include "platform/win32.h"

namespace {

const std::pair<int, const char*> kExports[] = {
    {1, "QeltQueryCardInfo"},   {6, "QeltSetPinCode"},
    {7, "QeltVerifyPinCode"},   {8, "QeltImportKey"},
    {9, "QeltExportPubkeys"},   {10, "QeltSm2SignIn"},
    {11, "QeltCardLoginOut"},   {12, "QeltEvEncFile"},
    {13, "QeltEvDecFile"},      {14, "QeltGetChallengeCode"},
    {15, "QeltUnlockCard"},     {16, "QeltResetPin"},
    {17, "QeltBindCurMac"},     {18, "QeltUnbindMac"},
    {19, "QeltQueryBindedMac"}, {20, "get_mac"},
    {23, "QeltZeroSetCard"},    {24, "BREL_Unsupport"},
    {25, "QeltGenRand"},        {26, "QeltGetCardCnt"},
    {27, "QeltActiveDevEx"},    {28, "QeltBackupXk"},
    {29, "QeltRecoveryXk"},     {30, "brel_xts_fpga"},
    {31, "QeltEvEncFile_FPGA"}, {32, "QeltEvDecFile_FPGA"},
    {33, "QeltEvEncFile_V2"},   {34, "QeltEvDecFile_V2"},
    {3, "QeltFormatVolume"},    {4, "QeltMountVolume"},
    {5, "QeltDismountVolume"},
};

TEST(DeviceDll, LoadsAndAnswersWithoutACard) {
    HMODULE dll = LoadLibraryA("Kelvane.dll");
    ASSERT_NE(dll, nullptr) << GetLastError();
    for (const auto& [ordinal, name] : kExports) {
        FARPROC by_name = GetProcAddress(dll, name);
        EXPECT_NE(by_name, nullptr) << name;
        EXPECT_EQ(GetProcAddress(dll, MAKEINTRESOURCEA(ordinal)), by_name) << name;
    }
    auto query = reinterpret_cast<uint32_t (*)(uint8_t*)>(
        reinterpret_cast<void*>(GetProcAddress(dll, "QeltQueryCardInfo")));
    auto count = reinterpret_cast<uint32_t (*)(uint32_t*)>(
        reinterpret_cast<void*>(GetProcAddress(dll, "QeltGetCardCnt")));
    uint8_t info[38] = {};
    EXPECT_EQ(query(info), 17u);
    EXPECT_EQ(query(nullptr), 3u);
    uint32_t cards = 9;
    EXPECT_EQ(count(&cards), 0u);
    EXPECT_EQ(cards, 0u);
    EXPECT_TRUE(FreeLibrary(dll));
}

}  // namespace
