// Page "Management": installing, controlling and querying the publishing service through the
// service control layer. Both handlers run on the window's thread and block it for each call;
// none waits for the service to reach a new state. The status word and the button set follow
// the request that was sent, not its outcome; only the refresh reports the real state.

#include "mgr/UnitPelo.h"

#include "mgr/MsgBox.h"
#include "mgrcore/ServiceActions.h"

#include <QLabel>
#include <QPushButton>
#include <optional>

struct ServicePart {};

void PartDeleter::operator()(ServicePart* part) const {
    delete part;
}

void TFrmPelo::ServiceInit() {
    service_.reset(new ServicePart);
}

namespace {

// Status line, buttons and boxes as the request's outcome says.
void Finish(TFrmPelo& w, const pelorix::ServiceOutcome& outcome) {
    if (outcome.InstallEnabled >= 0)
        w.Btn3Inst->setEnabled(outcome.InstallEnabled == 1);
    if (outcome.Buttons != pelorix::ServiceButtons::Keep) {
        const pelorix::ServiceButtonStates states = pelorix::ButtonStates(outcome.Buttons);
        w.Btn3Start->setEnabled(states.Start);
        w.Btn3Stop->setEnabled(states.Stop);
        w.Btn3Pause->setEnabled(states.Pause);
        w.Btn3Cont->setEnabled(states.Continue);
    }
    if (!outcome.Information.empty())
        MsgBox::Information(QString::fromLatin1(outcome.Information));
    w.LabStat->setText(QString::fromLatin1(pelorix::ServiceStatusText(outcome.Status)));
    // A clicked button may just have been disabled; the focus would then move on to the next
    // one, "Deinstallieren". The refresh is always enabled and harmless.
    if (w.Btn3Stat->isVisible())
        w.Btn3Stat->setFocus(Qt::OtherFocusReason);
    if (!outcome.Error.empty())
        MsgBox::ApplicationError(QString::fromLatin1(outcome.Error));
}

} // namespace

void TFrmPelo::Btn3InstClick() {
    Finish(*this, pelorix::InstallServiceAction(ProgramDirectory()));
}

void TFrmPelo::BtnSvcClick(QObject* Sender) {
    const int tag = Sender ? Tag(Sender) : 0;
    // Enter alone must not remove the service.
    Finish(*this, pelorix::ServiceAction(tag, [](const std::string& question) {
        return MsgBox::Confirm(QString::fromLatin1(question), MsgBox::Answer::No);
    }));
}
