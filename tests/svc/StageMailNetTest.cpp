// The worker's mail stage against scripted SMTP and POP3 servers on their usual ports 25 and
// 110 (private loopback): the status lines, their levels and the stage's result.

#include "../mail/MailTestPeers.h"
#include "StageTestKit.h"
#include "mail/SimpleMail.h"

#include <gtest/gtest.h>

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

TEST_F(StageMailTest, RefusedRecipientsAreReportedByTheirCode) {
    kit_.service.MailData.To = "anna@example.org, bob@example.org";
    test::SmtpReplies one;
    one.rcpt = {"550 unknown\r\n"};
    ServeSmtp(one);
    EXPECT_FALSE(kit_.Worker().NotifyByMail(true));
    EXPECT_EQ(kit_.Lines(), V{"-Mailversand gescheitert: undefinierter Fehler"});

    test::SmtpReplies none;
    none.rcpt = {"550 unknown\r\n", "550 unknown\r\n"};
    ServeSmtp(none);
    EXPECT_FALSE(kit_.Worker().NotifyByMail(true));
    EXPECT_EQ(kit_.Lines(), V{"-Mailversand gescheitert: Empfänger nicht akzeptiert"_l1});
}

} // namespace
} // namespace pelorix
