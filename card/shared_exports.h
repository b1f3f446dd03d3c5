// The exports that both builds of Kelvane have with the same arguments, and the buffer sizes they
// share: declared in the public header include/kelvane_shared.h. Each build's own header says what
// the results mean and declares the rest: the device build card/card_api.h, the software-card
// build softcard/exports.h (whose PIN and key pair exports take signed lengths).
#pragma once

#include "card/commands/mac.h"
#include "card/export.h"
#include "include/kelvane_shared.h"
#include "include/pemra.h"

static_assert(CARD_INFO_SERIAL_LENGTH + 4 == CARD_INFO_SIZE);
static_assert(CARD_PUBLIC_KEY_SIZE == SM2_PUBLIC_KEY_SIZE);
static_assert(CARD_SIGNATURE_SIZE == SM2_SIGNATURE_SIZE);
static_assert(IMPORT_KEY_SIZE == VOLUME_KEY_SIZE + SM2_CIPHERTEXT_OVERHEAD);
