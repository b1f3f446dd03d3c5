// USBD status words as text: "<state part><status part>".
#include <cstdio>

#include "usb/device.h"

namespace {

struct StatusName {
    uint32_t value;
    const char* text;
};

constexpr StatusName kStatusNames[] = {
    {0xC0000001, "status=USBD_STATUS_CRC]"},
    {0xC0000002, "status=USBD_STATUS_BTSTUFF]"},
    {0xC0000003, "status=USBD_STATUS_DATA_TOGGLE_MISMATCH]"},
    {0xC0000004, "status=USBD_STATUS_STALL_PID]"},
    {0xC0000005, "status=USBD_STATUS_DEV_NOT_RESPONDING]"},
    {0xC0000006, "status=USBD_STATUS_PID_CHECK_FAILURE]"},
    {0xC0000007, "status=USBD_STATUS_UNEXPECTED_PID]"},
    {0xC0000008, "status=USBD_STATUS_DATA_OVERRUN]"},
    {0xC0000009, "status=USBD_STATUS_DATA_UNDERRUN]"},
    {0xC000000A, "status=USBD_STATUS_RESERVED1]"},
    {0xC000000B, "status=USBD_STATUS_RESERVED2]"},
    {0xC000000C, "status=USBD_STATUS_BUFFER_OVERRUN]"},
    {0xC000000D, "status=USBD_STATUS_BUFFER_UNDERRUN]"},
    {0xC000000F, "status=USBD_STATUS_NOT_ACCESSED]"},
    {0xC0000010, "status=USBD_STATUS_FIFO]"},
    {0xC0000030, "status=USBD_STATUS_ENDPOINT_HALTED]"},
    {0xC0000A00, "status=USBD_STATUS_BAD_START_FRAME]"},
    {0xC0000B00, "status=USBD_STATUS_ISOCH_REQUEST_FAILED]"},
    {0xC0000C00, "status=USBD_STATUS_FRAME_CONTROL_OWNED]"},
    {0xC0000D00, "status=USBD_STATUS_FRAME_CONTROL_NOT_OWNED]"},
};

const char* StatePart(uint32_t status) {
    if ((status & 0x0FFFFFFF) == 0) return "[state=SUCCESS ";
    switch (status >> 28) {
        case 0x0:
            return " [state=SUCCESS ";
        case 0x4:
            return " [state=PENDING ";
        case 0x8:
            return " [state=ERROR   ";
        case 0xC:
            return " [state=STALLED ";
        default:
            return "";
    }
}

const char* StatusPart(uint32_t status) {
    if ((status & 0x0FFFFFFF) == 0) return "status=USBD_STATUS_SUCCESS]";
    uint32_t key = status | 0xC0000000;
    for (const auto& name : kStatusNames)
        if (name.value == key) return name.text;
    return "status=UNKNOWN]";
}

}  // namespace

void CCyUSBDriverDevice::UsbdStatusText(uint32_t status, char* text) {
    std::snprintf(text, kUsbdStatusTextSize, "%s%s", StatePart(status), StatusPart(status));
}
