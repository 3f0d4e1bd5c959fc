// The address mail's composition: placeholders, authentication modes, the POP3 check before
// sending and the result texts, against scripted servers.

#include "svc/MailCompose.h"
#include "../mail/MailTestPeers.h"
#include "common/Latin1.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pelorix {
namespace {

using test::PeerConnection;
using test::ScriptedPeer;

// A clock whose minute moves on with every reading.
class TickingClock final : public IClock {
public:
    LocalTime Now() const override {
        LocalTime t = test::SampleTime();
        t.minute += reads_++;
        return t;
    }
    long long MonotonicMs() const override { return 0; }

private:
    mutable int reads_ = 0;
};

TEST(MailPlaceholders, SubjectReplacesOnlyTheAddress) {
    EXPECT_EQ(FillMailSubject("dynamische IP-Adresse ist %IP%", "10.1.2.3"),
              "dynamische IP-Adresse ist 10.1.2.3");
    EXPECT_EQ(FillMailSubject("%IP% am %Date% um %Time% (%IP%)", "offline"),
              "offline am %Date% um %Time% (offline)");
    // A value holding the placeholder itself is inserted once, not replaced again and again.
    EXPECT_EQ(FillMailSubject("a %IP% b", "%IP%"), "a %IP% b");
    EXPECT_EQ(MailAddressText(true, "10.1.2.3"), "10.1.2.3");
    EXPECT_EQ(MailAddressText(false, "10.1.2.3"), "offline");
}

TEST(MailPlaceholders, DefaultTextGivesThreeLines) {
    const test::FixedClock clock(test::SampleTime());
    const std::string text = FillMailText(DefaultMailData().Text, "10.1.2.3", clock);
    EXPECT_EQ(text, "Die IP-Adresse lautet: 10.1.2.3\r\nhttp://10.1.2.3,  ftp://10.1.2.3\r\n"
                    "[ gueltig seit 05.03.26, 14:05 Uhr ]");
}

TEST(MailPlaceholders, EveryTimePlaceholderReadsTheClockAnew) {
    const TickingClock clock;
    EXPECT_EQ(FillMailText("%Time% %Time% %Date%", "x", clock), "14:06 14:07 05.03.26");
    const test::FixedClock fixed(test::SampleTime());
    EXPECT_EQ(FillMailText("%time% %IP%%IP%", "1.2.3.4", fixed), "%time% 1.2.3.41.2.3.4");
}

TEST(MailResultTexts, CodesToReasons) {
    EXPECT_EQ(Pop3ResultText(1), "Passwort falsch");
    EXPECT_EQ(Pop3ResultText(2), "Konto unbekannt");
    EXPECT_EQ(Pop3ResultText(3), "Server nicht erreicht");
    EXPECT_EQ(Pop3ResultText(4), "keine Netzwerksverbindung");
    EXPECT_EQ(Pop3ResultText(5), "fehlende POP3-Parameter");
    EXPECT_EQ(Pop3ResultText(0), "undefinierter Fehler");
    EXPECT_EQ(SmtpResultText(1), "Übertragungsfehler"_l1);
    EXPECT_EQ(SmtpResultText(3), "Server nicht erreicht");
    EXPECT_EQ(SmtpResultText(4), "keine Netzwerksverbindung");
    EXPECT_EQ(SmtpResultText(5), "fehlende SMTP-Parameter");
    EXPECT_EQ(SmtpResultText(-2), "Empfänger nicht akzeptiert"_l1);
    EXPECT_EQ(SmtpResultText(-3), "Absender nicht akzeptiert");
    EXPECT_EQ(SmtpResultText(-4), "Authentifizierung unzureichend");
    EXPECT_EQ(SmtpResultText(-1), "undefinierter Fehler");
    EXPECT_EQ(SmtpResultText(2), "undefinierter Fehler");
}

class AddressMailTest : public ::testing::Test {
protected:
    AddressMailTest() : clock_(test::SampleTime()) {
        mail_ = DefaultMailData();
        mail_.Server = "127.0.0.1";
        mail_.POP3Srv = "127.0.0.1";
        mail_.From = "ip@example.org";
        mail_.To = "anna@example.org";
        mail_.AuthID = "anna";
        mail_.AuthPw = "geheim";
        link_.SmtpPort = smtp_.Port();
        link_.Pop3Port = pop3_.Port();
        link_.ConnectTimeoutMs = 2000;
        link_.ReplyTimeoutMs = 2000;
    }

    // Runs the send; records the POP3 code handed over and whether the mail server had been
    // contacted at that moment.
    int Send(const test::SmtpReplies& smtpReplies = {}, const test::Pop3Replies& pop3Replies = {},
             int smtpAcceptMs = 2000) {
        smtp_.Run([smtpReplies](PeerConnection& c) { test::PlaySmtp(c, smtpReplies); }, smtpAcceptMs);
        pop3_.Run([pop3Replies](PeerConnection& c) { test::PlayPop3(c, pop3Replies); }, 500);
        const int code = DeliverAddressMail(
            mail_, "10.1.2.3", clock_, [this](int pop3Code) { pop3Codes_.push_back(pop3Code); }, link_);
        smtpSent_ = smtp_.Finish();
        pop3Sent_ = pop3_.Finish();
        return code;
    }

    test::FixedClock clock_;
    TMailData mail_;
    MailLinkOptions link_;
    ScriptedPeer smtp_;
    ScriptedPeer pop3_;
    std::vector<int> pop3Codes_;
    std::string smtpSent_;
    std::string pop3Sent_;
};

TEST_F(AddressMailTest, ModeNoSendsWithoutCheckOrAuthentication) {
    mail_.Auth = "no";
    EXPECT_EQ(Send(), 0);
    EXPECT_TRUE(pop3Codes_.empty());
    EXPECT_EQ(pop3Sent_, "");
    EXPECT_EQ(smtpSent_.find("AUTH"), std::string::npos);
    EXPECT_NE(smtpSent_.find("\r\nSubject: dynamische IP-Adresse ist 10.1.2.3\r\n"), std::string::npos);
    EXPECT_NE(smtpSent_.find("\r\n\r\nDie IP-Adresse lautet: 10.1.2.3\r\nhttp://10.1.2.3,  ftp://10.1.2.3\r\n"
                             "[ gueltig seit 05.03.26, 14:05 Uhr ]\r\n\r\n.\r\n"),
              std::string::npos);
    EXPECT_NE(smtpSent_.find("\r\nFrom: Pelorix <ip@example.org>\r\n"), std::string::npos);
}

TEST_F(AddressMailTest, ModeAuthLogsInOverSmtp) {
    mail_.Auth = "Auth";
    EXPECT_EQ(Send(), 0);
    EXPECT_TRUE(pop3Codes_.empty());
    EXPECT_NE(
        smtpSent_.find("AUTH LOGIN\r\n" + EncodeBase64("anna") + "\r\n" + EncodeBase64("geheim") + "\r\n"),
        std::string::npos);
}

TEST_F(AddressMailTest, ModePop3ChecksFirstAndSendsEvenWhenThePasswordIsWrong) {
    mail_.Auth = "Pop3";
    test::Pop3Replies refused;
    refused.pass = "-ERR invalid password\r\n";
    EXPECT_EQ(Send({}, refused), 0);
    EXPECT_EQ(pop3Codes_, std::vector<int>{1});
    EXPECT_EQ(pop3Sent_, "USER anna\r\nPASS geheim\r\nQUIT\r\n");
    EXPECT_EQ(smtpSent_.find("AUTH"), std::string::npos);
    EXPECT_NE(smtpSent_.find("DATA\r\n"), std::string::npos);
}

TEST_F(AddressMailTest, ModesDifferingInCaseUseNeither) {
    mail_.Auth = "pop3";
    EXPECT_EQ(Send(), 0);
    EXPECT_TRUE(pop3Codes_.empty());
    EXPECT_EQ(smtpSent_.find("AUTH"), std::string::npos);

    TMailData modes;
    modes.Auth = "AUTH";
    EXPECT_FALSE(UsesSmtpAuth(modes));
    modes.Auth = "Auth";
    EXPECT_TRUE(UsesSmtpAuth(modes));
    modes.Auth = "Pop3";
    EXPECT_TRUE(UsesPop3Check(modes));
}

TEST_F(AddressMailTest, MissingServerGivesFiveAndMissingPop3ParametersFive) {
    mail_.Auth = "Pop3";
    mail_.POP3Srv = "";
    mail_.Server = "";
    EXPECT_EQ(Send({}, {}, 300), 5);
    EXPECT_EQ(pop3Codes_, std::vector<int>{5});
    EXPECT_EQ(smtpSent_, "");
}

} // namespace
} // namespace pelorix
