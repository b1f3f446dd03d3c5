// SetupAPI device-interface lists: a list is a snapshot of the machine's interfaces of one class,
// taken when it is created.
#include <cstring>

#include "platform/core/object.h"
#include "platform/core/trace.h"
#include "platform/ntoskrnl/io/device_interfaces.h"

namespace {

class DeviceInfoList : public platform::Object {
  public:
    GUID class_guid{};
    std::vector<ntoskrnl::io::DeviceInterface> interfaces;
};

// The index of an interface inside its list travels in SP_DEVICE_INTERFACE_DATA.Reserved, one
// above the index so that a zeroed record names nothing.
const ntoskrnl::io::DeviceInterface* interface_of(const DeviceInfoList& list,
                                                  const SP_DEVICE_INTERFACE_DATA* data) {
    if (data->Reserved == 0 || data->Reserved > list.interfaces.size()) return nullptr;
    return &list.interfaces[data->Reserved - 1];
}

constexpr DWORD kDetailHeader = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);

}  // namespace

using platform::handle_get;

extern "C" HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* class_guid, LPCSTR enumerator,
                                                HWND parent, DWORD flags) {
    (void)parent;
    TRACE("setupapi", "SetupDiGetClassDevsA(%p, \"%s\", %#x)", static_cast<const void*>(class_guid),
          enumerator ? enumerator : "(null)", flags);
    if (!class_guid || !(flags & DIGCF_DEVICEINTERFACE) || (flags & DIGCF_ALLCLASSES) ||
        enumerator) {
        SetLastError(ERROR_INVALID_FLAGS);
        return INVALID_HANDLE_VALUE;
    }
    // Every listed interface belongs to a present device, so DIGCF_PRESENT selects them all.
    auto list = std::make_shared<DeviceInfoList>();
    list->class_guid = *class_guid;
    list->interfaces = ntoskrnl::io::device_interfaces(*class_guid);
    return platform::handle_insert(std::move(list));
}

extern "C" BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO handle, PSP_DEVINFO_DATA device,
                                                   const GUID* interface_guid, DWORD index,
                                                   PSP_DEVICE_INTERFACE_DATA data) {
    TRACE("setupapi", "SetupDiEnumDeviceInterfaces(%p, %p, %p, %u, %p)", handle,
          static_cast<void*>(device), static_cast<const void*>(interface_guid), index,
          static_cast<void*>(data));
    auto list = handle_get<DeviceInfoList>(handle);
    if (!list) return FALSE;
    if (device || !interface_guid) {
        // Enumeration within one device element is not provided.
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (!(*interface_guid == list->class_guid) || index >= list->interfaces.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    const auto& entry = list->interfaces[index];
    if (entry.enum_error != 0) {
        SetLastError(entry.enum_error);
        return FALSE;
    }
    data->InterfaceClassGuid = entry.class_guid;
    data->Flags = SPINT_ACTIVE;
    data->Reserved = index + 1;
    return TRUE;
}

extern "C" BOOL WINAPI SetupDiGetDeviceInterfaceDetailA(HDEVINFO handle,
                                                        PSP_DEVICE_INTERFACE_DATA data,
                                                        PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                                        DWORD detail_size, PDWORD required_size,
                                                        PSP_DEVINFO_DATA device) {
    TRACE("setupapi", "SetupDiGetDeviceInterfaceDetailA(%p, %p, %p, %u, %p, %p)", handle,
          static_cast<void*>(data), static_cast<void*>(detail), detail_size,
          static_cast<void*>(required_size), static_cast<void*>(device));
    auto list = handle_get<DeviceInfoList>(handle);
    if (!list) return FALSE;
    if (!data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    const auto* entry = interface_of(*list, data);
    if (!entry) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD needed = kDetailHeader + static_cast<DWORD>(entry->path.size()) + 1;
    if (required_size) *required_size = needed;
    if (!detail) {
        SetLastError(detail_size == 0 ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (detail_size < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (device && device->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    std::memcpy(reinterpret_cast<char*>(detail) + kDetailHeader, entry->path.c_str(),
                entry->path.size() + 1);
    if (device) {
        device->ClassGuid = entry->class_guid;
        device->DevInst = static_cast<DWORD>(data->Reserved);
        device->Reserved = data->Reserved;
    }
    return TRUE;
}

extern "C" BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO handle) {
    TRACE("setupapi", "SetupDiDestroyDeviceInfoList(%p)", handle);
    if (!handle_get<DeviceInfoList>(handle)) return FALSE;
    return CloseHandle(handle);
}
