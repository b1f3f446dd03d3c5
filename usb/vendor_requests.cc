#include "usb/vendor_requests.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "wire/usb_descriptors.h"

bool TransferDataUntilShort(CCyUSBEndPoint* endpoint, uint8_t* buffer, int32_t& length,
                            bool receive) {
    if (!endpoint) return false;
    if (!(endpoint->IsIn && receive) || endpoint->MaxPacketSize == 0)
        return endpoint->TransferData(buffer, length);
    int32_t wanted = length;
    int32_t received = 0;
    bool last = true;
    while (received < wanted) {
        int32_t piece = std::min<int32_t>(endpoint->MaxPacketSize, wanted - received);
        int32_t asked = piece;
        last = endpoint->TransferData(buffer + received, piece);
        if (!last) break;
        received += piece;
        if (piece < asked || piece < endpoint->MaxPacketSize) break;
    }
    length = received;
    return received > 0 ? true : last;
}

bool VendorRequest(CCyUSBDriverDevice* device, const VendorRequestRecord& request) {
    if (!device || !device->ControlEndPoint) return false;
    CCyControlEndPoint* ep0 = device->ControlEndPoint;
    ep0->Target = wire::kRecipientDevice;
    ep0->RequestType = wire::kRequestTypeVendor;
    ep0->RequestCode = request.Request;
    ep0->Direction = request.Direction;
    ep0->Value = request.Value;
    ep0->Index = request.Index;
    if (request.Length == 0) {
        int32_t none = 0;
        return ep0->TransferData(nullptr, none);
    }
    if (!request.Buffer) return false;
    std::vector<uint8_t> chunk;
    uint32_t done = 0;
    while (done < request.Length) {
        uint32_t size = std::min(request.Length - done, kVendorChunkLimit);
        chunk.assign(request.Buffer + done, request.Buffer + done + size);
        auto moved = static_cast<int32_t>(size);
        if (!ep0->TransferData(chunk.data(), moved)) return false;
        // A chunk that moves nothing would never finish the request.
        if (moved <= 0) return false;
        if (request.Direction == 1) std::memcpy(request.Buffer + done, chunk.data(), moved);
        done += static_cast<uint32_t>(moved);
    }
    return true;
}

bool VendorWrite(CCyUSBDriverDevice* device, uint32_t address, uint16_t length, uint8_t* buffer,
                 uint8_t request) {
    return VendorRequest(device, {request, 0, static_cast<uint16_t>(address),
                                  static_cast<uint16_t>(address >> 16), length, buffer});
}

bool VendorRead(CCyUSBDriverDevice* device, uint32_t address, uint16_t length, uint8_t* buffer,
                uint8_t request) {
    return VendorRequest(device, {request, 1, static_cast<uint16_t>(address),
                                  static_cast<uint16_t>(address >> 16), length, buffer});
}

bool VendorCommand(CCyUSBDriverDevice* device, uint8_t request, uint32_t argument) {
    return VendorRequest(device, {request, 0, static_cast<uint16_t>(argument >> 16),
                                  static_cast<uint16_t>(argument), 0, nullptr});
}

bool VendorReadA0(CCyUSBDriverDevice* device) {
    uint8_t byte = 0;
    return VendorRequest(device, {0xA0, 1, 0, 0, 1, &byte});
}
