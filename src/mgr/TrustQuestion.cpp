#include "mgr/TrustQuestion.h"

#include "mgr/MgrWidgets.h"
#include "mgr/MsgBox.h"
#include "net/TrustText.h"
#include "svc/PageUpload.h"

bool AskToTrust(const pelorix::TrustDecision& refusal, const std::string& key) {
    if (refusal.SeenKey() != key) {
        // Only the key came along: its line is all there is to show.
        return MsgBox::Confirm(FromL1(pelorix::UntrustedKeyLine(key).substr(1)) +
                               QStringLiteral("\n\nDiesem Server künftig vertrauen?"));
    }
    if (!refusal.Changed())
        return MsgBox::Confirm(FromL1(pelorix::TrustQuestionText(refusal)));
    return MsgBox::Confirm(FromL1(pelorix::TrustChangeWarningText(refusal)), MsgBox::Answer::No) &&
           MsgBox::Confirm(FromL1(pelorix::TrustChangeConfirmationText()), MsgBox::Answer::No);
}

void TellNotTrusted() {
    MsgBox::Error(QStringLiteral("Keine Verbindung: dem Server wurde nicht vertraut"));
}

QString ConnectionFineText(const std::string& reply) {
    const std::string line = pelorix::CleanServerReply(reply);
    return line.empty() ? QStringLiteral("Verbindung in Ordnung")
                        : QStringLiteral("Verbindung in Ordnung: ") + FromL1(line);
}
