#include "scm/ServiceAppControl.h"

#include "scm/ServiceChannel.h"
#include "scm/ServiceControl.h"

#include <poll.h>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace pelorix {

namespace {

namespace sc = scm;

// The messages are Latin-1; terminals take UTF-8. (The common library's converter cannot be
// used here: it builds on this library.)
std::string ToTerminal(const std::string& latin1) {
    std::string out;
    for (const char c : latin1) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (u >> 6));
            out += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    return out;
}

int Report(bool ok, const std::string& what, sc::DWORD error, bool silent) {
    if (ok) {
        std::printf("%s\n", ToTerminal(what).c_str());
        return 0;
    }
    std::string text = what;
    if (!silent)
        text += "\n" + sc::ErrorText(error) + " (Fehler " + std::to_string(error) + ")";
    std::fprintf(stderr, "%s\n", ToTerminal(text).c_str());
    return 1;
}

std::string OwnPath() {
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

// Runs one request; true when the service has ended with it.
bool Handle(ServiceChannel& channel, ServiceDispatcher& dispatcher, ServiceRequest& request) {
    sc::DWORD error = sc::ERROR_SUCCESS;
    const ServiceState before = dispatcher.State();
    auto change = [&](sc::DWORD pending, ServiceControl control, sc::DWORD after, sc::DWORD otherwise) {
        channel.ReportStatus(pending);
        const bool ok = dispatcher.Control(control);
        channel.ReportStatus(ok ? after : otherwise);
        if (!ok)
            error = sc::ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    };
    const sc::DWORD current = before == ServiceState::Paused ? sc::SERVICE_PAUSED : sc::SERVICE_RUNNING;
    switch (request.Control()) {
    case sc::SERVICE_CONTROL_STOP:
        change(sc::SERVICE_STOP_PENDING, ServiceControl::Stop, sc::SERVICE_STOPPED, current);
        break;
    case sc::SERVICE_CONTROL_PAUSE:
        if (before == ServiceState::Running)
            change(sc::SERVICE_PAUSE_PENDING, ServiceControl::Pause, sc::SERVICE_PAUSED, current);
        break;
    case sc::SERVICE_CONTROL_CONTINUE:
        if (before == ServiceState::Paused)
            change(sc::SERVICE_CONTINUE_PENDING, ServiceControl::Continue, sc::SERVICE_RUNNING, current);
        break;
    case sc::SERVICE_CONTROL_INTERROGATE:
        break;
    case sc::SERVICE_CONTROL_SHUTDOWN:
        channel.ReportStatus(sc::SERVICE_STOPPED);
        channel.Answer(request, sc::ERROR_SUCCESS);
        std::_Exit(0); // as at system shutdown: no handler, the worker ends with the process
    default:
        error = sc::ERROR_INVALID_SERVICE_CONTROL;
    }
    channel.Answer(request, error);
    return channel.State() == sc::SERVICE_STOPPED;
}

} // namespace

sigset_t ServiceSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGUSR1);
    sigaddset(&set, SIGUSR2);
    return set;
}

int RunControlledService(const std::string& serviceName, IServiceHandlers& handlers) {
    // Blocked before the start handler creates any thread (which inherits the mask) and taken by
    // the control thread through a signalfd.
    const sigset_t signals = ServiceSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // Started by the control layer the service has no terminal whose hang-up could mean anything.
    std::signal(SIGHUP, SIG_IGN);
    const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);

    ServiceChannel channel;
    if (signalFd < 0 || !channel.Open(serviceName))
        return 1;
    ServiceDispatcher dispatcher(handlers);
    if (!dispatcher.Control(ServiceControl::Start)) {
        channel.ReportStatus(sc::SERVICE_STOPPED, 1);
        return 1;
    }
    channel.ReportStatus(sc::SERVICE_RUNNING);
    for (;;) {
        pollfd events[2] = {{channel.Fd(), POLLIN, 0}, {signalFd, POLLIN, 0}};
        if (poll(events, 2, -1) < 0 && errno != EINTR)
            return 1;
        if (events[1].revents & POLLIN) {
            signalfd_siginfo info{};
            if (read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info) &&
                (info.ssi_signo == SIGTERM || info.ssi_signo == SIGINT)) {
                channel.ReportStatus(sc::SERVICE_STOPPED);
                std::_Exit(0);
            }
        }
        if (events[0].revents & POLLIN) {
            auto request = channel.NextRequest(0);
            if (request && Handle(channel, dispatcher, *request))
                return 0;
        }
    }
}

int InstallService(const ServiceIdentity& identity, bool silent) {
    const std::string what = "Dienst \"" + identity.displayName + "\"";
    const std::string path = OwnPath();
    sc::ScHandle manager(sc::OpenSCManagerA(nullptr, nullptr, sc::SC_MANAGER_ALL_ACCESS));
    sc::ScHandle service;
    if (manager)
        service = sc::ScHandle(sc::CreateServiceA(
            manager.Get(), identity.name.c_str(), identity.displayName.c_str(), sc::SERVICE_ALL_ACCESS,
            sc::SERVICE_WIN32_SHARE_PROCESS, sc::SERVICE_AUTO_START, sc::SERVICE_ERROR_NORMAL, path.c_str()));
    if (service)
        return Report(true, what + " wurde installiert (" + path + ").", 0, silent);
    return Report(false, what + " konnte nicht installiert werden.", sc::GetLastError(), silent);
}

int UninstallService(const ServiceIdentity& identity, bool silent) {
    const std::string what = "Dienst \"" + identity.displayName + "\"";
    sc::ScHandle manager(sc::OpenSCManagerA(nullptr, nullptr, sc::SC_MANAGER_CONNECT));
    sc::ScHandle service;
    if (manager)
        service =
            sc::ScHandle(sc::OpenServiceA(manager.Get(), identity.name.c_str(),
                                          sc::DELETE_ACCESS | sc::SERVICE_STOP | sc::SERVICE_QUERY_STATUS));
    if (service) {
        // Stopped first, as the manager does, so that it goes at once.
        sc::SERVICE_STATUS status;
        if (sc::QueryServiceStatus(service.Get(), &status) && status.dwCurrentState != sc::SERVICE_STOPPED)
            sc::ControlService(service.Get(), sc::SERVICE_CONTROL_STOP, &status);
        if (sc::DeleteService(service.Get()))
            return Report(true, what + " wurde deinstalliert.", 0, silent);
    }
    return Report(false, what + " konnte nicht deinstalliert werden.", sc::GetLastError(), silent);
}

} // namespace pelorix
