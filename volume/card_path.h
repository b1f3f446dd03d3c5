// The card's device path for card mode: the card's USB device interface path without its "\\?\"
// prefix, which the mount step hands to Orvik behind "\GLOBAL??\".
#pragma once

#include <cstdint>

inline constexpr uint32_t kCardDevicePathSize = 256;

// One buffer for the process, cleared and refilled by every QeltInit that looks for the card, and
// read by the mount step of the same export call. Empty where the build does not look (and at
// load). No lock: two threads running volume exports at once share it.
extern char g_cardDevicePath[kCardDevicePathSize];

// 0 when the card device path is ready (or this build does not look for the card), 1 when no card
// was found. Looks afresh on every call.
int QeltInit();

// The path of the first device interface of the card's class, tested by opening it, without its
// 4-character prefix, NUL-terminated in buffer. False when there is none, it does not open, or it
// does not fit capacity (255 characters in 256).
bool FindCardDevicePath(char* buffer, uint32_t capacity);
