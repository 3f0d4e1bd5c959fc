#include "mgr/DlgMail.h"

#include "mgr/MgrWidgets.h"
#include "mgr/MsgBox.h"

#include "mgr/PasswordStyle.h"

#include <QDialogButtonBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

TDlgMailP::TDlgMailP(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("DlgMailP"));
    setWindowTitle(QStringLiteral("Pelorix - e-Mail-Parameter"));
    auto* layout = new QVBoxLayout(this);
    auto* panel = Make<QFrame>(this, "Panel");
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
    layout->addWidget(panel);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    BtnOK = buttons->button(QDialogButtonBox::Ok);
    BtnOK->setObjectName(QStringLiteral("BtnOK"));
    BtnEsc = buttons->button(QDialogButtonBox::Cancel);
    BtnEsc->setObjectName(QStringLiteral("BtnEsc"));
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

    MakeFixedDialog(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
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
