#include "platform/HostAddresses.h"

namespace pelorix {

SystemHostAddresses& SystemHostAddresses::Instance() {
    static SystemHostAddresses instance;
    return instance;
}

} // namespace pelorix
