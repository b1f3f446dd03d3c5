// Walks the NetworkCards key, opens each adapter's driver device and asks it for the permanent
// address (OID_802_3_PERMANENT_ADDRESS); the first adapter that answers wins.
#include "card/commands/mac.h"

#include <cstdio>
#include <cstring>

#include "platform/win32.h"

namespace {

constexpr char kNetworkCardsPath[] =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards\\";
constexpr DWORD kTextSize = 260;
constexpr DWORD kReplySize = 260;

// The address of the adapter whose card key is subkey, or false when any step fails.
bool query_adapter(const char* subkey, uint8_t* out) {
    char key_path[kTextSize];
    const int used = std::snprintf(key_path, sizeof key_path, "%s%s", kNetworkCardsPath, subkey);
    if (used < 0 || static_cast<size_t>(used) >= sizeof key_path) return false;
    HKEY card;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, key_path, &card) != ERROR_SUCCESS) return false;
    char service[kTextSize] = {};
    DWORD type = REG_SZ;
    DWORD size = sizeof service;
    LSTATUS read = RegQueryValueExA(card, "ServiceName", nullptr, &type,
                                    reinterpret_cast<BYTE*>(service), &size);
    RegCloseKey(card);
    if (read != ERROR_SUCCESS) return false;
    service[kTextSize - 1] = '\0';

    char device_path[kTextSize];
    const int written = std::snprintf(device_path, sizeof device_path, "\\\\.\\%s", service);
    if (written < 0 || static_cast<size_t>(written) >= sizeof device_path) return false;
    HANDLE device =
        CreateFileA(device_path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) return false;
    DWORD oid = OID_802_3_PERMANENT_ADDRESS;
    uint8_t reply[kReplySize] = {};
    DWORD returned = 0;
    BOOL answered = DeviceIoControl(device, IOCTL_NDIS_QUERY_GLOBAL_STATS, &oid, sizeof oid, reply,
                                    sizeof reply, &returned, nullptr);
    CloseHandle(device);
    // An answer shorter than an address is taken as a refusal.
    if (!answered || returned < MAC_ADDRESS_SIZE) return false;
    std::memcpy(out, reply, MAC_ADDRESS_SIZE);
    return true;
}

}  // namespace

int32_t GetMac(uint8_t* out) {
    if (!out) return -1;
    HKEY cards;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kNetworkCardsPath, &cards) != ERROR_SUCCESS) return -1;
    int32_t result = -1;
    for (DWORD index = 0;; ++index) {
        char subkey[kTextSize];
        DWORD size = kTextSize;
        if (RegEnumKeyExA(cards, index, subkey, &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        if (query_adapter(subkey, out)) {
            result = 0;
            break;
        }
    }
    RegCloseKey(cards);
    return result;
}

KELVANE_EXPORT uint32_t get_mac(uint8_t* out) try { return GetMac(out) == 0 ? 0 : 1; } catch (...) {
    return 1;
}
