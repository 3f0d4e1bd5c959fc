// The worker's mail stage against scripted SMTP and POP3 servers on their usual ports 25 and
// 110 (private loopback): the status lines, their levels and the stage's result; and the whole
// service sending one mail, to a real SMTP server, after each publication.

#include "../mail/MailTestPeers.h"
#include "FtpTestServer.h"
#include "HelperChildren.h"
#include "ServerProcess.h"
#include "SimulatedService.h"
#include "StageTestKit.h"
#include "TempDir.h"
#include "common/Config.h"
#include "mail/SimpleMail.h"

#include "base/Latin1.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <thread>

#include <memory>
#include <string>
#include <vector>

namespace pelorix {
namespace {

using test::PeerConnection;
using test::ScriptedPeer;
using V = std::vector<std::string>;

class StageMailTest : public ::testing::Test {
protected:
    StageMailTest() {
        TMailData& mail = kit_.service.MailData;
        mail = DefaultMailData();
        mail.Server = "127.0.0.1";
        mail.POP3Srv = "127.0.0.1";
        mail.From = "ip@example.org";
        mail.To = "anna@example.org";
        mail.AuthID = "anna";
        mail.AuthPw = "geheim";
        kit_.service.eMail = true;
        kit_.Worker().CurrentIP = "10.1.2.3";
    }

    void ServeSmtp(const test::SmtpReplies& replies = {}) {
        smtp_.reset(); // the port is free again before the next server takes it
        smtp_ = std::make_unique<ScriptedPeer>(kSmtpPort);
        smtp_->Run([replies](PeerConnection& c) { test::PlaySmtp(c, replies); }, 3000);
    }
    void ServePop3(const test::Pop3Replies& replies = {}) {
        pop3_.reset();
        pop3_ = std::make_unique<ScriptedPeer>(kPop3Port);
        pop3_->Run([replies](PeerConnection& c) { test::PlayPop3(c, replies); }, 3000);
    }
    std::string SmtpBytes() { return smtp_ ? smtp_->Finish() : std::string(); }

    test::StageKit kit_;
    std::unique_ptr<ScriptedPeer> smtp_;
    std::unique_ptr<ScriptedPeer> pop3_;
};

TEST_F(StageMailTest, DeliveredMailIsReportedAtLevelThree) {
    ServeSmtp();
    EXPECT_TRUE(kit_.Worker().NotifyByMail(true));
    EXPECT_EQ(kit_.Lines(), V{"+Mailversand OK"});
    const std::string sent = SmtpBytes();
    EXPECT_NE(sent.find("\r\nSubject: dynamische IP-Adresse ist 10.1.2.3\r\n"), std::string::npos);
    EXPECT_NE(sent.find("\r\n[ gueltig seit 07.12.26, 22:05 Uhr ]\r\n"), std::string::npos);
    EXPECT_EQ(sent.find("AUTH"), std::string::npos);

    kit_.Worker().MsgLevel = 2;
    ServeSmtp();
    EXPECT_TRUE(kit_.Worker().NotifyByMail(true));
    EXPECT_TRUE(kit_.Lines().empty());
}

TEST_F(StageMailTest, OfflineMailCarriesTheWordOffline) {
    ServeSmtp();
    EXPECT_TRUE(kit_.Worker().NotifyByMail(false));
    const std::string sent = SmtpBytes();
    EXPECT_NE(sent.find("\r\nSubject: dynamische IP-Adresse ist offline\r\n"), std::string::npos);
    EXPECT_NE(sent.find("\r\nDie IP-Adresse lautet: offline\r\n"), std::string::npos);
}

TEST_F(StageMailTest, WrongPop3PasswordIsReportedBeforeTheMailGoesOut) {
    kit_.service.MailData.Auth = "Pop3";
    test::Pop3Replies refused;
    refused.pass = "-ERR invalid password\r\n";
    ServePop3(refused);
    ServeSmtp();
    EXPECT_TRUE(kit_.Worker().NotifyByMail(true));
    EXPECT_EQ(kit_.Lines(), (V{"+POP3-Check gescheitert: Passwort falsch", "+Mailversand OK"}));
    EXPECT_EQ(pop3_->Finish(), "USER anna\r\nPASS geheim\r\nQUIT\r\n");
    EXPECT_EQ(SmtpBytes().find("AUTH"), std::string::npos);

    // Level 2 keeps the check's failure, but not the mail's success.
    kit_.Worker().MsgLevel = 2;
    ServePop3(refused);
    ServeSmtp();
    EXPECT_TRUE(kit_.Worker().NotifyByMail(true));
    EXPECT_EQ(kit_.Lines(), V{"+POP3-Check gescheitert: Passwort falsch"});
}

TEST_F(StageMailTest, SuccessfulPop3CheckIsALevelFourLine) {
    kit_.service.MailData.Auth = "Pop3";
    ServePop3();
    ServeSmtp();
    EXPECT_TRUE(kit_.Worker().NotifyByMail(true));
    EXPECT_EQ(kit_.Lines(), (V{"+POP3-Check OK", "+Mailversand OK"}));

    kit_.Worker().MsgLevel = 3;
    ServePop3();
    ServeSmtp();
    EXPECT_TRUE(kit_.Worker().NotifyByMail(true));
    EXPECT_EQ(kit_.Lines(), V{"+Mailversand OK"});
}

TEST_F(StageMailTest, AuthModeOffersLoginAndOtherCasesUseNeither) {
    kit_.service.MailData.Auth = "Auth";
    ServeSmtp();
    EXPECT_TRUE(kit_.Worker().NotifyByMail(true));
    EXPECT_NE(SmtpBytes().find("AUTH LOGIN\r\n"), std::string::npos);

    kit_.service.MailData.Auth = "POP3";
    ServeSmtp();
    EXPECT_TRUE(kit_.Worker().NotifyByMail(true));
    EXPECT_EQ(SmtpBytes().find("AUTH"), std::string::npos);
    EXPECT_EQ(kit_.Lines(), (V{"+Mailversand OK", "+Mailversand OK"}));
}

TEST_F(StageMailTest, FailuresBecomeOneLineAtLevelTwo) {
    // Nobody listens on port 25.
    EXPECT_FALSE(kit_.Worker().NotifyByMail(true));
    EXPECT_EQ(kit_.Lines(), V{"-Mailversand gescheitert: Server nicht erreicht"});

    kit_.service.MailData.Server = "";
    kit_.service.MailData.Auth = "Pop3";
    kit_.service.MailData.POP3Srv = "";
    EXPECT_FALSE(kit_.Worker().NotifyByMail(true));
    EXPECT_EQ(kit_.Lines(), (V{"+POP3-Check gescheitert: fehlende POP3-Parameter",
                               "-Mailversand gescheitert: fehlende SMTP-Parameter"}));
}

TEST_F(StageMailTest, EachFailureNamesItsCauseInOneLineWithTheReplyBelow) {
    test::SmtpReplies protectedOnly;
    protectedOnly.mailFrom = "530 5.7.0 Must issue a STARTTLS command first\r\n";
    ServeSmtp(protectedOnly);
    EXPECT_FALSE(kit_.Worker().NotifyByMail(true));
    EXPECT_EQ(kit_.Lines(), (V{"-Mailversand gescheitert: Server verlangt geschützte Verbindung - "
                               "Einstellung \"Verschlüsselung:\" prüfen"_l1,
                               "-SMTP-Antwort: 530 5.7.0 Must issue a STARTTLS command first"}));

    // A greeting of a megabyte is no greeting, and nothing follows it.
    smtp_.reset();
    smtp_ = std::make_unique<ScriptedPeer>(kSmtpPort);
    smtp_->Run([](PeerConnection& c) {
        const std::string line = "220-" + std::string(1000, 'x') + "\r\n";
        for (int i = 0; i < 1000 && c.Send(line); ++i) {
        }
    });
    EXPECT_FALSE(kit_.Worker().NotifyByMail(true));
    EXPECT_EQ(SmtpBytes(), "");
    EXPECT_EQ(kit_.Lines(), V{"-Mailversand gescheitert: Antwort des Servers zu groß oder ungültig"_l1});
}

TEST_F(StageMailTest, ConnectionThatCannotBeSecuredIsOneFailedAttempt) {
    kit_.service.MailData.Security = "starttls";
    kit_.service.MailData.Port = kSmtpPort;
    ServeSmtp(); // offers no STARTTLS
    EXPECT_FALSE(kit_.Worker().NotifyByMail(true));
    EXPECT_EQ(kit_.Lines(), V{"-Mailversand gescheitert: Verbindung nicht sicher"});
}

TEST_F(StageMailTest, MailHelperThatDiesIsReportedAsSuch) {
    kit_.service.MailData.Security = "starttls";
    kit_.service.MailData.Port = kSmtpPort;
    smtp_ = std::make_unique<ScriptedPeer>(kSmtpPort);
    smtp_->Run([](PeerConnection& c) {
        c.Send("220 hi\r\n");
        c.ReadToEnd(10000);
    });
    bool sent = true;
    std::thread attempt([&] { sent = kit_.Worker().NotifyByMail(true); });
    std::vector<pid_t> helpers;
    for (int i = 0; i < 500 && helpers.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        helpers = test::HelperChildren();
    }
    ASSERT_EQ(helpers.size(), 1u);
    ::kill(helpers.front(), SIGKILL);
    attempt.join();
    EXPECT_FALSE(sent);
    EXPECT_EQ(kit_.Lines(), V{"-Mailversand gescheitert: Mail-Prozess unerwartet beendet"});
    smtp_.reset();
}

TEST_F(StageMailTest, RefusedRecipientsAreReportedByTheirCode) {
    kit_.service.MailData.To = "anna@example.org, bob@example.org";
    test::SmtpReplies one;
    one.rcpt = {"550 unknown\r\n"};
    ServeSmtp(one);
    EXPECT_FALSE(kit_.Worker().NotifyByMail(true));
    EXPECT_EQ(kit_.Lines(),
              (V{"-Mailversand gescheitert: undefinierter Fehler", "-SMTP-Antwort: 550 unknown"}));

    test::SmtpReplies none;
    none.rcpt = {"550 unknown\r\n", "550 unknown\r\n"};
    ServeSmtp(none);
    EXPECT_FALSE(kit_.Worker().NotifyByMail(true));
    EXPECT_EQ(kit_.Lines(),
              (V{"-Mailversand gescheitert: Empfänger nicht akzeptiert"_l1, "-SMTP-Antwort: 550 unknown"}));
}

int CountOf(const std::string& text, const std::string& what) {
    int count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

std::string SubjectOf(const std::string& message) {
    const std::size_t subject = message.find("\r\nSubject: ");
    if (subject == std::string::npos)
        return message;
    const std::size_t subjectEnd = message.find("\r\n", subject + 2);
    return message.substr(subject + 2, subjectEnd - subject - 2);
}

// The whole service (in this process, on the simulated clock): the address from a web page,
// the page uploaded by FTP, then exactly one mail to a real SMTP server, after a POP3 check
// whose password the server refuses. The next check finds the address unchanged and sends
// nothing; a new address is published at the check after the change, with its own mail.
TEST(ServiceMailNetTest, EachPublicationSendsOneMailAfterTheRefusedPop3Check) {
    test::TempDir site;
    site.Write("ip.htm", "<html><body>Current IP Address: 84.123.45.6</body></html>\n");
    test::ServerProcess web(
        {test::SystemPython(), "-m", "http.server", "80", "--bind", "127.0.0.1", "--directory", site.Path()},
        site.File("http.log"));
    ASSERT_TRUE(web.WaitForPort(80));
    test::FtpTestServer ftp(21);
    ASSERT_TRUE(ftp.Ready()) << ftp.Log();
    test::TempDir mailbox;
    test::ServerProcess smtp({test::SystemPython(), test::SourcePath("tests/support/smtp_server.py"),
                              "--port", "25", "--dir", mailbox.Path()},
                             mailbox.File("smtp.log"));
    ASSERT_TRUE(smtp.WaitForPort(25, 15000)) << mailbox.Read("smtp.log");
    test::Pop3Replies refused;
    refused.pass = "-ERR invalid password\r\n";
    const auto servePop3 = [&refused] {
        auto pop3 = std::make_unique<ScriptedPeer>(kPop3Port);
        pop3->Run([refused](PeerConnection& c) { test::PlayPop3(c, refused); }, 30000);
        return pop3;
    };
    std::unique_ptr<ScriptedPeer> pop3 = servePop3();

    test::TempDir home;
    home.Write("Pelorix.htm", "<p>%IP%</p>\n");
    home.Write("Pelorix.ini", "[Settings]\r\nHTMLTemplate=" + home.File("Pelorix.htm") +
                                  "\r\nTempSite=" + home.File("PelorTmp.htm") +
                                  "\r\nFTPHost=127.0.0.1\r\nFTPUser=" + test::FtpTestServer::kUser +
                                  "\r\nFTPPass=" + ScramblePassword(test::FtpTestServer::kPassword) +
                                  "\r\nFTPSite=/myserver.htm\r\nFTPPassive=1\r\nRouter=1\r\n"
                                  "IPSource=127.0.0.1/ip.htm\r\nIntervall=1\r\nMessages=0\r\n"
                                  "MsgLevel=4\r\nLogFile=1\r\neMail=1\r\n"
                                  "[SendMail]\r\nServer=127.0.0.1\r\nPOP3Srv=127.0.0.1\r\n"
                                  "From=ip@example.org\r\nTo=anna@example.org\r\nAuth=Pop3\r\n"
                                  "AuthID=anna\r\nAuthPw=" +
                                  ScramblePassword("falsch") + "\r\n");

    test::SimulatedService run(home.Path());
    std::string firstPop3;
    bool secondMailEarly = true;
    run.sleeper.betweenTicks = [&](int tick) {
        if (tick != 2)
            return;
        secondMailEarly = mailbox.Exists("msg2.txt");
        firstPop3 = pop3->Finish();
        pop3.reset(); // the port is free again before the next server takes it
        pop3 = servePop3();
        site.Write("ip.htm", "<html><body>Current IP Address: 84.123.45.7</body></html>\n");
    };
    ASSERT_TRUE(run.Run(3)) << run.Log();

    const std::string first = run.LogAfter(2);
    const std::size_t upload = first.find("+FTP-Upload OK mit 84.123.45.6");
    const std::size_t check = first.find("] +POP3-Check gescheitert: Passwort falsch\r\n");
    const std::size_t sent = first.find("] +Mailversand OK\r\n");
    ASSERT_NE(upload, std::string::npos) << first;
    ASSERT_NE(check, std::string::npos) << first;
    ASSERT_NE(sent, std::string::npos) << first;
    EXPECT_LT(upload, check);
    EXPECT_LT(check, sent);
    EXPECT_EQ(CountOf(first, "+HTTP-Antwortseite gelesen"), 2) << first;
    EXPECT_EQ(CountOf(first, "+FTP-Upload OK"), 1) << first;
    EXPECT_EQ(CountOf(first, "Mailversand"), 1) << first;
    EXPECT_EQ(firstPop3, "USER anna\r\nPASS falsch\r\nQUIT\r\n");
    EXPECT_FALSE(secondMailEarly) << "the unchanged address sends no mail";
    EXPECT_TRUE(mailbox.Exists("msg1.txt"));
    EXPECT_EQ(SubjectOf(mailbox.Read("msg1.eml")), "Subject: dynamische IP-Adresse ist 84.123.45.6");

    const std::string log = home.Read("Pelorix.log");
    const std::size_t second = log.find("+FTP-Upload OK mit 84.123.45.7");
    ASSERT_NE(second, std::string::npos) << log;
    EXPECT_LT(second, log.find("] +Mailversand OK\r\n", sent + 1));
    EXPECT_EQ(CountOf(log, "Mailversand"), 2) << log;
    EXPECT_EQ(pop3->Finish(), "USER anna\r\nPASS falsch\r\nQUIT\r\n");
    EXPECT_EQ(ftp.Root().Read("myserver.htm"), "<p>84.123.45.7</p>\r\n");
    EXPECT_TRUE(mailbox.Exists("msg2.txt"));
    EXPECT_FALSE(mailbox.Exists("msg3.txt"));
    EXPECT_EQ(SubjectOf(mailbox.Read("msg2.eml")), "Subject: dynamische IP-Adresse ist 84.123.45.7");
}

} // namespace
} // namespace pelorix
