// Visibility of Kelvane's exports. Which names a build really exports is decided by its export
// table (version script on ELF, .def on PE).
#pragma once

#if defined(_WIN32)
#define KELVANE_EXPORT extern "C"
#else
#define KELVANE_EXPORT extern "C" __attribute__((visibility("default")))
#endif
