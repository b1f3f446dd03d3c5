// The software card's key dump and its empty hex dump. Its QeltFormatVolume and QeltMountVolume
// are declared with the device build's in include/kelvane_shared.h.
#pragma once

#include <cstdint>

// Logs "<name>:<data in lowercase hex, two digits a byte>:" as one TRACE line with the source
// "api"; nothing for a null name or data, a length of 0 or above 1024. In this build every level
// reaches the log file: a mounted volume's key stands there in hex.
void DumpKeyHex(const char* name, const uint8_t* data, uint64_t length);

// Returns at once; nothing calls it.
void HexDumpNoop(const char* title, const uint8_t* data, uint64_t length);
