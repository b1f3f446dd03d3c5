// Bulk, interrupt and isochronous endpoints: the transfer mode picks direct or buffered.
#include "usb/endpoint.h"
#include "wire/usb_descriptors.h"

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

// Bytes of the packet records that length needs at MaxPacketSize bytes a packet, or 0 when no
// packet can be made.
uint64_t PacketRecordBytes(uint16_t max_packet_size, uint32_t length) {
    if (max_packet_size == 0) return 0;
    uint64_t packets = (static_cast<uint64_t>(length) + max_packet_size - 1) / max_packet_size;
    return packets * kIsoPacketRecordSize;
}

}  // namespace

uint8_t* CCyIsocEndPoint::BeginBufferedTransfer(uint8_t* buffer, uint32_t length,
                                                OVERLAPPED* overlapped) {
    uint64_t records = PacketRecordBytes(MaxPacketSize, length);
    if (records == 0) return nullptr;
    return BeginTransfer(TransferForm::Buffered, buffer, length, overlapped, records);
}

uint8_t* CCyIsocEndPoint::BeginDirectTransfer(uint8_t* buffer, uint32_t length,
                                              OVERLAPPED* overlapped) {
    uint64_t records = PacketRecordBytes(MaxPacketSize, length);
    if (records == 0) return nullptr;
    return BeginTransfer(TransferForm::Direct, buffer, length, overlapped, records);
}

CCyUSBEndPoint* CopyEndPoint(const CCyUSBEndPoint& source) {
    switch (wire::TransferTypeOf(source.Attributes)) {
        case wire::TransferType::Control:
            if (auto* c = dynamic_cast<const CCyControlEndPoint*>(&source))
                return new CCyControlEndPoint(*c);
            break;
        case wire::TransferType::Isochronous:
            if (auto* c = dynamic_cast<const CCyIsocEndPoint*>(&source))
                return new CCyIsocEndPoint(*c);
            break;
        case wire::TransferType::Bulk:
            if (auto* c = dynamic_cast<const CCyBulkEndPoint*>(&source))
                return new CCyBulkEndPoint(*c);
            break;
        case wire::TransferType::Interrupt:
            if (auto* c = dynamic_cast<const CCyInterruptEndPoint*>(&source))
                return new CCyInterruptEndPoint(*c);
            break;
    }
    return nullptr;
}
