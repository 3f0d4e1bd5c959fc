// The mail parameters dialog, the additional pages dialog, the about box and the standard error
// box, each opened from the real main window as a user would.

#include "MgrTestSupport.h"

#include "mgr/DlgMail.h"
#include "mgr/DlgPage.h"
#include "mgr/InfAbout.h"
#include "mgr/MgrWidgets.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QToolButton>

#include "ServerProcess.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

using namespace mgrtest;
using pelorix::test::TempDir;

namespace {

const std::string kMailIni =
    "[Settings]\nFTPHost=h\neMail=1\nAddPages=1\nAddPage2=/t/tpl3.htm\n"
    "[SendMail]\nServer=smtp.example.org\nPOP3Srv=pop.example.org\nFrom=me@example.org\n"
    "To=you@example.org\nSubject=IP %IP%\nText=eins||zwei\nAuthID=me\nAuth=Pop3\n";

void OpenMailDialog(TFrmPelo* w, const std::function<void(TDlgMailP*)>& handler) {
    WithModal<TDlgMailP>([w] { QTest::mouseClick(w->BtnMail, Qt::LeftButton); }, handler);
}

void OpenPagesDialog(TFrmPelo* w, const std::function<void(TDlgPages*)>& handler) {
    WithModal<TDlgPages>([w] { QTest::mouseClick(w->BtnPages, Qt::LeftButton); }, handler);
}

QLineEdit* PageField(TDlgPages* dialog, int n) {
    return dialog->findChild<QLineEdit*>(QStringLiteral("EdP%1").arg(n));
}

bool SameMail(const pelorix::TMailData& a, const pelorix::TMailData& b) {
    return a.Server == b.Server && a.POP3Srv == b.POP3Srv && a.From == b.From && a.Sender == b.Sender &&
           a.To == b.To && a.CC == b.CC && a.BCC == b.BCC && a.Subject == b.Subject && a.Text == b.Text &&
           a.AuthID == b.AuthID && a.AuthPw == b.AuthPw && a.Auth == b.Auth;
}

std::string Output(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe))
            out += buffer;
        ::pclose(pipe);
    }
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

} // namespace

#if defined(__SANITIZE_ADDRESS__) && __has_include(<sanitizer/lsan_interface.h>)
#include <sanitizer/lsan_interface.h>
struct IgnoreLeaksInScope {
    IgnoreLeaksInScope() { __lsan_disable(); }
    ~IgnoreLeaksInScope() { __lsan_enable(); }
};
#else
struct IgnoreLeaksInScope {};
#endif

class DialogsTest : public QObject {
    Q_OBJECT
private slots:
    void init() { MsgBox::clearShown(); }

    void mailDialogShowsTheMailDataAndOkWithoutEditChangesNothing() {
        TempDir dir;
        dir.Write("Pelorix.ini", kMailIni);
        auto w = OpenWindow(dir);
        const pelorix::TMailData before = w->MailData;
        OpenMailDialog(w.get(), [](TDlgMailP* d) {
            QCOMPARE(d->windowTitle(), QStringLiteral("Pelorix - e-Mail-Parameter"));
            QCOMPARE(d->Gr->title(), QStringLiteral("Parameter für e-Mail-Versand setzen"));
            QCOMPARE(d->EdServer->text(), QStringLiteral("smtp.example.org"));
            QCOMPARE(d->EdName->text(), QStringLiteral("Pelorix"));
            QCOMPARE(d->EdText->toPlainText(), QStringLiteral("eins\nzwei"));
            QVERIFY(d->RbAuthP->isChecked());
            QVERIFY(d->EdPop3->isEnabled());
            QVERIFY(d->EdID->isEnabled());
            QCOMPARE(d->EdPop3->text(), QStringLiteral("pop.example.org"));
            QCOMPARE(d->EdPw->echoMode(), QLineEdit::Password);
            // Tab in the mail text moves on and inserts nothing.
            d->EdText->setFocus();
            QTest::keyClick(d->EdText, Qt::Key_Tab);
            QCOMPARE(d->EdText->toPlainText(), QStringLiteral("eins\nzwei"));
            QVERIFY(!d->EdText->hasFocus());
            QVERIFY(!d->Changed);
            QCOMPARE(d->BtnOK->text(), QStringLiteral("OK"));
            QCOMPARE(d->BtnEsc->text(), QStringLiteral("Abbrechen"));
            QTest::mouseClick(d->BtnOK, Qt::LeftButton);
        });
        QVERIFY(SameMail(w->MailData, before));
        QVERIFY(!w->SettingsChanged);
    }

    void mailDialogCancelDiscardsEdits() {
        TempDir dir;
        dir.Write("Pelorix.ini", kMailIni);
        auto w = OpenWindow(dir);
        OpenMailDialog(w.get(), [](TDlgMailP* d) {
            QTest::keyClicks(d->EdServer, QStringLiteral("x"));
            ClickBox(d->RbAuthA);
            QVERIFY(d->Changed);
            QTest::mouseClick(d->BtnEsc, Qt::LeftButton);
        });
        QCOMPARE(w->MailData.Server, std::string("smtp.example.org"));
        QCOMPARE(w->MailData.Auth, std::string("Pop3"));
        QVERIFY(!w->SettingsChanged);
    }

    void okWithTextLatin1CannotHoldIsRefusedNamingTheField() {
        TempDir dir;
        dir.Write("Pelorix.ini", kMailIni);
        auto w = OpenWindow(dir);
        const std::string password = w->MailData.AuthPw;
        OpenMailDialog(w.get(), [](TDlgMailP* d) {
            d->EdPw->setText(QString::fromUtf8("pw€x"));
            QTest::mouseClick(d->BtnOK, Qt::LeftButton);
            QVERIFY(d->isVisible());
            QCOMPARE(d->EdPw->text(), QString::fromUtf8("pw€x"));
            const auto boxes = TakeBoxes();
            QCOMPARE(boxes.size(), std::size_t(1));
            QCOMPARE(boxes[0].kind, MsgBox::Kind::Warning);
            QVERIFY2(boxes[0].text.startsWith(QStringLiteral("Das Feld \"Passwort\" enthält Zeichen")),
                     qPrintable(boxes[0].text));
            QVERIFY(boxes[0].text.contains(
                QString::fromUtf8("nur Latin-1-Zeichen (westeuropäische Buchstaben)")));
        });
        QCOMPARE(w->MailData.AuthPw, password);
        OpenPagesDialog(w.get(), [](TDlgPages* d) {
            d->findChild<QLineEdit*>(QStringLiteral("EdP7"))->setText(QString::fromUtf8("/tmp/😀.htm"));
            QTest::mouseClick(d->BtnOK, Qt::LeftButton);
            QVERIFY(d->isVisible());
            QVERIFY(TakeBoxes().at(0).text.startsWith(QStringLiteral("Das Feld \"Ergebnis3\"")));
        });
        QVERIFY(!w->SettingsChanged);
    }

    void authenticationModesEnableTheirFields() {
        TempDir dir;
        dir.Write("Pelorix.ini", kMailIni);
        auto w = OpenWindow(dir);
        OpenMailDialog(w.get(), [](TDlgMailP* d) {
            ClickBox(d->RbAuthA);
            QVERIFY(!d->EdPop3->isEnabled());
            QVERIFY(!d->LabPop3->isEnabled());
            QVERIFY(d->EdID->isEnabled());
            QVERIFY(d->EdPw->isEnabled());
            QVERIFY(d->LabPW->isEnabled());
            QCOMPARE(d->EdPop3->text(), QStringLiteral("pop.example.org")); // kept while disabled
            ClickBox(d->RbAuth0);
            for (QWidget* field : {static_cast<QWidget*>(d->EdPop3), static_cast<QWidget*>(d->EdID),
                                   static_cast<QWidget*>(d->EdPw), static_cast<QWidget*>(d->LabID)})
                QVERIFY(!field->isEnabled());
            ClickBox(d->RbAuthA);
            QTest::mouseClick(d->BtnOK, Qt::LeftButton);
        });
        QCOMPARE(w->MailData.Auth, std::string("Auth"));
        QCOMPARE(w->MailData.POP3Srv, std::string("pop.example.org"));
        QVERIFY(w->SettingsChanged);
        w->PageSet->setCurrentIndex(TFrmPelo::kPageParameter);
        w->PageSet->setCurrentIndex(TFrmPelo::kPageMonitor);
        const std::string ini = dir.Read("Pelorix.ini");
        QCOMPARE(IniValue(ini, "SendMail", "Auth"), std::optional<std::string>("Auth"));
        QCOMPARE(IniValue(ini, "SendMail", "POP3Srv"), std::optional<std::string>("pop.example.org"));
    }

    void anUnknownAuthOpensAsNoneAndBecomesNo() {
        TempDir dir;
        dir.Write("Pelorix.ini", "[Settings]\neMail=1\n[SendMail]\nAuth=pop3\n");
        auto w = OpenWindow(dir);
        OpenMailDialog(w.get(), [](TDlgMailP* d) {
            QVERIFY(d->RbAuth0->isChecked());
            QVERIFY(!d->EdPop3->isEnabled());
            QVERIFY(!d->EdID->isEnabled());
            QTest::keyClicks(d->EdTo, QStringLiteral("a@example.org"));
            QTest::mouseClick(d->BtnOK, Qt::LeftButton);
        });
        QCOMPARE(w->MailData.Auth, std::string("no"));
        QCOMPARE(w->MailData.To, std::string("a@example.org"));
    }

    void aTwoLineMailTextIsStoredWithBars() {
        TempDir dir;
        dir.Write("Pelorix.ini", "[Settings]\neMail=1\n");
        {
            auto w = OpenWindow(dir);
            OpenMailDialog(w.get(), [](TDlgMailP* d) {
                d->EdText->selectAll();
                QTest::keyClicks(d->EdText->viewport(), QString());
                QTest::keyClick(d->EdText, Qt::Key_Delete);
                QTest::keyClicks(d->EdText, QStringLiteral("a"));
                QTest::keyClick(d->EdText, Qt::Key_Return);
                QTest::keyClicks(d->EdText, QStringLiteral("b"));
                QTest::mouseClick(d->BtnOK, Qt::LeftButton);
            });
            QCOMPARE(w->MailData.Text, std::string("a\r\nb"));
            w->PageSet->setCurrentIndex(TFrmPelo::kPageMonitor);
            QCOMPARE(IniValue(dir.Read("Pelorix.ini"), "SendMail", "Text"),
                     std::optional<std::string>("a||b"));
        }
        auto again = OpenWindow(dir);
        OpenMailDialog(again.get(), [](TDlgMailP* d) {
            QCOMPARE(d->EdText->document()->blockCount(), 2);
            QCOMPARE(d->EdText->toPlainText(), QStringLiteral("a\nb"));
            QTest::mouseClick(d->BtnEsc, Qt::LeftButton);
        });
    }

    void pagesDialogOkWithoutEditAndCancel() {
        TempDir dir;
        dir.Write("Pelorix.ini", kMailIni);
        auto w = OpenWindow(dir);
        OpenPagesDialog(w.get(), [](TDlgPages* d) {
            QCOMPARE(d->windowTitle(), QStringLiteral("Pelorix - zusätzliche Seitengenerierung"));
            QCOMPARE(d->Gr->title(), QStringLiteral("IP-Adresse auch in folgende Dokumente einsetzen"));
            QCOMPARE(PageField(d, 2)->text(), QStringLiteral("/t/tpl3.htm"));
            QVERIFY(!d->Changed);
            QTest::mouseClick(d->BtnOK, Qt::LeftButton);
        });
        QVERIFY(!w->SettingsChanged);
        OpenPagesDialog(w.get(), [](TDlgPages* d) {
            QTest::keyClicks(PageField(d, 4), QStringLiteral("/t/tpl5.htm"));
            QTest::mouseClick(d->BtnEsc, Qt::LeftButton);
        });
        QCOMPARE(w->AddPageFiles[4], std::string());
        QVERIFY(!w->SettingsChanged);
    }

    void pagesDialogRowsAndTabOrder() {
        TempDir dir;
        auto w = OpenWindow(dir);
        TDlgPages dialog(w.get());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        const char* captions[] = {"Vorlage 1:", "Ergebnis1:", "Vorlage 2:", "Ergebnis2:", "Vorlage 3:",
                                  "Ergebnis3:", "Vorlage 4:", "Ergebnis4:", "Vorlage 5:", "Ergebnis5:"};
        const int fields[] = {0, 5, 1, 6, 2, 7, 3, 8, 4, 9};
        for (int row = 0; row < 10; ++row) {
            auto* label = dialog.findChild<QLabel*>(QStringLiteral("LabP%1").arg(fields[row]));
            QVERIFY(label);
            QCOMPARE(label->text(), QString::fromLatin1(captions[row]));
            auto* button = dialog.findChild<QToolButton*>(QStringLiteral("BtnOpen%1").arg(fields[row]));
            QCOMPARE(TFrmPelo::Tag(button), fields[row]);
            if (row > 0) // rows run pair by pair, from top to bottom
                QVERIFY(PageField(&dialog, fields[row])->y() > PageField(&dialog, fields[row - 1])->y());
        }
        for (int n = 0; n + 1 < 10; ++n)
            QCOMPARE(PageField(&dialog, n)->nextInFocusChain(), PageField(&dialog, n + 1));
    }

    void pickingTheThirdResultFillsEdP7AndIsSavedAsAddPage7() {
        TempDir dir;
        dir.Write("Pelorix.ini", kMailIni);
        auto w = OpenWindow(dir);
        TOpenDialog::Presets().clear();
        TOpenDialog::SetNextResult(QStringLiteral("/srv/www/ergebnis3.htm"));
        OpenPagesDialog(w.get(), [](TDlgPages* d) {
            QTest::mouseClick(d->findChild<QToolButton*>(QStringLiteral("BtnOpen7")), Qt::LeftButton);
            QCOMPARE(PageField(d, 7)->text(), QStringLiteral("/srv/www/ergebnis3.htm"));
            PageField(d, 2)->clear(); // the template of the same pair
            QTest::mouseClick(d->BtnOK, Qt::LeftButton);
        });
        QCOMPARE(TOpenDialog::Presets(), QStringList({QString()}));
        QVERIFY(w->SettingsChanged);
        QCOMPARE(w->AddPageFiles[7], std::string("/srv/www/ergebnis3.htm"));
        QCOMPARE(w->AddPageFiles[2], std::string());
        w->PageSet->setCurrentIndex(TFrmPelo::kPageParameter);
        w->PageSet->setCurrentIndex(TFrmPelo::kPageMonitor);
        const std::string ini = dir.Read("Pelorix.ini");
        QCOMPARE(IniValue(ini, "Settings", "AddPage7"), std::optional<std::string>("/srv/www/ergebnis3.htm"));
        QCOMPARE(IniValue(ini, "Settings", "AddPage2"), std::optional<std::string>(""));
    }

    void aboutBoxFromTheInfoButtons() {
        TempDir dir;
        auto w = OpenWindow(dir);
        for (QToolButton* button : {w->Btn1Info, w->Btn4Info}) {
            QCOMPARE(button->toolTip(), QStringLiteral("Programminformation"));
            WithModal<TAboutBox>([button] { QTest::mouseClick(button, Qt::LeftButton); },
                                 [](TAboutBox* box) {
                                     QCOMPARE(box->windowTitle(), QStringLiteral("Programminfo"));
                                     QCOMPARE(box->ProductName->text(), QStringLiteral("Pelorix"));
                                     QCOMPARE(box->Label1->text(),
                                              QStringLiteral("(Konsole für den Hintergrunddienst)"));
                                     QVERIFY(!box->ProgramIcon->pixmap().isNull());
                                     QTest::mouseClick(box->BitBtn1, Qt::LeftButton);
                                 });
        }
        QVERIFY(!QApplication::activeModalWidget());
    }

    // Fixed dialogs open in the middle of the screen, also with the window moved aside, and
    // have no minimise or maximise button; long values show their beginning.
    void dialogsAreCentredOnTheScreenWithoutMinimiseOrMaximise() {
        TempDir dir;
        const std::string longPath = "/ein/sehr/langer/Pfad/" + std::string(200, 'x') + "/Vorlage.htm";
        dir.Write("Pelorix.ini", "[Settings]\nHTMLTemplate=" + longPath + "\n" + kMailIni.substr(11));
        auto w = OpenWindow(dir);
        QCOMPARE(w->EdVorl->text(), QString::fromStdString(longPath));
        QCOMPARE(w->EdVorl->cursorPosition(), 0);
        w->move(0, 0);
        const QPoint screenCentre = QGuiApplication::primaryScreen()->availableGeometry().center();
        const auto check = [&](QDialog* dialog) {
            const QPoint offset = dialog->frameGeometry().center() - screenCentre;
            QVERIFY2(offset.manhattanLength() <= 4,
                     qPrintable(QStringLiteral("%1,%2").arg(offset.x()).arg(offset.y())));
            QVERIFY(!(dialog->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
            QVERIFY(dialog->windowFlags() & Qt::WindowCloseButtonHint);
            dialog->reject();
        };
        OpenMailDialog(w.get(), [&](TDlgMailP* d) { check(d); });
        OpenPagesDialog(w.get(), [&](TDlgPages* d) { check(d); });
        WithModal<TAboutBox>([&w] { w->BtnInfoClick(); }, [&](TAboutBox* box) { check(box); });
    }

    void anEscapedErrorEndsInTheStandardErrorBox() {
        // Qt's widgets have no cleanup for an exception passing through them: the event copies
        // Qt was delivering leak. That is Qt's, so the leak checker looks away here.
        [[maybe_unused]] IgnoreLeaksInScope ignoreQtLeaks;
        QPushButton button;
        QObject::connect(&button, &QPushButton::clicked, [] { throw EPeloError("Zugriff fehlgeschlagen"); });
        QTest::mouseClick(&button, Qt::LeftButton);
        QPushButton exclaiming;
        QObject::connect(&exclaiming, &QPushButton::clicked, [] { throw EPeloError("Kein Zugriff!"); });
        QTest::mouseClick(&exclaiming, Qt::LeftButton);
        QPushButton umlaut;
        QObject::connect(&umlaut, &QPushButton::clicked,
                         [] { throw EPeloError("Schreibfehler: Datei gelöscht"_l1); });
        QTest::mouseClick(&umlaut, Qt::LeftButton);
        const auto boxes = TakeBoxes();
        QCOMPARE(boxes.size(), std::size_t(3));
        QCOMPARE(boxes[0].kind, MsgBox::Kind::ApplicationError);
        QCOMPARE(boxes[0].text, QStringLiteral("Zugriff fehlgeschlagen."));
        QCOMPARE(boxes[1].text, QStringLiteral("Kein Zugriff!")); // "!" sorts below "."
        QCOMPARE(boxes[2].text, QStringLiteral("Schreibfehler: Datei gelöscht."));
        QCOMPARE(MsgBox::ApplicationTitle(), QStringLiteral("Pelorix-Manager"));
        QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Pelorix-Manager"));
    }

    void mailCheckOffersToTrustAnUnknownCertificate() {
        TempDir dir;
        const std::string cert = dir.File("cert.pem");
        const std::string key = dir.File("key.pem");
        Output("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj "
               "/CN=mail.test -keyout " +
               key + " -out " + cert + " 2>/dev/null");
        const std::string pin =
            "sha256//" + Output("openssl x509 -in " + cert +
                                " -pubkey -noout | openssl pkey "
                                "-pubin -outform der | openssl dgst -sha256 -binary | base64");
        const int port = FreePort();
        pelorix::test::ServerProcess server({"/usr/bin/openssl", "s_server", "-quiet", "-accept",
                                             "127.0.0.1:" + std::to_string(port), "-cert", cert, "-key", key,
                                             "-naccept", "2"},
                                            dir.File("server.log"));
        QVERIFY(server.WaitForPort(port));

        TDlgMailP dialog;
        dialog.EdServer->setText(QStringLiteral("127.0.0.1"));
        QCOMPARE(dialog.EdPort->placeholderText(), QStringLiteral("25"));
        dialog.CbSecurity->setCurrentIndex(2);
        QCOMPARE(dialog.CbSecurity->currentText(), QStringLiteral("SSL/TLS"));
        QCOMPARE(dialog.EdPort->placeholderText(), QStringLiteral("465"));
        dialog.EdPort->setText(QString::number(port));
        dialog.Changed = false;
        MsgBox::setNextAnswer(MsgBox::Answer::Yes);
        QTest::mouseClick(dialog.BtnCheck, Qt::LeftButton);
        // After Yes the check goes on; the test's TLS peer has stopped accepting by then.
        const auto boxes = TakeBoxes();
        QCOMPARE(boxes.size(), std::size_t(2));
        QCOMPARE(boxes[0].kind, MsgBox::Kind::Confirmation);
        QCOMPARE(boxes[0].text, QStringLiteral("Zertifikat nicht vertrauenswürdig (selbst signiert): ") +
                                    FromL1(pin) + QStringLiteral("\n\nDiesem Server künftig vertrauen?"));
        QCOMPARE(boxes[1].kind, MsgBox::Kind::Error);
        QCOMPARE(dialog.Trust, pin);
        QVERIFY(dialog.Changed);
        pelorix::TMailData taken;
        dialog.TakeSecurity(taken);
        QCOMPARE(taken.Security, std::string("tls"));
        QCOMPARE(taken.Port, port);
        QCOMPARE(taken.Trust, pin);
    }

    void standardButtonsSpeakGerman() {
        QMessageBox box(QMessageBox::Question, QString(), QString(), QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(box.button(QMessageBox::Yes)->text().remove(QLatin1Char('&')), QStringLiteral("Ja"));
        QCOMPARE(box.button(QMessageBox::No)->text().remove(QLatin1Char('&')), QStringLiteral("Nein"));
        QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Abbrechen"));
    }
};

PELORIX_MGR_TEST_MAIN(DialogsTest)
#include "DialogsTest.moc"
