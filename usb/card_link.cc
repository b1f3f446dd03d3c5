#include "usb/card_link.h"

namespace {

int32_t Transfer(CCyUSBDriverDevice* handle, uint8_t address, uint8_t* buffer, uint32_t length) {
    if (!handle || !buffer) return kLinkBadArgument;
    // A transfer's length is a signed 32-bit count.
    if (length > INT32_MAX) return kLinkBadArgument;
    auto moved = static_cast<int32_t>(length);
    try {
        CCyUSBEndPoint* endpoint = handle->FindEndPoint(address);
        if (!endpoint) return kLinkTransferFailed;
        endpoint->TimeoutMs = kCardTransferTimeoutMs;
        if (!endpoint->TransferData(buffer, moved, nullptr)) return kLinkTransferFailed;
    } catch (...) {
        return kLinkTransferFailed;
    }
    return static_cast<uint32_t>(moved) != length ? kLinkOpenOrShort : kLinkOk;
}

// Deletes a device object; a close that the platform refuses raises, and is swallowed here.
void Delete(CCyUSBDriverDevice* device) {
    try {
        delete device;
    } catch (...) {
    }
}

}  // namespace

int32_t open_usb_dev(CCyUSBDriverDevice** handle) {
    if (!handle) return kLinkBadArgument;
    CCyUSBDriverDevice* device = nullptr;
    try {
        device = new CCyUSBDriverDevice(nullptr, UsbDriverInterfaceGuid, 1);
        if (!device->AttachDevice(0)) {
            Delete(device);
            return kLinkOpenOrShort;
        }
    } catch (...) {
        Delete(device);
        return kLinkOpenOrShort;
    }
    *handle = device;
    return kLinkOk;
}

int32_t close_usb_dev(CCyUSBDriverDevice* handle) {
    if (!handle) return kLinkBadArgument;
    try {
        handle->DetachDevice();
    } catch (...) {
    }
    Delete(handle);
    return kLinkOk;
}

int32_t write_usb_dev(CCyUSBDriverDevice* handle, uint8_t* buffer, uint32_t length) {
    return Transfer(handle, kCardOutEndpoint, buffer, length);
}

int32_t read_usb_dev(CCyUSBDriverDevice* handle, uint8_t* buffer, uint32_t length) {
    return Transfer(handle, kCardInEndpoint, buffer, length);
}

uint32_t count_usb_dev() {
    CCyUSBDriverDevice* device = nullptr;
    uint32_t count = 0;
    try {
        device = new CCyUSBDriverDevice(nullptr, UsbDriverInterfaceGuid, 1);
        count = device->CountDevices();
    } catch (...) {
    }
    Delete(device);
    return count;
}
