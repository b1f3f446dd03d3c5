// The network adapters as Windows shows them: one NetworkCards subkey per adapter, with its
// "ServiceName", and the adapter's device "\\.\<service>" answering the NDIS permanent-address
// query. The adapters are the machine's interfaces unless a test replaced the list.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>
#include <optional>

#include "platform/advapi32/registry.h"
#include "platform/core/object.h"
#include "platform/core/trace.h"
#include "platform/net/interfaces.h"
#include "platform/sim/network.h"

namespace platform {
namespace {

constexpr char kNetworkCardsKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards";
constexpr DWORD kAddressSize = 6;

struct Replacement {
    std::mutex lock;
    std::optional<std::vector<sim::Adapter>> adapters;
};

Replacement& replacement() {
    static Replacement* instance = new Replacement;
    return *instance;
}

std::optional<std::vector<sim::Adapter>> replaced_adapters() {
    auto& r = replacement();
    std::lock_guard guard(r.lock);
    return r.adapters;
}

// The adapters now: the test's list, or one per machine interface.
std::vector<sim::Adapter> current_adapters() {
    if (auto adapters = replaced_adapters()) return *adapters;
    std::vector<sim::Adapter> adapters;
    for (auto& interface : net::list_interfaces())
        adapters.push_back({interface.name, true, true, interface.current});
    return adapters;
}

std::optional<RegistryKeyData> network_cards(const std::vector<std::string>& below) {
    auto adapters = current_adapters();
    if (below.empty()) {
        RegistryKeyData data;
        for (size_t i = 0; i < adapters.size(); ++i) data.subkeys.push_back(std::to_string(i + 1));
        return data;
    }
    if (below.size() != 1) return std::nullopt;
    for (size_t i = 0; i < adapters.size(); ++i) {
        if (below[0] == std::to_string(i + 1))
            return RegistryKeyData{{}, {registry_string("ServiceName", adapters[i].service)}};
    }
    return std::nullopt;
}

class AdapterDevice : public IoTarget {
  public:
    explicit AdapterDevice(std::string service) : service_(std::move(service)) {}

    BOOL device_io_control(DWORD code, LPVOID in, DWORD in_size, LPVOID out, DWORD out_size,
                           LPDWORD returned, LPOVERLAPPED overlapped) override {
        (void)overlapped;
        if (code != IOCTL_NDIS_QUERY_GLOBAL_STATS) {
            SetLastError(ERROR_INVALID_FUNCTION);
            return FALSE;
        }
        uint32_t oid = 0;
        if (!in || in_size < sizeof oid) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        std::memcpy(&oid, in, sizeof oid);
        if (oid != OID_802_3_PERMANENT_ADDRESS) {
            SetLastError(ERROR_NOT_SUPPORTED);
            return FALSE;
        }
        if (!out || out_size < kAddressSize) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        auto address = permanent_address();
        if (!address) {
            SetLastError(ERROR_NOT_SUPPORTED);
            return FALSE;
        }
        std::memcpy(out, address->data(), kAddressSize);
        if (returned) *returned = kAddressSize;
        return TRUE;
    }

  private:
    std::optional<net::HardwareAddress> permanent_address() const {
        if (auto adapters = replaced_adapters()) {
            for (auto& adapter : *adapters)
                if (adapter.service == service_ && adapter.answers) return adapter.permanent;
            return std::nullopt;
        }
        net::HardwareAddress address;
        if (net::permanent_address(service_, &address)) return address;
        // Drivers without a factory address: the address in use stands in for it.
        for (auto& interface : net::list_interfaces())
            if (interface.name == service_) return interface.current;
        return std::nullopt;
    }

    const std::string service_;
};

bool same_name(const std::string& a, const char* b) {
    return a.size() == std::strlen(b) && std::equal(a.begin(), a.end(), b, [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::shared_ptr<IoTarget> open_adapter(const OpenRequest& request, bool* claimed) {
    (void)claimed;
    if (request.name.compare(0, 4, "\\\\.\\") != 0) return nullptr;
    const char* wanted = request.name.c_str() + 4;
    for (auto& adapter : current_adapters()) {
        if (!same_name(adapter.service, wanted)) continue;
        if (!adapter.has_device) return nullptr;
        TRACE("net", "open adapter \"%s\"", adapter.service.c_str());
        return std::make_shared<AdapterDevice>(adapter.service);
    }
    return nullptr;
}

const bool registered = [] {
    register_registry_view(kNetworkCardsKey, network_cards);
    register_device_provider("network-adapters", open_adapter);
    return true;
}();

}  // namespace
}  // namespace platform

namespace sim {

void network_set_adapters(const std::vector<Adapter>& adapters) {
    auto& r = platform::replacement();
    std::lock_guard guard(r.lock);
    r.adapters = adapters;
}

void network_use_real_adapters() {
    auto& r = platform::replacement();
    std::lock_guard guard(r.lock);
    r.adapters.reset();
}

}  // namespace sim
