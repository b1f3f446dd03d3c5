// The 38-byte transfer envelope that goes in front of every transfer to the USB bridge vendor's
// function driver (user mode and kernel mode alike). Packed, little-endian; the driver writes the
// two status words back into it.
#pragma once

#include <cstdint>

#include "base/byte_access.h"

namespace wire {

namespace envelope {
constexpr uint32_t kRequestType = 0;    // u8, control transfers
constexpr uint32_t kRequest = 1;        // u8
constexpr uint32_t kValue = 2;          // u16
constexpr uint32_t kIndex = 4;          // u16
constexpr uint32_t kLength = 6;         // u16
constexpr uint32_t kTimeout = 8;        // u32 seconds, control transfers
constexpr uint32_t kReserved = 12;      // u8
constexpr uint32_t kEndpoint = 13;      // u8
constexpr uint32_t kNtStatus = 14;      // u32, written by the driver
constexpr uint32_t kUsbdStatus = 18;    // u32, written by the driver
constexpr uint32_t kPacketOffset = 22;  // u32, from the start of the envelope
constexpr uint32_t kPacketLength = 26;  // u32
constexpr uint32_t kDataOffset = 30;    // u32, from the start of the envelope
constexpr uint32_t kDataLength = 34;    // u32
constexpr uint32_t kSize = 38;
}  // namespace envelope
static_assert(envelope::kDataLength + 4 == envelope::kSize);

// The envelope's fields; encode writes all 38 bytes.
struct TransferEnvelope {
    uint8_t request_type = 0;
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
    uint16_t length = 0;
    uint32_t timeout_seconds = 0;
    uint8_t endpoint = 0;
    uint32_t nt_status = 0;
    uint32_t usbd_status = 0;
    uint32_t packet_offset = 0;
    uint32_t packet_length = 0;
    uint32_t data_offset = 0;
    uint32_t data_length = 0;

    void encode(uint8_t* out) const {
        out[envelope::kRequestType] = request_type;
        out[envelope::kRequest] = request;
        bytes::store_le16(out + envelope::kValue, value);
        bytes::store_le16(out + envelope::kIndex, index);
        bytes::store_le16(out + envelope::kLength, length);
        bytes::store_le32(out + envelope::kTimeout, timeout_seconds);
        out[envelope::kReserved] = 0;
        out[envelope::kEndpoint] = endpoint;
        bytes::store_le32(out + envelope::kNtStatus, nt_status);
        bytes::store_le32(out + envelope::kUsbdStatus, usbd_status);
        bytes::store_le32(out + envelope::kPacketOffset, packet_offset);
        bytes::store_le32(out + envelope::kPacketLength, packet_length);
        bytes::store_le32(out + envelope::kDataOffset, data_offset);
        bytes::store_le32(out + envelope::kDataLength, data_length);
    }

    static TransferEnvelope decode(const uint8_t* in) {
        TransferEnvelope e;
        e.request_type = in[envelope::kRequestType];
        e.request = in[envelope::kRequest];
        e.value = bytes::load_le16(in + envelope::kValue);
        e.index = bytes::load_le16(in + envelope::kIndex);
        e.length = bytes::load_le16(in + envelope::kLength);
        e.timeout_seconds = bytes::load_le32(in + envelope::kTimeout);
        e.endpoint = in[envelope::kEndpoint];
        e.nt_status = bytes::load_le32(in + envelope::kNtStatus);
        e.usbd_status = bytes::load_le32(in + envelope::kUsbdStatus);
        e.packet_offset = bytes::load_le32(in + envelope::kPacketOffset);
        e.packet_length = bytes::load_le32(in + envelope::kPacketLength);
        e.data_offset = bytes::load_le32(in + envelope::kDataOffset);
        e.data_length = bytes::load_le32(in + envelope::kDataLength);
        return e;
    }
};

}  // namespace wire
