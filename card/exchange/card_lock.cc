#include "card/exchange/card_lock.h"

namespace {

// Static initialisation constructs it at load; the C runtime's exit list destroys it with the
// library.
std::mutex lock;

}  // namespace

std::mutex& card_lock() {
    return lock;
}
