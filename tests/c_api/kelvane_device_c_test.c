// The device build of Kelvane as a C host application uses it: its public header compiled as C,
// the library linked (through its import library on Windows), and with no card attached the
// header's result codes from argument checks, the card count and a card command.
#include "c_check.h"
#include "kelvane_device.h"
#include "kelvane_shared_checks.h"

int main(void) {
    check_shared_exports();

    uint32_t count = 7;
    C_CHECK(QeltGetCardCnt(NULL) == CARD_INVALID_ARG);
    C_CHECK(QeltGetCardCnt(&count) == CARD_OK);
    C_CHECK(count == 0);

    static const uint8_t kPin[] = "12345678";
    uint32_t tries = 99;
    C_CHECK(QeltVerifyPinCode(NULL, PIN_MIN_LENGTH, &tries) == CARD_INVALID_ARG);
    C_CHECK(QeltVerifyPinCode(kPin, PIN_MAX_LENGTH + 1, &tries) == CARD_INVALID_ARG);
    C_CHECK(tries == 99);

    uint8_t info[CARD_INFO_SIZE];
    C_CHECK(QeltQueryCardInfo(info) == CARD_LINK_FAILED);
    C_CHECK(QeltActiveDevEx() == CARD_LINK_FAILED);
    return c_check_result();
}
