// The network adapters: one NetworkCards subkey per adapter and the adapter devices
// "\\.\<service>", from the machine's interfaces or from a list the test controls give
// (platform/testing/network_controls.h).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct Adapter {
    std::string service;                 // ServiceName value; the device is "\\.\" + service
    bool has_device = true;              // false: the device cannot be opened
    bool answers = true;                 // false: the permanent-address query is refused
    std::array<uint8_t, 6> permanent{};  // reported by the query
};

// Replaces the machine's interfaces with this list (an empty list: no network cards).
void network_set_adapters(const std::vector<Adapter>& adapters);
// Back to the machine's real interfaces.
void network_use_real_adapters();

}  // namespace platform
