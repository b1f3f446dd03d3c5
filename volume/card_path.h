// The card's device path for card mode: the card's USB device interface path without its "\\?\"
// prefix, which the mount step hands to Orvik behind "\GLOBAL??\".
#pragma once

#include <cstdint>

inline constexpr uint32_t kCardDevicePathSize = 256;

struct CardDevicePath {
    char text[kCardDevicePathSize] = {};
};

// A copy of the process's one card device path, as the last QeltInit that looked for the card left
// it: empty where the build does not look (and at load) and after a look that found no card. The
// path is replaced whole under a lock, so a thread copying it while another looks gets the path
// before or after that look, never part of one.
CardDevicePath CurrentCardDevicePath();

// 0 when the card device path is ready (or this build does not look for the card), 1 when no card
// was found. Looks afresh on every call.
int QeltInit();

// The path of the first device interface of the card's class, tested by opening it, without its
// 4-character prefix, NUL-terminated in buffer. False when there is none, it does not open, or it
// does not fit capacity (255 characters in 256).
bool FindCardDevicePath(char* buffer, uint32_t capacity);
