// The USB bridge vendor's function-driver control codes (device type 0x22), as the user-mode USB
// classes and the driver's kernel card client send them. All but the direct transfer are
// METHOD_BUFFERED; the direct transfer is METHOD_NEITHER. And the transfer-size record, the buffer
// of the two transfer-size codes.
#pragma once

#include <cstdint>

#include "base/byte_access.h"

namespace wire {

constexpr uint32_t kIoctlGetDriverVersion = 0x220000;  // 4 bytes out
constexpr uint32_t kIoctlGetUsbdiVersion = 0x220004;   // 4 bytes out
constexpr uint32_t kIoctlGetAltSetting = 0x220008;     // 1 byte out
constexpr uint32_t kIoctlSelectInterface = 0x22000C;   // 1 byte in: alternate setting
constexpr uint32_t kIoctlGetAddress = 0x220010;        // 1 byte out
constexpr uint32_t kIoctlGetPowerState = 0x220018;     // 4 bytes out
constexpr uint32_t kIoctlSetPowerState = 0x22001C;     // 4 bytes in and out
constexpr uint32_t kIoctlControlTransfer = 0x220020;   // envelope + data, endpoint 0
constexpr uint32_t kIoctlBufferedTransfer = 0x220024;  // envelope + data
constexpr uint32_t kIoctlCyclePort = 0x220028;         // no buffers
constexpr uint32_t kIoctlResetPipe = 0x22002C;         // 1 byte in: endpoint address
constexpr uint32_t kIoctlResetPort = 0x220030;         // no buffers
constexpr uint32_t kIoctlGetTransferSize = 0x220034;   // transfer-size record in and out
constexpr uint32_t kIoctlSetTransferSize = 0x220038;   // transfer-size record in and out
constexpr uint32_t kIoctlGetDriverName = 0x22003C;     // 256 bytes out
constexpr uint32_t kIoctlGetFriendlyName = 0x220040;   // 256 bytes out
constexpr uint32_t kIoctlAbortPipe = 0x220044;         // 1 byte in: endpoint address
constexpr uint32_t kIoctlDirectTransfer = 0x22004B;    // envelope in, caller's buffer out
constexpr uint32_t kIoctlGetSpeed = 0x22004C;          // 4 bytes out: 2 high, 4 SuperSpeed

// The transfer-size record: 5 packed bytes, the endpoint's address and its transfer size.
namespace transfer_size {
constexpr uint32_t kEndpoint = 0;  // u8
constexpr uint32_t kSize = 1;      // u32
constexpr uint32_t kRecordSize = 5;
}  // namespace transfer_size
static_assert(transfer_size::kSize + 4 == transfer_size::kRecordSize);

struct TransferSizeRecord {
    uint8_t endpoint = 0;
    uint32_t size = 0;

    void encode(uint8_t* out) const {
        out[transfer_size::kEndpoint] = endpoint;
        bytes::store_le32(out + transfer_size::kSize, size);
    }

    static TransferSizeRecord decode(const uint8_t* in) {
        return {in[transfer_size::kEndpoint], bytes::load_le32(in + transfer_size::kSize)};
    }
};

}  // namespace wire
