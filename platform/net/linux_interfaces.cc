// Interfaces from if_nameindex and sysfs; the permanent address through SIOCETHTOOL.
#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "platform/net/interfaces.h"

namespace platform::net {
namespace {

constexpr int kArpLoopback = 772;           // ARPHRD_LOOPBACK
constexpr uint32_t kMaxAddressLength = 32;  // the kernel's MAX_ADDR_LEN

std::string read_sysfs(const std::string& name, const char* attribute) {
    std::ifstream in("/sys/class/net/" + name + "/" + attribute);
    std::string text;
    std::getline(in, text);
    return text;
}

bool parse_address(const std::string& text, HardwareAddress* out) {
    unsigned b[6];
    if (std::sscanf(text.c_str(), "%x:%x:%x:%x:%x:%x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]) !=
        6)
        return false;
    for (int i = 0; i < 6; ++i) (*out)[i] = static_cast<uint8_t>(b[i]);
    return true;
}

}  // namespace

std::vector<Interface> list_interfaces() {
    std::vector<Interface> found;
    struct if_nameindex* names = if_nameindex();
    if (!names) return found;
    std::vector<std::pair<unsigned, std::string>> ordered;
    for (auto* n = names; n->if_index != 0 && n->if_name; ++n)
        ordered.emplace_back(n->if_index, n->if_name);
    if_freenameindex(names);
    std::sort(ordered.begin(), ordered.end());
    for (auto& [index, name] : ordered) {
        if (read_sysfs(name, "type") == std::to_string(kArpLoopback)) continue;
        if (read_sysfs(name, "addr_len") != "6") continue;
        Interface interface {
            name, {}
        };
        if (!parse_address(read_sysfs(name, "address"), &interface.current)) continue;
        found.push_back(interface);
    }
    return found;
}

bool permanent_address(const std::string& name, HardwareAddress* out) {
    if (name.empty() || name.size() >= IFNAMSIZ) return false;
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    // The request header followed by room for the longest address.
    alignas(ethtool_perm_addr) uint8_t buffer[sizeof(ethtool_perm_addr) + kMaxAddressLength] = {};
    auto* request = reinterpret_cast<ethtool_perm_addr*>(buffer);
    request->cmd = ETHTOOL_GPERMADDR;
    request->size = kMaxAddressLength;
    ifreq ifr{};
    std::memcpy(ifr.ifr_name, name.c_str(), name.size());
    ifr.ifr_data = reinterpret_cast<char*>(buffer);
    const bool answered = ioctl(fd, SIOCETHTOOL, &ifr) == 0;
    close(fd);
    if (!answered || request->size != 6) return false;
    HardwareAddress address;
    std::memcpy(address.data(), buffer + sizeof(ethtool_perm_addr), 6);
    if (std::all_of(address.begin(), address.end(), [](uint8_t b) { return b == 0; })) return false;
    *out = address;
    return true;
}

}  // namespace platform::net
