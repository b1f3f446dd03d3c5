// What the card would remember only while powered: one set per process, zero at load, never
// stored. One thread at a time is expected to use the software card.
#pragma once

#include <cstdint>

#include "card/shared_exports.h"

struct CardSession {
    int loggedIn;
    int bound;
    uint32_t curBindIndex;  // 1-based bind slot holding this PC's MAC address; 0 when not bound
    int challengePending;
    uint8_t pendingChallenge[CHALLENGE_SIZE];
};

CardSession& card_session();

// Logged out and unbound; a pending challenge stays.
void end_login(CardSession& session);
// No challenge pending any more.
void clear_challenge(CardSession& session);
