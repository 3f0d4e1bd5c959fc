#include "platform/HostAddresses.h"

namespace pelorix {

// STUB
std::vector<std::string> SystemHostAddresses::HostAddresses() const {
    return {"127.0.0.1"};
}
SystemHostAddresses& SystemHostAddresses::Instance() {
    static SystemHostAddresses addresses;
    return addresses;
}

} // namespace pelorix
