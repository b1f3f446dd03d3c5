// The test's copy of the administrator's key pair: signs challenges as an administrator would.
#pragma once

#include <cstring>
#include <vector>

#include "crypto/sm2.h"
#include "softcard/admin_key.h"

inline const uint8_t kAdminPrivateKey[32] = {
    0x4a, 0x8e, 0x2c, 0x71, 0xf0, 0x9b, 0x3d, 0x56, 0xe1, 0x2a, 0x7c, 0x48, 0xb9, 0x05, 0xf3, 0xd6,
    0xa1, 0x7e, 0x40, 0xc2, 0x9b, 0x5d, 0x83, 0xf6, 0xe2, 0x07, 0x9a, 0x1c, 0x54, 0xb8, 0xd3, 0x6f,
};

// Signs the concatenation of the parts with the administrator's key.
inline std::vector<uint8_t> admin_signature(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> message;
    for (const auto& part : parts) message.insert(message.end(), part.begin(), part.end());
    std::vector<uint8_t> signature(64);
    if (sm2_sign(kAdminPrivateKey, kAdminPublicKey, message.data(),
                 static_cast<uint32_t>(message.size()), signature.data()) != 0)
        signature.assign(64, 0);
    return signature;
}
