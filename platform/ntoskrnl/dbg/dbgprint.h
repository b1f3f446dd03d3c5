// The debugger's output (DbgPrint), as the test controls read it.
#pragma once

#include <string>
#include <vector>

namespace ntoskrnl {

// Every DbgPrint since the last clear, one entry per call, as formatted.
std::vector<std::string> debug_output();
void clear_debug_output();

}  // namespace ntoskrnl
