// Finding and opening a device of the interface GUID, and the driver-call wrapper.
#include <cstdlib>
#include <cstring>

#include "usb/device.h"
#include "wire/vendor_control_codes.h"

namespace {

constexpr DWORD kListFlags = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;  // 0x12
// A platform that fails every index with something other than ERROR_NO_MORE_ITEMS must not
// keep the count walking forever.
constexpr DWORD kMaxEnumerationIndex = 4096;
// SP_DEVICE_INTERFACE_DETAIL_DATA_A's size counts the header and the terminating NUL.
constexpr DWORD kDetailOverhead = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + 1;

}  // namespace

uint8_t CCyUSBDriverDevice::CountDevices() {
    HDEVINFO list = SetupDiGetClassDevsA(&InterfaceGuid, nullptr, nullptr, kListFlags);
    PresentDevices = 0;
    if (list == INVALID_HANDLE_VALUE) return 0;
    for (DWORD index = 0; index < kMaxEnumerationIndex; ++index) {
        SP_DEVICE_INTERFACE_DATA data;
        std::memset(&data, 0, sizeof data);
        data.cbSize = sizeof data;
        if (SetupDiEnumDeviceInterfaces(list, nullptr, &InterfaceGuid, index, &data))
            ++PresentDevices;
        else if (GetLastError() == ERROR_NO_MORE_ITEMS)
            break;
    }
    SetupDiDestroyDeviceInfoList(list);
    return PresentDevices;
}

bool CCyUSBDriverDevice::OpenDeviceByIndex(uint8_t index) {
    PresentDevices = CountDevices();
    if (PresentDevices == 0 || index > PresentDevices - 1) return false;

    bool found = false;
    HDEVINFO list = SetupDiGetClassDevsA(&InterfaceGuid, nullptr, nullptr, kListFlags);
    if (list != INVALID_HANDLE_VALUE) {
        SP_DEVICE_INTERFACE_DATA data;
        std::memset(&data, 0, sizeof data);
        data.cbSize = sizeof data;
        if (SetupDiEnumDeviceInterfaces(list, nullptr, &InterfaceGuid, index, &data)) {
            DWORD required = 0;
            SetupDiGetDeviceInterfaceDetailA(list, &data, nullptr, 0, &required, nullptr);
            DWORD size = required > sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)
                             ? required
                             : static_cast<DWORD>(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));
            auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(std::calloc(1, size));
            if (detail) {
                detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
                SP_DEVINFO_DATA info;
                std::memset(&info, 0, sizeof info);
                info.cbSize = sizeof info;
                if (required > kDetailOverhead &&
                    SetupDiGetDeviceInterfaceDetailA(list, &data, detail, required, nullptr,
                                                     &info)) {
                    // A path that does not fit the 256-byte field cannot name the device.
                    size_t length = required - kDetailOverhead;
                    const char* path = reinterpret_cast<const char*>(detail) +
                                       offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
                    if (length < kDevicePathSize) {
                        std::memcpy(DevicePath, path, length);
                        DevicePath[length] = '\0';
                        found = true;
                    }
                }
                std::free(detail);
            }
        }
        SetupDiDestroyDeviceInfoList(list);
    }
    if (!found) {
        DeviceHandle = INVALID_HANDLE_VALUE;
        DeviceIndex = 0;
        return false;
    }

    HANDLE handle =
        CreateFileA(DevicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        LastErrorCode = GetLastError();
        return false;
    }
    DeviceHandle = handle;
    return true;
}

bool CCyUSBDriverDevice::IoControl(uint32_t code, uint8_t* buffer, uint32_t length) {
    if (DeviceHandle == INVALID_HANDLE_VALUE) return false;
    DWORD returned = 0;
    BOOL ok =
        DeviceIoControl(DeviceHandle, code, buffer, length, buffer, length, &returned, nullptr);
    BytesReturned = returned;
    if (!ok) {
        LastErrorCode = GetLastError();
        return false;
    }
    return BytesReturned == length;
}
