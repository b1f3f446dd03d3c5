// SDDL, the text form of security descriptors: the owner ("O:"), group ("G:") and DACL ("D:")
// components, with the SID aliases, rights and ACE flags the platform's callers use.
#pragma once

#include <string>

#include "platform/ntoskrnl/rtl/security_descriptor.h"

namespace platform::security {

using namespace ntoskrnl::security;

// Fills *d from text; false when text is not SDDL or uses a component not provided (a SACL).
bool parse_sddl(const std::string& text, Descriptor* d);

}  // namespace platform::security
