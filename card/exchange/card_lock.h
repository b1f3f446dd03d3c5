// The card lock: one process-wide plain mutex, constructed when the library is loaded. Every
// exchange with the card holds it from before its request is allocated until its link is closed.
// It is not recursive: nothing that holds it calls a card function.
#pragma once

#include <mutex>

std::mutex& card_lock();
