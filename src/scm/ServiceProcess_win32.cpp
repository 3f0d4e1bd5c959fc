#include "scm/ServiceProcess.h"

namespace pelorix {

// The service runs as the account it was installed for; its environment is the system's.
bool PrepareServiceProcess(char**, const std::string&) {
    return true;
}

} // namespace pelorix
