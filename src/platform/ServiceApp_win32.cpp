#include "platform/ServiceApp.h"

namespace pelorix {

// STUB
int RunServiceApp(int, char**, IServiceHandlers&) {
    return 1;
}

} // namespace pelorix
