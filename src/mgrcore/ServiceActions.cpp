#include "mgrcore/ServiceActions.h"

#include "base/Latin1.h"
#include "mgrcore/ServiceApi.h"
#include "platform/Clock.h"
#include "svc/StatusLog.h"

namespace pelorix {

using namespace servicepage;

namespace {

constexpr const char* kServiceName = "PelorixService";

constexpr DWORD kServiceRights =
    STANDARD_RIGHTS_REQUIRED | SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE;

// A failure text followed by the system's text for the last error.
std::string WithSystemText(const std::string& text) {
    return text + "\r\n\n" + ErrorText(GetLastError());
}

std::string NoManagerAccessText() {
    return WithSystemText("Kein Zugriff (mangelnde Berechtigung) auf den ServiceContolManager!");
}

} // namespace

ServiceButtonStates ButtonStates(ServiceButtons set) {
    return {set == ServiceButtons::Stopped, set == ServiceButtons::Running || set == ServiceButtons::Paused,
            set == ServiceButtons::Running, set == ServiceButtons::Paused};
}

std::string ServiceStatusText(const std::string& status) {
    std::string stamp = TimeStamp(SystemClock::Instance().Now());
    if (!stamp.empty() && stamp.back() == ' ')
        stamp.pop_back();
    return stamp + ": " + status;
}

ServiceOutcome InstallServiceAction(const std::string& programDir) {
    ServiceOutcome out;
    out.Status = "nicht installiert";
    const ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        out.Error = NoManagerAccessText();
        return out;
    }
    std::string program;
    if (RegisterService(manager.Get(), programDir, program)) {
        out.Status = "installiert";
        out.InstallEnabled = 0;
        out.Buttons = ServiceButtons::Stopped;
        out.Information = "NT-Dienst \"Pelorix-Publisher\" wurde erfolgreich im System installiert!";
    } else {
        out.Error = WithSystemText("NT-Dienst \"" + program + "\" konnte nicht installiert werden!");
    }
    return out;
}

ServiceOutcome ServiceAction(int tag,
                             const std::function<bool(const std::string& question)>& confirmRemoval) {
    ServiceOutcome out;
    out.Status = "unverändert"_l1;
    const ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        out.Error = NoManagerAccessText();
        return out;
    }
    const ScHandle service(OpenServiceA(manager.Get(), kServiceName, kServiceRights));
    if (!service) {
        out.Status = "kein Zugriff";
        out.InstallEnabled = 1;
        out.Buttons = ServiceButtons::None;
        // The silent refresh when the page is shown raises nothing.
        if (tag != 5)
            out.Error = WithSystemText(std::string("Zugriff auf den Dienst \"") + kServiceName +
                                       "\" (Pelorix-Publisher) ist fehlgeschlagen!");
        return out;
    }

    SERVICE_STATUS state;
    state.dwCurrentState = 0; // a failed query counts as an unknown state
    QueryServiceStatus(service.Get(), &state);
    SERVICE_STATUS ignored;
    switch (tag) {
    case 0:
        switch (state.dwCurrentState) {
        case SERVICE_STOPPED:
            out.Status = "nicht gestartet";
            out.Buttons = ServiceButtons::Stopped;
            break;
        case SERVICE_RUNNING:
            out.Status = "aktiviert";
            out.Buttons = ServiceButtons::Running;
            break;
        case SERVICE_PAUSED:
            out.Status = "pausiert";
            out.Buttons = ServiceButtons::Paused;
            break;
        default:
            out.Status = "unbekannt";
            break;
        }
        break;
    case 1:
        StartServiceA(service.Get(), 0, nullptr);
        out.Status = "gestartet";
        out.Buttons = ServiceButtons::Running;
        break;
    case 2:
        ControlService(service.Get(), SERVICE_CONTROL_STOP, &ignored);
        out.Status = "beendet";
        out.Buttons = ServiceButtons::Stopped;
        break;
    case 3:
        ControlService(service.Get(), SERVICE_CONTROL_PAUSE, &ignored);
        out.Status = "pausiert";
        out.Buttons = ServiceButtons::Paused;
        break;
    case 4:
        ControlService(service.Get(), SERVICE_CONTROL_CONTINUE, &ignored);
        out.Status = "fortgesetzt";
        out.Buttons = ServiceButtons::Running;
        break;
    case 6:
        if (confirmRemoval("Wollen Sie den NT-Dienst \"Pelorix-Publisher\" wirklich löschen?"_l1)) {
            ControlService(service.Get(), SERVICE_CONTROL_STOP, &ignored);
            DeleteService(service.Get());
            out.Status = "deinstalliert";
            out.Buttons = ServiceButtons::None;
        }
        break;
    default: // 5: the silent refresh
        break;
    }
    return out;
}

} // namespace pelorix
