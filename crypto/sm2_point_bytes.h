// Conversion between the 64-byte big-endian point encoding (x then y) and the limb form.
#pragma once

#include <cstdint>

#include "crypto/bn256.h"

namespace crypto_internal {

inline void point_from_bytes(ec_point* point, const uint8_t* bytes) {
    bn_from_bytes(point->x, bytes);
    bn_from_bytes(point->y, bytes + 32);
}

inline void point_to_bytes(uint8_t* bytes, const ec_point* point) {
    bn_from_bytes(bytes, point->x);
    bn_from_bytes(bytes + 32, point->y);
}

}  // namespace crypto_internal
