// The address mail received by a real SMTP server (aiosmtpd on port 25 of the private
// loopback): what a mail reader sees of the sender, recipients, subject, date and text.

#include "../mail/MailTestPeers.h"
#include "ReceivedMail.h"
#include "ServerProcess.h"
#include "TempDir.h"
#include "base/Latin1.h"
#include "svc/MailCompose.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace pelorix {
namespace {

using test::ReadReceived;
using test::Received;
using test::ServerProcess;
using test::TempDir;

class RealSmtpTest : public ::testing::Test {
protected:
    RealSmtpTest() : clock_(test::SampleTime()) {
        mail_ = DefaultMailData();
        mail_.Server = "127.0.0.1";
        mail_.From = "ip@example.org";
        mail_.Sender = "Büro Pelorix"_l1;
        mail_.To = "Anna Muster <anna@example.org>; bob@example.org";
        mail_.CC = "carl@example.org";
        mail_.BCC = "hidden@example.org";
        link_.ConnectTimeoutMs = 5000;
        link_.ReplyTimeoutMs = 10000;
    }

    void StartServer(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> argv = {
            test::SystemPython(), test::SourcePath("tests/support/smtp_server.py"), "--port", "25", "--dir",
            dir_.Path()};
        argv.insert(argv.end(), extra.begin(), extra.end());
        server_ = std::make_unique<ServerProcess>(argv, dir_.File("server.log"));
        ASSERT_TRUE(server_->WaitForPort(25, 15000)) << dir_.Read("server.log");
    }

    int Send() { return DeliverAddressMail(mail_, "10.1.2.3", clock_, nullptr, link_); }

    test::FixedClock clock_;
    TMailData mail_;
    MailLinkOptions link_;
    TempDir dir_;
    std::unique_ptr<ServerProcess> server_;
};

TEST_F(RealSmtpTest, ServerReadsSenderRecipientsSubjectDateAndText) {
    StartServer();
    ASSERT_EQ(Send(), 0) << dir_.Read("server.log");
    const Received r = ReadReceived(dir_, 1);
    ASSERT_TRUE(r.found);
    EXPECT_EQ(r.mailFrom, "ip@example.org");
    EXPECT_EQ(r.rcpt, (std::vector<std::string>{"anna@example.org", "bob@example.org", "carl@example.org",
                                                "hidden@example.org"}));
    EXPECT_EQ(r.headers.at("From"), "Büro Pelorix <ip@example.org>");
    EXPECT_EQ(r.headers.at("To"), "Anna Muster <anna@example.org>, bob@example.org");
    EXPECT_EQ(r.headers.at("Cc"), "carl@example.org");
    EXPECT_EQ(r.headers.at("Subject"), "dynamische IP-Adresse ist 10.1.2.3");
    EXPECT_EQ(r.headers.at("Date"), "Thu, 05 Mar 2026 14:05:09 +0100");
    EXPECT_EQ(r.headers.count("Bcc"), 0u);
    EXPECT_EQ(dir_.Read("msg1.eml").find("hidden@example.org"), std::string::npos);
    ASSERT_GE(r.body.size(), 3u);
    EXPECT_EQ(r.body[0], "Die IP-Adresse lautet: 10.1.2.3");
    EXPECT_EQ(r.body[1], "http://10.1.2.3,  ftp://10.1.2.3");
    EXPECT_EQ(r.body[2], "[ gueltig seit 05.03.26, 14:05 Uhr ]");
}

TEST_F(RealSmtpTest, NonAsciiSubjectAndTextArriveIntact) {
    StartServer();
    mail_.Subject = "Neue Adresse für Jörg: %IP%"_l1;
    mail_.Text = "Grüße, die Adresse ist %IP%\r\n.\r\nEnde"_l1;
    ASSERT_EQ(Send(), 0);
    const Received r = ReadReceived(dir_, 1);
    ASSERT_TRUE(r.found);
    EXPECT_EQ(r.headers.at("Subject"), "Neue Adresse für Jörg: 10.1.2.3");
    ASSERT_GE(r.body.size(), 3u);
    EXPECT_EQ(r.body[0], "Grüße, die Adresse ist 10.1.2.3");
    EXPECT_EQ(r.body[1], ".");
    EXPECT_EQ(r.body[2], "Ende");
}

TEST_F(RealSmtpTest, AuthLoginWithTheRightAndTheWrongPassword) {
    StartServer({"--auth", "anna:geheim"});
    mail_.Auth = "Auth";
    mail_.AuthID = "anna";
    mail_.AuthPw = "geheim";
    ASSERT_EQ(Send(), 0) << dir_.Read("server.log");
    const Received r = ReadReceived(dir_, 1);
    ASSERT_TRUE(r.found);
    EXPECT_TRUE(r.authenticated);

    mail_.AuthPw = "falsch";
    EXPECT_EQ(Send(), -4);
    EXPECT_FALSE(ReadReceived(dir_, 2).found);
}

} // namespace
} // namespace pelorix
