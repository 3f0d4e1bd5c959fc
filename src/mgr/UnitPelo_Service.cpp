// Page "Management": installing, controlling and querying the publishing service through the
// service control layer. Both handlers run on the window's thread and block it for each call;
// none waits for the service to reach a new state. The status word and the button set follow
// the request that was sent, not its outcome; only the refresh reports the real state.

#include "mgr/UnitPelo.h"

#include "base/Latin1.h"
#include "mgr/MsgBox.h"
#include "platform/Clock.h"
#include "scm/ServiceControl.h"
#include "svc/StatusLog.h"

#include <QLabel>
#include <QPushButton>
#include <optional>

using namespace pelorix::scm;

namespace {

constexpr const char* kServiceName = "PelorixService";
constexpr const char* kDisplayName = "Pelorix-Publisher";
// The service program beside the manager's own.
constexpr const char* kServiceProgram = "PelorixSvc";

constexpr DWORD kServiceRights =
    STANDARD_RIGHTS_REQUIRED | SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE;

// The button sets of the four control buttons.
enum class ButtonSet { Stopped, Running, Paused, None };

// A failure text followed by the system's text for the last error.
std::string WithSystemText(const std::string& text) {
    return text + "\r\n\n" + ErrorText(GetLastError());
}

std::string NoManagerAccessText() {
    return WithSystemText("Kein Zugriff (mangelnde Berechtigung) auf den ServiceContolManager!");
}

} // namespace

struct ServicePart {};

void PartDeleter::operator()(ServicePart* part) const {
    delete part;
}

void TFrmPelo::ServiceInit() {
    service_.reset(new ServicePart);
}

namespace {

void ApplyButtonSet(TFrmPelo& w, ButtonSet set) {
    w.Btn3Start->setEnabled(set == ButtonSet::Stopped);
    w.Btn3Stop->setEnabled(set == ButtonSet::Running || set == ButtonSet::Paused);
    w.Btn3Pause->setEnabled(set == ButtonSet::Running);
    w.Btn3Cont->setEnabled(set == ButtonSet::Paused);
}

// "[hh:nn:ss]: " and the status word; an error, when one was raised, then goes to the
// application's error box.
void Finish(TFrmPelo& w, const std::string& status, const std::optional<std::string>& error) {
    std::string stamp = pelorix::TimeStamp(pelorix::SystemClock::Instance().Now());
    if (!stamp.empty() && stamp.back() == ' ')
        stamp.pop_back();
    w.LabStat->setText(QString::fromLatin1(stamp + ": " + status));
    // A clicked button may just have been disabled; the focus would then move on to the next
    // one, "Deinstallieren". The refresh is always enabled and harmless.
    if (w.Btn3Stat->isVisible())
        w.Btn3Stat->setFocus(Qt::OtherFocusReason);
    if (error)
        MsgBox::ApplicationError(QString::fromLatin1(*error));
}

} // namespace

void TFrmPelo::Btn3InstClick() {
    std::string status = "nicht installiert";
    std::optional<std::string> error;
    const ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        error = NoManagerAccessText();
    } else {
        const std::string program = ProgramDirectory() + kServiceProgram;
        ScHandle service(CreateServiceA(manager.Get(), kServiceName, kDisplayName, SERVICE_ALL_ACCESS,
                                        SERVICE_WIN32_SHARE_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                        program.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
        if (service) {
            service.Reset();
            status = "installiert";
            Btn3Inst->setEnabled(false);
            ApplyButtonSet(*this, ButtonSet::Stopped);
            MsgBox::Information(
                QStringLiteral("NT-Dienst \"Pelorix-Publisher\" wurde erfolgreich im System installiert!"));
        } else {
            error = WithSystemText("NT-Dienst \"" + program + "\" konnte nicht installiert werden!");
        }
    }
    Finish(*this, status, error);
}

void TFrmPelo::BtnSvcClick(QObject* Sender) {
    const int tag = Sender ? Tag(Sender) : 0;
    std::string status = "unverändert"_l1;
    std::optional<std::string> error;
    const ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        Finish(*this, status, NoManagerAccessText());
        return;
    }
    const ScHandle service(OpenServiceA(manager.Get(), kServiceName, kServiceRights));
    if (!service) {
        status = "kein Zugriff";
        Btn3Inst->setEnabled(true);
        ApplyButtonSet(*this, ButtonSet::None);
        // The silent refresh when the page is shown raises nothing.
        if (tag != 5)
            error = WithSystemText(std::string("Zugriff auf den Dienst \"") + kServiceName +
                                   "\" (Pelorix-Publisher) ist fehlgeschlagen!");
        Finish(*this, status, error);
        return;
    }

    SERVICE_STATUS state;
    state.dwCurrentState = 0; // a failed query counts as an unknown state
    QueryServiceStatus(service.Get(), &state);
    SERVICE_STATUS ignored;
    switch (tag) {
    case 0:
        switch (state.dwCurrentState) {
        case SERVICE_STOPPED:
            status = "nicht gestartet";
            ApplyButtonSet(*this, ButtonSet::Stopped);
            break;
        case SERVICE_RUNNING:
            status = "aktiviert";
            ApplyButtonSet(*this, ButtonSet::Running);
            break;
        case SERVICE_PAUSED:
            status = "pausiert";
            ApplyButtonSet(*this, ButtonSet::Paused);
            break;
        default:
            status = "unbekannt";
            break;
        }
        break;
    case 1:
        StartServiceA(service.Get(), 0, nullptr);
        status = "gestartet";
        ApplyButtonSet(*this, ButtonSet::Running);
        break;
    case 2:
        ControlService(service.Get(), SERVICE_CONTROL_STOP, &ignored);
        status = "beendet";
        ApplyButtonSet(*this, ButtonSet::Stopped);
        break;
    case 3:
        ControlService(service.Get(), SERVICE_CONTROL_PAUSE, &ignored);
        status = "pausiert";
        ApplyButtonSet(*this, ButtonSet::Paused);
        break;
    case 4:
        ControlService(service.Get(), SERVICE_CONTROL_CONTINUE, &ignored);
        status = "fortgesetzt";
        ApplyButtonSet(*this, ButtonSet::Running);
        break;
    case 6:
        // Enter alone must not remove the service.
        if (MsgBox::Confirm(
                QStringLiteral("Wollen Sie den NT-Dienst \"Pelorix-Publisher\" wirklich löschen?"),
                MsgBox::Answer::No)) {
            ControlService(service.Get(), SERVICE_CONTROL_STOP, &ignored);
            DeleteService(service.Get());
            status = "deinstalliert";
            ApplyButtonSet(*this, ButtonSet::None);
        }
        break;
    default: // 5: the silent refresh
        break;
    }
    Finish(*this, status, error);
}
