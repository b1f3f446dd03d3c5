// The device object's life: construction, attach, binding, endpoint lookup, detach.
#include "usb/device.h"

#include <cstring>
#include <exception>

#include "wire/usb_descriptors.h"
#include "wire/vendor_control_codes.h"

namespace {

constexpr const char* kEndpointNotFound = "Failed to find endpoint.";
constexpr const char* kHandleNotificationNotClosed =
    "Failed to close the handle notification handle.";
constexpr const char* kDriverHandleNotClosed = "Failed to close handle to driver.";
constexpr const char* kDeviceNotificationNotClosed =
    "Failed to close the device notification handle.";

constexpr DWORD kInterfaceFilterSize = 32;
constexpr DWORD kHandleFilterSize = 56;
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) == kInterfaceFilterSize);
static_assert(sizeof(DEV_BROADCAST_HANDLE) == kHandleFilterSize);

}  // namespace

CCyUSBDriverDevice::CCyUSBDriverDevice(HWND window, const GUID& guid, int open)
    : EndPointTable(nullptr),
      BosInfo(nullptr),
      FirstIsocIn(nullptr),
      FirstIsocOut(nullptr),
      FirstBulkIn(nullptr),
      FirstBulkOut(nullptr),
      ControlEndPoint(nullptr),
      FirstInterruptIn(nullptr),
      FirstInterruptOut(nullptr),
      LastErrorCode(0),
      DriverDeviceName{},
      DriverFriendlyName{},
      ManufacturerText{},
      ProductText{},
      SerialNumberText{},
      DevicePath{},
      ConfigDescriptors{},
      BosDescriptor(nullptr),
      Configurations{},
      NotifyWindow(window),
      DeviceHandle(INVALID_HANDLE_VALUE),
      InterfaceNotification(nullptr),
      HandleNotification(nullptr),
      InterfaceGuid(guid),
      PresentDevices(0),
      InterfaceCount(0),
      InterfaceObjectCount(0),
      ConfigurationCount(0),
      DeviceIndex(0),
      ConfigIndex(0),
      InterfaceNumber(0),
      InterfaceIndex(0) {
    if (window && !RegisterInterfaceNotification(window)) LastErrorCode = GetLastError();
    if (open) AttachDevice(DeviceIndex);
}

CCyUSBDriverDevice::CCyUSBDriverDevice() : CCyUSBDriverDevice(nullptr, UsbDriverInterfaceGuid, 1) {}

CCyUSBDriverDevice::~CCyUSBDriverDevice() noexcept(false) {
    std::exception_ptr failure;
    try {
        DetachDevice();
    } catch (...) {
        failure = std::current_exception();
    }
    if (InterfaceNotification) {
        if (!UnregisterDeviceNotification(InterfaceNotification)) {
            LastErrorCode = GetLastError();
            if (!failure) throw kDeviceNotificationNotClosed;
        }
        InterfaceNotification = nullptr;
    }
    if (failure) std::rethrow_exception(failure);
}

bool CCyUSBDriverDevice::RegisterInterfaceNotification(HWND window) {
    DEV_BROADCAST_DEVICEINTERFACE_A filter;
    std::memset(&filter, 0, sizeof filter);
    filter.dbcc_size = kInterfaceFilterSize;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_reserved = 0;
    filter.dbcc_classguid = InterfaceGuid;
    InterfaceNotification =
        RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    return InterfaceNotification != nullptr;
}

bool CCyUSBDriverDevice::RegisterHandleNotification() {
    DEV_BROADCAST_HANDLE filter;
    std::memset(&filter, 0, sizeof filter);
    filter.dbch_size = kHandleFilterSize;
    filter.dbch_devicetype = DBT_DEVTYP_HANDLE;
    filter.dbch_handle = DeviceHandle;
    HandleNotification =
        RegisterDeviceNotificationA(NotifyWindow, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    return HandleNotification != nullptr;
}

int CCyUSBDriverDevice::UsableConfigurations() const {
    // Only two configuration slots exist; further configurations are not read.
    return ConfigurationCount < kConfigurationSlots ? ConfigurationCount : kConfigurationSlots;
}

bool CCyUSBDriverDevice::AttachDevice(uint8_t index) {
    if (DeviceHandle != INVALID_HANDLE_VALUE) DetachDevice();
    if (!OpenDeviceByIndex(index)) {
        DeviceHandle = INVALID_HANDLE_VALUE;
        DeviceIndex = 0;
        return false;
    }
    DeviceIndex = index;

    ReadDeviceDescriptor();
    ReadLanguageId();
    namespace field = wire::device_descriptor;
    ReadStringDescriptor(ManufacturerText, DeviceDescriptor[field::kManufacturerString]);
    ReadStringDescriptor(ProductText, DeviceDescriptor[field::kProductString]);
    ReadStringDescriptor(SerialNumberText, DeviceDescriptor[field::kSerialNumberString]);
    if (wire::MajorVersion(UsbVersion) == 3 && ReadBosDescriptor())
        BosInfo = new CCyBos(DeviceHandle, BosDescriptor, BosDescriptorSize);

    ReadUsbAddress();
    ReadDriverDeviceName();
    ReadDriverFriendlyName();
    ReadDriverVersion();
    ReadUsbdiVersion();
    ReadSpeed();

    WalkKind kind =
        wire::MajorVersion(UsbVersion) == 2 ? WalkKind::Plain : WalkKind::CompanionAware;
    for (int i = 0; i < UsableConfigurations(); ++i) {
        ReadConfigDescriptor(static_cast<uint8_t>(i));
        if (ConfigDescriptors[i])
            Configurations[i] = new CCyConfiguration(DeviceHandle, ConfigDescriptors[i],
                                                     ConfigDescriptorSizes[i], kind);
    }

    ControlEndPoint = new CCyControlEndPoint(DeviceHandle, nullptr);
    ControlEndPoint->DescriptorLength = wire::endpoint_descriptor::kSize;
    ControlEndPoint->DescriptorType = wire::descriptor_type::kEndpoint;
    ControlEndPoint->Address = 0;
    ControlEndPoint->Attributes = 0;
    ControlEndPoint->MaxPacketSize = static_cast<uint16_t>(Ep0PacketSize);
    ControlEndPoint->Interval = 0;

    if (!Configurations[0] || !Configurations[0]->InterfaceObjects[0]) return false;
    SelectConfiguration(0);
    if (InterfaceNotification) RegisterHandleNotification();
    return true;
}

CCyInterface* CCyUSBDriverDevice::BoundInterface() {
    if (ConfigIndex >= kConfigurationSlots || !Configurations[ConfigIndex]) return nullptr;
    if (InterfaceIndex >= kMaxInterfaceObjects) return nullptr;
    return Configurations[ConfigIndex]->InterfaceObjects[InterfaceIndex];
}

void CCyUSBDriverDevice::SelectConfiguration(uint8_t index) {
    if (index >= kConfigurationSlots || !Configurations[index]) return;
    ConfigIndex = index;
    const CCyConfiguration& c = *Configurations[index];
    ConfigValue = c.CfgValue;
    ConfigAttributes = c.CfgAttributes;
    ConfigMaxPower = c.CfgMaxPower;
    InterfaceCount = c.CfgInterfaceCount;
    InterfaceObjectCount = c.CfgInterfaceObjectCount;
    InterfaceNumber = c.InterfaceObjects[0] ? c.InterfaceObjects[0]->IfNumber : 0;
    SelectAltSetting(QueryAltSetting());
    if (CCyInterface* bound = BoundInterface()) {
        InterfaceClass = bound->IfClass;
        InterfaceSubClass = bound->IfSubClass;
        InterfaceProtocol = bound->IfProtocol;
    }
}

uint8_t CCyUSBDriverDevice::QueryAltSetting() {
    uint8_t alternate = 0;
    return IoControl(wire::kIoctlGetAltSetting, &alternate, 1) ? alternate : 0xFF;
}

void CCyUSBDriverDevice::SelectAltSetting(uint8_t alternate) {
    if (ConfigIndex >= kConfigurationSlots || !Configurations[ConfigIndex]) return;
    const CCyConfiguration& c = *Configurations[ConfigIndex];
    for (int i = 0; i < InterfaceObjectCount && i < kMaxInterfaceObjects; ++i) {
        const CCyInterface* object = c.InterfaceObjects[i];
        if (object && object->IfAltSetting == alternate) {
            InterfaceIndex = static_cast<uint8_t>(i);
            InterfaceClass = object->IfClass;
            InterfaceSubClass = object->IfSubClass;
            InterfaceProtocol = object->IfProtocol;
            BindEndPoints();
            return;
        }
    }
}

void CCyUSBDriverDevice::BindEndPoints() {
    if (ConfigurationCount == 0 || InterfaceCount == 0) return;
    CCyInterface* bound = BoundInterface();
    if (!bound) return;
    EndPointTable = bound->EndPointSlots;
    EndPointTable[0] = ControlEndPoint;
    int n = EndPointCount();
    FirstIsocIn = FirstIsocOut = FirstBulkIn = FirstBulkOut = nullptr;
    FirstInterruptIn = FirstInterruptOut = nullptr;
    for (int e = 1; e < n; ++e) {
        CCyUSBEndPoint* endpoint = EndPointTable[e];
        if (!endpoint) continue;
        endpoint->TransferMode = 1;
        bool in = wire::IsInAddress(endpoint->Address);
        CCyUSBEndPoint** first = nullptr;
        switch (wire::TransferTypeOf(endpoint->Attributes)) {
            case wire::TransferType::Isochronous:
                first = in ? &FirstIsocIn : &FirstIsocOut;
                break;
            case wire::TransferType::Bulk:
                first = in ? &FirstBulkIn : &FirstBulkOut;
                break;
            case wire::TransferType::Interrupt:
                first = in ? &FirstInterruptIn : &FirstInterruptOut;
                break;
            case wire::TransferType::Control:
                break;
        }
        if (first && !*first) *first = endpoint;
    }
}

uint8_t CCyUSBDriverDevice::EndPointCount() {
    if (DeviceHandle == INVALID_HANDLE_VALUE) return 0;
    CCyInterface* bound = BoundInterface();
    if (!bound) return 0;
    // The table has room for 31 endpoints whatever bNumEndpoints says.
    int endpoints =
        bound->IfEndPointCount < kEndPointSlots - 1 ? bound->IfEndPointCount : kEndPointSlots - 1;
    return static_cast<uint8_t>(endpoints + 1);
}

CCyUSBEndPoint* CCyUSBDriverDevice::FindEndPoint(uint8_t address) {
    if (address == 0) return ControlEndPoint;
    int n = EndPointCount();
    if (n == 0) return nullptr;
    CCyInterface* bound = BoundInterface();
    for (int e = 0; e < n; ++e) {
        CCyUSBEndPoint* endpoint = bound->EndPointSlots[e];
        if (!endpoint) throw kEndpointNotFound;
        if (endpoint->Address == address) return endpoint;
    }
    return nullptr;
}

void CCyUSBDriverDevice::DetachDevice() {
    // A refused close is raised after everything built has been freed, so nothing leaks.
    std::exception_ptr failure;
    try {
        CloseDevice();
    } catch (...) {
        failure = std::current_exception();
    }
    std::memset(DeviceDescriptor, 0, sizeof DeviceDescriptor);
    delete[] BosDescriptor;
    BosDescriptor = nullptr;
    BosDescriptorSize = 0;
    delete BosInfo;
    BosInfo = nullptr;
    for (int i = 0; i < kConfigurationSlots; ++i) {
        delete[] ConfigDescriptors[i];
        ConfigDescriptors[i] = nullptr;
        ConfigDescriptorSizes[i] = 0;
        delete Configurations[i];
        Configurations[i] = nullptr;
    }
    delete ControlEndPoint;
    ControlEndPoint = nullptr;
    FirstIsocIn = FirstIsocOut = FirstBulkIn = FirstBulkOut = nullptr;
    FirstInterruptIn = FirstInterruptOut = nullptr;
    EndPointTable = nullptr;
    PresentDevices = 0;
    ConfigurationCount = 0;
    InterfaceCount = 0;
    InterfaceObjectCount = 0;
    if (failure) std::rethrow_exception(failure);
}

void CCyUSBDriverDevice::CloseDevice() {
    if (DeviceHandle == INVALID_HANDLE_VALUE) return;
    if (HandleNotification && !UnregisterDeviceNotification(HandleNotification)) {
        LastErrorCode = GetLastError();
        throw kHandleNotificationNotClosed;
    }
    HandleNotification = nullptr;
    if (!CloseHandle(DeviceHandle)) {
        LastErrorCode = GetLastError();
        throw kDriverHandleNotClosed;
    }
    DeviceHandle = INVALID_HANDLE_VALUE;
}
