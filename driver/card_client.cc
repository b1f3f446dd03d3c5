// The kernel card client: the card reached through the vendor's USB function driver by the
// device path of the last hardware-mode OPEN. Opening reads the card's descriptors to find the
// bulk endpoints 0x02 (OUT) and 0x86 (IN) and sets their transfer size; sectors travel in FPGA
// data frames, one OUT and one IN frame per chunk.
//
// The card lock (a synchronization event) guards the path, the handle, its reference count and
// the parsed descriptors. Open, release and the path change take it; the hardware-crypto thread
// holds it for each item's exchange, and drops the card under it.
#include "base/byte_access.h"
#include "driver/orvik.h"
#include "wire/fpga_frame.h"
#include "wire/transfer_envelope.h"
#include "wire/usb_descriptors.h"
#include "wire/vendor_control_codes.h"

namespace {

namespace env = wire::envelope;
namespace frame = wire::fpga_frame;
namespace types = wire::descriptor_type;
using wire::descriptor_header::kLength;
using wire::descriptor_header::kType;

// Client results: 0 success, or one of these. A failed request of SendUsbIoctl is reported apart,
// as the frame's UsbStatus.
constexpr LONG kNoDeviceDescriptor = -2;  // unreadable, or no configuration
constexpr LONG kNoConfigDescriptor = -3;
constexpr LONG kNoInterface = -4;  // no interface descriptor after the configuration's
constexpr LONG kWrongAltSetting = -5;
constexpr LONG kNoBulkEndpoints = -6;  // 0x02 and 0x86 not both recorded
constexpr LONG kOpenFailed = -7;
constexpr LONG kNoCardHandle = -8;
constexpr LONG kWrongEchoedSector = -9;
constexpr LONG kNoFrameBuffer = -10;
constexpr LONG kReplyDataMisplaced = -11;
constexpr LONG kChunkNotProcessed = -12;  // the reply's status byte or total length says so

constexpr USHORT kDevicePathSize = wire::file_descriptor::kHeldDevicePathBytes;
constexpr ULONG kEndpointRecords = 6;
constexpr UCHAR kOutEndpoint = 0x02;
constexpr UCHAR kInEndpoint = 0x86;
constexpr ULONG kFrameTransferSize = 4160;
constexpr ULONG kEndpointTimeout = 10000;
constexpr LONGLONG kUsbTimeout = -30000000;  // 3 s, relative
// Interface data longer than this is walked as pairs of an endpoint and its SuperSpeed companion.
constexpr ULONG kPairWalkAbove = 60;
constexpr UCHAR kBulkAttributes = static_cast<UCHAR>(wire::TransferType::Bulk);

struct CardEndpoint {
    UCHAR DescriptorLength;
    UCHAR DescriptorType;
    UCHAR Address;
    UCHAR Attributes;
    USHORT MaxPacketSize;  // bytes per service interval
    UCHAR Interval;
    UCHAR Direction;  // address bit 7
    ULONG Timeout;
    BOOLEAN Valid;
};

struct CardConfiguration {
    UCHAR Length;
    UCHAR DescriptorType;
    USHORT TotalLength;
    UCHAR InterfaceCount;
    UCHAR Value;
    UCHAR StringIndex;
    UCHAR Attributes;
    UCHAR MaxPower;
};

struct CardInterface {
    UCHAR Length;
    UCHAR DescriptorType;
    UCHAR Number;
    UCHAR AlternateSetting;
    UCHAR EndpointCount;
    UCHAR Class;
    UCHAR SubClass;
    UCHAR Protocol;
    UCHAR StringIndex;
};

// The argument of the two frame functions.
struct CardFrameRequest {
    UCHAR Endpoint;
    UCHAR Op;  // 'A', 'B', or 0 for the IN frame
    const UCHAR* Header;
    ULONG HeaderLength;
    PUCHAR Data;
    ULONG DataLength;
    ULONGLONG Sector;
    ULONGLONG TweakHigh;
};

KEVENT g_CardLock;
UNICODE_STRING g_CardDevicePath;  // "\GLOBAL??\" and the interface path, 240-byte buffer
HANDLE g_CardHandle;
ULONG g_CardReferences;  // attached hardware-mode images using the handle
ULONG g_CardSession;     // numbers the handles opened, so that a reference names its handle
CardConfiguration g_Configuration;
CardInterface g_Interface;
UCHAR g_InterfaceCount;
CardEndpoint g_Endpoints[kEndpointRecords];
CardEndpoint* g_OutEndpoint;
CardEndpoint* g_InEndpoint;
// The frame header: op, length, the driver-wide key pair (where the pair is held), the tweak.
UCHAR g_HeaderTemplate[frame::kHeaderSize];

// APC routine of every request to the function driver, run on the issuing thread: signals the
// event that is its context.
VOID NTAPI IoctlCompletionApc(PVOID context, PIO_STATUS_BLOCK, ULONG) {
    KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
}

// The endpoint whose pipe a request uses.
UCHAR RequestEndpoint(ULONG code, const UCHAR* buffer) {
    switch (code) {
        case wire::kIoctlBufferedTransfer:
            return buffer[env::kEndpoint];
        case wire::kIoctlSetTransferSize:
            return wire::TransferSizeRecord::decode(buffer).endpoint;
        default:  // the control pipe
            return 0;
    }
}

// A request that outlived its time-out is still in the function driver, which may yet write its
// buffer, status block and event: abort its pipe, as often as it takes, until it has ended.
VOID AbortUsbIoctl(ULONG code, const UCHAR* buffer, PKEVENT done) {
    const UCHAR endpoint = RequestEndpoint(code, buffer);
    LARGE_INTEGER timeout;
    timeout.QuadPart = kUsbTimeout;
    do {
        UCHAR address = endpoint;
        KEVENT aborted;
        IO_STATUS_BLOCK ioStatus;
        KeInitializeEvent(&aborted, NotificationEvent, FALSE);
        NTSTATUS status =
            ZwDeviceIoControlFile(g_CardHandle, nullptr, IoctlCompletionApc, &aborted, &ioStatus,
                                  wire::kIoctlAbortPipe, &address, sizeof address, nullptr, 0);
        if (!NT_ERROR(status))
            KeWaitForSingleObject(&aborted, Executive, KernelMode, FALSE, nullptr);
    } while (KeWaitForSingleObject(done, Executive, KernelMode, FALSE, &timeout) == STATUS_TIMEOUT);
}

// One request to the card's function driver, waited for at most 3 seconds while pending.
// Success: the request ended with status 0 and moved the whole buffer. A request still pending
// after 3 seconds gives STATUS_IO_OPERATION_TIMEOUT once it has been aborted; nothing of it is
// outstanding when this returns.
NTSTATUS SendUsbIoctl(ULONG code, PVOID buffer, ULONG length) {
    if (!g_CardHandle) return STATUS_DEVICE_NOT_CONNECTED;
    KEVENT done;
    IO_STATUS_BLOCK ioStatus = {};
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    NTSTATUS status = ZwDeviceIoControlFile(g_CardHandle, nullptr, IoctlCompletionApc, &done,
                                            &ioStatus, code, buffer, length, buffer, length);
    // An error returned at once comes without completion; anything else ends with the APC.
    if (NT_ERROR(status)) return status;
    LARGE_INTEGER timeout;
    timeout.QuadPart = kUsbTimeout;
    // A request that completed at once has its APC queued already.
    if (KeWaitForSingleObject(&done, Executive, KernelMode, FALSE,
                              status == STATUS_PENDING ? &timeout : nullptr) == STATUS_TIMEOUT) {
        AbortUsbIoctl(code, static_cast<const UCHAR*>(buffer), &done);
        return STATUS_IO_OPERATION_TIMEOUT;
    }
    if (ioStatus.Status == STATUS_SUCCESS && ioStatus.Information == length) return STATUS_SUCCESS;
    return STATUS_IO_DEVICE_ERROR;
}

// GET_DESCRIPTOR of type (index 0), length bytes, on endpoint 0: a pool block with the envelope
// and the descriptor behind it, or null.
PUCHAR ReadDescriptor(UCHAR type, USHORT length) {
    const ULONG size = env::kSize + length;
    auto* block = static_cast<PUCHAR>(AllocNonPaged(size));
    if (!block) return nullptr;
    RtlZeroMemory(block, size);
    wire::GetDescriptorEnvelope(type, 0, 0, length).encode(block);
    if (!NT_SUCCESS(SendUsbIoctl(wire::kIoctlControlTransfer, block, size))) {
        FreeNonPaged(block);
        return nullptr;
    }
    return block;
}

// bNumConfigurations of the device descriptor; 0 when it cannot be read.
UCHAR GetDeviceDescriptor() {
    PUCHAR block = ReadDescriptor(types::kDevice, wire::device_descriptor::kSize);
    if (!block) return 0;
    const UCHAR configurations = block[env::kSize + wire::device_descriptor::kConfigurations];
    FreeNonPaged(block);
    return configurations;
}

// The whole configuration data (wTotalLength bytes, into *length) behind its envelope, or null.
PUCHAR GetConfigDescriptor(PUSHORT length) {
    namespace field = wire::configuration_descriptor;
    PUCHAR head = ReadDescriptor(types::kConfiguration, field::kSize);
    if (!head) return nullptr;
    *length = bytes::load_le16(head + env::kSize + field::kTotalLength);
    FreeNonPaged(head);
    if (*length < field::kSize) return nullptr;
    return ReadDescriptor(types::kConfiguration, *length);
}

VOID ClearCardLayout() {
    RtlZeroMemory(&g_Configuration, sizeof g_Configuration);
    RtlZeroMemory(&g_Interface, sizeof g_Interface);
    g_InterfaceCount = 0;
    RtlZeroMemory(g_Endpoints, sizeof g_Endpoints);
    g_OutEndpoint = nullptr;
    g_InEndpoint = nullptr;
}

// Whether the descriptor at offset (a bLength of at least 2) lies wholly within length bytes.
BOOLEAN DescriptorFits(const UCHAR* data, ULONG offset, ULONG length) {
    return offset + 2 <= length && data[offset] >= 2 && offset + data[offset] <= length;
}

VOID FillEndpointRecord(CardEndpoint* record, const UCHAR* endpoint, const UCHAR* companion) {
    namespace ep = wire::endpoint_descriptor;
    namespace comp = wire::companion_descriptor;
    const USHORT packet = bytes::load_le16(endpoint + ep::kMaxPacketSize);
    auto size = static_cast<USHORT>(wire::PacketBytes(packet) * wire::PacketsPerMicroframe(packet));
    record->DescriptorLength = endpoint[kLength];
    record->DescriptorType = endpoint[kType];
    record->Address = endpoint[ep::kAddress];
    record->Attributes = endpoint[ep::kAttributes];
    if (companion) {
        size = static_cast<USHORT>(size * (companion[comp::kMaxBurst] + 1));
        if (wire::TransferTypeOf(record->Attributes) == wire::TransferType::Isochronous)
            size =
                static_cast<USHORT>(size * wire::IsochronousBursts(companion[comp::kAttributes]));
    }
    record->MaxPacketSize = size;
    record->Interval = endpoint[ep::kInterval];
    record->Direction = wire::IsInAddress(record->Address);
    record->Timeout = kEndpointTimeout;
    record->Valid = TRUE;
}

BOOLEAN IsBulkEndpoint(const UCHAR* data, ULONG offset) {
    return data[offset + kType] == types::kEndpoint &&
           data[offset + kLength] >= wire::endpoint_descriptor::kSize &&
           data[offset + wire::endpoint_descriptor::kAttributes] == kBulkAttributes;
}

// The interface descriptor at the start of data (length bytes to the end of the configuration
// data) and the bulk endpoints after it, at most min(bNumEndpoints, 6). Longer data is walked in
// pairs (an endpoint and its SuperSpeed companion), shorter data one descriptor at a time, up to
// and including the last descriptor that ends at the end.
VOID ParseInterfaceDescriptors(const UCHAR* data, ULONG length) {
    namespace field = wire::interface_descriptor;
    g_Interface = {data[kLength],           data[kType],
                   data[field::kNumber],    data[field::kAlternateSetting],
                   data[field::kEndpoints], data[field::kClass],
                   data[field::kSubClass],  data[field::kProtocol],
                   data[field::kString]};
    const ULONG limit =
        g_Interface.EndpointCount < kEndpointRecords ? g_Interface.EndpointCount : kEndpointRecords;
    ULONG records = 0;
    ULONG offset = data[kLength];
    if (length > kPairWalkAbove) {
        while (records < limit && DescriptorFits(data, offset, length)) {
            const ULONG second = offset + data[offset];
            if (!DescriptorFits(data, second, length)) break;
            if (IsBulkEndpoint(data, offset) && data[second + kType] == types::kEndpointCompanion &&
                data[second + kLength] >= wire::companion_descriptor::kSize)
                FillEndpointRecord(&g_Endpoints[records++], data + offset, data + second);
            offset = second + data[second];
        }
    } else {
        while (records < limit && DescriptorFits(data, offset, length)) {
            if (IsBulkEndpoint(data, offset))
                FillEndpointRecord(&g_Endpoints[records++], data + offset, nullptr);
            offset += data[offset];
        }
    }
}

// The configuration descriptor (length bytes, at least 9) and, when an interface descriptor
// follows it, that interface's bulk endpoints.
VOID ParseConfigDescriptor(const UCHAR* data, ULONG length) {
    namespace field = wire::configuration_descriptor;
    ClearCardLayout();
    g_Configuration = {data[kLength],
                       data[kType],
                       bytes::load_le16(data + field::kTotalLength),
                       data[field::kInterfaces],
                       data[field::kValue],
                       data[field::kString],
                       data[field::kAttributes],
                       data[field::kMaxPower]};
    const ULONG next = data[kLength];
    if (next + wire::interface_descriptor::kSize > length ||
        data[next + kType] != types::kInterface)
        return;
    ParseInterfaceDescriptors(data + next, length - next);
    g_InterfaceCount = 1;
}

// Sets the endpoint's transfer size to size rounded up to whole packets; the result is not
// looked at.
VOID SetEndpointTransferSize(const CardEndpoint* record, ULONG size) {
    if (!g_CardHandle || record->MaxPacketSize == 0) return;
    const ULONG packet = record->MaxPacketSize;
    UCHAR request[wire::transfer_size::kRecordSize];
    wire::TransferSizeRecord{record->Address, (size + packet - 1) / packet * packet}.encode(
        request);
    SendUsbIoctl(wire::kIoctlSetTransferSize, request, sizeof request);
}

VOID CloseCard() {
    ZwClose(g_CardHandle);
    g_CardHandle = nullptr;
    g_CardReferences = 0;
    ClearCardLayout();
}

// Reads the freshly opened card's descriptors, finds its bulk endpoints and sets their transfer
// size. Card lock held.
LONG ReadCardLayout() {
    if (GetDeviceDescriptor() == 0) return kNoDeviceDescriptor;
    USHORT length = 0;
    PUCHAR block = GetConfigDescriptor(&length);
    if (!block) return kNoConfigDescriptor;
    ParseConfigDescriptor(block + env::kSize, length);
    FreeNonPaged(block);
    if (g_InterfaceCount == 0) return kNoInterface;

    UCHAR alternate = 0;
    if (!NT_SUCCESS(SendUsbIoctl(wire::kIoctlGetAltSetting, &alternate, sizeof alternate)) ||
        alternate != g_Interface.AlternateSetting)
        return kWrongAltSetting;

    for (CardEndpoint& record : g_Endpoints) {
        if (!record.Valid || record.Attributes != kBulkAttributes) continue;
        if (record.Address == kOutEndpoint && !g_OutEndpoint) g_OutEndpoint = &record;
        if (record.Address == kInEndpoint && !g_InEndpoint) g_InEndpoint = &record;
    }
    if (!g_OutEndpoint || !g_InEndpoint) return kNoBulkEndpoints;
    SetEndpointTransferSize(g_OutEndpoint, kFrameTransferSize);
    SetEndpointTransferSize(g_InEndpoint, kFrameTransferSize);
    return 0;
}

// Opens the card at the device path (asynchronous handle) and reads its layout. Card lock held.
LONG OpenCard() {
    g_CardReferences = 0;
    if (!g_CardDevicePath.Buffer) return kOpenFailed;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &g_CardDevicePath, OBJ_CASE_INSENSITIVE, nullptr,
                               nullptr);
    IO_STATUS_BLOCK ioStatus;
    HANDLE handle;
    NTSTATUS status = ZwCreateFile(&handle, GENERIC_READ | GENERIC_WRITE, &attributes, &ioStatus,
                                   nullptr, FILE_ATTRIBUTE_NORMAL,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN_IF, 0, nullptr, 0);
    if (status != STATUS_SUCCESS) {
        if (NT_SUCCESS(status)) ZwClose(handle);
        return kOpenFailed;
    }
    g_CardHandle = handle;
    g_CardReferences = 1;
    if (++g_CardSession == 0) g_CardSession = 1;
    LONG result = ReadCardLayout();
    if (result != 0) CloseCard();
    return result;
}

VOID FreeCardDevicePathLocked() {
    if (g_CardDevicePath.Buffer) FreeNonPaged(g_CardDevicePath.Buffer);
    RtlZeroMemory(&g_CardDevicePath, sizeof g_CardDevicePath);
}

// A pool buffer for one frame of request: the envelope naming the endpoint and the frame behind
// it, then the header from the template with the request's op and tweak. Null without pool.
PUCHAR NewFrameBuffer(const CardFrameRequest& request, ULONG total) {
    auto* buffer = static_cast<PUCHAR>(AllocNonPaged(total));
    if (!buffer) return nullptr;
    wire::TransferEnvelope envelope;
    envelope.endpoint = request.Endpoint;
    envelope.data_offset = env::kSize;
    envelope.data_length = total - env::kSize;
    envelope.encode(buffer);
    PUCHAR header = buffer + env::kSize;
    RtlCopyMemory(header, request.Header, request.HeaderLength);
    frame::driver::WriteTweak(header, request.Op, request.Sector, request.TweakHigh);
    return buffer;
}

// The outcome of a frame whose request to the function driver ended with status.
CardFrameResult UsbOutcome(NTSTATUS status) {
    return {0, NT_SUCCESS(status) ? STATUS_SUCCESS : status};
}

// A frame that the client itself ended with result.
CardFrameResult ClientOutcome(LONG result) {
    return {result, STATUS_SUCCESS};
}

// One frame to the OUT endpoint: this frame's length and the sector again in the header, then
// the data.
CardFrameResult BulkWriteFrame(const CardFrameRequest& request) {
    if (!g_CardHandle) return ClientOutcome(kNoCardHandle);
    const ULONG total = env::kSize + request.HeaderLength + request.DataLength;
    PUCHAR buffer = NewFrameBuffer(request, total);
    if (!buffer) return ClientOutcome(kNoFrameBuffer);
    PUCHAR header = buffer + env::kSize;
    frame::driver::WriteOutFields(header, request.DataLength, request.Sector);
    RtlCopyMemory(header + request.HeaderLength, request.Data, request.DataLength);
    NTSTATUS status = SendUsbIoctl(wire::kIoctlBufferedTransfer, buffer, total);
    FreeNonPaged(buffer);
    return UsbOutcome(status);
}

// The checks of a reply (its envelope in front) and the copy of its data.
LONG TakeReplyData(const CardFrameRequest& request, const UCHAR* buffer) {
    const auto reply = frame::reply::Reply::decode(buffer + env::kSize);
    const ULONG dataOffset = wire::TransferEnvelope::decode(buffer).data_offset;
    if (reply.echoed_sector != request.Sector) return kWrongEchoedSector;
    if (dataOffset > env::kSize) return kReplyDataMisplaced;
    if (reply.status != 0 || reply.total_length != request.HeaderLength + request.DataLength)
        return kChunkNotProcessed;
    RtlCopyMemory(request.Data, buffer + dataOffset + request.HeaderLength, request.DataLength);
    return 0;
}

// One frame from the IN endpoint; its data goes to the request's data pointer when the reply
// echoes the sector and reports the whole chunk processed. The buffer's data part is not cleared:
// only a reply that filled the whole buffer is used.
CardFrameResult BulkReadFrame(const CardFrameRequest& request) {
    if (!g_CardHandle) return ClientOutcome(kNoCardHandle);
    const ULONG total = env::kSize + request.HeaderLength + request.DataLength;
    PUCHAR buffer = NewFrameBuffer(request, total);
    if (!buffer) return ClientOutcome(kNoFrameBuffer);
    const NTSTATUS status = SendUsbIoctl(wire::kIoctlBufferedTransfer, buffer, total);
    const CardFrameResult result =
        NT_SUCCESS(status) ? ClientOutcome(TakeReplyData(request, buffer)) : UsbOutcome(status);
    FreeNonPaged(buffer);
    return result;
}

}  // namespace

VOID AcquireCardLock() {
    KeWaitForSingleObject(&g_CardLock, Executive, KernelMode, FALSE, nullptr);
}

VOID ReleaseCardLock() {
    KeSetEvent(&g_CardLock, IO_NO_INCREMENT, FALSE);
}

VOID InitCardClient() {
    KeInitializeEvent(&g_CardLock, SynchronizationEvent, TRUE);
    RtlZeroMemory(&g_CardDevicePath, sizeof g_CardDevicePath);
    g_CardHandle = nullptr;
    g_CardReferences = 0;
    g_CardSession = 0;
    ClearCardLayout();
    RtlZeroMemory(g_HeaderTemplate, sizeof g_HeaderTemplate);
    frame::driver::WriteTemplate(g_HeaderTemplate);
}

// Takes the NUL-terminated path (never more than size bytes of it) as the card's device path for
// the next open; an open card keeps its handle. FALSE, with no path left, when the pool or the
// 240-byte UTF-16 buffer (119 characters and the terminator) does not suffice.
BOOLEAN SetCryptoDevicePath(const UCHAR* path, ULONG size) {
    ANSI_STRING text;
    USHORT length = 0;
    while (length < size && path[length] != 0) ++length;
    text.Buffer = reinterpret_cast<PCHAR>(const_cast<PUCHAR>(path));
    text.Length = length;
    text.MaximumLength = length;

    AcquireCardLock();
    FreeCardDevicePathLocked();
    g_CardDevicePath.Buffer = static_cast<PWCH>(AllocNonPaged(kDevicePathSize));
    g_CardDevicePath.MaximumLength = kDevicePathSize;
    BOOLEAN set = g_CardDevicePath.Buffer &&
                  NT_SUCCESS(RtlAnsiStringToUnicodeString(&g_CardDevicePath, &text, FALSE));
    if (!set) FreeCardDevicePathLocked();
    ReleaseCardLock();
    return set;
}

VOID FreeCryptoDevicePath() {
    AcquireCardLock();
    FreeCardDevicePathLocked();
    ReleaseCardLock();
}

VOID SetGlobalKeyPair(BOOLEAN zero, const UCHAR* key1, const UCHAR* key2) {
    PUCHAR pair = g_HeaderTemplate + frame::driver::kKeyPair;
    if (zero) {
        RtlZeroMemory(pair, 2 * frame::driver::kKeySize);
    } else {
        RtlCopyMemory(pair, key1, frame::driver::kKeySize);
        RtlCopyMemory(pair + frame::driver::kKeySize, key2, frame::driver::kKeySize);
    }
}

const UCHAR* GlobalKeyPair() {
    return g_HeaderTemplate + frame::driver::kKeyPair;
}

// Adds a reference to the open card, or opens it. On success *session names the handle the
// reference is on.
LONG OpenCryptoDevice(PULONG session) {
    AcquireCardLock();
    LONG result = 0;
    if (g_CardHandle)
        ++g_CardReferences;
    else
        result = OpenCard();
    if (result == 0) *session = g_CardSession;
    ReleaseCardLock();
    return result;
}

// Drops a reference taken on the handle that session names (none when that handle is gone); the
// last one closes the card.
VOID ReleaseCryptoDevice(ULONG session) {
    AcquireCardLock();
    if (g_CardHandle && session == g_CardSession) {
        if (g_CardReferences < 2)
            CloseCard();
        else
            --g_CardReferences;
    }
    ReleaseCardLock();
}

// Closes the card whatever its references, after a failed exchange. The caller holds the card
// lock.
VOID DropCryptoDevice() {
    if (g_CardHandle) CloseCard();
}

BOOLEAN IsCryptoDeviceOpen() {
    return g_CardHandle != nullptr;
}

// The frame functions run in the hardware-crypto thread with the card lock held.
CardFrameResult SendCryptoChunk(UCHAR op, const UCHAR* source, ULONG length, ULONGLONG sector) {
    const CardFrameRequest request = {
        kOutEndpoint, op, g_HeaderTemplate, frame::kHeaderSize, const_cast<PUCHAR>(source), length,
        sector,       0};
    return BulkWriteFrame(request);
}

CardFrameResult ReceiveCryptoChunk(PUCHAR destination, ULONG length, ULONGLONG sector) {
    const CardFrameRequest request = {kInEndpoint, 0,      g_HeaderTemplate, frame::kHeaderSize,
                                      destination, length, sector,           0};
    return BulkReadFrame(request);
}
