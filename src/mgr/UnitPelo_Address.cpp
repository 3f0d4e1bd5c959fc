// Page "IP-Adressen": the host's name and addresses, the external address as an address-source
// page reports it, and the manual run of page generation, FTP upload and address mail. It uses
// the window's settings as they stand (saved or not), takes the address from whatever Ed4IP
// shows, and reports every outcome in a box or in Ed4IP. Everything runs synchronously on the
// window's thread; during an FTP transfer the window keeps repainting and receiving monitor
// lines, but takes no user input.

#include "mgr/MgrWidgets.h"
#include "mgr/UnitPelo.h"

#include "mgr/MsgBox.h"
#include "net/SimpFTP.h"
#include "platform/Clock.h"
#include "platform/HostAddresses.h"
#include "platform/SystemMessage.h"
#include "platform/TcpSocket.h"
#include "svc/AddressScan.h"
#include "svc/MailCompose.h"
#include "svc/PageFill.h"
#include "svc/PageUpload.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <cerrno>
#include <exception>

namespace {

// The wait cursor for as long as the object lives.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

// What Ed4IP shows for a query that found no address.
QString QueryFailureText(pelorix::AddressQueryOutcome outcome) {
    using pelorix::AddressQueryOutcome;
    switch (outcome) {
    case AddressQueryOutcome::NoAddress:
        return QStringLiteral("keine IP-Adresse in Abfrageseite enthalten");
    case AddressQueryOutcome::EmptyAnswer:
        return QStringLiteral("Verbindungsfehler");
    case AddressQueryOutcome::Unreachable:
        return QStringLiteral("Server nicht erreicht");
    case AddressQueryOutcome::NoNetwork:
        return QStringLiteral("keine Netzwerksverbindung");
    case AddressQueryOutcome::BadParameters:
    case AddressQueryOutcome::Found:
        break;
    }
    return QStringLiteral("ungültige Verbindungs-Parameter!");
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

    if (!Sender)
        return; // showing the page only shows the local data
    const WaitCursor wait;
    if (!QueryAddressPage(ToL1(EdRout->currentText())))
        QueryAddressPage(IPSourceX);
}

bool TFrmPelo::QueryAddressPage(const std::string& page) {
    try {
        std::string host;
        std::string path;
        // Without a host of two characters or more and a path, the fetch refuses the parameters.
        pelorix::SplitAddressSource(page, host, path);
        const pelorix::AddressQueryResult result = pelorix::QueryAddressPage(host, path);
        if (result.outcome == pelorix::AddressQueryOutcome::Found) {
            Ed4IP->setText(FromL1(result.address));
            return true;
        }
        Ed4IP->setText(QueryFailureText(result.outcome));
    } catch (const std::exception& error) {
        Ed4IP->setText(FromL1(error.what()));
    }
    return false;
}

// --- Manual upload ----------------------------------------------------------------------------

void TFrmPelo::Btn4UpClick(QObject* Sender) {
    const bool online = Sender == Btn4Up;
    const pelorix::TPageFiller filler(ToL1(Ed4IP->text()), pelorix::SystemClock::Instance());

    if (CbPages->isChecked())
        for (const std::string& failed : pelorix::FillAdditionalPages(AddPageFiles, filler))
            MsgBox::Warning(QStringLiteral("-Zusatzseite '%1' nicht gefunden oder nicht zu schreiben")
                                .arg(FromL1(failed)));

    const std::string templatePath = ToL1(online ? EdVorl->text() : EdOffl->text());
    const std::string localPage = ToL1(EdGen->text());
    const pelorix::MainPageOutcome page = pelorix::FillMainPage(templatePath, localPage, filler, !online);
    if (page.templateMissing)
        MsgBox::Warning(
            QStringLiteral("Seitenvorlage \"%1\" nicht gefunden!\r\n\nStandardvorlage wird benutzt.")
                .arg(FromL1(templatePath)));
    if (!page.written) {
        MsgBox::Error(
            QStringLiteral("Schreibfehler bei lokaler temporärer Seite \"%1\"").arg(FromL1(localPage)));
        return;
    }

    pelorix::PageUploadParams params;
    params.Host = ToL1(EdHost->currentText());
    params.User = ToL1(EdUser->currentText());
    params.Password = ToL1(EdPass->text());
    params.Passive = CbPassive->isChecked();
    params.LocalFile = localPage;
    params.RemoteSite = ToL1(EdSite->currentText());
    params.Prepare = [](pelorix::TSimpleFTP& ftp) {
        // Repaint and take monitor lines while the transfer runs; clicks wait until it is over.
        ftp.ProcessMessages = [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); };
    };
    const pelorix::PageUploadResult upload = pelorix::UploadPageFile(params);
    switch (upload.Outcome) {
    case pelorix::PageUploadOutcome::Uploaded:
        MsgBox::Information(QStringLiteral("FTP-Upload OK mit ") + FromL1(upload.StoredAs));
        break;
    case pelorix::PageUploadOutcome::LoginFailed:
        MsgBox::Error(QStringLiteral("FTP-Login gescheitert"));
        break;
    case pelorix::PageUploadOutcome::Error:
        MsgBox::Error(QStringLiteral("FTP-Fehler: ") + FromL1(upload.ErrorText));
        break;
    case pelorix::PageUploadOutcome::NoFileName: // nothing can be stored without a file name
    case pelorix::PageUploadOutcome::UploadFailed:
        MsgBox::Error(QStringLiteral("FTP-Upload gescheitert"));
        break;
    }
    if (upload.Succeeded() && CbMail->isChecked())
        SendAddressMail(online);
}

// --- Address mail -----------------------------------------------------------------------------

bool TFrmPelo::SendAddressMail(bool online) {
    const std::string address = pelorix::MailAddressText(online, ToL1(Ed4IP->text()));
    QStringList security;
    pelorix::MailEvents events;
    events.OnPop3Check = [](int pop3Code) {
        // A failed check does not stop the mail.
        if (pop3Code != 0)
            MsgBox::Error(QStringLiteral("POP3-Check gescheitert: ") +
                          FromL1(pelorix::Pop3ResultText(pop3Code)));
    };
    // Why a connection was not secure is told with the mail's outcome.
    events.OnSecurityLine = [&security](const std::string& line) { security << FromL1(line.substr(1)); };
    const int result =
        pelorix::DeliverAddressMail(MailData, address, pelorix::SystemClock::Instance(), events);
    if (result == 0) {
        MsgBox::Information(QStringLiteral("Mailversand erfolgreich"));
        return true;
    }
    security.prepend(QStringLiteral("Mailversand gescheitert: ") + FromL1(pelorix::SmtpResultText(result)));
    MsgBox::Error(security.join(QLatin1Char('\n')));
    return false;
}
