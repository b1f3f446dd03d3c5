// Endpoint objects: one endpoint of a device opened through the USB bridge vendor's function
// driver. Each transfer is one overlapped DeviceIoControl with a transfer envelope, a wait with
// the endpoint's time-out, and an abort of the endpoint when the time-out passes.
#pragma once

#include <cstdint>

#include "platform/win32.h"

// One isochronous packet record as the driver fills it.
struct IsoPacketRecord {
    uint32_t Length;
    uint32_t Status;
};
constexpr uint32_t kIsoPacketRecordSize = 8;

class CCyUSBEndPoint {
  public:
    CCyUSBEndPoint();
    // descriptor: an endpoint descriptor (wire::endpoint_descriptor::kSize bytes), or null to
    // leave the descriptor fields to the owner.
    CCyUSBEndPoint(HANDLE handle, const uint8_t* descriptor);
    // companion: a SuperSpeed endpoint companion (wire::companion_descriptor::kSize bytes), or
    // null.
    CCyUSBEndPoint(HANDLE handle, const uint8_t* descriptor, const uint8_t* companion);
    // Copies the handle, descriptor and companion fields, MaxPacketSize, TimeoutMs, IsIn and
    // TransferMode; LastError becomes 0; the multiplier and status fields are not copied.
    CCyUSBEndPoint(const CCyUSBEndPoint& other);
    CCyUSBEndPoint& operator=(const CCyUSBEndPoint&) = delete;

    // Virtual slots 0 to 3. Each begin step allocates the envelope block (none without a handle)
    // and starts the driver call; the finish step frees it.
    virtual uint8_t* BeginDirectTransfer(uint8_t* buffer, uint32_t length, OVERLAPPED* overlapped);
    virtual uint8_t* BeginBufferedTransfer(uint8_t* buffer, uint32_t length,
                                           OVERLAPPED* overlapped);
    virtual uint8_t* BeginDataTransfer(uint8_t* buffer, uint32_t length,
                                       OVERLAPPED* overlapped) = 0;
    virtual bool FinishDataTransfer(uint8_t* buffer, int32_t& length, OVERLAPPED* overlapped,
                                    uint8_t* envelope, IsoPacketRecord* packets);
    // Declared after the four slots so that their order stays; owners delete endpoints through
    // this class.
    virtual ~CCyUSBEndPoint() = default;
    // One complete transfer of length bytes; on return length holds the bytes transferred.
    bool TransferData(uint8_t* buffer, int32_t& length, IsoPacketRecord* packets = nullptr);
    bool WaitForTransfer(OVERLAPPED* overlapped);
    bool AbortPipe();

    // Requests that nothing in the system calls.
    bool ResetPipe();
    uint32_t GetTransferSize();
    void SetTransferSize(uint32_t size);
    bool WaitForCompletion(OVERLAPPED* overlapped, uint32_t timeout_ms);
    // A new array of ceil(length / MaxPacketSize) records (delete[] it), or null.
    IsoPacketRecord* NewPacketInfoArray(int32_t length, int32_t& count);

    HANDLE DeviceHandle = INVALID_HANDLE_VALUE;
    uint8_t DescriptorLength = 0;
    uint8_t DescriptorType = 0;
    uint8_t Address = 0;
    uint8_t Attributes = 0;
    uint16_t MaxPacketSize = 0;
    uint16_t PacketMultiplier = 0;
    uint8_t Interval = 0;
    uint8_t CompanionLength = 0;
    uint8_t CompanionType = 0;
    uint8_t MaxBurst = 0;
    uint8_t CompanionAttributes = 0;
    uint16_t BytesPerInterval = 0;
    uint32_t TimeoutMs = 10000;
    uint32_t LastUsbdStatus = 0;
    uint32_t LastNtStatus = 0;
    uint32_t BytesTransferred = 0;
    uint32_t LastError = 0;
    bool IsIn = false;
    uint32_t TransferMode = 1;  // 0 buffered, 1 direct

  protected:
    // The data transfer of bulk, interrupt and isochronous endpoints: TransferMode 1 picks the
    // direct form, anything else the buffered one; nothing without a handle.
    uint8_t* BeginTransferInMode(uint8_t* buffer, uint32_t length, OVERLAPPED* overlapped);
    enum class TransferForm { Direct, Buffered };
    // Allocates the block (the envelope, then record_bytes of isochronous packet records, then in
    // the buffered form the length bytes at buffer) and starts the driver call on it; null
    // without a handle or when the block would not fit 32 bits or memory.
    uint8_t* BeginTransfer(TransferForm form, uint8_t* buffer, uint32_t length,
                           OVERLAPPED* overlapped, uint64_t record_bytes = 0);
    // Takes the thread's last error and, unless the transfer is pending, the envelope's status
    // words.
    void NoteDriverCall(const uint8_t* envelope);
};

class CCyControlEndPoint : public CCyUSBEndPoint {
  public:
    CCyControlEndPoint();
    CCyControlEndPoint(HANDLE handle, const uint8_t* descriptor);
    CCyControlEndPoint(const CCyControlEndPoint& other);

    uint8_t* BeginDataTransfer(uint8_t* buffer, uint32_t length, OVERLAPPED* overlapped) override;

    bool ControlRead(uint8_t* buffer, int32_t& length);
    bool ControlWrite(uint8_t* buffer, int32_t& length);

    uint32_t Target = 0;       // recipient: 0 device
    uint32_t RequestType = 2;  // 0 standard, 1 class, 2 vendor
    uint32_t Direction = 0;    // 1 device to host
    uint8_t RequestCode = 0;
    uint16_t Value = 0;
    uint16_t Index = 0;
};

class CCyIsocEndPoint : public CCyUSBEndPoint {
  public:
    using CCyUSBEndPoint::CCyUSBEndPoint;

    uint8_t* BeginDirectTransfer(uint8_t* buffer, uint32_t length, OVERLAPPED* overlapped) override;
    uint8_t* BeginBufferedTransfer(uint8_t* buffer, uint32_t length,
                                   OVERLAPPED* overlapped) override;
    uint8_t* BeginDataTransfer(uint8_t* buffer, uint32_t length, OVERLAPPED* overlapped) override;
};

class CCyBulkEndPoint : public CCyUSBEndPoint {
  public:
    using CCyUSBEndPoint::CCyUSBEndPoint;

    uint8_t* BeginDataTransfer(uint8_t* buffer, uint32_t length, OVERLAPPED* overlapped) override;
};

class CCyInterruptEndPoint : public CCyUSBEndPoint {
  public:
    using CCyUSBEndPoint::CCyUSBEndPoint;

    uint8_t* BeginDataTransfer(uint8_t* buffer, uint32_t length, OVERLAPPED* overlapped) override;
};

// The control time-out in whole seconds that a control envelope carries: 0 for 0 ms, 1 for 1 to
// 999 ms, else rounded down.
uint32_t ControlTimeoutSeconds(uint32_t timeout_ms);

// A new endpoint object of the class that the transfer type of source's attributes picks, copied
// from source; for the copying constructors of interface objects.
CCyUSBEndPoint* CopyEndPoint(const CCyUSBEndPoint& source);
