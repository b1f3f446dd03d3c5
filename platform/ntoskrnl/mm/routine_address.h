// MmGetSystemRoutineAddress's table of the kernel's exports, and the routines the test controls
// hide from it.
#pragma once

#include <string>
#include <vector>

namespace ntoskrnl {

// From now on MmGetSystemRoutineAddress finds none of names, as on a kernel that does not export
// them; an empty list exports everything again.
void hide_system_routines(const std::vector<std::string>& names);

}  // namespace ntoskrnl
