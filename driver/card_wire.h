// What the kernel card client sends to the vendor's USB function driver: its control codes, the
// transfer envelope in front of every transfer, the setup packet of a descriptor read, and the
// FPGA data frame that carries sectors to the card and back. Little-endian throughout; written
// and read field by field at these offsets.
#pragma once

#include <cstdint>

namespace card_wire {

namespace usb_vendor {

// Control codes (device type 0x22, METHOD_BUFFERED: one buffer in and out).
constexpr uint32_t kGetAltSetting = 0x220008;    // 1 byte out: the interface's alternate setting
constexpr uint32_t kControlTransfer = 0x220020;  // envelope + data, endpoint 0
constexpr uint32_t kBufferedTransfer = 0x220024;
constexpr uint32_t kSetTransferSize = 0x220038;  // 5 bytes: endpoint address, u32 size
constexpr uint32_t kAbortPipe = 0x220044;        // 1 byte: endpoint address

constexpr uint32_t kTransferSizeRequest = 5;

}  // namespace usb_vendor

// The 38-byte transfer envelope; the driver writes the two status words back into it.
namespace envelope {

constexpr uint32_t kRequestType = 0;  // setup packet of a control transfer
constexpr uint32_t kRequest = 1;
constexpr uint32_t kValue = 2;
constexpr uint32_t kIndex = 4;
constexpr uint32_t kLength = 6;
constexpr uint32_t kTimeout = 8;  // seconds, control transfers
constexpr uint32_t kEndpoint = 13;
constexpr uint32_t kNtStatus = 14;
constexpr uint32_t kUsbdStatus = 18;
constexpr uint32_t kPacketOffset = 22;
constexpr uint32_t kPacketLength = 26;
constexpr uint32_t kDataOffset = 30;  // from the start of the envelope
constexpr uint32_t kDataLength = 34;
constexpr uint32_t kSize = 38;

static_assert(kSize == kDataLength + 4);

}  // namespace envelope

// Standard descriptors, as far as the client reads them.
namespace usb_descriptor {

constexpr uint8_t kGetDescriptorRequestType = 0x80;  // device to host, standard, device
constexpr uint8_t kGetDescriptor = 6;
constexpr uint32_t kGetDescriptorTimeout = 5;

constexpr uint8_t kDeviceType = 1;
constexpr uint8_t kConfigurationType = 2;
constexpr uint8_t kInterfaceType = 4;
constexpr uint8_t kEndpointType = 5;
constexpr uint8_t kSuperSpeedCompanionType = 0x30;

constexpr uint32_t kLengthField = 0;  // bLength
constexpr uint32_t kTypeField = 1;    // bDescriptorType

constexpr uint32_t kDeviceSize = 18;
constexpr uint32_t kDeviceConfigurationCount = 17;  // bNumConfigurations

constexpr uint32_t kConfigurationSize = 9;
constexpr uint32_t kConfigurationTotalLength = 2;  // wTotalLength, u16

constexpr uint32_t kInterfaceSize = 9;
constexpr uint32_t kEndpointSize = 7;
constexpr uint32_t kEndpointAddress = 2;
constexpr uint32_t kEndpointAttributes = 3;
constexpr uint32_t kEndpointMaxPacketSize = 4;  // u16
constexpr uint32_t kEndpointInterval = 6;
constexpr uint32_t kCompanionSize = 6;
constexpr uint32_t kCompanionMaxBurst = 2;
constexpr uint32_t kCompanionAttributes = 3;

constexpr uint8_t kBulk = 2;  // bmAttributes of a bulk endpoint

}  // namespace usb_descriptor

// The FPGA data frame: a 64-byte header, then the data. The reply has the same size.
namespace fpga_frame {

constexpr uint32_t kOp = 0;      // 'A' encrypt, 'B' decrypt; bytes 1..3 are 02 00 00
constexpr uint32_t kLength = 4;  // u32: data bytes of this frame
constexpr uint32_t kKey = 8;     // 32 bytes: key 1 then key 2
constexpr uint32_t kKeySize = 32;
constexpr uint32_t kTweak = 40;  // u64 sector number, then the u64 high half
constexpr uint32_t kTweakHigh = 48;
constexpr uint32_t kSector = 56;  // u64 sector number again
constexpr uint32_t kHeaderSize = 64;

// Reply fields.
constexpr uint32_t kStatus = 4;         // u8, nonzero: the engine refused the frame
constexpr uint32_t kTotalLength = 8;    // u32: 64 + the bytes processed
constexpr uint32_t kEchoedSector = 16;  // u64

static_assert(kSector + 8 == kHeaderSize);

}  // namespace fpga_frame

}  // namespace card_wire
