// Firmware download into the USB bridge's RAM, an I2C EEPROM or an SPI flash through vendor
// requests on endpoint 0. Nothing in the system calls it.
#pragma once

#include <cstdint>

#include "usb/device.h"

// Download results.
constexpr int kDownloadDone = 0;
constexpr int kDownloadTransferFailed = 1;  // a transfer failed or a read-back differed
constexpr int kDownloadBadTarget = 2;       // a target other than 1, 2 and 3
constexpr int kDownloadNoSignature = 3;     // RAM image without "CY"
constexpr int kDownloadRecordOverrun = 5;   // a RAM record runs past the end of the image
constexpr int kDownloadNoFile = 6;          // cannot be opened, empty, or no buffer
constexpr int kDownloadEraseFailed = 7;
constexpr int kDownloadChunkTooLong = 8;  // a RAM chunk longer than the whole image
constexpr int kDownloadBadEepromSize = 9;

// Download targets.
constexpr int kTargetRam = 1, kTargetI2cEeprom = 2, kTargetSpiFlash = 3;

// SPI flash geometry.
constexpr uint32_t kSpiPageSize = 256;
constexpr uint32_t kSpiSectorSize = 65536;
constexpr uint32_t kSpiChunkSize = 2048;
constexpr uint8_t kSpiPadByte = 0xFF;  // what erased flash holds

// Vendor requests of the chain.
constexpr uint8_t kRequestRam = 0xA0;
constexpr uint8_t kRequestEeprom = 0xBA;
constexpr uint8_t kRequestEepromFinish = 0xBB;
constexpr uint8_t kRequestSpiErase = 0xC4;
constexpr uint8_t kRequestSpiProgram = 0xC2;

int DownloadFirmwareFile(CCyUSBDriverDevice* device, const char* path, int target);
int DownloadToRam(CCyUSBDriverDevice* device, const uint8_t* image, uint32_t size, uint8_t request);
int DownloadToI2cEeprom(CCyUSBDriverDevice* device, const uint8_t* image, uint32_t size,
                        uint8_t request);
int DownloadToSpiFlash(CCyUSBDriverDevice* device, const uint8_t* image, uint32_t size,
                       uint8_t request);
// 0 when the sector was erased (the device's busy byte read back 0), 1 when a request failed.
int EraseFlashSector(CCyUSBDriverDevice* device, uint16_t sector, uint8_t request);
bool ProgramFlashChunk(CCyUSBDriverDevice* device, uint8_t* buffer, uint32_t length,
                       uint32_t offset, uint8_t request);
