// PelorixSvc: the publisher service. Creates the one service module and hands control to the
// service framework until the service has stopped.

#include "common/Config.h"
#include "platform/Clock.h"
#include "platform/HostAddresses.h"
#include "scm/ServiceApp.h"
#include "svc/Pelorix_Main.h"
#include "svc/ServiceHelpers.h"

#include <cstdlib>

int main(int argc, char** argv) {
    using namespace pelorix;
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
