#include "usb/firmware_download.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "usb/bytes.h"
#include "usb/vendor_requests.h"

namespace {

constexpr uint32_t kRamChunkSize = 2048;
constexpr int kRamAttempts = 3;
constexpr uint32_t kRamFirstRecord = 4;
constexpr uint32_t kEepromBlockSize = 2048;
constexpr uint32_t kLargeEepromLimit = 0x20000;

// Bytes of the EEPROM that size code (image byte 2, bits 1..3) names; 0 for a refused code.
uint32_t EepromSize(uint8_t code) {
    switch (code) {
        case 2:
            return 4096;
        case 3:
            return 8192;
        case 4:
            return 16384;
        case 5:
            return 32768;
        case 6:
        case 7:
            return 65536;
        default:
            return 0;
    }
}

bool SendRamChunk(CCyUSBDriverDevice* device, uint32_t address, const uint8_t* data,
                  uint16_t length, uint8_t request) {
    std::vector<uint8_t> out(data, data + length);
    std::vector<uint8_t> back(length);
    for (int attempt = 0; attempt < kRamAttempts; ++attempt) {
        if (VendorWrite(device, address, length, out.data(), request) &&
            VendorRead(device, address, length, back.data(), request) && back == out)
            return true;
    }
    return false;
}

}  // namespace

int DownloadFirmwareFile(CCyUSBDriverDevice* device, const char* path, int target) {
    if (!path) return kDownloadNoFile;
    FILE* file = fopen(path, "rb");
    if (!file) return kDownloadNoFile;
    std::vector<uint8_t> image;
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
    if (size > 0 && size <= 0x7FFFFFFF && std::fseek(file, 0, SEEK_SET) == 0) {
        image.resize(static_cast<size_t>(size));
        if (std::fread(image.data(), 1, image.size(), file) != image.size()) image.clear();
    }
    std::fclose(file);
    if (image.empty()) return kDownloadNoFile;
    auto length = static_cast<uint32_t>(image.size());
    switch (target) {
        case kTargetRam:
            return DownloadToRam(device, image.data(), length, kRequestRam);
        case kTargetI2cEeprom:
            return DownloadToI2cEeprom(device, image.data(), length, kRequestEeprom);
        case kTargetSpiFlash:
            return DownloadToSpiFlash(device, image.data(), length, kRequestSpiErase);
        default:
            return kDownloadBadTarget;
    }
}

int DownloadToRam(CCyUSBDriverDevice* device, const uint8_t* image, uint32_t size,
                  uint8_t request) {
    if (size < 2 || image[0] != 'C' || image[1] != 'Y') return kDownloadNoSignature;
    usb::ByteView view{image, size};
    uint64_t position = kRamFirstRecord;
    for (;;) {
        // Each record starts with its word count and load address.
        if (!view.has(position, 8)) return kDownloadRecordOverrun;
        uint32_t words = view.u32(position);
        uint32_t address = view.u32(position + 4);
        position += 8;
        if (words == 0) {
            VendorWrite(device, address, 0, nullptr, request);
            return kDownloadDone;
        }
        uint64_t bytes = static_cast<uint64_t>(words) * 4;
        for (uint64_t offset = 0; offset < bytes; offset += kRamChunkSize) {
            auto length = static_cast<uint32_t>(std::min<uint64_t>(kRamChunkSize, bytes - offset));
            if (length > size) return kDownloadChunkTooLong;
            // Nothing is read or sent from beyond the image.
            if (position + offset + length > size) return kDownloadRecordOverrun;
            if (!SendRamChunk(device, address + static_cast<uint32_t>(offset),
                              image + position + offset, static_cast<uint16_t>(length), request))
                return kDownloadTransferFailed;
        }
        position += bytes;
        if (position > size) return kDownloadRecordOverrun;
    }
}

int DownloadToI2cEeprom(CCyUSBDriverDevice* device, const uint8_t* image, uint32_t size,
                        uint8_t request) {
    uint8_t code = size > 2 ? static_cast<uint8_t>((image[2] >> 1) & 7) : 0;
    uint32_t eeprom = EepromSize(code);
    if (eeprom == 0) return kDownloadBadEepromSize;
    bool large = code == 7;
    if (!device || !device->ControlEndPoint) return kDownloadTransferFailed;
    CCyControlEndPoint* ep0 = device->ControlEndPoint;
    ep0->Target = 0;
    ep0->RequestType = 2;
    ep0->RequestCode = request;
    ep0->Direction = 0;
    ep0->Value = 0;
    ep0->Index = 0;

    std::vector<uint8_t> block(kEepromBlockSize);
    uint32_t position = 0;
    while (size - position >= kEepromBlockSize) {
        std::memcpy(block.data(), image + position, kEepromBlockSize);
        int32_t length = kEepromBlockSize;
        if (!ep0->TransferData(block.data(), length)) return kDownloadTransferFailed;
        ep0->Index = static_cast<uint16_t>(ep0->Index + length);
        position += kEepromBlockSize;
        if (position % eeprom == 0) {
            ep0->Index = 0;
            if (!large)
                ep0->Value = static_cast<uint16_t>(ep0->Value + 1 == 8 ? 0 : ep0->Value + 1);
            else if (position < kLargeEepromLimit)
                ep0->Value = 4;
            else
                ep0->Value = ep0->Value == 4 ? 1 : 5;
        }
    }
    uint32_t rest = size - position;
    if (rest == 0) return kDownloadDone;
    uint32_t packet = ep0->MaxPacketSize;
    uint32_t padded = packet ? (rest + packet - 1) / packet * packet : rest;
    std::vector<uint8_t> tail(padded, 0);
    std::memcpy(tail.data(), image + position, rest);
    auto length = static_cast<int32_t>(padded);
    if (!ep0->TransferData(tail.data(), length)) return kDownloadTransferFailed;
    ep0->RequestCode = kRequestEepromFinish;
    ep0->Direction = 1;
    length = static_cast<int32_t>(padded);
    if (!ep0->TransferData(tail.data(), length)) return kDownloadTransferFailed;
    return kDownloadDone;
}

int EraseFlashSector(CCyUSBDriverDevice* device, uint16_t sector, uint8_t request) {
    if (!VendorRequest(device, {request, 0, 1, sector, 0, nullptr})) return 1;
    for (;;) {
        uint8_t busy = 0xFF;
        if (!VendorRequest(device, {request, 1, 0, sector, 1, &busy})) return 1;
        if (busy == 0) return 0;
    }
}

bool ProgramFlashChunk(CCyUSBDriverDevice* device, uint8_t* buffer, uint32_t length,
                       uint32_t offset, uint8_t request) {
    return VendorRequest(
        device, {request, 0, 0, static_cast<uint16_t>(offset / kSpiPageSize), length, buffer});
}

int DownloadToSpiFlash(CCyUSBDriverDevice* device, const uint8_t* image, uint32_t size,
                       uint8_t request) {
    uint64_t pages = (static_cast<uint64_t>(size) + kSpiPageSize - 1) / kSpiPageSize;
    uint64_t sectors = (static_cast<uint64_t>(size) + kSpiSectorSize - 1) / kSpiSectorSize;
    for (uint64_t s = 0; s < sectors; ++s)
        if (EraseFlashSector(device, static_cast<uint16_t>(s), request) != 0)
            return kDownloadEraseFailed;
    std::vector<uint8_t> padded(pages * kSpiPageSize, kSpiPadByte);
    if (size) std::memcpy(padded.data(), image, size);
    for (uint64_t offset = 0; offset < padded.size(); offset += kSpiChunkSize) {
        auto length =
            static_cast<uint32_t>(std::min<uint64_t>(kSpiChunkSize, padded.size() - offset));
        if (!ProgramFlashChunk(device, padded.data() + offset, length,
                               static_cast<uint32_t>(offset), kRequestSpiProgram))
            return kDownloadTransferFailed;
    }
    return kDownloadDone;
}
