// Random bytes from the operating system's cryptographic provider: get_random, one of Pemra's
// exports, declared with them (include/pemra.h).
#pragma once

#include "include/pemra.h"
