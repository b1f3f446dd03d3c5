// The descriptor reads and driver queries of AttachDevice.
#include <cstring>
#include <new>
#include <vector>

#include "usb/bytes.h"
#include "usb/device.h"
#include "wire/transfer_envelope.h"
#include "wire/usb_descriptors.h"
#include "wire/vendor_control_codes.h"

namespace {

namespace types = wire::descriptor_type;
constexpr uint16_t kLangIdUsEnglish = 0x0409;

}  // namespace

bool CCyUSBDriverDevice::GetDescriptor(uint8_t type, uint8_t index, uint16_t language,
                                       uint8_t* data, uint16_t length, bool usbd_only) {
    std::vector<uint8_t> block(wire::envelope::kSize + length);
    wire::GetDescriptorEnvelope(type, index, language, length).encode(block.data());
    bool ok =
        IoControl(wire::kIoctlControlTransfer, block.data(), static_cast<uint32_t>(block.size()));
    const auto returned = wire::TransferEnvelope::decode(block.data());
    LastUsbdStatus = returned.usbd_status;
    if (!usbd_only) LastNtStatus = returned.nt_status;
    if (ok && length) std::memcpy(data, block.data() + wire::envelope::kSize, length);
    return ok;
}

void CCyUSBDriverDevice::ReadDeviceDescriptor() {
    namespace field = wire::device_descriptor;
    std::memset(DeviceDescriptor, 0, sizeof DeviceDescriptor);
    uint8_t d[field::kSize];
    if (!GetDescriptor(types::kDevice, 0, 0, d, sizeof d, false)) return;
    std::memcpy(DeviceDescriptor, d, sizeof d);
    UsbVersion = usb::load_le16(d + field::kUsbVersion);
    VendorId = usb::load_le16(d + field::kVendor);
    ProductId = usb::load_le16(d + field::kProduct);
    DeviceClass = d[field::kClass];
    DeviceSubClass = d[field::kSubClass];
    DeviceProtocol = d[field::kProtocol];
    uint8_t max_packet0 = d[field::kMaxPacket0];
    // From USB 3.0 on, bMaxPacketSize0 is an exponent; before it, the size itself.
    if (wire::MajorVersion(UsbVersion) >= 3)
        Ep0PacketSize = static_cast<int32_t>(1u << (max_packet0 & 31));
    else
        Ep0PacketSize = max_packet0;
    DeviceRelease = usb::load_le16(d + field::kRelease);
    ConfigurationCount = d[field::kConfigurations];
}

void CCyUSBDriverDevice::ReadLanguageId() {
    constexpr size_t kIds = wire::string_descriptor::kText;
    uint8_t head[wire::descriptor_header::kSize];
    if (!GetDescriptor(types::kString, 0, 0, head, sizeof head, true)) return;
    uint8_t length = head[wire::descriptor_header::kLength];
    std::vector<uint8_t> table(length);
    if (!GetDescriptor(types::kString, 0, 0, table.data(), length, true)) return;
    size_t entries = length >= kIds ? (length - kIds) / 2 : 0;
    LangId = entries ? usb::load_le16(table.data() + kIds) : 0;
    for (size_t i = 0; i < entries; ++i)
        if (usb::load_le16(table.data() + kIds + 2 * i) == kLangIdUsEnglish)
            LangId = kLangIdUsEnglish;
}

void CCyUSBDriverDevice::ReadStringDescriptor(char16_t* target, uint8_t index) {
    constexpr size_t kText = wire::string_descriptor::kText;
    uint8_t head[wire::descriptor_header::kSize];
    if (!GetDescriptor(types::kString, index, LangId, head, sizeof head, false)) return;
    uint8_t length = head[wire::descriptor_header::kLength];
    std::vector<uint8_t> text(length);
    if (!GetDescriptor(types::kString, index, LangId, text.data(), length, false)) return;
    if (length <= kText || text[wire::descriptor_header::kType] != types::kString) return;
    std::memset(target, 0, kStringUnits * sizeof(char16_t));
    // At most 253 bytes of text: the last unit stays 0 and ends the string.
    for (size_t b = 0; b + kText < length; ++b)
        target[b / 2] = static_cast<char16_t>(target[b / 2] | text[kText + b] << (8 * (b % 2)));
}

bool CCyUSBDriverDevice::ReadBosDescriptor() {
    uint8_t head[wire::bos_descriptor::kSize];
    if (!GetDescriptor(types::kBos, 0, 0, head, sizeof head, false)) return false;
    uint16_t total = usb::load_le16(head + wire::bos_descriptor::kTotalLength);
    auto* copy = new (std::nothrow) uint8_t[total ? total : 1]();
    if (!copy) return false;
    if (!GetDescriptor(types::kBos, 0, 0, copy, total, false)) {
        delete[] copy;
        return false;
    }
    delete[] BosDescriptor;
    BosDescriptor = copy;
    BosDescriptorSize = total;
    return true;
}

void CCyUSBDriverDevice::ReadConfigDescriptor(uint8_t index) {
    if (index >= kConfigurationSlots) return;
    uint8_t head[wire::configuration_descriptor::kSize];
    if (!GetDescriptor(types::kConfiguration, index, 0, head, sizeof head, false)) return;
    uint16_t total = usb::load_le16(head + wire::configuration_descriptor::kTotalLength);
    auto* copy = new (std::nothrow) uint8_t[total ? total : 1]();
    if (!copy) return;
    if (!GetDescriptor(types::kConfiguration, index, 0, copy, total, false)) {
        delete[] copy;
        return;
    }
    delete[] ConfigDescriptors[index];
    ConfigDescriptors[index] = copy;
    ConfigDescriptorSizes[index] = total;
}

void CCyUSBDriverDevice::ReadUsbAddress() {
    uint8_t address = 0;
    UsbAddress = IoControl(wire::kIoctlGetAddress, &address, 1) ? address : 0;
}

void CCyUSBDriverDevice::ReadDriverText(uint32_t code, char (&text)[kDriverNameSize]) {
    std::memset(text, 0, sizeof text);
    if (DeviceHandle == INVALID_HANDLE_VALUE) return;
    IoControl(code, reinterpret_cast<uint8_t*>(text), sizeof text);
    text[kDriverNameSize - 1] = '\0';
}

void CCyUSBDriverDevice::ReadDriverDeviceName() {
    ReadDriverText(wire::kIoctlGetDriverName, DriverDeviceName);
}

void CCyUSBDriverDevice::ReadDriverFriendlyName() {
    ReadDriverText(wire::kIoctlGetFriendlyName, DriverFriendlyName);
}

void CCyUSBDriverDevice::ReadDriverVersion() {
    uint8_t value[4] = {};
    DriverVersionNumber =
        IoControl(wire::kIoctlGetDriverVersion, value, sizeof value) ? usb::load_le32(value) : 0;
}

void CCyUSBDriverDevice::ReadUsbdiVersion() {
    uint8_t value[4] = {};
    UsbdiVersionNumber =
        IoControl(wire::kIoctlGetUsbdiVersion, value, sizeof value) ? usb::load_le32(value) : 0;
}

void CCyUSBDriverDevice::ReadSpeed() {
    IsHighSpeed = false;
    IsSuperSpeed = false;
    uint8_t value[4] = {};
    IoControl(wire::kIoctlGetSpeed, value, sizeof value);
    uint32_t speed = usb::load_le32(value);
    IsHighSpeed = speed == 2;
    IsSuperSpeed = speed == 4;
}
