// Test controls of the network adapters behind the NetworkCards registry key and the
// "\\.\<service>" adapter devices.
#pragma once

#include <vector>

#include "platform/net/network_cards.h"

namespace sim {

using Adapter = platform::Adapter;

// Replaces the machine's interfaces with this list (an empty list: no network cards).
void network_set_adapters(const std::vector<Adapter>& adapters);
// Back to the machine's real interfaces.
void network_use_real_adapters();

}  // namespace sim
