#include "mgr/DlgMail.h"

#include "mgr/MgrWidgets.h"
#include "mgr/MsgBox.h"
#include "mgr/NetworkAction.h"
#include "mgr/PasswordStyle.h"
#include "mgr/TrustQuestion.h"
#include "svc/MailCompose.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>

TDlgMailP::TDlgMailP(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("DlgMailP"));
    setWindowTitle(QStringLiteral("Pelorix - e-Mail-Parameter"));
    auto* layout = new QVBoxLayout(this);
    // The form scrolls when the screen is too small for it; the buttons stay below it.
    auto* body = new TScrollingBody(this);
    auto* panel = Make<QFrame>(body, "Panel");
    panel->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
    auto* panelLayout = new QVBoxLayout(panel);

    Gr = Make<QGroupBox>(panel, "Gr");
    Gr->setTitle(QStringLiteral("Parameter für e-Mail-Versand setzen"));
    auto* grid = new QGridLayout(Gr);
    const struct {
        const char* label;
        QString caption;
        const char* edit;
        QLineEdit** field;
    } rows[] = {
        {"LabServer", QStringLiteral("SMTP-Server:"), "EdServer", &EdServer},
        {"LabFrom", QStringLiteral("Absender-e-Mail:"), "EdFrom", &EdFrom},
        {"LabName", QStringLiteral("Absender-Name:"), "EdName", &EdName},
        {"LabTo", QStringLiteral("Mail-Empfänger:"), "EdTo", &EdTo},
        {"LabCC", QStringLiteral("Kopie-Empfänger:"), "EdCC", &EdCC},
        {"LabBCC", QStringLiteral("Blindkopie-Empfänger:"), "EdBCC", &EdBCC},
        {"LabSubject", QStringLiteral("Mail-Betreff:"), "EdSubject", &EdSubject},
    };
    int row = 0;
    for (const auto& entry : rows) {
        grid->addWidget(MakeLabel(Gr, entry.label, entry.caption), row, 0);
        *entry.field = Make<QLineEdit>(Gr, entry.edit);
        grid->addWidget(*entry.field, row, 1);
        ++row;
        if (entry.field == &EdServer)
            AddSecurityRow(grid, row++);
    }
    grid->addWidget(MakeLabel(Gr, "LabText", QStringLiteral("Mail-Text:")), row, 0, Qt::AlignTop);
    EdText = Make<QPlainTextEdit>(Gr, "EdText");
    EdText->setLineWrapMode(QPlainTextEdit::NoWrap);
    EdText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    EdText->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    EdText->setMinimumSize(300, 110);
    EdText->setTabChangesFocus(true); // Tab moves on, as in every other field
    grid->addWidget(EdText, row, 1);
    grid->setColumnStretch(1, 1);
    panelLayout->addWidget(Gr);

    GrAuth = Make<QGroupBox>(panel, "GrAuth");
    GrAuth->setTitle(QStringLiteral("Authentifizierung"));
    auto* auth = new QGridLayout(GrAuth);
    RbAuth0 = Make<QRadioButton>(GrAuth, "RbAuth0");
    RbAuth0->setText(QStringLiteral("keine"));
    RbAuth0->setProperty("tag", 0);
    RbAuth0->setChecked(true);
    RbAuthP = Make<QRadioButton>(GrAuth, "RbAuthP");
    RbAuthP->setText(QStringLiteral("POP3-Check vor Senden"));
    RbAuthP->setProperty("tag", 1);
    RbAuthA = Make<QRadioButton>(GrAuth, "RbAuthA");
    RbAuthA->setText(QStringLiteral("Senden mit AUTH"));
    RbAuthA->setProperty("tag", 2);
    LabPop3 = MakeLabel(GrAuth, "LabPop3", QStringLiteral("POP3-Server:"));
    EdPop3 = Make<QLineEdit>(GrAuth, "EdPop3");
    LabID = MakeLabel(GrAuth, "LabID", QStringLiteral("Benutzername:"));
    EdID = Make<QLineEdit>(GrAuth, "EdID");
    LabPW = MakeLabel(GrAuth, "LabPW", QStringLiteral("Passwort:"));
    EdPw = Make<QLineEdit>(GrAuth, "EdPw");
    MakePasswordField(EdPw);
    for (QWidget* widget :
         {static_cast<QWidget*>(LabPop3), static_cast<QWidget*>(EdPop3), static_cast<QWidget*>(LabID),
          static_cast<QWidget*>(EdID), static_cast<QWidget*>(LabPW), static_cast<QWidget*>(EdPw)})
        widget->setEnabled(false);
    auth->addWidget(RbAuth0, 0, 0);
    auth->addWidget(RbAuthP, 1, 0);
    auth->addWidget(RbAuthA, 2, 0);
    auth->addWidget(LabPop3, 0, 1);
    auth->addWidget(EdPop3, 0, 2);
    auth->addWidget(LabID, 1, 1);
    auth->addWidget(EdID, 1, 2);
    auth->addWidget(LabPW, 2, 1);
    auth->addWidget(EdPw, 2, 2);
    auth->setColumnStretch(2, 1);
    panelLayout->addWidget(GrAuth);
    body->setWidget(panel);
    layout->addWidget(body);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    BtnOK = buttons->button(QDialogButtonBox::Ok);
    BtnOK->setObjectName(QStringLiteral("BtnOK"));
    BtnEsc = buttons->button(QDialogButtonBox::Cancel);
    BtnEsc->setObjectName(QStringLiteral("BtnEsc"));
    BtnCheck = buttons->addButton(QStringLiteral("Verbindung prüfen"), QDialogButtonBox::ActionRole);
    BtnCheck->setObjectName(QStringLiteral("BtnCheck"));
    connect(BtnCheck, &QPushButton::clicked, this, &TDlgMailP::BtnCheckClick);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    for (QRadioButton* button : {RbAuth0, RbAuthP, RbAuthA})
        connect(button, &QRadioButton::toggled, this, [this, button](bool on) {
            if (on)
                RbAuthClick(button);
        });
    for (QLineEdit* edit : {EdServer, EdFrom, EdName, EdTo, EdCC, EdBCC, EdSubject, EdPop3, EdID, EdPw})
        connect(edit, &QLineEdit::textChanged, this, &TDlgMailP::EdChange);
    connect(EdText, &QPlainTextEdit::textChanged, this, &TDlgMailP::EdChange);
    connect(EdPort, &QLineEdit::textChanged, this, &TDlgMailP::EdChange);
    connect(CbSecurity, &QComboBox::currentIndexChanged, this, [this] {
        EdChange();
        ShowDefaultPort();
    });
    ShowDefaultPort();

    MakeFixedDialog(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

// The protection of the connection and its port, right below the server they belong to.
void TDlgMailP::AddSecurityRow(QGridLayout* grid, int row) {
    grid->addWidget(MakeLabel(Gr, "LabSecurity", QStringLiteral("Verschlüsselung:")), row, 0);
    auto* secure = new QHBoxLayout;
    CbSecurity = Make<QComboBox>(Gr, "CbSecurity");
    CbSecurity->addItems({QStringLiteral("keine"), QStringLiteral("STARTTLS"), QStringLiteral("SSL/TLS")});
    secure->addWidget(CbSecurity);
    secure->addWidget(MakeLabel(Gr, "LabPort", QStringLiteral("Port:")));
    EdPort = Make<QLineEdit>(Gr, "EdPort");
    EdPort->setValidator(new QIntValidator(0, 65535, EdPort));
    EdPort->setMaximumWidth(70);
    secure->addWidget(EdPort);
    secure->addStretch(1);
    grid->addLayout(secure, row, 1);
}

void TDlgMailP::SetMailText(const QString& text) {
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    EdText->setPlainText(lines);
}

QString TDlgMailP::MailText() const {
    QString text = EdText->toPlainText();
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return text;
}

void TDlgMailP::RbAuthClick(QObject* Sender) {
    Changed = true;
    const int tag = Sender->property("tag").toInt();
    const bool pop3 = tag == 1;
    const bool account = tag == 1 || tag == 2;
    LabPop3->setEnabled(pop3);
    EdPop3->setEnabled(pop3);
    for (QWidget* widget : {static_cast<QWidget*>(LabID), static_cast<QWidget*>(EdID),
                            static_cast<QWidget*>(LabPW), static_cast<QWidget*>(EdPw)})
        widget->setEnabled(account);
}

void TDlgMailP::EdChange() {
    Changed = true;
}

void TDlgMailP::accept() {
    const QStringList refused = NotLatin1Fields(this);
    if (!refused.isEmpty()) {
        MsgBox::Warning(NotLatin1Text(refused));
        return;
    }
    QDialog::accept();
}

namespace {

const char* const kSecurityTexts[] = {"none", "starttls", "tls"};

} // namespace

void TDlgMailP::ShowDefaultPort() {
    const auto security = pelorix::ParseMailSecurity(kSecurityTexts[std::max(0, CbSecurity->currentIndex())]);
    EdPort->setPlaceholderText(QString::number(pelorix::SmtpPortFor(security, 0)));
}

void TDlgMailP::SetSecurity(const pelorix::TMailData& mail) {
    CbSecurity->setCurrentIndex(static_cast<int>(pelorix::ParseMailSecurity(mail.Security)));
    EdPort->setText(mail.Port > 0 ? QString::number(mail.Port) : QString());
    Trust = mail.Trust;
    Pop3Port = mail.POP3Port;
}

void TDlgMailP::TakeSecurity(pelorix::TMailData& mail) const {
    mail.Security = kSecurityTexts[std::max(0, CbSecurity->currentIndex())];
    mail.Port = EdPort->text().toInt();
    mail.Trust = Trust;
    mail.POP3Port = Pop3Port;
}

pelorix::TMailData TDlgMailP::ShownMailData() const {
    pelorix::TMailData mail;
    mail.Server = ToL1(EdServer->text());
    mail.From = ToL1(EdFrom->text());
    mail.Sender = ToL1(EdName->text());
    mail.POP3Srv = ToL1(EdPop3->text());
    mail.AuthID = ToL1(EdID->text());
    mail.AuthPw = ToL1(EdPw->text());
    mail.Auth = RbAuthP->isChecked() ? "Pop3" : RbAuthA->isChecked() ? "Auth" : "no";
    TakeSecurity(mail);
    return mail;
}

void TDlgMailP::BtnCheckClick() {
    // After a Yes the check goes on with the new trust; it is asked once per click.
    for (bool asked = false;;) {
        const pelorix::TMailData mail = ShownMailData();
        QStringList problems;
        std::string seenPin;
        int pop3Code = 0;
        pelorix::MailEvents events;
        events.OnPop3Check = [&pop3Code](int code) { pop3Code = code; };
        events.OnSecurityLine = [&problems](const std::string& line) { problems << FromL1(line.substr(1)); };
        events.OnUntrustedKey = [&seenPin](const std::string& pin) { seenPin = pin; };
        // A check that cannot get through gives up after a minute instead of the mail's two.
        pelorix::MailLinkOptions link;
        link.DialogueTimeoutMs = 60000;
        int code = 0;
        RunNetworkAction(this, [&] { code = pelorix::CheckMailConnection(mail, events, link); });

        if (!seenPin.empty() && !asked) {
            asked = true;
            if (!MsgBox::Confirm(problems.join(QLatin1Char('\n')) +
                                 QStringLiteral("\n\nDiesem Server künftig vertrauen?"))) {
                TellNotTrusted();
                return;
            }
            Trust = seenPin;
            Changed = true;
            continue;
        }
        if (pop3Code != 0)
            problems << QStringLiteral("POP3-Check gescheitert: ") +
                            FromL1(pelorix::Pop3ResultText(pop3Code));
        if (code != 0)
            problems << QStringLiteral("Verbindung gescheitert: ") + FromL1(pelorix::SmtpResultText(code));
        if (problems.isEmpty())
            MsgBox::Information(ConnectionFineText({}));
        else
            MsgBox::Error(problems.join(QLatin1Char('\n')));
        return;
    }
}
