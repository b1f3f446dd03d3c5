// Result codes of the software card's exports (SC_...): in the public header.
#pragma once

#include "include/kelvane_softcard.h"
