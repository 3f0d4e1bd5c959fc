#include "mgrcore/ServiceApi.h"

namespace pelorix::servicepage {

bool RegisterService(SC_HANDLE manager, const std::string& programDir, std::string& program) {
    program = programDir + "PelorixSvc";
    ScHandle service(CreateServiceA(manager, "PelorixService", "Pelorix-Publisher", SERVICE_ALL_ACCESS,
                                    SERVICE_WIN32_SHARE_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                    program.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    return static_cast<bool>(service);
}

} // namespace pelorix::servicepage
