#include "platform/testing/network_controls.h"

namespace sim {

void network_set_adapters(const std::vector<Adapter>& adapters) {
    platform::network_set_adapters(adapters);
}

void network_use_real_adapters() {
    platform::network_use_real_adapters();
}

}  // namespace sim
