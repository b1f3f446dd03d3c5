// The registry and adapter devices behind the MAC lookup behave as on Windows.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/testing/network_controls.h"
#include "platform/win32.h"

namespace {

constexpr char kCardsKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards";

class NetworkCards : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::network_set_adapters(
            {{"eth_a", true, true, {1, 2, 3, 4, 5, 6}}, {"long_service_name", true, false, {}}});
    }
    void TearDown() override { sim::network_use_real_adapters(); }
};

TEST_F(NetworkCards, EnumerationAndValueReads) {
    HKEY cards;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, kCardsKey, &cards), ERROR_SUCCESS);
    char name[260];
    DWORD size = 1;  // too small for "1" and its NUL
    EXPECT_EQ(RegEnumKeyExA(cards, 0, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
    size = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(cards, 2, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
    size = sizeof name;
    ASSERT_EQ(RegEnumKeyExA(cards, 1, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);

    HKEY card;
    ASSERT_EQ(RegOpenKeyA(cards, name, &card), ERROR_SUCCESS);
    DWORD type = 0;
    DWORD bytes = 0;
    EXPECT_EQ(RegQueryValueExA(card, "ServiceName", nullptr, &type, nullptr, &bytes),
              ERROR_SUCCESS);
    EXPECT_EQ(bytes, sizeof "long_service_name");
    char small[4];
    bytes = sizeof small;
    EXPECT_EQ(RegQueryValueExA(card, "ServiceName", nullptr, &type, reinterpret_cast<BYTE*>(small),
                               &bytes),
              ERROR_MORE_DATA);
    EXPECT_EQ(bytes, sizeof "long_service_name");
    EXPECT_EQ(RegQueryValueExA(card, "Missing", nullptr, &type, nullptr, &bytes),
              ERROR_FILE_NOT_FOUND);
    RegCloseKey(card);
    RegCloseKey(cards);
}

TEST_F(NetworkCards, AdapterDeviceAnswersOnlyThePermanentAddressQuery) {
    HANDLE device = CreateFileA("\\\\.\\ETH_A", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    uint8_t reply[260] = {};
    DWORD returned = 0;
    DWORD oid = OID_802_3_PERMANENT_ADDRESS;
    ASSERT_TRUE(DeviceIoControl(device, IOCTL_NDIS_QUERY_GLOBAL_STATS, &oid, sizeof oid, reply,
                                sizeof reply, &returned, nullptr));
    EXPECT_EQ(returned, 6u);
    EXPECT_EQ(reply[5], 6);

    EXPECT_FALSE(DeviceIoControl(device, IOCTL_NDIS_QUERY_GLOBAL_STATS, &oid, sizeof oid, reply, 5,
                                 &returned, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    DWORD other = 0x01010102;
    EXPECT_FALSE(DeviceIoControl(device, IOCTL_NDIS_QUERY_GLOBAL_STATS, &other, sizeof other, reply,
                                 sizeof reply, &returned, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    EXPECT_FALSE(DeviceIoControl(device, 0x00170006, &oid, sizeof oid, reply, sizeof reply,
                                 &returned, nullptr));
    EXPECT_TRUE(CloseHandle(device));

    EXPECT_EQ(CreateFileA("\\\\.\\eth_z", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                          nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

}  // namespace
