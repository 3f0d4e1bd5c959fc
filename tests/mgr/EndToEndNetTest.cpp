// The whole system as a user meets it: the manager's window on a program directory that holds
// the real service program, the settings typed into its controls and saved, the service
// installed and started on the page "Management", the publication of an address that a real
// web page shows (Python's http.server on port 80) to a real FTP server (pyftpdlib on port 21)
// with one notification mail to a real SMTP server (aiosmtpd on port 25), the status lines in
// the monitor list, and stop and uninstall leaving nothing behind. Runs in a private network
// namespace, so the fixed ports are its own.

#include "MgrTestSupport.h"
#include "ServiceTestKit.h"

#include "mgr/DlgMail.h"

#include "FtpTestServer.h"

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTcpServer>

#include <dirent.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

using namespace mgrtest;
using pelorix::test::FtpTestServer;
using pelorix::test::ServerProcess;
using pelorix::test::SourcePath;
using pelorix::test::SystemPython;
using pelorix::test::TempDir;

namespace {

// A documentation address: only text on the page, never contacted.
const char* const kFirstAddress = "198.51.100.7";

std::string AddressPage(const std::string& address) {
    return "<html><body>Current IP Address: " + address + "</body></html>\n";
}

std::string ReadIfThere(const TempDir& dir, const std::string& name) {
    return dir.Exists(name) ? dir.Read(name) : std::string();
}

// The status word after the "[hh:nn:ss]: " stamp of the page "Management".
QString StatusWord(const TFrmPelo& w) {
    const QString text = w.LabStat->text();
    const qsizetype colon = text.indexOf(QStringLiteral("]: "));
    return colon < 0 ? QString() : text.mid(colon + 3);
}

// Clicks "refresh" until the status word is the wanted one (the service changes on its own).
bool RefreshUntil(TFrmPelo& w, const QString& word, int timeoutMs = 10000) {
    return QTest::qWaitFor(
        [&] {
            QTest::mouseClick(w.Btn3Stat, Qt::LeftButton);
            return StatusWord(w) == word;
        },
        timeoutMs);
}

// The processes that run the program file at path (by their executable's link).
std::set<int> ProcessesRunning(const std::string& path) {
    std::set<int> pids;
    DIR* proc = opendir("/proc");
    if (!proc)
        return pids;
    while (const dirent* entry = readdir(proc)) {
        const int pid = std::atoi(entry->d_name);
        if (pid <= 0)
            continue;
        std::error_code ec;
        const auto exe = std::filesystem::read_symlink("/proc/" + std::string(entry->d_name) + "/exe", ec);
        if (!ec && exe.string() == path)
            pids.insert(pid);
    }
    closedir(proc);
    return pids;
}

// The process runs (or sleeps): it exists and is not a zombie that its new parent has not yet
// collected (the control layer detaches the service from the manager).
bool ProcessRuns(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(stat, text);
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos || close + 2 >= text.size())
        return false;
    const char state = text[close + 2];
    return state != 'Z' && state != 'X';
}

std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec))
        names.push_back(entry.path().filename().string());
    return names;
}

int MailsIn(const TempDir& mailbox) {
    int count = 0;
    while (mailbox.Exists("msg" + std::to_string(count + 1) + ".txt"))
        ++count;
    return count;
}

} // namespace

class EndToEndNetTest : public QObject {
    Q_OBJECT
private slots:
    void init() { MsgBox::clearShown(); }

    void theManagerSetsUpAndRunsTheServiceThatPublishesEveryNewAddress() {
        QElapsedTimer total;
        total.start();

        // The peers: the address source, the web space and the mail server.
        TempDir site;
        site.Write("ip.htm", AddressPage(kFirstAddress));
        ServerProcess web(
            {SystemPython(), "-m", "http.server", "80", "--bind", "127.0.0.1", "--directory", site.Path()},
            site.File("http.log"));
        FtpTestServer ftp(21);
        TempDir mailbox;
        ServerProcess smtp({SystemPython(), SourcePath("tests/support/smtp_server.py"), "--port", "25",
                            "--dir", mailbox.Path()},
                           mailbox.File("smtp.log"));
        QVERIFY(web.WaitForPort(80));
        QVERIFY2(ftp.Ready(), ftp.Log().c_str());
        QVERIFY2(smtp.WaitForPort(25, 15000), ReadIfThere(mailbox, "smtp.log").c_str());

        // The program directory with the service program and its own service database; the
        // manager writes Pelorix.ini itself.
        ServiceHome home("");
        QVERIFY(home.Ready());
        std::filesystem::remove(home.Dir().File("Pelorix.ini"));
        home.Dir().Write("Online.htm", "<html><body><p>Adresse: %IP%</p></body></html>\r\n");
        auto w = OpenWindow(home.Dir());
        QCOMPARE(w->PageSet->currentIndex(), int(TFrmPelo::kPageParameter)); // no FTP host yet

        // The settings, entered as a user enters them.
        TypeInto(w->EdHost, QStringLiteral("127.0.0.1"), w->EdUser);
        TypeInto(w->EdUser, QString::fromLatin1(FtpTestServer::kUser), w->EdPass);
        TypeInto(w->EdPass, QString::fromLatin1(FtpTestServer::kPassword), w->EdSite);
        TypeInto(w->EdSite, QStringLiteral("/pelorix.htm"), w->EdLoop);
        TypeInto(w->EdLoop, QStringLiteral("0:10"), w->EdVorl);
        QCOMPARE(w->EdLoop->text().trimmed(), QStringLiteral("0:10"));
        ClickBox(w->CbPassive);
        // A new file starts with FTP over TLS; the test's server speaks plain FTP.
        QCOMPARE(w->CbMode->currentIndex(), 1);
        w->CbMode->setCurrentIndex(0);
        MsgBox::setNextAnswer(MsgBox::Answer::Yes);
        ClickBox(w->CbRout);
        QVERIFY(w->CbRout->isChecked());
        TypeInto(w->EdRout, QStringLiteral("127.0.0.1/ip.htm"), w->EdVorl);
        ClickBox(w->CbMail);
        WithModal<TDlgMailP>([&] { QTest::mouseClick(w->BtnMail, Qt::LeftButton); },
                             [](TDlgMailP* d) {
                                 d->EdServer->setText(QString());
                                 QTest::keyClicks(d->EdServer, QStringLiteral("127.0.0.1"));
                                 QTest::keyClicks(d->EdFrom, QStringLiteral("ip@example.org"));
                                 QTest::keyClicks(d->EdTo, QStringLiteral("anna@example.org"));
                                 ClickBox(d->RbAuth0);
                                 QTest::mouseClick(d->BtnOK, Qt::LeftButton);
                             });
        ClickBox(w->CbMsg);
        FocusTo(w->EdLevel);
        w->EdLevel->selectAll();
        QTest::keyClicks(w->EdLevel, QStringLiteral("4"));
        ClickBox(w->CbLog);
        FocusTo(w->EdVorl);
        QCOMPARE(w->EdLevel->value(), 4);

        // Leaving the page saves; the monitor is switched on on its own page.
        w->PageSet->setCurrentIndex(TFrmPelo::kPageMonitor);
        auto boxes = TakeBoxes();
        QCOMPARE(boxes.size(), std::size_t(2)); // the router question and the restart notice
        QCOMPARE(boxes[1].kind, MsgBox::Kind::Information);
        const std::string ini = home.Dir().Read("Pelorix.ini");
        QCOMPARE(IniValue(ini, "Settings", "Router"), std::optional<std::string>("1"));
        QCOMPARE(IniValue(ini, "Settings", "IPSource"), std::optional<std::string>("127.0.0.1/ip.htm"));
        QCOMPARE(IniValue(ini, "Settings", "FTPHost"), std::optional<std::string>("127.0.0.1"));
        QCOMPARE(IniValue(ini, "Settings", "Intervall"), std::optional<std::string>("1"));
        QCOMPARE(IniValue(ini, "Settings", "Messages"), std::optional<std::string>("1"));
        QCOMPARE(IniValue(ini, "Settings", "MsgLevel"), std::optional<std::string>("4"));
        QCOMPARE(IniValue(ini, "Settings", "eMail"), std::optional<std::string>("1"));
        QCOMPARE(IniValue(ini, "SendMail", "Server"), std::optional<std::string>("127.0.0.1"));
        QCOMPARE(IniValue(ini, "SendMail", "To"), std::optional<std::string>("anna@example.org"));
        QVERIFY(IniValue(ini, "Settings", "FTPPass") != std::optional<std::string>(FtpTestServer::kPassword));
        QCOMPARE(TFrmPelo::Tag(w->BtnOnOff), 1); // off: the window opened with the monitor off
        QTest::mouseClick(w->BtnOnOff, Qt::LeftButton);
        QVERIFY(w->SrvSock->isListening());

        // Install and start on the page "Management".
        w->PageSet->setCurrentIndex(TFrmPelo::kPageManagement);
        QCOMPARE(StatusWord(*w), QStringLiteral("kein Zugriff"));
        QTest::mouseClick(w->Btn3Inst, Qt::LeftButton);
        QCOMPARE(StatusWord(*w), QStringLiteral("installiert"));
        QTest::mouseClick(w->Btn3Start, Qt::LeftButton);
        QCOMPARE(StatusWord(*w), QStringLiteral("gestartet"));
        QVERIFY(RefreshUntil(*w, QStringLiteral("aktiviert")));
        boxes = TakeBoxes();
        QCOMPARE(boxes.size(), std::size_t(1)); // "installed"
        QCOMPARE(boxes[0].kind, MsgBox::Kind::Information);
        const std::set<int> running = ProcessesRunning(home.Program());
        QCOMPARE(running.size(), std::size_t(1));

        // The first check (five seconds after the start) publishes the page and sends the mail.
        const QString firstUpload = QStringLiteral("+FTP-Upload OK mit %1 als").arg(kFirstAddress);
        QVERIFY2(
            WaitForLine(w->List, firstUpload, 20000) >= 0,
            qPrintable(w->List->toPlainText() + QString::fromLatin1(ReadIfThere(home.Dir(), "Pelorix.log"))));
        QVERIFY(WaitForLine(w->List, QStringLiteral("+Mailversand OK"), 10000) >= 0);
        QVERIFY(FindLine(w->List, firstUpload) < FindLine(w->List, QStringLiteral("+Mailversand OK")));
        const std::string page = ReadIfThere(ftp.Root(), "pelorix.htm");
        QCOMPARE(page, "<html><body><p>Adresse: " + std::string(kFirstAddress) + "</p></body></html>\r\n");
        QVERIFY(QTest::qWaitFor([&] { return MailsIn(mailbox) >= 1; }, 5000));
        const std::string mail = mailbox.Read("msg1.txt");
        QVERIFY2(mail.find("rcpt\tanna@example.org") != std::string::npos, mail.c_str());
        QVERIFY2(mail.find(kFirstAddress) != std::string::npos, mail.c_str());

        // Stop and uninstall leave nothing running and nothing recorded.
        QTest::mouseClick(w->Btn3Stop, Qt::LeftButton);
        QCOMPARE(StatusWord(*w), QStringLiteral("beendet"));
        QVERIFY(RefreshUntil(*w, QStringLiteral("nicht gestartet")));
        MsgBox::setNextAnswer(MsgBox::Answer::Yes);
        QTest::mouseClick(w->Btn3Del, Qt::LeftButton);
        QCOMPARE(StatusWord(*w), QStringLiteral("deinstalliert"));
        boxes = TakeBoxes();
        QCOMPARE(boxes.size(), std::size_t(1)); // the question
        QCOMPARE(boxes[0].kind, MsgBox::Kind::Confirmation);
        QVERIFY(QTest::qWaitFor([&] { return ProcessesRunning(home.Program()).empty(); }, 5000));
        for (const int pid : running)
            QVERIFY(QTest::qWaitFor([pid] { return !ProcessRuns(pid); }, 5000));
        QVERIFY(QTest::qWaitFor([&] { return FilesIn(home.Database()).empty(); }, 5000));
        QVERIFY(pelorix::scm::db::ListNames(home.Database()).empty());

        // The stop request's line reached the monitor too.
        QVERIFY2(WaitForLine(w->List, QStringLiteral("-Thread-Ende angefordert"), 3000) >= 0,
                 qPrintable(w->List->toPlainText()));
        QVERIFY2(total.elapsed() < 60000, qPrintable(QString::number(total.elapsed())));
    }
};

PELORIX_MGR_TEST_MAIN(EndToEndNetTest)
#include "EndToEndNetTest.moc"
