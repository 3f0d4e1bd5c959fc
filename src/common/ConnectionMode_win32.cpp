#include "common/ConnectionMode.h"

namespace pelorix {

// WinInet speaks plain FTP only, and no TLS or SSH library comes with this build.
bool OfferedOnThisSystem(ConnectionMode mode) {
    return mode == ConnectionMode::Plain;
}

} // namespace pelorix
