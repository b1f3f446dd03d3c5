// Result codes of the device build's exports (CARD_...): in the public header. Any other value is
// the card's status word, passed through unchanged.
#pragma once

#include "include/kelvane_device.h"
