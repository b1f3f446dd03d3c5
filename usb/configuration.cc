// The descriptor walks. A descriptor is taken only when its bLength is at least 2 and it lies
// wholly inside the set; anything else ends the walk, so a bLength of 0 cannot stall it.
#include "usb/configuration.h"

#include "usb/bytes.h"
#include "wire/usb_descriptors.h"

namespace {

namespace types = wire::descriptor_type;
using wire::descriptor_header::kLength;
using wire::descriptor_header::kType;

// The bLength of the descriptor at offset at when it fits inside the first end bytes, else 0.
size_t DescriptorAt(const usb::ByteView& set, size_t end, size_t at) {
    if (at + wire::descriptor_header::kSize > end) return 0;
    size_t length = set.u8(at + kLength);
    if (length < wire::descriptor_header::kSize || at + length > end) return 0;
    return length;
}

CCyUSBEndPoint* NewEndPoint(HANDLE handle, const uint8_t* descriptor, const uint8_t* companion) {
    switch (wire::TransferTypeOf(descriptor[wire::endpoint_descriptor::kAttributes])) {
        case wire::TransferType::Control:
            return new CCyControlEndPoint(handle, descriptor);
        case wire::TransferType::Isochronous:
            return new CCyIsocEndPoint(handle, descriptor, companion);
        case wire::TransferType::Bulk:
            return new CCyBulkEndPoint(handle, descriptor, companion);
        case wire::TransferType::Interrupt:
            break;
    }
    return new CCyInterruptEndPoint(handle, descriptor, companion);
}

}  // namespace

CCyInterface::CCyInterface(HANDLE handle, const uint8_t* set, size_t set_size, size_t at,
                           WalkKind kind) {
    namespace field = wire::interface_descriptor;
    usb::ByteView view{set, set_size};
    IfLength = view.u8(at + kLength);
    IfType = view.u8(at + kType);
    IfNumber = view.u8(at + field::kNumber);
    IfAltSetting = view.u8(at + field::kAlternateSetting);
    IfEndPointCount = view.u8(at + field::kEndpoints);
    IfClass = view.u8(at + field::kClass);
    IfSubClass = view.u8(at + field::kSubClass);
    IfProtocol = view.u8(at + field::kProtocol);
    IfStringIndex = view.u8(at + field::kString);
    IfTotalLength = IfLength;

    size_t position = at + IfLength;
    int wanted = IfEndPointCount < kEndPointSlots - 1 ? IfEndPointCount : kEndPointSlots - 1;
    int taken = 0;
    int skipped = 0;
    while (taken < wanted) {
        size_t length = DescriptorAt(view, set_size, position);
        if (length == 0) break;
        if (view.u8(position + kType) != types::kEndpoint ||
            length < wire::endpoint_descriptor::kSize) {
            if (++skipped > kMaxSkippedDescriptors) break;  // left for the configuration walk
            IfTotalLength = static_cast<uint16_t>(IfTotalLength + length);
            position += length;
            continue;
        }
        IfTotalLength = static_cast<uint16_t>(IfTotalLength + length);
        const uint8_t* descriptor = set + position;
        position += length;
        const uint8_t* companion = nullptr;
        if (kind == WalkKind::CompanionAware) {
            size_t next = DescriptorAt(view, set_size, position);
            if (next >= wire::companion_descriptor::kSize &&
                view.u8(position + kType) == types::kEndpointCompanion) {
                companion = set + position;
                IfTotalLength = static_cast<uint16_t>(IfTotalLength + next);
                position += next;
            }
        }
        // A control endpoint takes no companion.
        if (wire::TransferTypeOf(descriptor[wire::endpoint_descriptor::kAttributes]) ==
            wire::TransferType::Control)
            companion = nullptr;
        EndPointSlots[++taken] = NewEndPoint(handle, descriptor, companion);
    }
}

CCyInterface::CCyInterface(const CCyInterface& other)
    : IfLength(other.IfLength),
      IfType(other.IfType),
      IfNumber(other.IfNumber),
      IfAltSetting(other.IfAltSetting),
      IfEndPointCount(other.IfEndPointCount),
      IfClass(other.IfClass),
      IfSubClass(other.IfSubClass),
      IfProtocol(other.IfProtocol),
      IfStringIndex(other.IfStringIndex),
      IfAltSettingCount(other.IfAltSettingCount),
      IfTotalLength(other.IfTotalLength) {
    for (int i = 1; i < kEndPointSlots; ++i)
        if (other.EndPointSlots[i]) EndPointSlots[i] = CopyEndPoint(*other.EndPointSlots[i]);
}

CCyInterface::~CCyInterface() {
    for (int i = 1; i < kEndPointSlots; ++i) {
        delete EndPointSlots[i];
        EndPointSlots[i] = nullptr;
    }
}

CCyConfiguration::CCyConfiguration() = default;

CCyConfiguration::CCyConfiguration(HANDLE handle, const uint8_t* set, size_t set_size,
                                   WalkKind kind) {
    namespace field = wire::configuration_descriptor;
    usb::ByteView view{set, set_size};
    CfgLength = view.u8(kLength);
    CfgType = view.u8(kType);
    CfgTotalLength = view.u16(field::kTotalLength);
    CfgInterfaceCount = view.u8(field::kInterfaces);
    CfgValue = view.u8(field::kValue);
    CfgStringIndex = view.u8(field::kString);
    CfgAttributes = view.u8(field::kAttributes);
    CfgMaxPower = view.u8(field::kMaxPower);

    size_t end = CfgTotalLength < set_size ? CfgTotalLength : set_size;
    size_t offset = CfgLength;
    while (offset < end && CfgInterfaceObjectCount < kMaxInterfaceObjects) {
        size_t length = DescriptorAt(view, end, offset);
        if (length == 0) break;
        if (view.u8(offset + kType) == types::kInterface &&
            length >= wire::interface_descriptor::kSize) {
            auto* object = new CCyInterface(handle, set, end, offset, kind);
            InterfaceObjects[CfgInterfaceObjectCount++] = object;
            offset += object->IfTotalLength;
        } else {
            offset += length;
        }
    }
    for (int i = 0; i < CfgInterfaceObjectCount; ++i) {
        uint8_t count = 0;
        for (int j = 0; j < CfgInterfaceObjectCount; ++j)
            if (InterfaceObjects[j]->IfNumber == InterfaceObjects[i]->IfNumber) ++count;
        InterfaceObjects[i]->IfAltSettingCount = count;
    }
}

CCyConfiguration::CCyConfiguration(const CCyConfiguration& other) {
    CopyFrom(other);
}

CCyConfiguration& CCyConfiguration::operator=(const CCyConfiguration& other) {
    if (this != &other) {
        Release();
        CopyFrom(other);
    }
    return *this;
}

CCyConfiguration::~CCyConfiguration() {
    Release();
}

void CCyConfiguration::Release() {
    for (auto*& object : InterfaceObjects) {
        delete object;
        object = nullptr;
    }
}

void CCyConfiguration::CopyFrom(const CCyConfiguration& other) {
    CfgLength = other.CfgLength;
    CfgType = other.CfgType;
    CfgTotalLength = other.CfgTotalLength;
    CfgInterfaceCount = other.CfgInterfaceCount;
    CfgValue = other.CfgValue;
    CfgStringIndex = other.CfgStringIndex;
    CfgAttributes = other.CfgAttributes;
    CfgMaxPower = other.CfgMaxPower;
    CfgInterfaceObjectCount = other.CfgInterfaceObjectCount;
    for (int i = 0; i < kMaxInterfaceObjects; ++i)
        InterfaceObjects[i] =
            other.InterfaceObjects[i] ? new CCyInterface(*other.InterfaceObjects[i]) : nullptr;
}

CCyBos::CCyBos() = default;

CCyBos::CCyBos(HANDLE handle, const uint8_t* set, size_t set_size) {
    (void)handle;
    namespace cap = wire::capability;
    usb::ByteView view{set, set_size};
    BosLength = view.u8(kLength);
    BosType = view.u8(kType);
    BosTotalLength = view.u16(wire::bos_descriptor::kTotalLength);
    BosCapCount = view.u8(wire::bos_descriptor::kCapabilities);

    long remaining = static_cast<long>(BosTotalLength) - BosLength;
    if (remaining < 0) return;
    size_t end = BosTotalLength < set_size ? BosTotalLength : set_size;
    size_t position = BosLength;
    for (int k = 0; k < BosCapCount; ++k) {
        size_t length = DescriptorAt(view, end, position);
        if (length < cap::kHeaderSize) break;
        usb::ByteView c{set + position, length};
        switch (c.u8(cap::kCapabilityType)) {
            case cap::kUsb20Extension:
                if (length >= cap::kUsb20ExtensionSize) {
                    if (!Usb20ExtensionCap) Usb20ExtensionCap = new Usb20ExtensionRecord;
                    *Usb20ExtensionCap = {c.u8(kLength), c.u8(kType), c.u8(cap::kCapabilityType),
                                          c.u32(cap::kUsb20Attributes)};
                }
                break;
            case cap::kSuperSpeed:
                if (length >= cap::kSuperSpeedSize) {
                    if (!SuperSpeedCap) SuperSpeedCap = new SuperSpeedRecord;
                    *SuperSpeedCap = {c.u8(kLength),
                                      c.u8(kType),
                                      c.u8(cap::kCapabilityType),
                                      c.u8(cap::kSuperSpeedAttributes),
                                      c.u16(cap::kSpeedsSupported),
                                      c.u8(cap::kFunctionalitySupport),
                                      c.u8(cap::kU1ExitLatency),
                                      c.u16(cap::kU2ExitLatency)};
                }
                break;
            case cap::kContainerId:
                if (length >= cap::kContainerIdSize) {
                    if (!ContainerIdCap) ContainerIdCap = new ContainerIdRecord;
                    ContainerIdCap->bLength = c.u8(kLength);
                    ContainerIdCap->bDescriptorType = c.u8(kType);
                    ContainerIdCap->bDevCapabilityType = c.u8(cap::kCapabilityType);
                    for (size_t i = 0; i < cap::kContainerIdValueSize; ++i)
                        ContainerIdCap->ContainerID[i] = c.u8(cap::kContainerIdValue + i);
                }
                break;
            default:
                break;
        }
        remaining -= static_cast<long>(length);
        position += length;
        if (remaining < 0) break;
    }
}

CCyBos::~CCyBos() {
    delete ContainerIdCap;
    delete Usb20ExtensionCap;
    delete SuperSpeedCap;
}
