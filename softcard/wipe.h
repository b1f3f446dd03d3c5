// Wipes an object with the crypto library's secure_wipe when the scope ends.
#pragma once

#include "crypto/secure_wipe.h"

using crypto_internal::WipeOnExit;
