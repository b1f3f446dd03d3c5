// The software-card build's exports of Kelvane beyond those both builds share
// (card/shared_exports.h), and their result codes: declared in the public header
// include/kelvane_softcard.h.
#pragma once

#include "card/shared_exports.h"
#include "include/kelvane_softcard.h"
#include "softcard/store.h"
