// The administrator's SM2 public key, built into the software card: challenge signatures for
// unlock, PIN reset and zeroise are checked against it.
#pragma once

#include <cstdint>

extern const uint8_t kAdminPublicKey[64];
