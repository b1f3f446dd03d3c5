// The host program behind the README's main job: runs the built-in checks of the system.
#include "crypto/selftest.h"

int main() {
    crypto_selftest();
    return 0;
}
