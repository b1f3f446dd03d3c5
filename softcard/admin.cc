// Challenge, unlock, PIN reset and zeroise, each on a challenge signed with the administrator's
// key. A failed check leaves the challenge pending.
#include <cstring>

#include "crypto/random.h"
#include "crypto/sm2.h"
#include "softcard/admin_key.h"
#include "softcard/exports.h"
#include "softcard/result.h"
#include "softcard/session.h"
#include "softcard/wipe.h"

namespace {

bool challenge_matches(const uint8_t* challenge) {
    const CardSession& session = card_session();
    return session.challengePending == 1 &&
           std::memcmp(challenge, session.pendingChallenge, CHALLENGE_SIZE) == 0;
}

bool admin_signed(const uint8_t* message, uint32_t length, const uint8_t* signature) {
    return sm2_verify(kAdminPublicKey, message, length, signature) == 0;
}

// challenge || extra, the message of unlock and zeroise.
bool challenge_and_extra_signed(const uint8_t* challenge, const uint8_t* extra,
                                const uint8_t* signature) {
    uint8_t message[CHALLENGE_SIZE + EXTRA_SIZE];
    std::memcpy(message, challenge, CHALLENGE_SIZE);
    std::memcpy(message + CHALLENGE_SIZE, extra, EXTRA_SIZE);
    return admin_signed(message, sizeof message, signature);
}

// The PIN's length up to its NUL within the 17-byte field, or -1 without a NUL.
int32_t pin_field_length(const uint8_t* newPin) {
    const void* nul = std::memchr(newPin, 0, PIN_FIELD_SIZE);
    return nul ? static_cast<int32_t>(static_cast<const uint8_t*>(nul) - newPin) : -1;
}

}  // namespace

KELVANE_EXPORT uint32_t QeltGetChallengeCode(uint8_t* challenge) try {
    if (!challenge) return SC_ARG;
    uint8_t drawn[CHALLENGE_SIZE];
    if (get_random(drawn, sizeof drawn) != 0) return SC_FAIL;
    std::memcpy(challenge, drawn, sizeof drawn);
    CardSession& session = card_session();
    std::memcpy(session.pendingChallenge, drawn, sizeof drawn);
    session.challengePending = 1;
    return SC_OK;
} catch (...) {
    return SC_FAIL;
}

KELVANE_EXPORT uint32_t QeltUnlockCard(const uint8_t* challenge, const uint8_t* extra,
                                       const uint8_t* signature) try {
    if (!challenge || !extra || !signature) return SC_ARG;
    StoreLock lock;  // the card is still locked when it is unlocked
    if (CheckCardState() != SC_LOCKED) return SC_FAIL;
    if (!challenge_matches(challenge)) return SC_FAIL;
    if (!challenge_and_extra_signed(challenge, extra, signature)) return SC_FAIL;
    const uint32_t result = ResetPinRetries();
    if (result != SC_OK) return result;
    clear_challenge(card_session());
    return SC_OK;
} catch (...) {
    return SC_FAIL;
}

KELVANE_EXPORT uint32_t QeltResetPin(const uint8_t* challenge, const uint8_t* extra,
                                     const uint8_t* newPin, const uint8_t* signature) try {
    if (!challenge || !extra || !newPin || !signature) return SC_ARG;
    const int32_t length = pin_field_length(newPin);
    if (length < PIN_MIN_LENGTH || length > PIN_MAX_LENGTH) return SC_ARG;
    if (!challenge_matches(challenge)) return SC_FAIL;
    uint8_t message[CHALLENGE_SIZE + PIN_FIELD_SIZE + EXTRA_SIZE];
    WipeOnExit wipe_message(message);
    std::memcpy(message, challenge, CHALLENGE_SIZE);
    std::memcpy(message + CHALLENGE_SIZE, newPin, PIN_FIELD_SIZE);
    std::memcpy(message + CHALLENGE_SIZE + PIN_FIELD_SIZE, extra, EXTRA_SIZE);
    if (!admin_signed(message, sizeof message, signature)) return SC_FAIL;

    LockedCardRecord locked;
    if (locked.result() != SC_OK) return locked.result();
    CardRecord& record = locked.record();
    record.pin_length = length;
    std::memset(record.pin, 0, sizeof record.pin);
    std::memcpy(record.pin, newPin, static_cast<size_t>(length));
    // The new PIN and the reset tries go into one write, so they take effect together.
    record.retries_left = PIN_TRIES;
    const uint32_t result = write_card_record(record);
    if (result != SC_OK) return result;
    CardSession& session = card_session();
    session.loggedIn = 0;
    clear_challenge(session);
    return SC_OK;
} catch (...) {
    return SC_FAIL;
}

KELVANE_EXPORT uint32_t QeltZeroSetCard(const uint8_t* challenge, const uint8_t* extra,
                                        const uint8_t* signature) try {
    if (!challenge || !extra || !signature) return SC_ARG;
    CardSession& session = card_session();
    if (!session.loggedIn) return SC_NOT_LOGGED_IN;
    if (!challenge_matches(challenge)) return SC_FAIL;
    if (!challenge_and_extra_signed(challenge, extra, signature)) return SC_FAIL;
    const uint32_t result = init_cfg();
    if (result != SC_OK) return result;
    clear_challenge(session);
    end_login(session);
    return SC_OK;
} catch (...) {
    return SC_FAIL;
}
