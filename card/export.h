// Marks the definition of an export in the libraries' own code. Each export is declared once, in
// the public headers (include/); C linkage here makes a definition whose arguments differ from
// that declaration a compile error rather than a new overload. Which names a build really exports
// is decided by its export table (version script on ELF, .def on PE).
#pragma once

#define KELVANE_EXPORT extern "C"
