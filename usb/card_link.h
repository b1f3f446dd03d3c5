// The card link: the first device of UsbDriverInterfaceGuid, bulk OUT 0x02 and bulk IN 0x86,
// 3000 ms per transfer. No exception leaves these functions.
#pragma once

#include <cstdint>

#include "usb/device.h"

// Link results.
constexpr int32_t kLinkOk = 0;
constexpr int32_t kLinkBadArgument = -1;  // null handle, handle slot or buffer
constexpr int32_t kLinkOpenOrShort = -2;  // the device could not be opened, or a short transfer
constexpr int32_t kLinkTransferFailed = -3;

constexpr uint8_t kCardOutEndpoint = 0x02;
constexpr uint8_t kCardInEndpoint = 0x86;
constexpr uint32_t kCardTransferTimeoutMs = 3000;

// Opens device 0; the handle slot is written only on success.
int32_t open_usb_dev(CCyUSBDriverDevice** handle);
int32_t close_usb_dev(CCyUSBDriverDevice* handle);
int32_t write_usb_dev(CCyUSBDriverDevice* handle, uint8_t* buffer, uint32_t length);
int32_t read_usb_dev(CCyUSBDriverDevice* handle, uint8_t* buffer, uint32_t length);
uint32_t count_usb_dev();
