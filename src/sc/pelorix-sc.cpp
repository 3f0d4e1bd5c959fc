// pelorix-sc: installs, removes, starts, controls and lists the services of this computer
// through the service control layer, for administrators at a shell and for the start of the
// automatic services at boot. Exit status 0 on success (also for --help), 1 when an operation
// failed, 2 on wrong use.

#include "base/Latin1.h"
#include "platform/Clock.h"
#include "platform/NetworkDeadline.h"
#include "scm/ServiceControl.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace pelorix::scm;

namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;
// How long start and shutdown wait for services to leave their pending states.
constexpr int kSettleMs = 30000;

void Out(const std::string& latin1) {
    std::fputs((pelorix::Latin1ToUtf8(latin1) + "\n").c_str(), stdout);
}

int Failure(const std::string& what, DWORD error, const std::string& detail = {}) {
    std::fflush(stdout);
    const std::string text =
        what + ": " + ErrorText(error) + " (Fehler " + std::to_string(error) + ")" + detail;
    std::fputs((pelorix::Latin1ToUtf8(text) + "\n").c_str(), stderr);
    return kFailed;
}

// One line per verb: what it does.
std::string HelpText() {
    return pelorix::Latin1ToUtf8(
        "Aufruf: pelorix-sc VERB [NAME ...]\n"
        "  create NAME PROGRAMM [ANZEIGENAME]  Dienst installieren (automatischer Start)\n"
        "  delete NAME    Dienst beenden, falls er läuft, und entfernen\n"
        "  start NAME     Dienst starten und warten, bis er läuft (RUNNING)\n"
        "  stop NAME      Dienst beenden\n"
        "  pause NAME     Dienst anhalten\n"
        "  continue NAME  angehaltenen Dienst fortsetzen\n"
        "  query NAME     Zustand als ein Wort (STOPPED, RUNNING, PAUSED ...)\n"
        "  list           alle Dienste: Name, Zustand, Anzeigename\n"
        "  boot           alle Dienste mit automatischem Start starten (beim Hochfahren)\n"
        "  shutdown       alle laufenden Dienste beenden (beim Herunterfahren)\n"
        "  --help         diese Hilfe\n"_l1);
}

int Help() {
    std::fputs(HelpText().c_str(), stdout);
    return kOk;
}

int Usage() {
    std::fputs(HelpText().c_str(), stderr);
    return kUsage;
}

std::string Quoted(const std::string& name) {
    return "Dienst \"" + name + "\"";
}

// Why the service could not start, as the control layer recorded it, appended to a failure.
std::string StopReason(SC_HANDLE service) {
    std::string reason;
    if (!service || !QueryServiceStopReason(service, &reason) || reason.empty())
        return {};
    return ": " + reason;
}

int StartFailure(const std::string& name, SC_HANDLE service) {
    const DWORD error = GetLastError();
    return Failure(Quoted(name) + " konnte nicht gestartet werden", error, StopReason(service));
}

bool Pending(DWORD state) {
    return state != SERVICE_STOPPED && state != SERVICE_RUNNING && state != SERVICE_PAUSED;
}

// Waits (bounded) until the service is no longer in a pending state; its last state.
DWORD Settle(SC_HANDLE service) {
    SERVICE_STATUS status;
    const pelorix::Deadline deadline = pelorix::Deadline::In(pelorix::SystemClock::Instance(), kSettleMs);
    while (QueryServiceStatus(service, &status) && Pending(status.dwCurrentState) && !deadline.Passed())
        pelorix::SystemSleeper::Instance().SleepMs(20);
    return status.dwCurrentState;
}

ScHandle OpenManager(DWORD access, int& result) {
    ScHandle manager(OpenSCManagerA(nullptr, nullptr, access));
    if (!manager)
        result = Failure("Kein Zugriff auf die Dienstverwaltung", GetLastError());
    return manager;
}

ScHandle OpenNamed(SC_HANDLE manager, const std::string& name, DWORD access, int& result) {
    ScHandle service(OpenServiceA(manager, name.c_str(), access));
    if (!service)
        result = Failure(Quoted(name), GetLastError());
    return service;
}

// Opens the named service with access and gives what act makes of it, or why the manager or
// the service could not be opened.
template <typename Act> int WithService(const std::string& name, DWORD access, Act act) {
    int result = kOk;
    const ScHandle manager = OpenManager(SC_MANAGER_CONNECT, result);
    if (!manager)
        return result;
    const ScHandle service = OpenNamed(manager.Get(), name, access, result);
    if (!service)
        return result;
    return act(service);
}

std::string AbsolutePath(const std::string& path) {
    if (!path.empty() && path.front() == '/')
        return path;
    std::vector<char> cwd(4096);
    if (!getcwd(cwd.data(), cwd.size()))
        return path;
    return std::string(cwd.data()) + "/" + path;
}

int Create(const std::string& name, const std::string& path, const std::string& displayName) {
    int result = kOk;
    const ScHandle manager = OpenManager(SC_MANAGER_ALL_ACCESS, result);
    if (!manager)
        return result;
    const std::string program = AbsolutePath(path);
    const std::string display = pelorix::Utf8ToLatin1(displayName.empty() ? name : displayName);
    const ScHandle service(CreateServiceA(manager.Get(), name.c_str(), display.c_str(), SERVICE_ALL_ACCESS,
                                          SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                          program.c_str()));
    if (!service)
        return Failure(Quoted(name) + " konnte nicht installiert werden", GetLastError());
    Out(Quoted(name) + " wurde installiert (" + program + ", automatischer Start).");
    return kOk;
}

// As the manager does: a running service is stopped first, so that it goes at once.
int Delete(const std::string& name) {
    return WithService(
        name, DELETE_ACCESS | SERVICE_STOP | SERVICE_QUERY_STATUS, [&](const ScHandle& service) {
            SERVICE_STATUS status;
            if (QueryServiceStatus(service.Get(), &status) && status.dwCurrentState != SERVICE_STOPPED)
                ControlService(service.Get(), SERVICE_CONTROL_STOP, &status);
            if (!DeleteService(service.Get()))
                return Failure(Quoted(name) + " konnte nicht entfernt werden", GetLastError());
            if (QueryServiceStatus(service.Get(), &status) && status.dwCurrentState != SERVICE_STOPPED)
                Out(Quoted(name) + " wird entfernt, sobald er beendet ist."_l1);
            else
                Out(Quoted(name) + " wurde entfernt.");
            return kOk;
        });
}

int Start(const std::string& name) {
    return WithService(name, SERVICE_START | SERVICE_QUERY_STATUS, [&](const ScHandle& service) {
        if (!StartServiceA(service.Get(), 0, nullptr))
            return StartFailure(name, service.Get());
        const DWORD state = Settle(service.Get());
        Out(StateName(state));
        return state == SERVICE_RUNNING ? kOk : kFailed;
    });
}

int Control(const std::string& name, DWORD control, const char* failure) {
    return WithService(name, SERVICE_STOP | SERVICE_PAUSE_CONTINUE | SERVICE_QUERY_STATUS,
                       [&](const ScHandle& service) {
                           SERVICE_STATUS status;
                           if (!ControlService(service.Get(), control, &status))
                               return Failure(Quoted(name) + failure, GetLastError());
                           Out(StateName(status.dwCurrentState));
                           return kOk;
                       });
}

// The state word on stdout; why a stopped service could not start, on stderr.
int Query(const std::string& name) {
    return WithService(name, SERVICE_QUERY_STATUS, [&](const ScHandle& service) {
        SERVICE_STATUS status;
        if (!QueryServiceStatus(service.Get(), &status))
            return Failure(Quoted(name), GetLastError());
        Out(StateName(status.dwCurrentState));
        if (status.dwCurrentState == SERVICE_STOPPED && status.dwWin32ExitCode != ERROR_SUCCESS)
            Failure(Quoted(name) + ", letzter Fehler", status.dwWin32ExitCode, StopReason(service.Get()));
        return kOk;
    });
}

bool Services(std::vector<ENUM_SERVICE_STATUS>& services, ScHandle& manager, int& result) {
    manager = OpenManager(SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE, result);
    if (!manager)
        return false;
    if (!EnumServicesStatusA(manager.Get(), &services)) {
        result = Failure("Die Dienste konnten nicht gelesen werden", GetLastError());
        return false;
    }
    return true;
}

// Hands every service the manager knows to act, with the manager and the result to set on a
// failure; gives that result, or why the services could not be read.
template <typename Act> int ForEachService(Act act) {
    int result = kOk;
    ScHandle manager;
    std::vector<ENUM_SERVICE_STATUS> services;
    if (!Services(services, manager, result))
        return result;
    for (const auto& s : services)
        act(manager, s, result);
    return result;
}

int List() {
    return ForEachService([](const ScHandle&, const ENUM_SERVICE_STATUS& s, int&) {
        Out(s.ServiceName + "\t" + StateName(s.ServiceStatus.dwCurrentState) + "\t" + s.DisplayName);
    });
}

// Starts every stopped service whose start type is automatic.
int Boot() {
    return ForEachService([](const ScHandle& manager, const ENUM_SERVICE_STATUS& s, int& result) {
        const ScHandle service(OpenServiceA(manager.Get(), s.ServiceName.c_str(),
                                            SERVICE_START | SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG));
        SERVICE_CONFIG config;
        if (!service || !QueryServiceConfigA(service.Get(), &config)) {
            result = Failure(Quoted(s.ServiceName), GetLastError());
            return;
        }
        if (config.dwStartType != SERVICE_AUTO_START || s.ServiceStatus.dwCurrentState != SERVICE_STOPPED)
            return;
        if (!StartServiceA(service.Get(), 0, nullptr)) {
            result = StartFailure(s.ServiceName, service.Get());
            return;
        }
        Out(s.ServiceName + ": " + StateName(Settle(service.Get())));
    });
}

// At system shutdown: every running service ends without its stop handling.
int Shutdown() {
    return ForEachService([](const ScHandle& manager, const ENUM_SERVICE_STATUS& s, int& result) {
        if (s.ServiceStatus.dwCurrentState == SERVICE_STOPPED)
            return;
        const ScHandle service(
            OpenServiceA(manager.Get(), s.ServiceName.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS));
        SERVICE_STATUS status;
        if (!service || !ControlService(service.Get(), SERVICE_CONTROL_SHUTDOWN, &status)) {
            const DWORD error = GetLastError();
            if (error != ERROR_SERVICE_NOT_ACTIVE)
                result = Failure(Quoted(s.ServiceName), error);
            return;
        }
        Out(s.ServiceName + ": " + StateName(Settle(service.Get())));
    });
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
        return Usage();
    const std::string& verb = args[0];
    if (args.size() == 1) {
        if (verb == "--help" || verb == "-h" || verb == "help")
            return Help();
        if (verb == "list")
            return List();
        if (verb == "boot")
            return Boot();
        if (verb == "shutdown")
            return Shutdown();
        return Usage();
    }
    const std::string& name = args[1];
    if (verb == "create" && (args.size() == 3 || args.size() == 4))
        return Create(name, args[2], args.size() == 4 ? args[3] : std::string());
    if (args.size() != 2)
        return Usage();
    if (verb == "delete")
        return Delete(name);
    if (verb == "start")
        return Start(name);
    if (verb == "stop")
        return Control(name, SERVICE_CONTROL_STOP, " konnte nicht beendet werden");
    if (verb == "pause")
        return Control(name, SERVICE_CONTROL_PAUSE, " konnte nicht angehalten werden");
    if (verb == "continue")
        return Control(name, SERVICE_CONTROL_CONTINUE, " konnte nicht fortgesetzt werden");
    if (verb == "query")
        return Query(name);
    return Usage();
}
