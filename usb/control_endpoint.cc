// Endpoint 0: control transfers with a setup packet in the envelope.
#include <cstring>
#include <new>

#include "usb/endpoint.h"
#include "wire/transfer_envelope.h"
#include "wire/usb_descriptors.h"
#include "wire/vendor_control_codes.h"

CCyControlEndPoint::CCyControlEndPoint() {
    TransferMode = 0;
}

CCyControlEndPoint::CCyControlEndPoint(HANDLE handle, const uint8_t* descriptor)
    : CCyUSBEndPoint(handle, descriptor) {
    TransferMode = 0;
}

CCyControlEndPoint::CCyControlEndPoint(const CCyControlEndPoint& other)
    : CCyUSBEndPoint(other),
      Target(other.Target),
      RequestType(other.RequestType),
      Direction(other.Direction),
      RequestCode(other.RequestCode),
      Value(other.Value),
      Index(other.Index) {}

uint8_t* CCyControlEndPoint::BeginDataTransfer(uint8_t* buffer, uint32_t length,
                                               OVERLAPPED* overlapped) {
    if (DeviceHandle == INVALID_HANDLE_VALUE) return nullptr;
    if (length > 0xFFFF) return nullptr;  // wLength is 16 bits
    wire::TransferEnvelope envelope;
    envelope.request_type = wire::SetupRequestType(Direction, RequestType, Target);
    IsIn = Direction == 1;
    envelope.request = RequestCode;
    envelope.value = Value;
    envelope.index = Index;
    envelope.length = static_cast<uint16_t>(length);
    envelope.timeout_seconds = ControlTimeoutSeconds(TimeoutMs);
    envelope.endpoint = 0;
    envelope.data_offset = wire::envelope::kSize;
    envelope.data_length = length;
    uint32_t size = wire::envelope::kSize + length;
    auto* block = new (std::nothrow) uint8_t[size]();
    if (!block) return nullptr;
    envelope.encode(block);
    if (buffer && length) std::memcpy(block + wire::envelope::kSize, buffer, length);
    SetLastError(ERROR_SUCCESS);
    DeviceIoControl(DeviceHandle, wire::kIoctlControlTransfer, block, size, block, size, nullptr,
                    overlapped);
    LastError = GetLastError();
    return block;
}

bool CCyControlEndPoint::ControlRead(uint8_t* buffer, int32_t& length) {
    Direction = 1;
    return TransferData(buffer, length, nullptr);
}

bool CCyControlEndPoint::ControlWrite(uint8_t* buffer, int32_t& length) {
    Direction = 0;
    return TransferData(buffer, length, nullptr);
}
