// PelorixSvc: the publisher service. Creates the one service module and hands control to the
// service framework until the service has stopped.

#include "common/Config.h"
#include "platform/Clock.h"
#include "platform/HostAddresses.h"
#include "scm/ServiceApp.h"
#include "scm/ServiceProcess.h"
#include "svc/Pelorix_Main.h"
#include "svc/ServiceHelpers.h"

#include <cstdlib>

namespace {

// INSTALL and UNINSTALL only record the service in the database, as the administrator who
// calls them; nothing else reads the settings.
bool RecordsTheServiceOnly(int argc, char** argv) {
    const auto switches = pelorix::ReadServiceSwitches(argc, argv);
    return switches && (switches->install || switches->uninstall);
}

} // namespace

int main(int argc, char** argv) {
    using namespace pelorix;
    if (!RecordsTheServiceOnly(argc, argv) && !PrepareServiceProcess(argv, IniPath(ProgramDir())))
        return 1;
    if (const auto helper_exit = RunHelperIfAsked(argc, argv, ServiceHelperVerbs()))
        return *helper_exit;
    TPelorixService service(ProgramDir(), SystemClock::Instance(), SystemHostAddresses::Instance());
    const int code = RunServiceApp(argc, argv, service);
    // The worker ends at its next look at the termination request; a stage under way is
    // given a few seconds, then the process ends without it.
    if (!service.WaitForWorkerEnd(TPelorixService::kStopGraceMs))
        std::_Exit(code);
    return code;
}
