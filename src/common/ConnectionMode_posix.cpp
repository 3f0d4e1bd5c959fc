#include "common/ConnectionMode.h"

namespace pelorix {

// libcurl brings TLS and SSH with it.
bool OfferedOnThisSystem(ConnectionMode) {
    return true;
}

} // namespace pelorix
