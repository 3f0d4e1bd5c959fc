// The mail over protected connections against real servers on the private loopback: aiosmtpd as
// a submission server (STARTTLS required, AUTH on 587) and with TLS from the first byte (465),
// dovecot with TLS on 995 and STLS on 110. The certificates are made here and trusted by pin;
// the mails go out from a helper process, as in the service.

#include "../mail/MailTestPeers.h"
#include "ReceivedMail.h"
#include "ServerProcess.h"
#include "StageTestKit.h"
#include "TempDir.h"
#include "base/Latin1.h"
#include "net/Trust.h"
#include "svc/MailCompose.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace pelorix {
namespace {

using test::ServerProcess;
using test::TempDir;
using V = std::vector<std::string>;

std::string Output(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe))
            out += buffer;
        ::pclose(pipe);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

// A self-signed certificate for "mail.test" and the pin of its key.
std::string MakeCertificate(const TempDir& dir) {
    const std::string cert = dir.File("cert.pem");
    const std::string key = dir.File("key.pem");
    Output("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj "
           "/CN=mail.test"
           " -keyout " +
           key + " -out " + cert + " 2>/dev/null");
    return "sha256//" + Output("openssl x509 -in " + cert +
                               " -pubkey -noout | openssl pkey -pubin -outform der"
                               " | openssl dgst -sha256 -binary | base64");
}

class SecureMailTest : public ::testing::Test {
protected:
    SecureMailTest() : clock_(test::SampleTime()) {
        ::chmod(dir_.Path().c_str(), 0755); // dovecot's login and mail users look inside
        pin_ = MakeCertificate(dir_);
        mail_ = DefaultMailData();
        mail_.Server = "127.0.0.1";
        mail_.POP3Srv = "127.0.0.1";
        mail_.From = "ip@example.org";
        mail_.Sender = "Server_Büro = Jörg"_l1;
        mail_.Subject = "Neue IP für Jörg? %IP%"_l1;
        mail_.AuthID = "anna";
        mail_.AuthPw = "geheim";
        mail_.Trust = pin_;
        for (int i = 1; i <= 30; ++i)
            mail_.To += (i > 1 ? "; " : "") + "Empfänger Jörg "_l1 + std::to_string(i) + " <r" +
                        std::to_string(i) + "@example.org>";
        link_.ConnectTimeoutMs = 5000;
        link_.ReplyTimeoutMs = 10000;
    }

    void StartSmtp(int port, const std::string& mode) {
        const std::string log = dir_.File("smtp" + std::to_string(port) + ".log");
        servers_.push_back(std::make_unique<ServerProcess>(
            std::vector<std::string>{test::SystemPython(), test::SourcePath("tests/support/smtp_server.py"),
                                     "--port", std::to_string(port), "--dir", dir_.Path(), "--auth",
                                     "anna:geheim", "--cert", dir_.File("cert.pem"), "--key",
                                     dir_.File("key.pem"), mode},
            log));
        ASSERT_TRUE(servers_.back()->WaitForPort(port, 15000))
            << dir_.Read("smtp" + std::to_string(port) + ".log");
    }

    // dovecot with TLS required: STLS on 110, TLS from the first byte on 995.
    void StartDovecot() {
        // dovecot switches to its login and mail users, which only root may do.
        if (::geteuid() != 0)
            GTEST_SKIP() << "dovecot needs root to start its login and mail processes";
        const std::string d = dir_.Path();
        for (const char* sub : {"base", "state", "mail"})
            ::mkdir((d + sub).c_str(), 0755);
        ::chmod((d + "mail").c_str(), 0777);
        dir_.Write("passwd", "anna:{PLAIN}geheim:65534:65534::" + d + "mail/anna\n");
        dir_.Write("dovecot.conf", "protocols = pop3\nlisten = 127.0.0.1\nbase_dir = " + d +
                                       "base\nstate_dir = " + d + "state\nlog_path = " + d +
                                       "dovecot.log\nssl = required\nssl_cert = <" + d +
                                       "cert.pem\nssl_key = <" + d +
                                       "key.pem\n"
                                       // a refused password is answered at once, not after 2 s
                                       "auth_failure_delay = 0\n"
                                       "default_internal_user = dovecot\ndefault_login_user = dovenull\n"
                                       "mail_location = maildir:" +
                                       d +
                                       "mail/%u\nfirst_valid_uid = 1\n"
                                       "passdb {\n driver = passwd-file\n args = " +
                                       d +
                                       "passwd\n}\n"
                                       "userdb {\n driver = passwd-file\n args = " +
                                       d +
                                       "passwd\n}\n"
                                       "service pop3-login {\n inet_listener pop3 {\n port = 110\n }\n"
                                       " inet_listener pop3s {\n port = 995\n ssl = yes\n }\n}\n");
        servers_.push_back(std::make_unique<ServerProcess>(
            std::vector<std::string>{"/usr/sbin/dovecot", "-F", "-c", d + "dovecot.conf"},
            d + "dovecot.out"));
        ASSERT_TRUE(servers_.back()->WaitForPort(995, 15000) && servers_.back()->WaitForPort(110, 5000))
            << dir_.Read("dovecot.out");
    }

    int Send(V& lines, std::string* untrusted = nullptr) {
        MailEvents events;
        events.OnPop3Check = [&lines](int code) { lines.push_back("POP3 " + std::to_string(code)); };
        events.OnSecurityLine = [&lines](const std::string& line) { lines.push_back(line); };
        events.OnUntrustedKey = [untrusted](const std::string& pin) {
            if (untrusted)
                *untrusted = pin;
        };
        return DeliverAddressMail(mail_, "10.1.2.3", clock_, events, link_);
    }

    test::FixedClock clock_;
    TempDir dir_;
    std::string pin_;
    TMailData mail_;
    MailLinkOptions link_;
    std::vector<std::unique_ptr<ServerProcess>> servers_;
};

TEST_F(SecureMailTest, SubmissionWithStartTlsOn587ReachesEveryReaderIntact) {
    StartSmtp(587, "--starttls");
    mail_.Security = "starttls";
    mail_.Auth = "Auth";

    // Without the pin the self-signed certificate is refused, naming its key.
    mail_.Trust.clear();
    V lines;
    std::string seen;
    EXPECT_EQ(Send(lines, &seen), 1);
    EXPECT_EQ(lines, V{("-Zertifikat nicht vertrauenswürdig (selbst signiert): "_l1 + pin_)});
    EXPECT_EQ(seen, pin_);

    mail_.Trust = pin_;
    lines.clear();
    ASSERT_EQ(Send(lines), 0) << dir_.Read("smtp587.log");
    EXPECT_TRUE(lines.empty());
    const test::Received r = test::ReadReceived(dir_, 1);
    ASSERT_TRUE(r.found);
    EXPECT_TRUE(r.authenticated);
    EXPECT_EQ(r.headers.at("Subject"), "Neue IP für Jörg? 10.1.2.3");
    EXPECT_EQ(r.headers.at("From"), "Server_Büro = Jörg <ip@example.org>");
    ASSERT_EQ(r.rcpt.size(), 30u);
    std::string to;
    for (int i = 1; i <= 30; ++i)
        to += (i > 1 ? ", " : "") + std::string("Empfänger Jörg ") + std::to_string(i) + " <r" +
              std::to_string(i) + "@example.org>";
    EXPECT_EQ(r.headers.at("To"), to);
    EXPECT_EQ(r.headers.at("MIME-Version"), "1.0");
    EXPECT_EQ(r.headers.count("Message-ID"), 1u);
    // No header line runs past 78 characters.
    const std::string raw = dir_.Read("msg1.eml");
    const std::string header = raw.substr(0, raw.find("\r\n\r\n") + 2);
    for (std::size_t start = 0, end = 0; (end = header.find("\r\n", start)) != std::string::npos;
         start = end + 2)
        EXPECT_LE(end - start, 78u) << header.substr(start, end - start);
}

TEST_F(SecureMailTest, StageMailsOverTlsOn465AfterAPop3CheckOn995) {
    StartSmtp(465, "--tls");
    StartDovecot();
    if (IsSkipped())
        return;
    test::StageKit kit;
    kit.service.MailData = mail_;
    kit.service.MailData.Security = "tls";
    kit.service.MailData.Auth = "Pop3";
    kit.service.eMail = true;
    kit.Worker().CurrentIP = "10.1.2.3";
    EXPECT_TRUE(kit.Worker().NotifyByMail(true)) << dir_.Read("dovecot.log");
    EXPECT_EQ(kit.Lines(), (V{"+POP3-Check OK", "+Mailversand OK"}));
    const test::Received r = test::ReadReceived(dir_, 1);
    ASSERT_TRUE(r.found);
    EXPECT_EQ(r.headers.at("Subject"), "Neue IP für Jörg? 10.1.2.3");
}

TEST_F(SecureMailTest, Pop3WithStlsOn110AndTlsOn995) {
    StartDovecot();
    if (IsSkipped())
        return;
    mail_.Security = "starttls";
    std::string line;
    EXPECT_EQ(RunPop3Check(mail_, link_, &line), 0) << dir_.Read("dovecot.log");
    EXPECT_EQ(line, "");
    mail_.Security = "tls";
    EXPECT_EQ(RunPop3Check(mail_, link_, &line), 0);
    mail_.AuthPw = "falsch";
    EXPECT_EQ(RunPop3Check(mail_, link_, &line), 1);
    mail_.Trust.clear();
    std::string seen;
    EXPECT_EQ(RunPop3Check(mail_, link_, &line, &seen), 3);
    EXPECT_EQ(line, ("-Zertifikat nicht vertrauenswürdig (selbst signiert): "_l1 + pin_));
    EXPECT_EQ(seen, pin_);
}

} // namespace
} // namespace pelorix
