// What the simulated kernel does not provide fails loudly: the process stops with the routine's
// name, so a test can never pass on a silent no-op.
#pragma once

namespace ntoskrnl {

[[noreturn]] void not_implemented(const char* what);

// A fault that Windows answers with a bug check (a second completion of one IRP, a wait at
// DISPATCH_LEVEL, ...): the process stops with the check's name and the detail.
[[noreturn]] void bug_check(const char* check, const char* detail);

}  // namespace ntoskrnl
