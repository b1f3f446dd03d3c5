// The base endpoint: descriptor values, direct and buffered transfers, waiting and aborting.
#include "usb/endpoint.h"

#include <cstring>
#include <new>

#include "usb/bytes.h"
#include "wire/transfer_envelope.h"
#include "wire/usb_descriptors.h"
#include "wire/vendor_control_codes.h"

namespace {

constexpr DWORD kAbortGraceMs = 50;

}  // namespace

CCyUSBEndPoint::CCyUSBEndPoint() = default;

CCyUSBEndPoint::CCyUSBEndPoint(HANDLE handle, const uint8_t* descriptor)
    : CCyUSBEndPoint(handle, descriptor, nullptr) {}

CCyUSBEndPoint::CCyUSBEndPoint(HANDLE handle, const uint8_t* descriptor, const uint8_t* companion)
    : DeviceHandle(handle) {
    using wire::descriptor_header::kLength;
    using wire::descriptor_header::kType;
    if (!descriptor) return;
    namespace ep = wire::endpoint_descriptor;
    DescriptorLength = descriptor[kLength];
    DescriptorType = descriptor[kType];
    Address = descriptor[ep::kAddress];
    Attributes = descriptor[ep::kAttributes];
    Interval = descriptor[ep::kInterval];
    uint16_t w_max_packet = usb::load_le16(descriptor + ep::kMaxPacketSize);
    PacketMultiplier = wire::PacketsPerMicroframe(w_max_packet);
    MaxPacketSize = static_cast<uint16_t>(wire::PacketBytes(w_max_packet) * PacketMultiplier);
    IsIn = wire::IsInAddress(Address);
    if (!companion) return;
    namespace comp = wire::companion_descriptor;
    CompanionLength = companion[kLength];
    CompanionType = companion[kType];
    MaxBurst = companion[comp::kMaxBurst];
    CompanionAttributes = companion[comp::kAttributes];
    BytesPerInterval = usb::load_le16(companion + comp::kBytesPerInterval);
    MaxPacketSize = static_cast<uint16_t>(MaxPacketSize * (MaxBurst + 1));
    if (wire::TransferTypeOf(Attributes) == wire::TransferType::Isochronous)
        MaxPacketSize =
            static_cast<uint16_t>(MaxPacketSize * wire::IsochronousBursts(CompanionAttributes));
}

CCyUSBEndPoint::CCyUSBEndPoint(const CCyUSBEndPoint& other)
    : DeviceHandle(other.DeviceHandle),
      DescriptorLength(other.DescriptorLength),
      DescriptorType(other.DescriptorType),
      Address(other.Address),
      Attributes(other.Attributes),
      MaxPacketSize(other.MaxPacketSize),
      Interval(other.Interval),
      CompanionLength(other.CompanionLength),
      CompanionType(other.CompanionType),
      MaxBurst(other.MaxBurst),
      CompanionAttributes(other.CompanionAttributes),
      BytesPerInterval(other.BytesPerInterval),
      TimeoutMs(other.TimeoutMs),
      LastError(0),
      IsIn(other.IsIn),
      TransferMode(other.TransferMode) {}

void CCyUSBEndPoint::NoteDriverCall(const uint8_t* envelope) {
    LastError = GetLastError();
    // While the transfer is pending the driver owns the envelope and may be writing it; the
    // finish step takes the status words then.
    if (LastError == ERROR_IO_PENDING) return;
    const auto fields = wire::TransferEnvelope::decode(envelope);
    LastUsbdStatus = fields.usbd_status;
    LastNtStatus = fields.nt_status;
}

uint8_t* CCyUSBEndPoint::BeginTransfer(TransferForm form, uint8_t* buffer, uint32_t length,
                                       OVERLAPPED* overlapped, uint64_t record_bytes) {
    if (DeviceHandle == INVALID_HANDLE_VALUE) return nullptr;
    const bool buffered = form == TransferForm::Buffered;
    uint64_t size64 = wire::envelope::kSize + record_bytes + (buffered ? length : 0);
    if (size64 > UINT32_MAX) return nullptr;
    auto size = static_cast<uint32_t>(size64);
    auto* block = new (std::nothrow) uint8_t[size]();
    if (!block) return nullptr;
    wire::TransferEnvelope envelope;
    envelope.endpoint = Address;
    if (record_bytes) {
        envelope.packet_offset = wire::envelope::kSize;
        envelope.packet_length = static_cast<uint32_t>(record_bytes);
    }
    if (buffered) {
        envelope.data_offset = static_cast<uint32_t>(wire::envelope::kSize + record_bytes);
        envelope.data_length = length;
    }
    envelope.encode(block);
    if (buffered && buffer && length) std::memcpy(block + envelope.data_offset, buffer, length);
    // A call that completes at once leaves the last error alone; clear it so that the wait step
    // sees 0 for it rather than an earlier call's error.
    SetLastError(ERROR_SUCCESS);
    if (buffered)
        DeviceIoControl(DeviceHandle, wire::kIoctlBufferedTransfer, block, size, block, size,
                        nullptr, overlapped);
    else
        DeviceIoControl(DeviceHandle, wire::kIoctlDirectTransfer, block, size, buffer, length,
                        nullptr, overlapped);
    NoteDriverCall(block);
    return block;
}

uint8_t* CCyUSBEndPoint::BeginDirectTransfer(uint8_t* buffer, uint32_t length,
                                             OVERLAPPED* overlapped) {
    return BeginTransfer(TransferForm::Direct, buffer, length, overlapped);
}

uint8_t* CCyUSBEndPoint::BeginBufferedTransfer(uint8_t* buffer, uint32_t length,
                                               OVERLAPPED* overlapped) {
    return BeginTransfer(TransferForm::Buffered, buffer, length, overlapped);
}

bool CCyUSBEndPoint::FinishDataTransfer(uint8_t* buffer, int32_t& length, OVERLAPPED* overlapped,
                                        uint8_t* envelope, IsoPacketRecord* packets) {
    DWORD returned = 0;
    BOOL done = GetOverlappedResult(DeviceHandle, overlapped, &returned, FALSE);
    // A request the driver refused at once left the record untouched; only one that went pending
    // can still be held by the driver.
    if (!done && GetLastError() == ERROR_IO_INCOMPLETE && LastError == ERROR_IO_PENDING) {
        // The driver still holds the block: end the transfer before the block is freed.
        AbortPipe();
        done = GetOverlappedResult(DeviceHandle, overlapped, &returned, TRUE);
    }
    auto fields = wire::TransferEnvelope::decode(envelope);
    uint32_t requested = length > 0 ? static_cast<uint32_t>(length) : 0;
    uint32_t transferred = returned > fields.data_offset ? returned - fields.data_offset : 0;
    if (transferred > requested) transferred = requested;  // never more than the buffer holds
    length = static_cast<int32_t>(transferred);
    BytesTransferred = transferred;
    LastUsbdStatus = fields.usbd_status;
    LastNtStatus = fields.nt_status;
    if (IsIn && TransferMode == 0 && transferred >= 1 && buffer)
        std::memcpy(buffer, envelope + fields.data_offset, transferred);
    if (packets && transferred >= 1) {
        uint32_t count = fields.packet_length / kIsoPacketRecordSize;
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* record = envelope + fields.packet_offset + i * kIsoPacketRecordSize;
            packets[i].Length = usb::load_le32(record);
            packets[i].Status = usb::load_le32(record + 4);
        }
    }
    delete[] envelope;
    return done && LastUsbdStatus == 0 && LastNtStatus == 0;
}

bool CCyUSBEndPoint::TransferData(uint8_t* buffer, int32_t& length, IsoPacketRecord* packets) {
    if (length < 0) return false;
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!overlapped.hEvent) {
        LastError = GetLastError();
        return false;
    }
    uint8_t* envelope = BeginDataTransfer(buffer, static_cast<uint32_t>(length), &overlapped);
    if (!envelope) {
        CloseHandle(overlapped.hEvent);
        return false;
    }
    bool waited = WaitForTransfer(&overlapped);
    bool finished = FinishDataTransfer(buffer, length, &overlapped, envelope, packets);
    CloseHandle(overlapped.hEvent);
    return waited && finished;
}

bool CCyUSBEndPoint::WaitForTransfer(OVERLAPPED* overlapped) {
    LastError = GetLastError();
    if (LastError == ERROR_SUCCESS) return true;
    if (LastError != ERROR_IO_PENDING) return false;
    DWORD result = WaitForSingleObject(overlapped->hEvent, TimeoutMs);
    if (result == WAIT_OBJECT_0) return true;
    if (result != WAIT_TIMEOUT) return false;
    AbortPipe();
    result = WaitForSingleObject(overlapped->hEvent, kAbortGraceMs);
    if (result == WAIT_OBJECT_0) return true;
    if (result == WAIT_ABANDONED) return false;
    AbortPipe();
    return WaitForSingleObject(overlapped->hEvent, INFINITE) == WAIT_OBJECT_0;
}

bool CCyUSBEndPoint::AbortPipe() {
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    uint8_t address = Address;
    if (!DeviceIoControl(DeviceHandle, wire::kIoctlAbortPipe, &address, 1, nullptr, 0, nullptr,
                         &overlapped) &&
        GetLastError() == ERROR_IO_PENDING && overlapped.hEvent) {
        WaitForSingleObject(overlapped.hEvent, INFINITE);
    }
    if (overlapped.hEvent) CloseHandle(overlapped.hEvent);
    return true;
}

bool CCyUSBEndPoint::ResetPipe() {
    uint8_t address = Address;
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(DeviceHandle, wire::kIoctlResetPipe, &address, 1, nullptr, 0,
                              &returned, nullptr);
    if (!ok) LastError = GetLastError();
    return ok != FALSE;
}

uint32_t CCyUSBEndPoint::GetTransferSize() {
    if (DeviceHandle == INVALID_HANDLE_VALUE) return 0;
    uint8_t record[wire::transfer_size::kRecordSize];
    wire::TransferSizeRecord{Address, 0}.encode(record);
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(DeviceHandle, wire::kIoctlGetTransferSize, record, sizeof record,
                              record, sizeof record, &returned, nullptr);
    if (ok && returned == sizeof record) return wire::TransferSizeRecord::decode(record).size;
    LastError = GetLastError();
    return 0;
}

void CCyUSBEndPoint::SetTransferSize(uint32_t size) {
    if (DeviceHandle == INVALID_HANDLE_VALUE || MaxPacketSize == 0) return;
    uint64_t rounded =
        (static_cast<uint64_t>(size) + MaxPacketSize - 1) / MaxPacketSize * MaxPacketSize;
    if (rounded > UINT32_MAX) rounded -= MaxPacketSize;  // the largest multiple that fits
    uint8_t record[wire::transfer_size::kRecordSize];
    wire::TransferSizeRecord{Address, static_cast<uint32_t>(rounded)}.encode(record);
    DWORD returned = 0;
    if (!DeviceIoControl(DeviceHandle, wire::kIoctlSetTransferSize, record, sizeof record, record,
                         sizeof record, &returned, nullptr))
        LastError = GetLastError();
}

bool CCyUSBEndPoint::WaitForCompletion(OVERLAPPED* overlapped, uint32_t timeout_ms) {
    if (LastError == ERROR_SUCCESS) return true;
    if (LastError != ERROR_IO_PENDING) return false;
    return WaitForSingleObject(overlapped->hEvent, timeout_ms) == WAIT_OBJECT_0;
}

IsoPacketRecord* CCyUSBEndPoint::NewPacketInfoArray(int32_t length, int32_t& count) {
    count = 0;
    if (MaxPacketSize == 0 || length <= 0) return nullptr;
    count =
        static_cast<int32_t>((static_cast<uint32_t>(length) + MaxPacketSize - 1) / MaxPacketSize);
    return new (std::nothrow) IsoPacketRecord[count]();
}

uint32_t ControlTimeoutSeconds(uint32_t timeout_ms) {
    if (timeout_ms == 0) return 0;
    if (timeout_ms < 1000) return 1;
    return timeout_ms / 1000;
}
