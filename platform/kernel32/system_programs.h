// The system's programs that CreateProcessA can start: models of Windows' own programs that the
// simulation provides (platform/programs/format_program.cc). Each runs as a process of its own
// on a thread of this process, since it works on this machine's devices.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

namespace platform {

// A program's main: its arguments (the command line's words after the program's name); the
// process's exit code.
using ProgramMain = DWORD (*)(const std::vector<std::string>& arguments);

// Makes name ("FORMAT.com") a program of the machine.
void register_system_program(const std::string& name, ProgramMain main);

// The program that name ("FORMAT.com", without a folder; names compare without case) starts, or
// null when the machine has no such program.
ProgramMain find_system_program(const std::string& name);

}  // namespace platform
