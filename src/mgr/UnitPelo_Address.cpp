// Page "IP-Adressen": the host's name and addresses, the external address as an address-source
// page reports it, and the manual run of page generation, FTP upload and address mail. It uses
// the window's settings as they stand (saved or not), takes the address from whatever Ed4IP
// shows, and reports every outcome in a box or in Ed4IP. The network exchanges run as network
// actions (NetworkAction.h): the window keeps painting and receiving monitor lines, takes no
// user input meanwhile, and each action ends within its limit.

#include "mgr/MgrWidgets.h"
#include "mgr/ModeChoice.h"
#include "mgr/UnitPelo.h"
#include "mgrcore/MgrTexts.h"

#include "mgr/MsgBox.h"
#include "mgr/NetworkAction.h"
#include "mgr/TrustQuestion.h"
#include "net/FailureCause.h"
#include "net/SimpFTP.h"
#include "net/Trust.h"
#include "net/TrustText.h"
#include "platform/Clock.h"
#include "platform/HostAddresses.h"
#include "platform/SystemMessage.h"
#include "platform/TcpSocket.h"
#include "svc/AddressChoice.h"
#include "svc/AddressScan.h"
#include "svc/AddressScan6.h"
#include "svc/MailCompose.h"
#include "svc/PageFill.h"
#include "svc/PageUpload.h"
#include "svc/ServiceHelpers.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <cerrno>
#include <exception>
#include <optional>

namespace {

// One address-source query as Ed4IP reports it. Runs inside a network action.
struct PageQuery {
    bool found = false;
    QString text;
};

PageQuery QueryPage(const std::string& page, pelorix::AnswerScanner scan = pelorix::FindAddressInAnswer) {
    PageQuery query;
    try {
        std::string host;
        std::string path;
        // The same rule as the service: "https://" over TLS, "http://" as if it were not there.
        std::string source = page;
        const bool secure = pelorix::SplitSourceScheme(source);
        // Without a host of two characters or more and a path, the fetch refuses the parameters.
        pelorix::SplitAddressSource(source, host, path);
        pelorix::TrustDecision refusal;
        std::string reason;
        const pelorix::AddressQueryResult result =
            secure ? pelorix::QueryAddressPageHttps(host, path, refusal, reason, false, scan)
                   : pelorix::QueryAddressPage(host, path, 80, 20000, 30000, 60000, scan);
        query.found = result.outcome == pelorix::AddressQueryOutcome::Found;
        if (query.found) {
            query.text = FromL1(result.address);
        } else if (result.outcome == pelorix::AddressQueryOutcome::Refused) {
            // The status line's text without its leading "-".
            const std::string cause = pelorix::FailureCause(0, reason);
            const std::string line = !refusal.SeenKey().empty() ? pelorix::RefusalLine(refusal)
                                     : cause.empty()            ? "-" + pelorix::CleanServerReply(reason)
                                                                : "-" + cause;
            query.text = FromL1(line.substr(1));
        } else {
            query.text =
                FromL1(pelorix::QueryFailureText(result.outcome, scan != pelorix::FindAddressInAnswer));
        }
    } catch (const std::exception& error) {
        query.text = FromL1(error.what());
    }
    return query;
}

// One line of the address list for an IPv6 address: the one the service would publish marked,
// the others with the reason they are not.
QString IPv6Line(const pelorix::HostAddress6& address, const std::string& chosen) {
    const std::string text = pelorix::CanonicalIPv6(address.Address);
    QString note;
    if (!chosen.empty() && text == chosen)
        note = QStringLiteral("gewählt");
    else if (address.Temporary)
        note = QStringLiteral("temporär");
    else if (address.Deprecated || address.PreferredLifetime == 0)
        note = QStringLiteral("veraltet");
    else if (address.Tentative || address.DuplicateFound)
        note = QStringLiteral("nicht geprüft");
    else if (!pelorix::IsPublishableIPv6(address))
        note = QStringLiteral("nicht öffentlich");
    const QString line = FromL1(text.empty() ? address.Address : text);
    return note.isEmpty() ? line : line + QStringLiteral("  (") + note + QLatin1Char(')');
}

} // namespace

struct AddressPart {};

void PartDeleter::operator()(AddressPart* part) const {
    delete part;
}

void TFrmPelo::AddressInit() {
    address_.reset(new AddressPart);
}

// --- Local data and external address ------------------------------------------------------

void TFrmPelo::Btn4AktClick(QObject* Sender) {
    Memo4IPs->clear();
    Ed4Host->clear();
    errno = 0;
    const std::string hostName = pelorix::LocalHostName();
    if (hostName.empty()) {
        const int error = errno != 0 ? errno : EIO;
        MsgBox::ApplicationError(QStringLiteral("Hostname unbestimmbar!\r\n\n") +
                                 FromL1(pelorix::SystemErrorText(error)));
        return;
    }
    Ed4Host->setText(FromL1(hostName));
    const std::vector<std::string> addresses = pelorix::SystemHostAddresses::Instance().HostAddresses();
    if (addresses.empty())
        return;
    for (const std::string& address : addresses)
        Memo4IPs->appendPlainText(FromL1(address));
    const bool ipv6 = CbIPv6->currentIndex() != 0;
    std::string chosen6;
    if (ipv6) {
        const pelorix::InterfaceAddresses6 list =
            pelorix::SystemHostAddresses::Instance().HostAddresses6(IPv6.Interface);
        chosen6 = pelorix::ChooseIPv6Address(list.Addresses, {});
        for (const pelorix::HostAddress6& address : list.Addresses)
            Memo4IPs->appendPlainText(IPv6Line(address, chosen6));
    }

    if (!Sender)
        return; // showing the page only shows the local data
    // Both pages within one action, so the whole query ends within one limit.
    const std::string first = ToL1(EdRout->currentText());
    const std::string second = IPSourceX;
    // In router mode a page of its own may tell the IPv6 address; else it is the interface's.
    const std::string page6 = CbRout->isChecked() && ipv6 ? ToL1(EdRout6->text()) : std::string();
    PageQuery query;
    PageQuery query6{!chosen6.empty(),
                     chosen6.empty() ? QStringLiteral("keine öffentliche IPv6-Adresse") : FromL1(chosen6)};
    RunNetworkAction(this, [&] {
        query = QueryPage(first);
        if (!query.found)
            query = QueryPage(second);
        if (!page6.empty())
            query6 = QueryPage(page6, pelorix::FindIPv6InAnswer);
    });
    Ed4IP->setText(query.text);
    if (ipv6)
        Ed4IP6->setText(query6.text);
}

bool TFrmPelo::QueryAddressPage(const std::string& page) {
    PageQuery query;
    RunNetworkAction(this, [&] { query = QueryPage(page); });
    Ed4IP->setText(query.text);
    return query.found;
}

// --- Manual upload ----------------------------------------------------------------------------

// As the service does, IPv6 alone gives "%IP%" the IPv6 address too.
std::string TFrmPelo::PublishedAddressText() const {
    return ToL1(
        (CbIPv6->currentIndex() == static_cast<int>(pelorix::IPv6Use::Only) ? Ed4IP6 : Ed4IP)->text());
}

void TFrmPelo::Btn4UpClick(QObject* Sender) {
    const bool online = Sender == Btn4Up;
    pelorix::TPageFiller filler(PublishedAddressText(), pelorix::SystemClock::Instance());
    filler.WithIPv6(ToL1(Ed4IP6->text()), static_cast<pelorix::IPv6Use>(CbIPv6->currentIndex()));

    if (CbPages->isChecked()) {
        std::array<std::string, 10> pages = AddPageFiles;
        for (std::string& path : pages)
            path = ProgramPath(path);
        for (const std::string& failed : pelorix::FillAdditionalPages(pages, filler))
            MsgBox::Warning(QStringLiteral("-Zusatzseite '%1' nicht gefunden oder nicht zu schreiben")
                                .arg(FromL1(failed)));
    }

    const std::string templatePath = ProgramPath(ToL1(online ? EdVorl->text() : EdOffl->text()));
    const std::string localPage = ProgramPath(ToL1(EdGen->text()));
    const pelorix::MainPageOutcome page = pelorix::FillMainPage(templatePath, localPage, filler, !online);
    if (page.templateTooLarge != 0) {
        MsgBox::Error(QStringLiteral("Seitenvorlage \"%1\" zu groß (%2 Bytes, höchstens 1 MiB)")
                          .arg(FromL1(templatePath))
                          .arg(static_cast<qulonglong>(page.templateTooLarge)));
        return;
    }
    if (page.templateMissing)
        MsgBox::Warning(
            QStringLiteral("Seitenvorlage \"%1\" nicht gefunden!\r\n\nStandardvorlage wird benutzt.")
                .arg(FromL1(templatePath)));
    if (!page.written) {
        MsgBox::Error(
            QStringLiteral("Schreibfehler bei lokaler temporärer Seite \"%1\"").arg(FromL1(localPage)));
        return;
    }

    pelorix::PageUploadParams params = ConnectionParams();
    params.LocalFile = localPage;
    params.RemoteSite = ToL1(EdSite->currentText());
    // The FTP engine and its libraries load only in a helper process, which the action's
    // deadline ends; a helper that fails or is ended counts as a failed upload.
    pelorix::PageUploadResult upload;
    RunNetworkAction(this, [&] {
        if (const std::optional<pelorix::PageUploadResult> done = pelorix::UploadPageInHelper(params))
            upload = *done;
    });
    MsgBox::ShowBox(pelorix::UploadBox(upload));
    if (upload.Succeeded() && CbMail->isChecked())
        SendAddressMail(online);
}

// --- Connection check -------------------------------------------------------------------------

pelorix::PageUploadParams TFrmPelo::ConnectionParams() const {
    pelorix::PageUploadParams params;
    params.Host = ToL1(EdHost->currentText());
    params.User = ToL1(EdUser->currentText());
    params.Password = ToL1(EdPass->text());
    params.Passive = CbPassive->isChecked();
    params.Mode = pelorix::ConnectionModeNumber(ChosenMode(CbMode));
    params.Port = EdPort->text().toInt();
    params.Trust = FTPTrust;
    return params;
}

void TFrmPelo::Btn2CheckClick() {
    // After a Yes the check goes on with the new trust; it is asked once per click.
    for (bool asked = false;;) {
        const pelorix::PageUploadParams params = ConnectionParams();
        pelorix::PageUploadResult result;
        RunNetworkAction(this, [&] { result = pelorix::CheckLogin(params); });
        switch (result.Outcome) {
        case pelorix::PageUploadOutcome::LoggedIn:
            MsgBox::Information(ConnectionFineText(result.ServerReply));
            return;
        case pelorix::PageUploadOutcome::Error:
            MsgBox::Error(QStringLiteral("FTP-Fehler: ") + FromL1(result.ErrorText));
            return;
        default:
            break;
        }
        if (!result.UntrustedKey.empty() && !asked) {
            // The only fault is a key nobody vouched for: the user may vouch for it.
            asked = true;
            if (!AskToTrust(result.Refusal, result.UntrustedKey)) {
                TellNotTrusted();
                return;
            }
            FTPTrust = result.UntrustedKey;
            SettingsChange();
            continue;
        }
        MsgBox::Error(QStringLiteral("FTP-Login gescheitert: ") +
                      FromL1(pelorix::CleanServerReply(result.ServerReply)));
        return;
    }
}

// --- Address mail -----------------------------------------------------------------------------

bool TFrmPelo::SendAddressMail(bool online) {
    const std::string address = pelorix::MailAddressText(online, PublishedAddressText());
    const pelorix::MailAddress6 address6 =
        CbIPv6->currentIndex() != 0
            ? pelorix::MailAddress6(pelorix::MailAddressText(online, ToL1(Ed4IP6->text())))
            : std::nullopt;
    const pelorix::TMailData mail = MailData;
    int pop3Code = 0;
    QStringList security;
    pelorix::MailEvents events;
    events.OnPop3Check = [&pop3Code](int code) { pop3Code = code; };
    // Why a connection was not secure is told with the mail's outcome.
    events.OnSecurityLine = [&security](const std::string& line) { security << FromL1(line.substr(1)); };
    int result = 0;
    RunNetworkAction(this, [&] {
        result = pelorix::DeliverAddressMail(mail, address, pelorix::SystemClock::Instance(), events, {},
                                             address6);
    });
    // A failed check does not stop the mail; its box comes before the mail's own.
    if (pop3Code != 0)
        MsgBox::Error(QStringLiteral("POP3-Check gescheitert: ") + FromL1(pelorix::Pop3ResultText(pop3Code)));
    if (result == 0) {
        MsgBox::Information(QStringLiteral("Mailversand erfolgreich"));
        return true;
    }
    security.prepend(QStringLiteral("Mailversand gescheitert: ") + FromL1(pelorix::SmtpResultText(result)));
    MsgBox::Error(security.join(QLatin1Char('\n')));
    return false;
}
