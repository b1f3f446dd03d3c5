#include <cstring>

#include "softcard/envelope_format.h"
#include "softcard/result.h"
#include "softcard/session.h"
#include "softcard/store.h"

bool envelope_path_ok(const char* path) {
    if (!path) return false;
    const size_t length = strnlen(path, MAX_PATH_LENGTH + 1);
    return length >= 1 && length <= MAX_PATH_LENGTH;
}

uint32_t check_card_login_and_binding() {
    const uint32_t state = CheckCardState();
    if (state != SC_OK) return state;
    const CardSession& session = card_session();
    if (!session.loggedIn) return SC_NOT_LOGGED_IN;
    return session.bound ? SC_OK : SC_NOT_BOUND;
}
