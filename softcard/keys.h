// The card's two SM2 key pairs, derived afresh from the store file's seed whenever needed.
#pragma once

#include <cstdint>

struct DerivedKeyPairs {
    uint8_t sign_private[32];
    uint8_t sign_public[64];
    uint8_t enc_private[32];
    uint8_t enc_public[64];
};
static_assert(sizeof(DerivedKeyPairs) == 192);

// 0; 3 for a null output; or a store error. The same seed always gives the same pairs.
uint32_t get_dkp(DerivedKeyPairs* pairs);
