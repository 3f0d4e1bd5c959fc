// The main window as settings editor: start from the file, editing, saving when "Parameter" is
// left or the window closes, the interval field, the drop-down histories and the router question.

#include "MgrTestSupport.h"

#include "common/Config.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStyle>
#include <QTextEdit>
#include <QToolButton>
#include <QUrl>
#include <filesystem>

using namespace mgrtest;
using pelorix::test::TempDir;

namespace {

const QString kNotice = QStringLiteral("Änderungen werden erst nach Neustart des Dienstes wirksam!");

QString Q(const std::string& latin1) {
    return QString::fromLatin1(latin1);
}

std::string Scrambled(const std::string& plain) {
    return pelorix::ScramblePassword(plain);
}

} // namespace

// Receives the URLs the window asks the desktop to open.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};

class SettingsEditorTest : public QObject {
    Q_OBJECT
private slots:
    void init() { MsgBox::clearShown(); }

    void firstStartShowsTheManagerDefaults() {
        TempDir dir;
        auto w = OpenWindow(dir);
        QCOMPARE(w->windowTitle(), QStringLiteral("Pelorix  -  dynamische IP-Adresse veröffentlichen"));
        QCOMPARE(w->PageSet->count(), 4);
        QCOMPARE(w->PageSet->tabText(0), QStringLiteral("Parameter"));
        QCOMPARE(w->PageSet->tabText(1), QStringLiteral("Service-Monitor"));
        QCOMPARE(w->PageSet->tabText(2), QStringLiteral("Management"));
        QCOMPARE(w->PageSet->tabText(3), QStringLiteral("IP-Adressen"));
        QCOMPARE(w->PageSet->currentWidget(), w->Sheet1); // no FTP host yet

        QCOMPARE(w->EdVorl->text(), Q(dir.Path() + "Online.htm"));
        QCOMPARE(w->EdOffl->text(), QStringLiteral("Offline.htm"));
        QCOMPARE(w->EdGen->text(), Q(dir.Path() + "PelorixTmp.htm"));
        QCOMPARE(w->EdHost->currentText(), QString());
        QCOMPARE(w->EdUser->currentText(), QStringLiteral("?"));
        QCOMPARE(w->EdPass->text(), Q(pelorix::kManagerDefaultPassword));
        QCOMPARE(w->EdSite->currentText(), QStringLiteral("/myserver.htm"));
        QCOMPARE(w->EdRout->currentText(), Q(pelorix::kDefaultIPSource));
        QCOMPARE(w->IPSourceX, std::string(pelorix::kDefaultIPSourceX));
        for (QComboBox* box : {w->EdHost, w->EdUser, w->EdSite, w->EdRout})
            QCOMPARE(box->count(), 0);
        QVERIFY(!w->CbPassive->isChecked());
        QVERIFY(!w->CbRout->isChecked());
        QVERIFY(!w->EdRout->isEnabled());
        QVERIFY(!w->CbPages->isChecked());
        QVERIFY(!w->BtnPages->isEnabled());
        QVERIFY(!w->CbMail->isChecked());
        QVERIFY(!w->BtnMail->isEnabled());
        QVERIFY(!w->CbMsg->isChecked());
        QCOMPARE(w->EdLevel->value(), 0);
        QCOMPARE(w->EdLevel->minimum(), 0);
        QCOMPARE(w->EdLevel->maximum(), 4);
        QVERIFY(!w->CbLog->isChecked());
        QVERIFY(w->RbVisible->isChecked());
        QVERIFY(!w->RbHide->isChecked());
        QVERIFY(w->CbErr->isChecked());
        QVERIFY(!w->CbErr->isEnabled());
        QCOMPARE(w->EdLoop->text(), QStringLiteral("  5:00"));
        QCOMPARE(w->IntervalUnits, 30);
        QCOMPARE(w->MailData.Sender, std::string("Pelorix"));
        QCOMPARE(w->MailData.Auth, std::string("no"));
        QCOMPARE(w->pos(), QPoint(1, 1));
        QVERIFY(!w->SettingsChanged);
        QVERIFY(!w->WindowModeChanged);
        QVERIFY(!w->TrayMode);
        // the monitor stays off and says so
        QVERIFY(w->List->toPlainText().contains(QStringLiteral("*** Meldungsempfang ausgeschaltet")));
        // password characters show as "#"
        QCOMPARE(w->EdPass->echoMode(), QLineEdit::Password);
        QCOMPARE(w->EdPass->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, w->EdPass),
                 int('#'));
        QVERIFY(TakeBoxes().empty());
        QVERIFY(!dir.Exists("Pelorix.ini"));
    }

    void everyControlOfEveryPageExists() {
        TempDir dir;
        auto w = OpenWindow(dir);
        const char* names[] = {
            "Gr2lokal",  "Label211",  "EdVorl",    "BtnOpen1a", "Label4",    "EdOffl",    "BtnOpen1b",
            "Label212",  "EdGen",     "BtnOpen1c", "CbPages",   "BtnPages",  "Label2311", "EdLoop",
            "Label2312", "Gr2Ftp",    "Label221",  "EdHost",    "CbPassive", "Label222",  "EdUser",
            "Label223",  "EdPass",    "Label224",  "EdSite",    "CbMail",    "BtnMail",   "Btn2Help",
            "Gr2Http",   "Label231",  "EdRout",    "Label232",  "CbRout",    "Gr2Work",   "Group231",
            "CbMsg",     "Label1",    "EdLevel",   "Label2",    "CbLog",     "Group232",  "RbVisible",
            "RbHide",    "CbErr",     "GrMon",     "List",      "BtnOnOff",  "BtnClear",  "Btn1Info",
            "Lab30",     "Gr31",      "Lab31",     "LabStat",   "Btn3Stat",  "Gr32",      "Btn3Start",
            "Btn3Stop",  "Btn3Pause", "Btn3Cont",  "Gr33",      "Btn3Inst",  "Btn3Del",   "Gr4",
            "Lab41",     "Memo4IPs",  "Label3",    "Ed4Host",   "Lab42",     "Ed4IP",     "Btn4Akt",
            "Btn4Up",    "Btn4Off",   "Btn4Info",  "StatusBar", "ImageDot",  "ImageKrz",  "PopupTray",
            "SrvSock",   "PageSet"};
        for (const char* name : names)
            QVERIFY2(w->findChild<QObject*>(QLatin1String(name)), name);
        QCOMPARE(Find<QLabel>(w.get(), "Label212")->text(),
                 QStringLiteral("lokale Kopie der  Generatorseite:"));
        QCOMPARE(Find<QLabel>(w.get(), "Label2311")->text(), QStringLiteral("IP-Adresse  prüfen alle:"));
        QCOMPARE(w->Btn2Help->toolTip(), QStringLiteral("Hilfe"));
        QCOMPARE(w->BtnOnOff->text(), QStringLiteral("Monitor &ein"));
        QCOMPARE(TFrmPelo::Tag(w->BtnOnOff), 1);
        QCOMPARE(w->Btn3Stop->toolTip(), QStringLiteral("Hinstergrunddienst beenden"));
        QCOMPARE(TFrmPelo::Tag(w->Btn3Del), 6);
        QVERIFY(!w->Btn3Inst->isEnabled());
        QCOMPARE(w->Btn4Off->text(), QStringLiteral("   'bin &offline'-Seite hochladen"));
        QCOMPARE(w->Ed4IP->text(), QStringLiteral("nicht bestimmt"));
        QVERIFY(!w->Memo4IPs->isEnabled());
        QVERIFY(!w->Ed4Host->isEnabled());
        QVERIFY(w->ImageDot->isHidden());
        QVERIFY(w->ImageKrz->isHidden());
        QCOMPARE(w->ImageDot->x(), 450);
        QCOMPARE(w->ImageKrz->x(), 450);
        QCOMPARE(w->DlgOpen.Title, QStringLiteral("Datei auswählen"));
        QCOMPARE(TOpenDialog::QtFilters(w->DlgOpen.Filter),
                 QStringList({QStringLiteral("HTML-Datei (*.htm *.html)"),
                              QStringLiteral("Text-Datei (*.txt)"), QStringLiteral("beliebige Datei (*)")}));
    }

    void startsFromTheFileOnTheMonitorPage() {
        TempDir dir;
        dir.Write("Pelorix.ini",
                  "[Settings]\nFTPHost=ftp.example.org\nFTPUser=alice\nFTPPass=" + Scrambled("g3heim") +
                      "\nFTPSite=/www/ip.htm\nFTPPassive=1\nRouter=1\nIPSource=ip.example.net/\n"
                      "AddPages=1\nAddPage7=/tmp/res3.htm\neMail=1\nIntervall=62\nMessages=0\n"
                      "MsgLevel=3\nLogFile=1\nShowErr=0\nLeft=30\nTop=40\nHTMLTemplate=/t/on.htm\n"
                      "[Hosts]\nFTPHost1=ftp.example.org\nFTPHost3=other.example.org\n"
                      "IPSourceX=alt.example.net/ip\n"
                      "[SendMail]\nServer=smtp.example.org\nText=a||b\nAuth=Pop3\n");
        auto w = OpenWindow(dir);
        QCOMPARE(w->PageSet->currentWidget(), w->Sheet2);
        QCOMPARE(w->EdHost->currentText(), QStringLiteral("ftp.example.org"));
        QCOMPARE(w->EdHost->count(), 2);
        QCOMPARE(w->EdHost->itemText(1), QStringLiteral("other.example.org"));
        QCOMPARE(w->EdUser->currentText(), QStringLiteral("alice"));
        QCOMPARE(w->EdPass->text(), QStringLiteral("g3heim"));
        QCOMPARE(w->EdSite->currentText(), QStringLiteral("/www/ip.htm"));
        QCOMPARE(w->EdVorl->text(), QStringLiteral("/t/on.htm"));
        QVERIFY(w->CbPassive->isChecked());
        QVERIFY(w->CbRout->isChecked());
        QVERIFY(w->EdRout->isEnabled());
        QCOMPARE(w->EdRout->currentText(), QStringLiteral("ip.example.net/"));
        QCOMPARE(w->IPSourceX, std::string("alt.example.net/ip"));
        QVERIFY(w->CbPages->isChecked());
        QVERIFY(w->BtnPages->isEnabled());
        QCOMPARE(w->AddPageFiles[7], std::string("/tmp/res3.htm"));
        QVERIFY(w->CbMail->isChecked());
        QVERIFY(w->BtnMail->isEnabled());
        QCOMPARE(w->MailData.Server, std::string("smtp.example.org"));
        QCOMPARE(w->MailData.Text, std::string("a\r\nb"));
        QCOMPARE(w->EdLoop->text(), QStringLiteral(" 10:20"));
        QCOMPARE(w->IntervalUnits, 62);
        QCOMPARE(w->EdLevel->value(), 3);
        QVERIFY(w->CbLog->isChecked());
        QVERIFY(!w->CbErr->isChecked());
        QCOMPARE(w->pos(), QPoint(30, 40));
        QVERIFY(!w->SettingsChanged);
        QVERIFY(TakeBoxes().empty()); // loading never asks the router question
    }

    void leavingParameterAfterEditsSavesOnceWithTheNotice() {
        TempDir dir;
        auto w = OpenWindow(dir);
        TypeInto(w->EdHost, QStringLiteral("ftp.example.org"), w->EdUser);
        TypeInto(w->EdUser, QStringLiteral("bob"), w->EdPass);
        TypeInto(w->EdPass, QStringLiteral("Paßwort"), w->EdSite);
        TypeInto(w->EdLoop, QStringLiteral("7"), w->EdSite);
        ClickBox(w->CbPassive);
        ClickBox(w->CbLog);
        w->EdLevel->setValue(2);
        QVERIFY(w->SettingsChanged);
        QVERIFY(TakeBoxes().empty());

        w->PageSet->setCurrentIndex(TFrmPelo::kPageMonitor);
        const auto boxes = TakeBoxes();
        QCOMPARE(boxes.size(), std::size_t(1));
        QCOMPARE(boxes[0].kind, MsgBox::Kind::Information);
        QCOMPARE(boxes[0].text, kNotice);
        QVERIFY(!w->SettingsChanged);

        const std::string ini = dir.Read("Pelorix.ini");
        QCOMPARE(IniValue(ini, "Settings", "FTPHost"), std::optional<std::string>("ftp.example.org"));
        QCOMPARE(IniValue(ini, "Settings", "FTPUser"), std::optional<std::string>("bob"));
        QCOMPARE(IniValue(ini, "Settings", "FTPPass"), std::optional<std::string>(Scrambled("Paßwort"_l1)));
        QCOMPARE(IniValue(ini, "Settings", "Intervall"), std::optional<std::string>("42"));
        QCOMPARE(IniValue(ini, "Settings", "FTPPassive"), std::optional<std::string>("1"));
        QCOMPARE(IniValue(ini, "Settings", "LogFile"), std::optional<std::string>("1"));
        QCOMPARE(IniValue(ini, "Settings", "MsgLevel"), std::optional<std::string>("2"));
        QCOMPARE(IniValue(ini, "Settings", "Router"), std::optional<std::string>("0"));
        QCOMPARE(IniValue(ini, "Settings", "OfflTemplate"), std::optional<std::string>("Offline.htm"));
        QCOMPARE(IniValue(ini, "Hosts", "FTPHost1"), std::optional<std::string>("ftp.example.org"));
        QCOMPARE(IniValue(ini, "Hosts", "FTPUser1"), std::optional<std::string>("bob"));
        QCOMPARE(IniValue(ini, "Hosts", "FTPPass1"), std::optional<std::string>(Scrambled("Paßwort"_l1)));
        QVERIFY(!IniValue(ini, "Hosts", "IPSourceX"));
        QVERIFY(!IniValue(ini, "Settings", "Left")); // written at close only
        QVERIFY(!IniValue(ini, "Settings", "Hidden"));

        // back and away again without a change: nothing written, nothing shown
        w->PageSet->setCurrentIndex(TFrmPelo::kPageParameter);
        w->PageSet->setCurrentIndex(TFrmPelo::kPageAddresses);
        QVERIFY(TakeBoxes().empty());
        QCOMPARE(dir.Read("Pelorix.ini"), ini);
    }

    void leavingParameterWithoutChangeWritesNothing() {
        TempDir dir;
        auto w = OpenWindow(dir);
        w->PageSet->setCurrentIndex(TFrmPelo::kPageManagement);
        w->PageSet->setCurrentIndex(TFrmPelo::kPageParameter);
        w->PageSet->setCurrentIndex(TFrmPelo::kPageMonitor);
        QVERIFY(TakeBoxes().empty());
        QVERIFY(!dir.Exists("Pelorix.ini"));
    }

    void aFailedSaveReportsAndKeepsTheChange() {
        TempDir dir;
        // A directory in place of the file: no writer, root included, can replace it.
        std::filesystem::create_directory(dir.File("Pelorix.ini"));
        auto w = OpenWindow(dir);
        TypeInto(w->EdHost, QStringLiteral("ftp.example.org"), w->EdUser);
        w->PageSet->setCurrentIndex(TFrmPelo::kPageMonitor);
        auto boxes = TakeBoxes();
        QCOMPARE(boxes.size(), std::size_t(1));
        QCOMPARE(boxes[0].kind, MsgBox::Kind::Error);
        const QString head = QStringLiteral("Speichern der geänderten Parameter nicht möglich!\r\n\n");
        QVERIFY2(boxes[0].text.startsWith(head), qPrintable(boxes[0].text));
        QVERIFY(boxes[0].text.size() > head.size()); // the system's text follows
        QVERIFY(w->SettingsChanged);

        // the next departure tries again
        w->PageSet->setCurrentIndex(TFrmPelo::kPageParameter);
        w->PageSet->setCurrentIndex(TFrmPelo::kPageMonitor);
        boxes = TakeBoxes();
        QCOMPARE(boxes.size(), std::size_t(1));
        QCOMPARE(boxes[0].kind, MsgBox::Kind::Error);
        QVERIFY(w->SettingsChanged);
    }

    void intervalField_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("units");
        QTest::newRow("minutes only") << "7"
                                      << "  7:00" << 42;
        QTest::newRow("rounded up to ten seconds") << "0:04"
                                                   << "  0:10" << 1;
        QTest::newRow("57 seconds to the next minute") << "1:57"
                                                       << "  2:00" << 12;
        QTest::newRow("55 seconds to the next minute") << "1:55"
                                                       << "  2:00" << 12;
        QTest::newRow("rounded down") << "2:34"
                                      << "  2:30" << 15;
        QTest::newRow("minutes not a number") << "x:20"
                                              << " 10:20" << 62;
        QTest::newRow("zero is ten seconds") << "0:00"
                                             << "  0:10" << 1;
        QTest::newRow("ninety minutes") << "90"
                                        << " 90:00" << 540;
        QTest::newRow("negative taken as typed") << "-3"
                                                 << " -3:00" << -18;
        QTest::newRow("leading blanks") << "  12:41"
                                        << " 12:40" << 76;
        QTest::newRow("only two seconds digits count") << "1:459"
                                                       << "  1:50" << 11;
        QTest::newRow("seconds not a number") << "3:ab"
                                              << "  3:00" << 18;
        QTest::newRow("empty") << ""
                               << " 10:00" << 60;
        QTest::newRow("too large for the setting") << "9999999999"
                                                   << " 10:00" << 60;
    }

    void intervalField() {
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(int, units);
        TempDir dir;
        auto w = OpenWindow(dir);
        TypeInto(w->EdLoop, typed, w->EdVorl);
        QCOMPARE(w->EdLoop->text(), shown);
        QCOMPARE(w->IntervalUnits, units);
        QVERIFY(w->SettingsChanged);
    }

    void typedIntervalIsSavedWhenThePageIsLeftDirectly() {
        TempDir dir;
        auto w = OpenWindow(dir);
        FocusTo(w->EdLoop);
        w->EdLoop->selectAll();
        QTest::keyClicks(w->EdLoop, QStringLiteral("2:34"));
        w->PageSet->setCurrentIndex(TFrmPelo::kPageMonitor); // the focus is still in the field
        QCOMPARE(IniValue(dir.Read("Pelorix.ini"), "Settings", "Intervall"),
                 std::optional<std::string>("15"));
    }

    void theCommandAfterUploadIsSavedWithTheSettings() {
        TempDir dir;
        dir.Write("Pelorix.ini", "[Settings]\nFTPHost=h\nOnPublish=logger %IP%\n");
        auto w = OpenWindow(dir);
        QCOMPARE(Find<QLabel>(w.get(), "Label213")->text(), QStringLiteral("Befehl nach Upload:"));
        QCOMPARE(w->EdCmd->text(), QStringLiteral("logger %IP%"));
        for (const char* placeholder : {"%IP%", "%Date%", "%Time%", "PELORIX_IP", "PELORIX_OLD_IP"})
            QVERIFY2(w->EdCmd->toolTip().contains(QLatin1String(placeholder)), placeholder);
        w->PageSet->setCurrentIndex(TFrmPelo::kPageParameter);
        TypeInto(w->EdCmd, QStringLiteral("echo \"%IP% Gruß\" >>ip.txt"), w->EdVorl);
        w->PageSet->setCurrentIndex(TFrmPelo::kPageMonitor);
        QCOMPARE(TakeBoxes().size(), std::size_t(1));
        QCOMPARE(pelorix::ReadServiceSettings(dir.Path()).OnPublish, "echo \"%IP% Gruß\" >>ip.txt"_l1);
    }

    void aTypedHostIsAddedOnceWhateverItsCase() {
        TempDir dir;
        auto w = OpenWindow(dir);
        TypeInto(w->EdHost, QStringLiteral("ftp.example.org"), w->EdUser);
        QCOMPARE(w->EdHost->count(), 1);
        QCOMPARE(w->EdHost->itemText(0), QStringLiteral("ftp.example.org"));
        QCOMPARE(TFrmPelo::Tag(w->EdHost), 0);
        TypeInto(w->EdHost, QStringLiteral("FTP.Example.ORG"), w->EdUser);
        QCOMPARE(w->EdHost->count(), 1);
        QCOMPARE(w->EdHost->currentText(), QStringLiteral("FTP.Example.ORG"));
        TypeInto(w->EdHost, QStringLiteral("second.example.org"), w->EdUser);
        QCOMPARE(w->EdHost->count(), 2);
        QCOMPARE(w->EdHost->currentText(), QStringLiteral("second.example.org"));
        // an emptied box adds no empty entry
        TypeInto(w->EdHost, QString(), w->EdUser);
        QCOMPARE(w->EdHost->count(), 2);
        // picking from the list does not mark the box as typed into
        FocusTo(w->EdHost);
        QTest::keyClick(w->EdHost, Qt::Key_Up);
        QCOMPARE(w->EdHost->currentText(), QStringLiteral("ftp.example.org"));
        QCOMPARE(TFrmPelo::Tag(w->EdHost), 0);
    }

    void historiesKeepNineEntriesInTheFile() {
        TempDir dir;
        std::string ini = "[Settings]\nFTPHost=h1.example\n[Hosts]\n";
        for (int i = 1; i <= 9; ++i)
            ini += "FTPHost" + std::to_string(i) + "=h" + std::to_string(i) + ".example\n";
        ini += "FTPHost15=by-hand.example\n";
        dir.Write("Pelorix.ini", ini);
        auto w = OpenWindow(dir);
        w->PageSet->setCurrentIndex(TFrmPelo::kPageParameter);
        QCOMPARE(w->EdHost->count(), 10);
        TypeInto(w->EdHost, QStringLiteral("tenth.example"), w->EdUser);
        QCOMPARE(w->EdHost->count(), 11);
        QCOMPARE(w->EdHost->itemText(10), QStringLiteral("tenth.example"));
        w->PageSet->setCurrentIndex(TFrmPelo::kPageMonitor);
        const std::string saved = dir.Read("Pelorix.ini");
        for (int i = 1; i <= 9; ++i)
            QCOMPARE(IniValue(saved, "Hosts", "FTPHost" + std::to_string(i)),
                     std::optional<std::string>("h" + std::to_string(i) + ".example"));
        QVERIFY(!IniValue(saved, "Hosts", "FTPHost10"));
        QCOMPARE(IniValue(saved, "Hosts", "FTPHost15"), std::optional<std::string>("by-hand.example"));
        QVERIFY(saved.find("tenth.example") == std::string::npos || IniValue(saved, "Settings", "FTPHost"));
        QCOMPARE(IniValue(saved, "Settings", "FTPHost"), std::optional<std::string>("tenth.example"));
        QCOMPARE(w->EdHost->count(), 11); // still offered until the program ends
    }

    void pickingAUserRecallsItsPassword() {
        TempDir dir;
        dir.Write("Pelorix.ini", "[Settings]\nFTPHost=h\nFTPUser=carol\n[Hosts]\nFTPUser1=alice\nFTPPass1=" +
                                     Scrambled("pw-alice") + "\nFTPUser2=bob\nFTPUser3=Alice\nFTPPass3=" +
                                     Scrambled("pw-Alice") + "\n");
        auto w = OpenWindow(dir);
        w->PageSet->setCurrentIndex(TFrmPelo::kPageParameter);
        FocusTo(w->EdUser);
        w->EdUser->setCurrentIndex(-1);
        QTest::keyClick(w->EdUser, Qt::Key_Down); // alice
        QCOMPARE(w->EdUser->currentText(), QStringLiteral("alice"));
        QCOMPARE(w->EdPass->text(), QStringLiteral("pw-alice"));
        QTest::keyClick(w->EdUser, Qt::Key_Down); // bob: no remembered password
        QCOMPARE(w->EdUser->currentText(), QStringLiteral("bob"));
        QCOMPARE(w->EdPass->text(), QString());
        QTest::keyClick(w->EdUser, Qt::Key_Down); // letter case counts
        QCOMPARE(w->EdPass->text(), QStringLiteral("pw-Alice"));
        QVERIFY(w->SettingsChanged);
    }

    void theRouterQuestionDeclined() {
        TempDir dir;
        auto w = OpenWindow(dir);
        MsgBox::setNextAnswer(MsgBox::Answer::No);
        ClickBox(w->CbRout);
        auto boxes = TakeBoxes();
        QCOMPARE(boxes.size(), std::size_t(1));
        QCOMPARE(boxes[0].kind, MsgBox::Kind::Confirmation);
        QCOMPARE(boxes[0].text, QStringLiteral("Benötigen Sie wirklich die Routerbetriebsart?"));
        QVERIFY(!w->CbRout->isChecked());
        QVERIFY(!w->EdRout->isEnabled());
        QVERIFY(!w->SettingsChanged); // the declined click is no change

        // an earlier edit stays marked
        TypeInto(w->EdHost, QStringLiteral("h.example"), w->EdUser);
        MsgBox::setNextAnswer(MsgBox::Answer::No);
        ClickBox(w->CbRout);
        QVERIFY(!w->CbRout->isChecked());
        QVERIFY(w->SettingsChanged);
    }

    void theRouterQuestionAccepted() {
        TempDir dir;
        auto w = OpenWindow(dir);
        MsgBox::setNextAnswer(MsgBox::Answer::Yes);
        ClickBox(w->CbRout);
        QCOMPARE(TakeBoxes().size(), std::size_t(1));
        QVERIFY(w->CbRout->isChecked());
        QVERIFY(w->EdRout->isEnabled());
        QVERIFY(w->SettingsChanged);
        // switching it off asks nothing
        ClickBox(w->CbRout);
        QVERIFY(TakeBoxes().empty());
        QVERIFY(!w->EdRout->isEnabled());
    }

    void pagesAndMailButtonsFollowTheirBoxes() {
        TempDir dir;
        auto w = OpenWindow(dir);
        ClickBox(w->CbPages);
        QVERIFY(w->BtnPages->isEnabled());
        QVERIFY(w->SettingsChanged);
        ClickBox(w->CbPages);
        QVERIFY(!w->BtnPages->isEnabled());
        ClickBox(w->CbMail);
        QVERIFY(w->BtnMail->isEnabled());
        ClickBox(w->CbMail);
        QVERIFY(!w->BtnMail->isEnabled());
    }

    void mailSectionStaysWhileMailIsOff() {
        TempDir dir;
        dir.Write("Pelorix.ini", "[Settings]\nFTPHost=h\neMail=0\nAddPages=0\nAddPage2=keep.htm\n"
                                 "[SendMail]\nServer=smtp.example.org\nCC=old@example.org\n");
        auto w = OpenWindow(dir);
        w->PageSet->setCurrentIndex(TFrmPelo::kPageParameter);
        TypeInto(w->EdSite, QStringLiteral("/x.htm"), w->EdHost);
        w->MailData.CC.clear();
        w->AddPageFiles[2].clear();
        w->PageSet->setCurrentIndex(TFrmPelo::kPageMonitor);
        std::string ini = dir.Read("Pelorix.ini");
        QCOMPARE(IniValue(ini, "SendMail", "Server"), std::optional<std::string>("smtp.example.org"));
        QCOMPARE(IniValue(ini, "SendMail", "CC"), std::optional<std::string>("old@example.org"));
        QCOMPARE(IniValue(ini, "Settings", "AddPage2"), std::optional<std::string>("keep.htm"));

        w->PageSet->setCurrentIndex(TFrmPelo::kPageParameter);
        ClickBox(w->CbMail);
        ClickBox(w->CbPages);
        w->PageSet->setCurrentIndex(TFrmPelo::kPageMonitor);
        ini = dir.Read("Pelorix.ini");
        QCOMPARE(IniValue(ini, "Settings", "eMail"), std::optional<std::string>("1"));
        QCOMPARE(IniValue(ini, "SendMail", "Server"), std::optional<std::string>("smtp.example.org"));
        QVERIFY(!IniValue(ini, "SendMail", "CC"));
        QCOMPARE(IniValue(ini, "SendMail", "Auth"), std::optional<std::string>("no"));
        QCOMPARE(IniValue(ini, "Settings", "AddPage2"), std::optional<std::string>(""));
    }

    void leavingTheMonitorPageTakesOverTheMonitorState() {
        TempDir dir;
        dir.Write("Pelorix.ini", "[Settings]\nFTPHost=h\nMessages=0\n");
        auto w = OpenWindow(dir);
        TFrmPelo::SetTag(w->BtnOnOff, 0); // the monitor switched on by hand
        w->PageSet->setCurrentIndex(TFrmPelo::kPageParameter);
        QVERIFY(w->CbMsg->isChecked());
        QVERIFY(w->SettingsChanged);
        w->PageSet->setCurrentIndex(TFrmPelo::kPageMonitor);
        QCOMPARE(IniValue(dir.Read("Pelorix.ini"), "Settings", "Messages"), std::optional<std::string>("1"));
    }

    // "€" is no Latin-1 character: the password is not saved (the file keeps its value), the
    // warning names the field, the field keeps its text; the other changes are saved.
    void aFieldLatin1CannotHoldIsNotSaved() {
        TempDir dir;
        dir.Write("Pelorix.ini", "[Settings]\nFTPHost=h\nFTPPass=" + pelorix::ScramblePassword("alt") + "\n");
        auto w = OpenWindow(dir);
        w->PageSet->setCurrentIndex(TFrmPelo::kPageParameter);
        FocusTo(w->EdPass);
        w->EdPass->selectAll();
        QTest::keyClicks(w->EdPass, QStringLiteral("pw"));
        QTest::sendKeyEvent(QTest::Click, w->EdPass, Qt::Key_unknown, QString::fromUtf8("€"), Qt::NoModifier);
        QTest::keyClicks(w->EdPass, QStringLiteral("x"));
        TypeInto(w->EdUser, QStringLiteral("dora"), w->EdHost);
        w->PageSet->setCurrentIndex(TFrmPelo::kPageMonitor);
        const auto boxes = TakeBoxes();
        QCOMPARE(boxes.size(), std::size_t(2));
        QCOMPARE(boxes[0].kind, MsgBox::Kind::Warning);
        QCOMPARE(boxes[0].text,
                 QString::fromUtf8("Das Feld \"FTP-Passwort\" enthält Zeichen, die nicht gespeichert "
                                   "werden können; es wird nicht gespeichert.\r\n\nGespeichert "
                                   "werden können nur Latin-1-Zeichen (westeuropäische Buchstaben)."));
        QCOMPARE(boxes[1].text, kNotice);
        const std::string ini = dir.Read("Pelorix.ini");
        QCOMPARE(IniValue(ini, "Settings", "FTPPass"),
                 std::optional<std::string>(pelorix::ScramblePassword("alt")));
        QCOMPARE(IniValue(ini, "Settings", "FTPUser"), std::optional<std::string>("dora"));
        QCOMPARE(w->EdPass->text(), QString::fromUtf8("pw€x"));
        QVERIFY(w->SettingsChanged);
    }

    void filePickersFillTheirFields() {
        TempDir dir;
        auto w = OpenWindow(dir);
        TOpenDialog::Presets().clear();
        TOpenDialog::SetNextResult(dir.File("chosen.htm").c_str());
        QTest::mouseClick(w->BtnOpen1b, Qt::LeftButton);
        // The relative default is shown in the program directory, where it is looked up.
        QCOMPARE(TOpenDialog::Presets(), QStringList({Q(dir.Path() + "Offline.htm")}));
        QCOMPARE(w->EdOffl->text(), Q(dir.File("chosen.htm")));
        QVERIFY(w->SettingsChanged);
        TOpenDialog::SetNextResult(std::nullopt); // cancelled
        QTest::mouseClick(w->BtnOpen1c, Qt::LeftButton);
        QCOMPARE(w->EdGen->text(), Q(dir.Path() + "PelorixTmp.htm"));
    }

    void helpOpensTheHelpFileWithTheDesktop() {
        TempDir dir;
        auto w = OpenWindow(dir);
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
        QTest::mouseClick(w->Btn2Help, Qt::LeftButton);
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QCOMPARE(catcher.urls.size(), 1);
        QCOMPARE(catcher.urls[0].toLocalFile(), Q(dir.Path() + "LiesMich.htm"));
        QVERIFY(TakeBoxes().empty());

        // Nothing takes the page (a handler that cannot be called, as without xdg-open): the box
        // names the file.
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "absent");
        QTest::mouseClick(w->Btn2Help, Qt::LeftButton);
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        const auto boxes = TakeBoxes();
        QCOMPARE(boxes.size(), std::size_t(1));
        QCOMPARE(boxes[0].kind, MsgBox::Kind::Information);
        QCOMPARE(boxes[0].text, QStringLiteral("Die Hilfe konnte nicht im Browser geöffnet werden.\r\n\n"
                                               "Sie steht in der Datei\r\n") +
                                    Q(dir.Path() + "LiesMich.htm"));
    }

    void closingSavesPendingChangesAndChangedWindowKeys() {
        TempDir dir;
        dir.Write("Pelorix.ini", "[Settings]\nFTPHost=h\nLeft=30\nTop=40\n");
        {
            auto w = OpenWindow(dir);
            QSignalSpy closed(w.get(), &TFrmPelo::Closed);
            w->close();
            QCOMPARE(closed.count(), 1);
        }
        QCOMPARE(dir.Read("Pelorix.ini"), std::string("[Settings]\nFTPHost=h\nLeft=30\nTop=40\n"));
        QVERIFY(TakeBoxes().empty());

        {
            auto w = OpenWindow(dir);
            w->PageSet->setCurrentIndex(TFrmPelo::kPageParameter);
            TypeInto(w->EdUser, QStringLiteral("dora"), w->EdHost);
            w->move(100, 120);
            w->close();
        }
        auto boxes = TakeBoxes();
        QCOMPARE(boxes.size(), std::size_t(1));
        QCOMPARE(boxes[0].text, kNotice);
        std::string ini = dir.Read("Pelorix.ini");
        QCOMPARE(IniValue(ini, "Settings", "FTPUser"), std::optional<std::string>("dora"));
        QCOMPARE(IniValue(ini, "Settings", "Left"), std::optional<std::string>("100"));
        QCOMPARE(IniValue(ini, "Settings", "Top"), std::optional<std::string>("120"));
        QVERIFY(!IniValue(ini, "Settings", "Hidden"));
        QVERIFY(!IniValue(ini, "Settings", "ShowErr"));

        {
            auto w = OpenWindow(dir);
            w->PageSet->setCurrentIndex(TFrmPelo::kPageParameter);
            ClickBox(w->RbHide);
            QVERIFY(w->CbErr->isEnabled());
            ClickBox(w->CbErr);
            QVERIFY(w->WindowModeChanged);
            QVERIFY(!w->SettingsChanged);
            w->close();
        }
        QVERIFY(TakeBoxes().empty());
        ini = dir.Read("Pelorix.ini");
        QCOMPARE(IniValue(ini, "Settings", "Hidden"), std::optional<std::string>("1"));
        QCOMPARE(IniValue(ini, "Settings", "ShowErr"), std::optional<std::string>("0"));
    }
};

PELORIX_MGR_TEST_MAIN(SettingsEditorTest)
#include "SettingsEditorTest.moc"
