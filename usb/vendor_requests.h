// Vendor requests on endpoint 0 and transfers repeated until a short packet; nothing in the
// system calls them, the firmware download chain is built on them.
#pragma once

#include <cstdint>

#include "usb/device.h"

// One vendor request to the device (recipient device, type vendor).
struct VendorRequestRecord {
    uint8_t Request;
    uint8_t Direction;  // 1 device to host
    uint16_t Value;
    uint16_t Index;
    uint32_t Length;
    uint8_t* Buffer;
};

constexpr uint32_t kVendorChunkLimit = 65535;

// On an IN endpoint with receive set: transfers of at most MaxPacketSize bytes into successive
// parts of buffer until one fails, one comes short, or length is reached; length becomes the
// bytes received; true when any byte came, else the last transfer's result. Otherwise one
// TransferData.
bool TransferDataUntilShort(CCyUSBEndPoint* endpoint, uint8_t* buffer, int32_t& length,
                            bool receive);

bool VendorRequest(CCyUSBDriverDevice* device, const VendorRequestRecord& request);
// wValue = the low half of address, wIndex = the high half.
bool VendorWrite(CCyUSBDriverDevice* device, uint32_t address, uint16_t length, uint8_t* buffer,
                 uint8_t request);
bool VendorRead(CCyUSBDriverDevice* device, uint32_t address, uint16_t length, uint8_t* buffer,
                uint8_t request);
// No data; wValue = the high half of argument, wIndex = the low half.
bool VendorCommand(CCyUSBDriverDevice* device, uint8_t request, uint32_t argument);
bool VendorReadA0(CCyUSBDriverDevice* device);
