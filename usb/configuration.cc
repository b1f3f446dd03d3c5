// The descriptor walks. A descriptor is taken only when its bLength is at least 2 and it lies
// wholly inside the set; anything else ends the walk, so a bLength of 0 cannot stall it.
#include "usb/configuration.h"

#include "usb/bytes.h"

namespace {

constexpr uint8_t kTypeInterface = 4, kTypeEndpoint = 5, kTypeCompanion = 0x30;
constexpr size_t kInterfaceDescriptorSize = 9;

// The bLength of the descriptor at offset at when it fits inside the first end bytes, else 0.
size_t DescriptorAt(const usb::ByteView& set, size_t end, size_t at) {
    if (at + 2 > end) return 0;
    size_t length = set.u8(at);
    if (length < 2 || at + length > end) return 0;
    return length;
}

CCyUSBEndPoint* NewEndPoint(HANDLE handle, const uint8_t* descriptor, const uint8_t* companion) {
    switch (descriptor[3] & 3) {
        case 0:
            return new CCyControlEndPoint(handle, descriptor);
        case 1:
            return new CCyIsocEndPoint(handle, descriptor, companion);
        case 2:
            return new CCyBulkEndPoint(handle, descriptor, companion);
        default:
            return new CCyInterruptEndPoint(handle, descriptor, companion);
    }
}

}  // namespace

CCyInterface::CCyInterface(HANDLE handle, const uint8_t* set, size_t set_size, size_t at,
                           WalkKind kind) {
    usb::ByteView view{set, set_size};
    IfLength = view.u8(at);
    IfType = view.u8(at + 1);
    IfNumber = view.u8(at + 2);
    IfAltSetting = view.u8(at + 3);
    IfEndPointCount = view.u8(at + 4);
    IfClass = view.u8(at + 5);
    IfSubClass = view.u8(at + 6);
    IfProtocol = view.u8(at + 7);
    IfStringIndex = view.u8(at + 8);
    IfTotalLength = IfLength;

    size_t position = at + IfLength;
    int wanted = IfEndPointCount < kEndPointSlots - 1 ? IfEndPointCount : kEndPointSlots - 1;
    int taken = 0;
    int skipped = 0;
    while (taken < wanted) {
        size_t length = DescriptorAt(view, set_size, position);
        if (length == 0) break;
        if (view.u8(position + 1) != kTypeEndpoint || length < kEndpointDescriptorSize) {
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
            if (next >= kCompanionDescriptorSize && view.u8(position + 1) == kTypeCompanion) {
                companion = set + position;
                IfTotalLength = static_cast<uint16_t>(IfTotalLength + next);
                position += next;
            }
        }
        // A control endpoint takes no companion.
        if ((descriptor[3] & 3) == 0) companion = nullptr;
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
    usb::ByteView view{set, set_size};
    CfgLength = view.u8(0);
    CfgType = view.u8(1);
    CfgTotalLength = view.u16(2);
    CfgInterfaceCount = view.u8(4);
    CfgValue = view.u8(5);
    CfgStringIndex = view.u8(6);
    CfgAttributes = view.u8(7);
    CfgMaxPower = view.u8(8);

    size_t end = CfgTotalLength < set_size ? CfgTotalLength : set_size;
    size_t offset = CfgLength;
    while (offset < end && CfgInterfaceObjectCount < kMaxInterfaceObjects) {
        size_t length = DescriptorAt(view, end, offset);
        if (length == 0) break;
        if (view.u8(offset + 1) == kTypeInterface && length >= kInterfaceDescriptorSize) {
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
    usb::ByteView view{set, set_size};
    BosLength = view.u8(0);
    BosType = view.u8(1);
    BosTotalLength = view.u16(2);
    BosCapCount = view.u8(4);

    long remaining = static_cast<long>(BosTotalLength) - BosLength;
    if (remaining < 0) return;
    size_t end = BosTotalLength < set_size ? BosTotalLength : set_size;
    size_t position = BosLength;
    for (int k = 0; k < BosCapCount; ++k) {
        size_t length = DescriptorAt(view, end, position);
        if (length < 3) break;
        const uint8_t* cap = set + position;
        usb::ByteView c{cap, length};
        switch (cap[2]) {
            case 2:
                if (length >= 7) {
                    if (!Usb20ExtensionCap) Usb20ExtensionCap = new Usb20ExtensionRecord;
                    *Usb20ExtensionCap = {c.u8(0), c.u8(1), c.u8(2), c.u32(3)};
                }
                break;
            case 3:
                if (length >= 10) {
                    if (!SuperSpeedCap) SuperSpeedCap = new SuperSpeedRecord;
                    *SuperSpeedCap = {c.u8(0),  c.u8(1), c.u8(2), c.u8(3),
                                      c.u16(4), c.u8(6), c.u8(7), c.u16(8)};
                }
                break;
            case 4:
                if (length >= 20) {
                    if (!ContainerIdCap) ContainerIdCap = new ContainerIdRecord;
                    ContainerIdCap->bLength = c.u8(0);
                    ContainerIdCap->bDescriptorType = c.u8(1);
                    ContainerIdCap->bDevCapabilityType = c.u8(2);
                    for (int i = 0; i < 16; ++i) ContainerIdCap->ContainerID[i] = c.u8(4 + i);
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
