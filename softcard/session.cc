#include "softcard/session.h"

#include "crypto/secure_wipe.h"

CardSession& card_session() {
    static CardSession session{};
    return session;
}

void end_login(CardSession& session) {
    session.loggedIn = 0;
    session.bound = 0;
    session.curBindIndex = 0;
}

void clear_challenge(CardSession& session) {
    session.challengePending = 0;
    crypto_internal::secure_wipe(session.pendingChallenge, sizeof session.pendingChallenge);
}
