// Interfaces from sysfs; the permanent address through SIOCETHTOOL.
#include "platform/unix/net_interfaces.h"

#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace platform::net {
namespace {

constexpr char kNetClass[] = "/sys/class/net/";
constexpr uint32_t kMaxAddressLength = 32;  // the kernel's MAX_ADDR_LEN

std::string read_sysfs(const std::string& name, const char* attribute) {
    std::ifstream in(kNetClass + name + "/" + attribute);
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
    // (device path, name): the device's place in the machine's device tree orders the list.
    std::vector<std::pair<std::string, std::string>> hardware;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(kNetClass, error)) {
        const std::string name = entry.path().filename().string();
        const auto device = std::filesystem::canonical(entry.path() / "device", error);
        if (error) continue;  // a virtual interface: no device behind it
        hardware.emplace_back(device.string(), name);
    }
    std::sort(hardware.begin(), hardware.end());
    std::vector<Interface> found;
    for (const auto& [device, name] : hardware) {
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
