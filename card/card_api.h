// The device build's card exports beyond those both builds share (card/shared_exports.h), and
// their result codes: declared in the public header include/kelvane_device.h.
#pragma once

#include <cstdint>

#include "card/shared_exports.h"
#include "include/kelvane_device.h"

// The card's key backup block, as QeltBackupXk writes it to its file.
constexpr uint32_t BACKUP_DATA_SIZE = 304;
