// One USB device served by the USB bridge vendor's function driver: enumeration by interface
// GUID, descriptors, configuration and endpoint objects, and the driver's control codes.
#pragma once

#include <cstdint>

#include "platform/win32.h"
#include "usb/configuration.h"
#include "usb/endpoint.h"
#include "wire/usb_descriptors.h"

// {AE18AA60-7F6A-11D4-97DD-00010229B959}
extern const GUID UsbDriverInterfaceGuid;

constexpr int kConfigurationSlots = 2;
constexpr int kDriverNameSize = 256;
constexpr int kStringUnits = 128;
constexpr int kDevicePathSize = 256;
constexpr int kUsbdStatusTextSize = 64;  // room UsbdStatusText needs, NUL included

// The 9 bytes of a configuration or interface descriptor, for the read-out methods.
struct InterfaceDescriptorFields {
    uint8_t bLength, bDescriptorType, bInterfaceNumber, bAlternateSetting, bNumEndpoints,
        bInterfaceClass, bInterfaceSubClass, bInterfaceProtocol, iInterface;
};
struct BosHeaderFields {
    uint8_t bLength, bDescriptorType;
    uint16_t wTotalLength;
    uint8_t bNumDeviceCaps;
};

class CCyUSBDriverDevice {
  public:
    // Device notifications are registered only with a window; open nonzero attaches device 0.
    CCyUSBDriverDevice(HWND window, const GUID& guid, int open);
    CCyUSBDriverDevice();  // no window, UsbDriverInterfaceGuid, attached at once
    CCyUSBDriverDevice(const CCyUSBDriverDevice&) = delete;
    CCyUSBDriverDevice& operator=(const CCyUSBDriverDevice&) = delete;
    // Raises "Failed to close the device notification handle." (and what DetachDevice raises)
    // when the platform refuses.
    ~CCyUSBDriverDevice() noexcept(false);

    bool AttachDevice(uint8_t index);
    // Raises "Failed to close the handle notification handle." or "Failed to close handle to
    // driver." (through CloseDevice) when the platform refuses.
    void DetachDevice();
    uint8_t CountDevices();
    bool OpenDeviceByIndex(uint8_t index);
    void CloseDevice();
    bool IoControl(uint32_t code, uint8_t* buffer, uint32_t length);
    // Raises "Failed to find endpoint." when the walk meets an empty table entry first.
    CCyUSBEndPoint* FindEndPoint(uint8_t address);
    uint8_t EndPointCount();

    // Steps of AttachDevice.
    void ReadDeviceDescriptor();
    void ReadLanguageId();
    void ReadStringDescriptor(char16_t* target, uint8_t index);
    bool ReadBosDescriptor();
    void ReadConfigDescriptor(uint8_t index);
    void ReadUsbAddress();
    void ReadDriverDeviceName();
    void ReadDriverFriendlyName();
    void ReadDriverVersion();
    void ReadUsbdiVersion();
    void ReadSpeed();
    void SelectConfiguration(uint8_t index);
    uint8_t QueryAltSetting();
    void SelectAltSetting(uint8_t alternate);
    void BindEndPoints();
    bool RegisterInterfaceNotification(HWND window);

    // Requests that nothing in the system calls.
    uint8_t GetConfigurationCount();
    uint8_t GetInterfaceCount();
    uint8_t GetAltSettingCount();
    void GetDeviceDescriptor(uint8_t* out);
    void GetConfigDescriptor(uint8_t* out);  // wire::configuration_descriptor::kSize bytes
    void GetInterfaceDescriptor(InterfaceDescriptorFields* out);
    bool GetBosHeader(BosHeaderFields* out);
    bool GetUsb20Extension(Usb20ExtensionRecord* out);
    bool GetContainerId(ContainerIdRecord* out);
    bool GetSuperSpeedCapability(SuperSpeedRecord* out);
    void CopyConfiguration(CCyConfiguration* out, uint8_t index);
    uint8_t QueryPowerState();
    bool RequestPowerStateD3();
    bool RequestPowerStateD0();
    bool SetAltSetting(uint8_t alternate);
    bool RequestPortReset();
    bool RequestPortCycle();
    // Writes "<state part><status part>" into text, which holds kUsbdStatusTextSize bytes.
    void UsbdStatusText(uint32_t status, char* text);

    CCyUSBEndPoint** EndPointTable;
    CCyBos* BosInfo;
    CCyUSBEndPoint* FirstIsocIn;
    CCyUSBEndPoint* FirstIsocOut;
    CCyUSBEndPoint* FirstBulkIn;
    CCyUSBEndPoint* FirstBulkOut;
    CCyControlEndPoint* ControlEndPoint;
    CCyUSBEndPoint* FirstInterruptIn;
    CCyUSBEndPoint* FirstInterruptOut;
    uint16_t LangId = 0;
    uint32_t LastErrorCode;
    uint32_t LastUsbdStatus = 0;
    uint32_t LastNtStatus = 0;
    uint32_t DriverVersionNumber = 0;
    uint32_t UsbdiVersionNumber = 0;
    char DriverDeviceName[kDriverNameSize];
    char DriverFriendlyName[kDriverNameSize];
    char16_t ManufacturerText[kStringUnits];
    char16_t ProductText[kStringUnits];
    char16_t SerialNumberText[kStringUnits];
    char DevicePath[kDevicePathSize];
    uint16_t UsbVersion = 0;
    uint16_t VendorId = 0;
    uint16_t ProductId = 0;
    uint8_t UsbAddress = 0;
    uint8_t DeviceClass = 0, DeviceSubClass = 0, DeviceProtocol = 0;
    int32_t Ep0PacketSize = 0;
    uint16_t DeviceRelease = 0;
    uint8_t ConfigValue = 0, ConfigAttributes = 0, ConfigMaxPower = 0;
    uint8_t InterfaceClass = 0, InterfaceSubClass = 0, InterfaceProtocol = 0;
    bool IsHighSpeed = false;
    bool IsSuperSpeed = false;
    uint32_t BytesReturned = 0;
    uint8_t DeviceDescriptor[wire::device_descriptor::kSize] = {};
    uint8_t* ConfigDescriptors[kConfigurationSlots];
    uint32_t ConfigDescriptorSizes[kConfigurationSlots] = {};  // bytes of each copy
    uint8_t* BosDescriptor;
    uint32_t BosDescriptorSize = 0;
    CCyConfiguration* Configurations[kConfigurationSlots];
    HWND NotifyWindow;
    HANDLE DeviceHandle;
    HDEVNOTIFY InterfaceNotification;
    HDEVNOTIFY HandleNotification;
    GUID InterfaceGuid;
    uint8_t PresentDevices;
    uint8_t InterfaceCount;
    uint8_t InterfaceObjectCount;
    uint8_t ConfigurationCount;
    uint8_t DeviceIndex;
    uint8_t ConfigIndex;
    uint8_t InterfaceNumber;
    uint8_t InterfaceIndex;

  private:
    // A GET_DESCRIPTOR control transfer of length bytes into data; false unless all came.
    bool GetDescriptor(uint8_t type, uint8_t index, uint16_t language, uint8_t* data,
                       uint16_t length, bool usbd_only);
    // A name the driver returns for code, always ended by a NUL; empty without a handle.
    void ReadDriverText(uint32_t code, char (&text)[kDriverNameSize]);
    CCyInterface* BoundInterface();
    bool RegisterHandleNotification();
    int UsableConfigurations() const;
};
