// Configuration, interface and BOS objects built from descriptor sets read from the device.
// Every walk stays inside the set it is given and always ends.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"
#include "usb/endpoint.h"
#include "wire/usb_descriptors.h"

constexpr int kMaxInterfaceObjects = 255;
constexpr int kEndPointSlots = 32;  // entry 0 is the device's control endpoint
constexpr int kMaxSkippedDescriptors = 11;

// Plain for a device whose bcdUSB major byte is 2; companion-aware (SuperSpeed endpoint
// companions after endpoint descriptors) otherwise.
enum class WalkKind { Plain, CompanionAware };

class CCyInterface {
  public:
    // set: the whole configuration descriptor set; at: offset of an interface descriptor in it.
    CCyInterface(HANDLE handle, const uint8_t* set, size_t set_size, size_t at, WalkKind kind);
    // Copies the descriptor fields and IfTotalLength, and each endpoint of entries 1 to 31 as a
    // new endpoint of the same class; entry 0 stays empty, as it belongs to the device.
    CCyInterface(const CCyInterface& other);
    CCyInterface& operator=(const CCyInterface&) = delete;
    ~CCyInterface();

    CCyUSBEndPoint* EndPointSlots[kEndPointSlots] = {};
    uint8_t IfLength = 0;
    uint8_t IfType = 0;
    uint8_t IfNumber = 0;
    uint8_t IfAltSetting = 0;
    uint8_t IfEndPointCount = 0;
    uint8_t IfClass = 0;
    uint8_t IfSubClass = 0;
    uint8_t IfProtocol = 0;
    uint8_t IfStringIndex = 0;
    uint8_t IfAltSettingCount = 0;
    uint16_t IfTotalLength = 0;
};

class CCyConfiguration {
  public:
    CCyConfiguration();
    CCyConfiguration(HANDLE handle, const uint8_t* set, size_t set_size, WalkKind kind);
    CCyConfiguration(const CCyConfiguration& other);  // deep copy of the interface objects
    CCyConfiguration& operator=(const CCyConfiguration& other);
    ~CCyConfiguration();

    CCyInterface* InterfaceObjects[kMaxInterfaceObjects] = {};
    uint8_t CfgLength = 0;
    uint8_t CfgType = 0;
    uint16_t CfgTotalLength = 0;
    uint8_t CfgInterfaceCount = 0;
    uint8_t CfgValue = 0;
    uint8_t CfgStringIndex = 0;
    uint8_t CfgAttributes = 0;
    uint8_t CfgMaxPower = 0;
    uint8_t CfgInterfaceObjectCount = 0;

  private:
    void Release();
    void CopyFrom(const CCyConfiguration& other);
};

struct Usb20ExtensionRecord {
    uint8_t bLength, bDescriptorType, bDevCapabilityType;
    uint32_t bmAttributes;
};

struct SuperSpeedRecord {
    uint8_t bLength, bDescriptorType, bDevCapabilityType, bmAttributes;
    uint16_t wSpeedsSupported;
    uint8_t bFunctionalitySupport, bU1DevExitLat;
    uint16_t wU2DevExitLat;
};

struct ContainerIdRecord {
    uint8_t bLength, bDescriptorType, bDevCapabilityType;
    uint8_t ContainerID[wire::capability::kContainerIdValueSize];
};

class CCyBos {
  public:
    CCyBos();
    CCyBos(HANDLE handle, const uint8_t* set, size_t set_size);
    CCyBos(const CCyBos&) = delete;
    CCyBos& operator=(const CCyBos&) = delete;
    ~CCyBos();

    ContainerIdRecord* ContainerIdCap = nullptr;
    Usb20ExtensionRecord* Usb20ExtensionCap = nullptr;
    SuperSpeedRecord* SuperSpeedCap = nullptr;
    uint8_t BosLength = 0;
    uint8_t BosType = 0;
    uint16_t BosTotalLength = 0;
    uint8_t BosCapCount = 0;
};
