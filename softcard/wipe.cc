#include "softcard/wipe.h"

#include <cstring>

void secure_wipe(void* data, size_t size) {
    std::memset(data, 0, size);
    // The asm keeps the stores: the compiler must assume the memory is read.
    asm volatile("" : : "r"(data) : "memory");
}
