// The Linux backend of the network adapters: the machine's interfaces and their addresses.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace platform::net {

using HardwareAddress = std::array<uint8_t, 6>;

struct Interface {
    std::string name;         // "eth0"
    HardwareAddress current;  // the address in use now
};

// The interfaces that Windows would list as network cards: those backed by a hardware device
// (virtual ones such as bridges, tunnels, ifb or veth devices have no device, and some of them
// draw a new address at every boot) with a 6-byte hardware address, ordered by where their
// device sits on its bus, which stays the same from boot to boot.
std::vector<Interface> list_interfaces();

// The address the interface's driver reports as permanent (ethtool's permanent-address query);
// false when the driver has none (no answer, or all zero).
bool permanent_address(const std::string& name, HardwareAddress* out);

}  // namespace platform::net
