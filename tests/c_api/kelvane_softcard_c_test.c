// The software-card build of Kelvane as a C host application uses it: its public header compiled
// as C, the library linked (through its import library on Windows), and the header's result codes
// from argument checks, the signed lengths among them, and a logout without a login; none of
// these reads the store file.
#include "c_check.h"
#include "kelvane_shared_checks.h"
#include "kelvane_softcard.h"

int main(void) {
    check_shared_exports();

    static const uint8_t kPin[] = "12345678";
    uint32_t tries = 99;
    C_CHECK(QeltVerifyPinCode(NULL, PIN_MIN_LENGTH, &tries) == SC_ARG);
    C_CHECK(QeltVerifyPinCode(kPin, -1, &tries) == SC_ARG);
    C_CHECK(QeltVerifyPinCode(kPin, PIN_MAX_LENGTH + 1, &tries) == SC_ARG);
    C_CHECK(tries == 99);

    uint8_t signature[CARD_SIGNATURE_SIZE];
    C_CHECK(QeltSm2SignIn(kPin, 0, signature) == SC_ARG);
    C_CHECK(QeltCardLoginOut() == SC_NOT_LOGGED_IN);
    return c_check_result();
}
