// Symbol visibility for the functions that a deliverable may export. Which of them a library
// really exports is decided by its own export table (version script on ELF, .def on PE).
#pragma once

#if defined(_WIN32)
#define CRYPTO_EXPORT
#else
#define CRYPTO_EXPORT __attribute__((visibility("default")))
#endif
