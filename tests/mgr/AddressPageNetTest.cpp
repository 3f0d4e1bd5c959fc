// The page "IP-Adressen" of the real window against real servers on loopback in a private
// network namespace: a web page that reports the address (http.server on port 80), the FTP
// server of the upload (pyftpdlib on port 21) and an SMTP server (aiosmtpd on port 25). The
// local data, the address query with its fall-back, the manual upload of the online and the
// offline page with the additional documents, and the address mail with their boxes.

#include "MgrTestSupport.h"
#include "ServiceTestKit.h"

#include "FtpTestServer.h"
#include "SilentNameServer.h"
#include "mgr/NetworkAction.h"
#include "platform/Clock.h"
#include "platform/HostAddresses.h"
#include "platform/TcpSocket.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <cstdlib>

using namespace mgrtest;
using pelorix::test::FtpTestServer;
using pelorix::test::ServerProcess;
using pelorix::test::TempDir;

namespace {

const char* kAddress = "192.0.2.44";

QString Q(const std::string& latin1) {
    return QString::fromLatin1(latin1);
}

std::vector<std::pair<MsgBox::Kind, QString>> Boxes() {
    std::vector<std::pair<MsgBox::Kind, QString>> boxes;
    for (const MsgBox::Shown& box : TakeBoxes())
        boxes.emplace_back(box.kind, box.text);
    return boxes;
}

using Box = std::pair<MsgBox::Kind, QString>;
Box Info(const QString& text) {
    return {MsgBox::Kind::Information, text};
}
Box Warn(const QString& text) {
    return {MsgBox::Kind::Warning, text};
}
Box Err(const QString& text) {
    return {MsgBox::Kind::Error, text};
}

// "dd.mm.yy (weekday) hh:nn" as the page shows date and time.
const QRegularExpression kDateTime(QStringLiteral("\\d\\d\\.\\d\\d\\.\\d\\d \\(\\S+\\) \\d\\d:\\d\\d"));

} // namespace

namespace QTest {
template <> char* toString(const Box& box) {
    return QTest::toString(QStringLiteral("%1: %2").arg(static_cast<int>(box.first)).arg(box.second));
}
} // namespace QTest

class AddressPageNetTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TempDir> site_;
    std::unique_ptr<ServerProcess> web_;
    std::unique_ptr<FtpTestServer> ftp_;
    std::unique_ptr<TempDir> mailbox_;
    std::unique_ptr<ServerProcess> smtp_;

    // A program directory whose settings point at the servers, with an online template.
    std::unique_ptr<TempDir> Home() {
        auto home = std::make_unique<TempDir>();
        home->Write("Online.htm", "<p>%IP% %IP%</p>\r\n<p>%Date% %Time%</p>\r\n");
        home->Write("Pelorix.ini",
                    "[Settings]\r\nHTMLTemplate=" + home->File("Online.htm") + "\r\nOfflTemplate=" +
                        home->File("Offline.htm") + "\r\nTempSite=" + home->File("PelorTmp.htm") +
                        "\r\nFTPHost=127.0.0.1\r\nFTPUser=" + FtpTestServer::kUser +
                        "\r\nFTPPass=" + pelorix::ScramblePassword(FtpTestServer::kPassword) +
                        "\r\nFTPSite=/page.htm\r\nFTPPassive=1\r\nIPSource=127.0.0.1/ip.htm\r\n"
                        "[Hosts]\r\nIPSourceX=127.0.0.1/leer.htm\r\n"
                        "[SendMail]\r\nServer=127.0.0.1\r\nFrom=ip@example.org\r\nTo=anna@example.org\r\n"
                        "Subject=Adresse %IP%\r\nText=Neu: %IP%||am %Date% um %Time%\r\nAuth=no\r\n");
        return home;
    }

    std::string Uploaded(const std::string& name) const {
        return ftp_->Root().Exists(name) ? ftp_->Root().Read(name) : std::string();
    }

    // The mails the SMTP server has stored so far.
    int MailCount() const {
        int count = 0;
        while (mailbox_->Exists("msg" + std::to_string(count + 1) + ".txt"))
            ++count;
        return count;
    }

    std::string Mail(int number) const {
        const std::string name = "msg" + std::to_string(number) + ".txt";
        return mailbox_->Exists(name) ? mailbox_->Read(name) : std::string();
    }

private slots:
    void initTestCase() {
        site_ = std::make_unique<TempDir>();
        site_->Write("ip.htm", "<html><body>Ihre Adresse: 192.0.2.44</body></html>\n");
        site_->Write("ip2.htm", "<html><body>Adresse 198.51.100.9 laut Router</body></html>\n");
        site_->Write("leer.htm", "<html><body>Version 1.2 ohne Adresse</body></html>\n");
        web_ = std::make_unique<ServerProcess>(
            std::vector<std::string>{pelorix::test::SystemPython(), "-m", "http.server", "80", "--bind",
                                     "127.0.0.1", "--directory", site_->Path()},
            site_->File("http.log"));
        QVERIFY(web_->WaitForPort(80));
        ftp_ = std::make_unique<FtpTestServer>(21);
        QVERIFY2(ftp_->Ready(), ftp_->Log().c_str());
        mailbox_ = std::make_unique<TempDir>();
        smtp_ = std::make_unique<ServerProcess>(
            std::vector<std::string>{pelorix::test::SystemPython(),
                                     pelorix::test::SourcePath("tests/support/smtp_server.py"), "--port",
                                     "25", "--dir", mailbox_->Path()},
            mailbox_->File("smtp.log"));
        QVERIFY(smtp_->WaitForPort(25, 15000));
    }

    void init() { MsgBox::clearShown(); }

    void showingThePageFillsOnlyTheLocalData() {
        auto home = Home();
        auto w = OpenWindow(*home);
        w->PageSet->setCurrentIndex(TFrmPelo::kPageAddresses);
        QCOMPARE(w->Ed4Host->text(), Q(pelorix::LocalHostName()));
        QStringList expected;
        for (const std::string& address : pelorix::SystemHostAddresses::Instance().HostAddresses())
            expected << Q(address);
        QVERIFY(!expected.isEmpty());
        QCOMPARE(w->Memo4IPs->toPlainText().split(QLatin1Char('\n')), expected);
        QCOMPARE(w->Ed4IP->text(), QStringLiteral("nicht bestimmt"));
        QVERIFY(Boxes().empty());
    }

    void theQueryShowsTheAddressOfTheSourcePage() {
        auto home = Home();
        auto w = OpenWindow(*home);
        QTest::mouseClick(w->Btn4Akt, Qt::LeftButton);
        QCOMPARE(w->Ed4IP->text(), Q(kAddress));
        QVERIFY(!w->Ed4Host->text().isEmpty());
        QVERIFY(QApplication::overrideCursor() == nullptr); // the wait cursor is gone again
        QVERIFY(Boxes().empty());
    }

    void theAlternativePageFollowsAFailedQuery() {
        auto home = Home();
        auto w = OpenWindow(*home);
        // Without "/" the parameters are refused; the alternative page answers then.
        w->EdRout->setEditText(QStringLiteral("localhost"));
        w->IPSourceX = "127.0.0.1/ip2.htm";
        QTest::mouseClick(w->Btn4Akt, Qt::LeftButton);
        QCOMPARE(w->Ed4IP->text(), QStringLiteral("198.51.100.9"));

        // Each failure of the second query hides that of the first.
        w->IPSourceX = "x";
        QTest::mouseClick(w->Btn4Akt, Qt::LeftButton);
        QCOMPARE(w->Ed4IP->text(), QString::fromUtf8("ungültige Verbindungs-Parameter!"));
        w->EdRout->setEditText(QStringLiteral("127.0.0.1/leer.htm"));
        w->IPSourceX = "127.0.0.1/leer.htm";
        QTest::mouseClick(w->Btn4Akt, Qt::LeftButton);
        QCOMPARE(w->Ed4IP->text(), QStringLiteral("keine IP-Adresse in Abfrageseite enthalten"));
        w->IPSourceX = "127.0.0.2/ip.htm"; // nothing listens there
        QTest::mouseClick(w->Btn4Akt, Qt::LeftButton);
        QCOMPARE(w->Ed4IP->text(), QStringLiteral("Server nicht erreicht"));
        // The first page answering stops the search.
        w->EdRout->setEditText(QStringLiteral("127.0.0.1/ip.htm"));
        QTest::mouseClick(w->Btn4Akt, Qt::LeftButton);
        QCOMPARE(w->Ed4IP->text(), Q(kAddress));
        QVERIFY(Boxes().empty());
    }

    // A name server that never answers (see SilentNameServer) holds neither the window nor the
    // query beyond the action's limit, shortened here; the alternative page, whose look-up could
    // only start after the limit, is not even looked up.
    void aStalledNameServerEndsTheQueryAtTheLimit() {
        pelorix::test::SilentNameServer server;
        QVERIFY2(server.Ready(), server.Problem().c_str());
        constexpr int kLimitMs = 1500;
        SetNetworkActionLimitMs(kLimitMs);
        auto home = Home();
        auto w = OpenWindow(*home);
        w->EdRout->setEditText(Q(std::string(pelorix::test::kStalledName) + "/ip.htm"));
        w->IPSourceX = "second.pelorix.test/ip.htm";
        bool painted = false;
        QTimer::singleShot(200, w.get(), [&] { painted = true; });
        const pelorix::IClock& clock = pelorix::SystemClock::Instance();
        const long long start = clock.MonotonicMs();
        QTest::mouseClick(w->Btn4Akt, Qt::LeftButton);
        const long long took = clock.MonotonicMs() - start;
        SetNetworkActionLimitMs(0);
        QVERIFY2(took >= kLimitMs - 100 && took < kLimitMs + 1000, qPrintable(QString::number(took)));
        QCOMPARE(w->Ed4IP->text(), QStringLiteral("keine Netzwerksverbindung"));
        QVERIFY(painted);
        QVERIFY(server.QueriesFor(pelorix::test::kStalledName) >= 1);
        QCOMPARE(server.QueriesFor("second.pelorix.test"), 0);
        QVERIFY(Boxes().empty());
    }

    void theManualUploadStoresTheOnlinePage() {
        auto home = Home();
        std::string ini = home->Read("Pelorix.ini");
        ini.insert(ini.find("[Hosts]"), "OnPublish=touch " + home->File("ran") + "\r\n");
        home->Write("Pelorix.ini", ini);
        auto w = OpenWindow(*home);
        w->Ed4IP->setText(Q(kAddress));
        QTest::mouseClick(w->Btn4Up, Qt::LeftButton);
        QCOMPARE(Boxes(), std::vector<Box>{Info(QStringLiteral("FTP-Upload OK mit /page.htm"))});
        const QString page = Q(Uploaded("page.htm"));
        QVERIFY2(page.startsWith(QStringLiteral("<p>192.0.2.44 192.0.2.44</p>\r\n<p>")), qPrintable(page));
        QVERIFY2(kDateTime.match(page).hasMatch(), qPrintable(page));
        QCOMPARE(Q(home->Read("PelorTmp.htm")), page);
        QVERIFY2(!home->Exists("ran"), "the command follows the service's uploads only");

        // The window goes on with its events (but not with user input) while the transfer runs.
        bool uploading = true;
        bool ranDuringUpload = false;
        QTimer::singleShot(0, w.get(), [&] { ranDuringUpload = uploading; });
        w->Btn4UpClick(w->Btn4Up);
        uploading = false;
        QVERIFY(ranDuringUpload);
        QCOMPARE(Boxes(), std::vector<Box>{Info(QStringLiteral("FTP-Upload OK mit /page.htm"))});

        // Whatever Ed4IP shows is the address, also the design text, and is inserted once.
        w->Ed4IP->setText(QStringLiteral("%IP%!"));
        w->EdSite->setEditText(QStringLiteral("a/page2.htm")); // no directory "a": the login directory
        QTest::mouseClick(w->Btn4Up, Qt::LeftButton);
        QCOMPARE(Boxes(), std::vector<Box>{Info(QStringLiteral("FTP-Upload OK mit page2.htm"))});
        QVERIFY(Uploaded("page2.htm").starts_with("<p>%IP%! %IP%!</p>\r\n"));
    }

    void theOfflinePageWithoutTemplateIsTheBuiltInOne() {
        auto home = Home();
        auto w = OpenWindow(*home);
        QCOMPARE(w->Ed4IP->text(), QStringLiteral("nicht bestimmt"));
        QTest::mouseClick(w->Btn4Off, Qt::LeftButton);
        QCOMPARE(Boxes(), (std::vector<Box>{Warn(Q("Seitenvorlage \"" + home->File("Offline.htm") +
                                                   "\" nicht gefunden!\r\n\nStandardvorlage wird benutzt.")),
                                            Info(QStringLiteral("FTP-Upload OK mit /page.htm"))}));
        const std::string page = Uploaded("page.htm");
        QVERIFY2(page.find("<H2><BR>zur Zeit offline!</H2>") != std::string::npos, page.c_str());
        QVERIFY(page.find("%IP%") == std::string::npos);
        const QString today = QDate::currentDate().toString(QStringLiteral("dd.MM.yy"));
        QVERIFY2(page.find("<SMALL>" + today.toStdString()) != std::string::npos, page.c_str());
        QVERIFY(page.ends_with("</SMALL></DIV>\r\n</BODY></HTML>\r\n"));

        // The online button without its template uses the built-in link to the address.
        w->EdVorl->setText(Q(home->File("fehlt.htm")));
        QTest::mouseClick(w->Btn4Up, Qt::LeftButton);
        QCOMPARE(Boxes().size(), std::size_t(2));
        QVERIFY(Uploaded("page.htm").find("<a href=\"http://nicht bestimmt/\">nicht bestimmt</a>") !=
                std::string::npos);

        // A template over the limit is not replaced by the built-in page: nothing goes out.
        const std::string before = Uploaded("page.htm");
        home->Write("gross.htm", std::string(1024 * 1024 + 1, 'x'));
        w->EdVorl->setText(Q(home->File("gross.htm")));
        QTest::mouseClick(w->Btn4Up, Qt::LeftButton);
        QCOMPARE(Boxes(), std::vector<Box>{Err(Q("Seitenvorlage \"" + home->File("gross.htm") +
                                                 "\" zu gro\xDF (1048577 Bytes, h\xF6"
                                                 "chstens 1 MiB)"))});
        QCOMPARE(Uploaded("page.htm"), before);
    }

    // The default offline template "Offline.htm" and other relative paths are looked up in the
    // program directory, wherever the manager was started from.
    void relativePathsAreTakenFromTheProgramDirectory() {
        auto home = Home();
        home->Write("Offline.htm", "<p>weg seit %Time%</p>\r\n");
        home->Write("Pelorix.ini", "[Settings]\r\nTempSite=PelorTmp.htm\r\nFTPHost=127.0.0.1\r\nFTPUser=" +
                                       std::string(FtpTestServer::kUser) +
                                       "\r\nFTPPass=" + pelorix::ScramblePassword(FtpTestServer::kPassword) +
                                       "\r\nFTPSite=/page.htm\r\nFTPPassive=1\r\n");
        const QString started = QDir::currentPath();
        QVERIFY(QDir::setCurrent(QDir::tempPath()));
        auto w = OpenWindow(*home);
        QCOMPARE(w->EdOffl->text(), QStringLiteral("Offline.htm"));
        QTest::mouseClick(w->Btn4Off, Qt::LeftButton);
        QDir::setCurrent(started);
        QCOMPARE(Boxes(), std::vector<Box>{Info(QStringLiteral("FTP-Upload OK mit /page.htm"))});
        QVERIFY(Uploaded("page.htm").starts_with("<p>weg seit "));
        QCOMPARE(home->Read("PelorTmp.htm"), Uploaded("page.htm"));
    }

    void additionalPagesAreMadeAndTheirFailuresReported() {
        auto home = Home();
        home->Write("add.htm", "IP=%IP%\n");
        auto w = OpenWindow(*home);
        w->CbPages->setChecked(true);
        w->AddPageFiles = {home->File("fehlt.htm"), home->File("add.htm"),  "", "", "",
                           home->File("out0.htm"),  home->File("out1.htm"), "", "", ""};
        w->Ed4IP->setText(Q(kAddress));
        QTest::mouseClick(w->Btn4Off, Qt::LeftButton);
        const auto boxes = Boxes();
        QCOMPARE(boxes.size(), std::size_t(3));
        QCOMPARE(boxes[0], Warn(Q("-Zusatzseite '" + home->File("fehlt.htm") +
                                  "' nicht gefunden oder nicht zu schreiben")));
        QCOMPARE(boxes[1].first, MsgBox::Kind::Warning); // no offline template
        QCOMPARE(boxes[2], Info(QStringLiteral("FTP-Upload OK mit /page.htm")));
        QCOMPARE(home->Read("out1.htm"), std::string("IP=192.0.2.44\r\n"));
        QVERIFY(!home->Exists("out0.htm"));
    }

    void failuresStopTheRunAtTheirStep() {
        auto home = Home();
        auto w = OpenWindow(*home);
        w->CbMail->setChecked(true);
        const int mails = MailCount();

        // The local page cannot be written: nothing is uploaded.
        w->EdGen->setText(Q(home->File("fehlt/PelorTmp.htm")));
        w->EdSite->setEditText(QStringLiteral("/nie.htm"));
        QTest::mouseClick(w->Btn4Up, Qt::LeftButton);
        QCOMPARE(Boxes(),
                 std::vector<Box>{Err(QString::fromUtf8("Schreibfehler bei lokaler temporärer Seite \"") +
                                      Q(home->File("fehlt/PelorTmp.htm")) + QLatin1Char('"'))});
        QVERIFY(!ftp_->Root().Exists("nie.htm"));

        // A refused login: no mail either.
        w->EdGen->setText(Q(home->File("PelorTmp.htm")));
        w->EdPass->setText(QStringLiteral("falsch"));
        QTest::mouseClick(w->Btn4Up, Qt::LeftButton);
        QCOMPARE(Boxes(), std::vector<Box>{Err(QStringLiteral("FTP-Login gescheitert"))});
        QVERIFY(!ftp_->Root().Exists("nie.htm"));
        QTest::qWait(100);
        QCOMPARE(MailCount(), mails);
    }

    void theMailFollowsASuccessfulUpload() {
        auto home = Home();
        auto w = OpenWindow(*home);
        w->CbMail->setChecked(true);
        w->Ed4IP->setText(Q(kAddress));
        const int first = MailCount() + 1;
        QTest::mouseClick(w->Btn4Up, Qt::LeftButton);
        QCOMPARE(Boxes(), (std::vector<Box>{Info(QStringLiteral("FTP-Upload OK mit /page.htm")),
                                            Info(QStringLiteral("Mailversand erfolgreich"))}));
        std::string mail = Mail(first);
        QVERIFY2(mail.find("header\tSubject: Adresse 192.0.2.44\n") != std::string::npos, mail.c_str());
        QVERIFY2(mail.find("rcpt\tanna@example.org\n") != std::string::npos, mail.c_str());
        QVERIFY2(mail.find("body\tNeu: 192.0.2.44\n") != std::string::npos, mail.c_str());

        // The offline page announces "offline".
        QTest::mouseClick(w->Btn4Off, Qt::LeftButton);
        const auto boxes = Boxes();
        QCOMPARE(boxes.back(), Info(QStringLiteral("Mailversand erfolgreich")));
        mail = Mail(first + 1);
        QVERIFY2(mail.find("header\tSubject: Adresse offline\n") != std::string::npos, mail.c_str());
        QVERIFY2(mail.find("body\tNeu: offline\n") != std::string::npos, mail.c_str());
    }

    void aFailedPop3CheckIsFollowedByTheMailsOwnOutcome() {
        auto home = Home();
        auto w = OpenWindow(*home);
        w->Ed4IP->setText(Q(kAddress));
        w->MailData.Auth = "Pop3"; // nothing answers on port 110
        w->MailData.POP3Srv = "127.0.0.1";
        w->MailData.AuthID = "anna";
        w->MailData.AuthPw = "falsch";
        QVERIFY(w->SendAddressMail(true));
        QCOMPARE(Boxes(),
                 (std::vector<Box>{Err(QStringLiteral("POP3-Check gescheitert: Server nicht erreicht")),
                                   Info(QStringLiteral("Mailversand erfolgreich"))}));

        w->MailData.Auth = "no";
        w->MailData.Server = "127.0.0.2"; // no SMTP server there
        QVERIFY(!w->SendAddressMail(true));
        QCOMPARE(Boxes(),
                 std::vector<Box>{Err(QStringLiteral("Mailversand gescheitert: Server nicht erreicht"))});
        w->MailData.Server.clear();
        QVERIFY(!w->SendAddressMail(false));
        QCOMPARE(Boxes(),
                 std::vector<Box>{Err(QStringLiteral("Mailversand gescheitert: fehlende SMTP-Parameter"))});
    }

    // A veth pair stands in for the line: its addresses are listed with the one the service would
    // publish marked, which then fills "%IP6%" of the manual upload.
    void ipv6AddressesAreListedAndTheChosenOneIsPublished() {
        struct Pair {
            Pair() {
                ok = std::system("ip link add veth0 type veth peer name veth1 && ip link set veth1 up && "
                                 "ip link set veth0 up && "
                                 "ip -6 addr add 2001:db8:1::10/64 dev veth0 nodad && "
                                 "ip -6 addr add 2001:db8:1::dead/64 dev veth0 nodad preferred_lft 0 && "
                                 "ip -6 addr add fd00::1/64 dev veth0 nodad && "
                                 "ip -6 route add default via 2001:db8:1::1 dev veth0") == 0;
            }
            ~Pair() { std::system("ip link del veth0"); }
            bool ok = false;
        } pair;
        QVERIFY(pair.ok);
        auto home = Home();
        home->Write("Online.htm", "<p>%IP6% / %IP%</p>\r\n");
        auto w = OpenWindow(*home);
        w->CbIPv6->setCurrentIndex(1);
        QTest::mouseClick(w->Btn4Akt, Qt::LeftButton);
        const QStringList lines = w->Memo4IPs->toPlainText().split(QLatin1Char('\n'));
        for (const QString& line :
             {QStringLiteral("2001:db8:1::10  (gewählt)"), QStringLiteral("2001:db8:1::dead  (veraltet)"),
              QStringLiteral("fd00::1  (nicht öffentlich)")})
            QVERIFY2(lines.contains(line), qPrintable(lines.join(QLatin1Char('|'))));
        QCOMPARE(w->Ed4IP6->text(), QStringLiteral("2001:db8:1::10"));
        QTest::mouseClick(w->Btn4Up, Qt::LeftButton);
        QCOMPARE(Q(Uploaded("page.htm")), QStringLiteral("<p>2001:db8:1::10 / 192.0.2.44</p>\r\n"));
        TakeBoxes();
    }

    void cleanupTestCase() {
        smtp_.reset();
        ftp_.reset();
        web_.reset();
    }
};

PELORIX_MGR_TEST_MAIN(AddressPageNetTest)
#include "AddressPageNetTest.moc"
