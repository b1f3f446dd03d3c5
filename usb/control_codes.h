// The USB bridge vendor's function-driver control codes (device type 0x22). All but the direct
// transfer are METHOD_BUFFERED; the direct transfer is METHOD_NEITHER.
#pragma once

#include <cstdint>

namespace usb {

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
constexpr uint32_t kIoctlGetTransferSize = 0x220034;   // 5 bytes: address, u32 size
constexpr uint32_t kIoctlSetTransferSize = 0x220038;   // 5 bytes: address, u32 size
constexpr uint32_t kIoctlGetDriverName = 0x22003C;     // 256 bytes out
constexpr uint32_t kIoctlGetFriendlyName = 0x220040;   // 256 bytes out
constexpr uint32_t kIoctlAbortPipe = 0x220044;         // 1 byte in: endpoint address
constexpr uint32_t kIoctlDirectTransfer = 0x22004B;    // envelope in, caller's buffer out
constexpr uint32_t kIoctlGetSpeed = 0x22004C;          // 4 bytes out: 2 high, 4 SuperSpeed

}  // namespace usb
