#include "scm/ServiceApp.h"

#include "platform/SystemNotify.h"
#include "scm/ServiceAppControl.h"
#include "scm/ServiceChannel.h"

#include <pthread.h>
#include <unistd.h>

#include <cctype>
#include <csignal>
#include <string>

namespace pelorix {

namespace {

void WriteError(const std::string& text) {
    const ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
    (void)written;
}

void PrintUsage(const char* program) {
    std::string name = program ? program : "PelorixSvc";
    const std::size_t slash = name.rfind('/');
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    WriteError("Aufruf: " + name +
               " -foreground\n"
               "  läuft als Dienst im Vordergrund: SIGTERM, SIGINT oder SIGHUP beendet ihn,\n"
               "  SIGUSR1 hält ihn an, SIGUSR2 setzt ihn fort.\n"
               "oder als Dienst einrichten und starten (mit Administrator-Rechten):\n  " +
               name + " /INSTALL [/SILENT]   danach: pelorix-sc start PelorixService\n  " + name +
               " /UNINSTALL [/SILENT] entfernt den Dienst wieder\n");
}

// Tells systemd, when it started the service, the state the service is in now; a stop is
// announced before its handler runs, so that systemd waits for the process instead of
// calling the end unexpected.
void TellServiceManager(ServiceState state, bool stopping = false) {
    if (!SystemNotifyWanted())
        return;
    if (stopping) {
        NotifySystem("STOPPING=1\nSTATUS=" + std::string(kUnitStatusStopping));
        return;
    }
    const std::string_view status = state == ServiceState::Paused ? kUnitStatusPaused : kUnitStatusRunning;
    NotifySystem("READY=1\nSTATUS=" + std::string(status));
}

// The calling thread is the control thread: the signals are blocked before the start handler
// creates any thread (which inherits the mask) and taken here with sigwait, so no handler
// ever runs inside a signal handler.
int RunForeground(IServiceHandlers& handlers) {
    sigset_t set = ServiceSignals();
    // A closed terminal or a lost ssh session ends the run as an orderly stop.
    sigaddset(&set, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // A monitor that closes early must not end the process.
    std::signal(SIGPIPE, SIG_IGN);

    handlers.ConsoleAttached();
    ServiceDispatcher dispatcher(handlers);
    if (!dispatcher.Control(ServiceControl::Start))
        return 1;
    TellServiceManager(dispatcher.State());
    for (;;) {
        int signo = 0;
        if (sigwait(&set, &signo) != 0)
            continue;
        switch (signo) {
        case SIGTERM:
        case SIGINT:
        case SIGHUP:
            TellServiceManager(dispatcher.State(), true);
            dispatcher.Control(ServiceControl::Stop);
            return 0;
        case SIGUSR1:
            dispatcher.Control(ServiceControl::Pause);
            TellServiceManager(dispatcher.State());
            break;
        case SIGUSR2:
            dispatcher.Control(ServiceControl::Continue);
            TellServiceManager(dispatcher.State());
            break;
        default:
            break;
        }
    }
}

} // namespace

int RunServiceApp(int argc, char** argv, IServiceHandlers& handlers) {
    // The control layer starts the program without arguments and names the service.
    const std::string controlled = ServiceChannel::StartedServiceName();
    if (argc <= 1 && !controlled.empty())
        return RunControlledService(controlled, handlers);
    const std::optional<ServiceSwitches> switches = ReadServiceSwitches(argc, argv);
    if (!switches) {
        PrintUsage(argc > 0 ? argv[0] : nullptr);
        return 2;
    }
    const auto [foreground, install, uninstall, silent] = *switches;
    if ((install || uninstall) && !(install && uninstall) && !foreground)
        return install ? InstallService({}, silent) : UninstallService({}, silent);
    if (!foreground || install || uninstall || silent) {
        PrintUsage(argc > 0 ? argv[0] : nullptr);
        return 2;
    }
    return RunForeground(handlers);
}

} // namespace pelorix
