#include "volume/card_path.h"

#include <cstring>
#include <memory>
#include <mutex>

#include "platform/win32.h"
#include "usb/device.h"
#include "volume/trace.h"
#include "volume/variant.h"

namespace {

// The card device path and its lock; written only by QeltInit.
std::mutex g_card_device_path_lock;
CardDevicePath g_card_device_path;

// The sizes the system expects in the records' size fields (x64).
constexpr DWORD kInterfaceDataSize = 32;
constexpr DWORD kDetailDataSize = 8;
constexpr DWORD kDevInfoDataSize = 32;
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == kInterfaceDataSize);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == kDetailDataSize);
static_assert(sizeof(SP_DEVINFO_DATA) == kDevInfoDataSize);

constexpr size_t kInterfacePrefixLength = 4;  // "\\?\"

// The first interface's path, copied into buffer; false when there is none or it does not fit.
bool first_interface_path(HDEVINFO set, char* buffer, uint32_t capacity) {
    SP_DEVICE_INTERFACE_DATA interface_data = {};
    interface_data.cbSize = kInterfaceDataSize;
    if (!SetupDiEnumDeviceInterfaces(set, nullptr, &UsbDriverInterfaceGuid, 0, &interface_data))
        return false;
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailA(set, &interface_data, nullptr, 0, &required, nullptr);
    // The record is its 4-byte size field, the path and its NUL.
    if (required < sizeof(DWORD) + 1) return false;
    std::unique_ptr<uint8_t[]> detail_bytes(new (std::nothrow) uint8_t[required]);
    if (!detail_bytes) return false;
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(detail_bytes.get());
    detail->cbSize = kDetailDataSize;
    SP_DEVINFO_DATA device_data = {};
    device_data.cbSize = kDevInfoDataSize;
    if (!SetupDiGetDeviceInterfaceDetailA(set, &interface_data, detail, required, nullptr,
                                          &device_data))
        return false;
    const size_t length = required - sizeof(DWORD) - 1;
    if (length >= capacity) return false;
    std::memcpy(buffer, detail->DevicePath, length);
    buffer[length] = '\0';
    return std::strlen(buffer) >= kInterfacePrefixLength;
}

}  // namespace

bool FindCardDevicePath(char* buffer, uint32_t capacity) {
    HDEVINFO set = SetupDiGetClassDevsA(&UsbDriverInterfaceGuid, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return false;
    const bool found = first_interface_path(set, buffer, capacity);
    SetupDiDestroyDeviceInfoList(set);
    if (!found) return false;
    HANDLE card =
        CreateFileA(buffer, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (card == INVALID_HANDLE_VALUE) return false;
    CloseHandle(card);
    std::memmove(buffer, buffer + kInterfacePrefixLength,
                 std::strlen(buffer) - kInterfacePrefixLength + 1);
    return true;
}

CardDevicePath CurrentCardDevicePath() {
    std::lock_guard guard(g_card_device_path_lock);
    return g_card_device_path;
}

int QeltInit() {
    if (!kVolumeVariant.finds_card_device_path) return 0;
    CardDevicePath found;
    const bool ok = FindCardDevicePath(found.text, sizeof found.text);
    if (!ok) found = {};  // a look that failed may have left part of a path
    {
        std::lock_guard guard(g_card_device_path_lock);
        g_card_device_path = found;
    }
    if (!ok) return 1;
    API_TRACE(" === QeltInit ==  dev name \"%s\" \n", found.text);
    return 0;
}
