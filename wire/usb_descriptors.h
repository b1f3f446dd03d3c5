// The standard USB descriptors as the device sends them, and the setup packet's request type:
// descriptor types, field offsets and sizes, and the bit fields inside them; and the envelope of
// the GET_DESCRIPTOR request that reads them, from user mode and kernel mode alike. Multi-byte
// fields are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

#include "wire/transfer_envelope.h"

namespace wire {

// bDescriptorType.
namespace descriptor_type {
constexpr uint8_t kDevice = 1;
constexpr uint8_t kConfiguration = 2;
constexpr uint8_t kString = 3;
constexpr uint8_t kInterface = 4;
constexpr uint8_t kEndpoint = 5;
constexpr uint8_t kBos = 15;
constexpr uint8_t kEndpointCompanion = 0x30;  // SuperSpeed endpoint companion
}  // namespace descriptor_type

// Every descriptor starts with its length and its type.
namespace descriptor_header {
constexpr size_t kLength = 0;  // u8, bLength
constexpr size_t kType = 1;    // u8, bDescriptorType
constexpr size_t kSize = 2;
}  // namespace descriptor_header

namespace device_descriptor {
constexpr size_t kUsbVersion = 2;  // u16 BCD, bcdUSB
constexpr size_t kClass = 4;       // u8
constexpr size_t kSubClass = 5;    // u8
constexpr size_t kProtocol = 6;    // u8
constexpr size_t kMaxPacket0 = 7;  // u8: the size before USB 3.0, its base-2 exponent from it on
constexpr size_t kVendor = 8;      // u16
constexpr size_t kProduct = 10;    // u16
constexpr size_t kRelease = 12;    // u16 BCD
constexpr size_t kManufacturerString = 14;  // u8 string index
constexpr size_t kProductString = 15;       // u8 string index
constexpr size_t kSerialNumberString = 16;  // u8 string index
constexpr size_t kConfigurations = 17;      // u8
constexpr size_t kSize = 18;
}  // namespace device_descriptor
static_assert(device_descriptor::kConfigurations + 1 == device_descriptor::kSize);

// The head of a configuration descriptor set; wTotalLength covers the whole set.
namespace configuration_descriptor {
constexpr size_t kTotalLength = 2;  // u16
constexpr size_t kInterfaces = 4;   // u8
constexpr size_t kValue = 5;        // u8
constexpr size_t kString = 6;       // u8 string index
constexpr size_t kAttributes = 7;   // u8
constexpr size_t kMaxPower = 8;     // u8
constexpr size_t kSize = 9;
}  // namespace configuration_descriptor
static_assert(configuration_descriptor::kMaxPower + 1 == configuration_descriptor::kSize);

namespace interface_descriptor {
constexpr size_t kNumber = 2;            // u8
constexpr size_t kAlternateSetting = 3;  // u8
constexpr size_t kEndpoints = 4;         // u8
constexpr size_t kClass = 5;             // u8
constexpr size_t kSubClass = 6;          // u8
constexpr size_t kProtocol = 7;          // u8
constexpr size_t kString = 8;            // u8 string index
constexpr size_t kSize = 9;
}  // namespace interface_descriptor
static_assert(interface_descriptor::kString + 1 == interface_descriptor::kSize);

namespace endpoint_descriptor {
constexpr size_t kAddress = 2;        // u8: number, and the direction bit kDirectionIn
constexpr size_t kAttributes = 3;     // u8: the transfer type in bits 0-1
constexpr size_t kMaxPacketSize = 4;  // u16: bytes in bits 0-10, extra packets in bits 11-12
constexpr size_t kInterval = 6;       // u8
constexpr size_t kSize = 7;
}  // namespace endpoint_descriptor
static_assert(endpoint_descriptor::kInterval + 1 == endpoint_descriptor::kSize);

// SuperSpeed endpoint companion, right after its endpoint descriptor.
namespace companion_descriptor {
constexpr size_t kMaxBurst = 2;    // u8: packets per burst, less one
constexpr size_t kAttributes = 3;  // u8: isochronous, bursts per interval less one in bits 0-1
constexpr size_t kBytesPerInterval = 4;  // u16
constexpr size_t kSize = 6;
}  // namespace companion_descriptor
static_assert(companion_descriptor::kBytesPerInterval + 2 == companion_descriptor::kSize);

// The head of a BOS descriptor set; device capabilities follow it.
namespace bos_descriptor {
constexpr size_t kTotalLength = 2;   // u16
constexpr size_t kCapabilities = 4;  // u8
constexpr size_t kSize = 5;
}  // namespace bos_descriptor
static_assert(bos_descriptor::kCapabilities + 1 == bos_descriptor::kSize);

// A device capability of the BOS set: the header, then bDevCapabilityType, then the fields of
// that capability.
namespace capability {
constexpr size_t kCapabilityType = 2;  // u8
constexpr size_t kHeaderSize = 3;

constexpr uint8_t kUsb20Extension = 2;
constexpr size_t kUsb20Attributes = 3;  // u32
constexpr size_t kUsb20ExtensionSize = 7;
static_assert(kUsb20Attributes + 4 == kUsb20ExtensionSize);

constexpr uint8_t kSuperSpeed = 3;
constexpr size_t kSuperSpeedAttributes = 3;  // u8
constexpr size_t kSpeedsSupported = 4;       // u16
constexpr size_t kFunctionalitySupport = 6;  // u8
constexpr size_t kU1ExitLatency = 7;         // u8
constexpr size_t kU2ExitLatency = 8;         // u16
constexpr size_t kSuperSpeedSize = 10;
static_assert(kU2ExitLatency + 2 == kSuperSpeedSize);

constexpr uint8_t kContainerId = 4;
constexpr size_t kContainerIdValue = 4;  // 16 bytes, after one reserved byte
constexpr size_t kContainerIdValueSize = 16;
constexpr size_t kContainerIdSize = 20;
static_assert(kContainerIdValue + kContainerIdValueSize == kContainerIdSize);
}  // namespace capability

// A string descriptor is the header and UTF-16LE text; string 0 holds the language IDs instead.
namespace string_descriptor {
constexpr size_t kText = descriptor_header::kSize;
}  // namespace string_descriptor

// bmAttributes bits 0-1 of an endpoint.
enum class TransferType : uint8_t { Control = 0, Isochronous = 1, Bulk = 2, Interrupt = 3 };

constexpr TransferType TransferTypeOf(uint8_t attributes) {
    return static_cast<TransferType>(attributes & 3);
}

// Bit 7 of an endpoint address: set for IN (device to host).
constexpr uint8_t kDirectionIn = 0x80;

constexpr bool IsInAddress(uint8_t address) {
    return (address & kDirectionIn) != 0;
}

// wMaxPacketSize: the packet size, and the packets per microframe (1 to 4).
constexpr uint16_t PacketBytes(uint16_t max_packet_size) {
    return static_cast<uint16_t>(max_packet_size & 0x7FF);
}
constexpr uint16_t PacketsPerMicroframe(uint16_t max_packet_size) {
    return static_cast<uint16_t>(((max_packet_size >> 11) & 3) + 1);
}

// A companion's bmAttributes for an isochronous endpoint: bursts per service interval (1 to 4).
constexpr uint16_t IsochronousBursts(uint8_t companion_attributes) {
    return static_cast<uint16_t>((companion_attributes & 3) + 1);
}

// The major version of a BCD version field (bcdUSB 0x0300 gives 3).
constexpr uint8_t MajorVersion(uint16_t bcd) {
    return static_cast<uint8_t>(bcd >> 8);
}

// bmRequestType of a setup packet: the direction (1 device to host) in bit 7, the type in bits 5-6
// and the recipient in bits 0-4.
constexpr uint32_t kRequestTypeStandard = 0, kRequestTypeVendor = 2;
constexpr uint32_t kRecipientDevice = 0;

constexpr uint8_t SetupRequestType(uint32_t direction, uint32_t type, uint32_t recipient) {
    return static_cast<uint8_t>(direction << 7 | (type & 3) << 5 | (recipient & 0x1F));
}

// The standard request GET_DESCRIPTOR; wValue holds the type in its high byte and the index in
// its low byte.
constexpr uint8_t kGetDescriptor = 6;

constexpr uint16_t DescriptorValue(uint8_t type, uint8_t index) {
    return static_cast<uint16_t>(type << 8 | index);
}

// The time-out of a GET_DESCRIPTOR control transfer.
constexpr uint32_t kGetDescriptorTimeoutSeconds = 5;

// The envelope of GET_DESCRIPTOR for descriptor (type, index) in language, length bytes: a
// control transfer on endpoint 0 whose data lies right behind the envelope.
constexpr TransferEnvelope GetDescriptorEnvelope(uint8_t type, uint8_t index, uint16_t language,
                                                 uint16_t length) {
    TransferEnvelope e;
    e.request_type = SetupRequestType(1, kRequestTypeStandard, kRecipientDevice);
    e.request = kGetDescriptor;
    e.value = DescriptorValue(type, index);
    e.index = language;
    e.length = length;
    e.timeout_seconds = kGetDescriptorTimeoutSeconds;
    e.endpoint = 0;
    e.data_offset = envelope::kSize;
    e.data_length = length;
    return e;
}

}  // namespace wire
