// Read-out methods and driver requests of the device object that nothing in the system calls.
#include <cstring>

#include "usb/bytes.h"
#include "usb/device.h"
#include "wire/vendor_control_codes.h"

namespace {

constexpr uint8_t kPowerD0 = 1, kPowerD3 = 4;

bool IsSuperSpeedVersion(uint16_t bcd) {
    return wire::MajorVersion(bcd) == 3;
}

}  // namespace

uint8_t CCyUSBDriverDevice::GetConfigurationCount() {
    return DeviceHandle == INVALID_HANDLE_VALUE ? 0 : ConfigurationCount;
}

uint8_t CCyUSBDriverDevice::GetInterfaceCount() {
    return DeviceHandle == INVALID_HANDLE_VALUE ? 0 : InterfaceCount;
}

uint8_t CCyUSBDriverDevice::GetAltSettingCount() {
    CCyInterface* bound = BoundInterface();
    if (!bound || bound->IfAltSettingCount == 0) return 0;
    return static_cast<uint8_t>(bound->IfAltSettingCount - 1);
}

void CCyUSBDriverDevice::GetDeviceDescriptor(uint8_t* out) {
    std::memcpy(out, DeviceDescriptor, sizeof DeviceDescriptor);
}

void CCyUSBDriverDevice::GetConfigDescriptor(uint8_t* out) {
    constexpr uint32_t kHead = wire::configuration_descriptor::kSize;
    std::memset(out, 0, kHead);
    if (ConfigIndex >= kConfigurationSlots || !ConfigDescriptors[ConfigIndex]) return;
    uint32_t n =
        ConfigDescriptorSizes[ConfigIndex] < kHead ? ConfigDescriptorSizes[ConfigIndex] : kHead;
    std::memcpy(out, ConfigDescriptors[ConfigIndex], n);
}

void CCyUSBDriverDevice::GetInterfaceDescriptor(InterfaceDescriptorFields* out) {
    std::memset(out, 0, sizeof *out);
    CCyInterface* bound = BoundInterface();
    if (!bound) return;
    *out = {bound->IfLength,     bound->IfType,          bound->IfNumber,
            bound->IfAltSetting, bound->IfEndPointCount, bound->IfClass,
            bound->IfSubClass,   bound->IfProtocol,      bound->IfStringIndex};
}

bool CCyUSBDriverDevice::GetBosHeader(BosHeaderFields* out) {
    if (!IsSuperSpeedVersion(UsbVersion) || !BosInfo) return false;
    *out = {BosInfo->BosLength, BosInfo->BosType, BosInfo->BosTotalLength, BosInfo->BosCapCount};
    return true;
}

bool CCyUSBDriverDevice::GetUsb20Extension(Usb20ExtensionRecord* out) {
    if (!IsSuperSpeedVersion(UsbVersion) || !BosInfo || !BosInfo->Usb20ExtensionCap) return false;
    *out = *BosInfo->Usb20ExtensionCap;
    return true;
}

bool CCyUSBDriverDevice::GetContainerId(ContainerIdRecord* out) {
    if (!IsSuperSpeedVersion(UsbVersion) || !BosInfo || !BosInfo->ContainerIdCap) return false;
    *out = *BosInfo->ContainerIdCap;
    return true;
}

bool CCyUSBDriverDevice::GetSuperSpeedCapability(SuperSpeedRecord* out) {
    if (!IsSuperSpeedVersion(UsbVersion) || !BosInfo || !BosInfo->SuperSpeedCap) return false;
    *out = *BosInfo->SuperSpeedCap;
    return true;
}

void CCyUSBDriverDevice::CopyConfiguration(CCyConfiguration* out, uint8_t index) {
    if (!out) return;
    if (ConfigurationCount == 0 || index > ConfigurationCount - 1) index = 0;
    if (index >= kConfigurationSlots || !Configurations[index]) return;
    *out = *Configurations[index];
}

uint8_t CCyUSBDriverDevice::QueryPowerState() {
    uint8_t value[4] = {};
    return IoControl(wire::kIoctlGetPowerState, value, sizeof value) ? value[0] : 0;
}

namespace {

// Sends a power state; the value the driver echoes back counts only when the call succeeded.
bool RequestPowerState(CCyUSBDriverDevice& device, uint8_t state) {
    if (device.QueryPowerState() == state) return true;
    uint8_t value[4] = {};
    usb::store_le32(value, state);
    return device.IoControl(wire::kIoctlSetPowerState, value, sizeof value);
}

}  // namespace

bool CCyUSBDriverDevice::RequestPowerStateD3() {
    return RequestPowerState(*this, kPowerD3);
}
bool CCyUSBDriverDevice::RequestPowerStateD0() {
    return RequestPowerState(*this, kPowerD0);
}

bool CCyUSBDriverDevice::SetAltSetting(uint8_t alternate) {
    if (QueryAltSetting() == alternate) return true;
    if (ConfigIndex >= kConfigurationSlots || !Configurations[ConfigIndex]) return false;
    const CCyConfiguration& c = *Configurations[ConfigIndex];
    for (int i = 0; i < InterfaceObjectCount && i < kMaxInterfaceObjects; ++i) {
        const CCyInterface* object = c.InterfaceObjects[i];
        if (!object || object->IfAltSetting != alternate) continue;
        InterfaceIndex = static_cast<uint8_t>(i);
        uint8_t value = alternate;
        bool ok = IoControl(wire::kIoctlSelectInterface, &value, 1);
        InterfaceClass = object->IfClass;
        InterfaceSubClass = object->IfSubClass;
        InterfaceProtocol = object->IfProtocol;
        BindEndPoints();
        return ok;
    }
    return false;
}

bool CCyUSBDriverDevice::RequestPortReset() {
    return IoControl(wire::kIoctlResetPort, nullptr, 0);
}
bool CCyUSBDriverDevice::RequestPortCycle() {
    return IoControl(wire::kIoctlCyclePort, nullptr, 0);
}
