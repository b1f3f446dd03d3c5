// Bulk, interrupt and isochronous endpoints: the transfer mode picks direct or buffered.
#include <cstring>
#include <new>

#include "usb/control_codes.h"
#include "usb/descriptors.h"
#include "usb/endpoint.h"
#include "usb/transfer_envelope.h"

uint8_t* CCyUSBEndPoint::BeginTransferInMode(uint8_t* buffer, uint32_t length,
                                             OVERLAPPED* overlapped) {
    if (DeviceHandle == INVALID_HANDLE_VALUE) return nullptr;
    return TransferMode == 1 ? BeginDirectTransfer(buffer, length, overlapped)
                             : BeginBufferedTransfer(buffer, length, overlapped);
}

uint8_t* CCyBulkEndPoint::BeginDataTransfer(uint8_t* buffer, uint32_t length,
                                            OVERLAPPED* overlapped) {
    return BeginTransferInMode(buffer, length, overlapped);
}

uint8_t* CCyInterruptEndPoint::BeginDataTransfer(uint8_t* buffer, uint32_t length,
                                                 OVERLAPPED* overlapped) {
    return BeginTransferInMode(buffer, length, overlapped);
}

uint8_t* CCyIsocEndPoint::BeginDataTransfer(uint8_t* buffer, uint32_t length,
                                            OVERLAPPED* overlapped) {
    return BeginTransferInMode(buffer, length, overlapped);
}

namespace {

// Packets of MaxPacketSize bytes that length needs, or 0 when none can be made.
uint32_t PacketCount(uint16_t max_packet_size, uint32_t length) {
    if (max_packet_size == 0) return 0;
    return static_cast<uint32_t>((static_cast<uint64_t>(length) + max_packet_size - 1) /
                                 max_packet_size);
}

}  // namespace

uint8_t* CCyIsocEndPoint::BeginBufferedTransfer(uint8_t* buffer, uint32_t length,
                                                OVERLAPPED* overlapped) {
    if (DeviceHandle == INVALID_HANDLE_VALUE) return nullptr;
    uint32_t packets = PacketCount(MaxPacketSize, length);
    if (packets == 0) return nullptr;
    uint64_t records = static_cast<uint64_t>(packets) * kIsoPacketRecordSize;
    uint64_t size64 = usb::envelope::kSize + records + length;
    if (size64 > UINT32_MAX) return nullptr;
    auto size = static_cast<uint32_t>(size64);
    auto* block = new (std::nothrow) uint8_t[size]();
    if (!block) return nullptr;
    usb::TransferEnvelope envelope;
    envelope.endpoint = Address;
    envelope.packet_offset = usb::envelope::kSize;
    envelope.packet_length = static_cast<uint32_t>(records);
    envelope.data_offset = static_cast<uint32_t>(usb::envelope::kSize + records);
    envelope.data_length = length;
    envelope.encode(block);
    if (buffer && length) std::memcpy(block + envelope.data_offset, buffer, length);
    SetLastError(ERROR_SUCCESS);
    DeviceIoControl(DeviceHandle, usb::kIoctlBufferedTransfer, block, size, block, size, nullptr,
                    overlapped);
    NoteDriverCall(block);
    return block;
}

uint8_t* CCyIsocEndPoint::BeginDirectTransfer(uint8_t* buffer, uint32_t length,
                                              OVERLAPPED* overlapped) {
    if (DeviceHandle == INVALID_HANDLE_VALUE) return nullptr;
    uint32_t packets = PacketCount(MaxPacketSize, length);
    if (packets == 0) return nullptr;
    uint64_t records = static_cast<uint64_t>(packets) * kIsoPacketRecordSize;
    uint64_t size64 = usb::envelope::kSize + records;
    if (size64 > UINT32_MAX) return nullptr;
    auto size = static_cast<uint32_t>(size64);
    auto* block = new (std::nothrow) uint8_t[size]();
    if (!block) return nullptr;
    usb::TransferEnvelope envelope;
    envelope.endpoint = Address;
    envelope.packet_offset = usb::envelope::kSize;
    envelope.packet_length = static_cast<uint32_t>(records);
    envelope.encode(block);
    SetLastError(ERROR_SUCCESS);
    DeviceIoControl(DeviceHandle, usb::kIoctlDirectTransfer, block, size, buffer, length, nullptr,
                    overlapped);
    NoteDriverCall(block);
    return block;
}

CCyUSBEndPoint* CopyEndPoint(const CCyUSBEndPoint& source) {
    switch (usb::TransferTypeOf(source.Attributes)) {
        case usb::TransferType::Control:
            if (auto* c = dynamic_cast<const CCyControlEndPoint*>(&source))
                return new CCyControlEndPoint(*c);
            break;
        case usb::TransferType::Isochronous:
            if (auto* c = dynamic_cast<const CCyIsocEndPoint*>(&source))
                return new CCyIsocEndPoint(*c);
            break;
        case usb::TransferType::Bulk:
            if (auto* c = dynamic_cast<const CCyBulkEndPoint*>(&source))
                return new CCyBulkEndPoint(*c);
            break;
        case usb::TransferType::Interrupt:
            if (auto* c = dynamic_cast<const CCyInterruptEndPoint*>(&source))
                return new CCyInterruptEndPoint(*c);
            break;
    }
    return nullptr;
}
