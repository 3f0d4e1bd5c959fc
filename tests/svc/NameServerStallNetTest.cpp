// The service's exchanges against a name server that never answers (SilentNameServer: a
// private mount namespace whose /etc/resolv.conf points at a socket of the test that drops every
// query; the resolver alone would wait 150 s for one name). Each ends within its own limit with
// the failure it reports for a name that does not resolve, with short limits, which they take
// from their callers. The address check with its real limit is NameServerStallLongNetTest.

#include "StageTestKit.h"

#include "SilentNameServer.h"
#include "common/Config.h"
#include "net/InternetSession.h"
#include "net/SimpSock.h"
#include "platform/Clock.h"
#include "platform/NetworkDeadline.h"
#include "svc/MailCompose.h"
#include "svc/PageUpload.h"
#include "svc/ServiceHelpers.h"

#include <gtest/gtest.h>

namespace pelorix {
namespace {

using Lines = std::vector<std::string>;
using test::kStalledName;
using test::SilentNameServer;

const IClock& kClock = SystemClock::Instance();

long long Since(long long start) {
    return kClock.MonotonicMs() - start;
}

TEST(NameServerStallNetTest, TheFtpProbeEndsWithinItsLimit) {
    SilentNameServer server;
    ASSERT_TRUE(server.Ready()) << server.Problem();
    TSimpSock sock;
    sock.Host = kStalledName;
    sock.PingDeadlineMs = 800;
    const long long start = kClock.MonotonicMs();
    EXPECT_EQ(sock.PingFTP(), TSimpSock::kNoNetwork); // "-FTP-Fehler: keine Netzwerksverbindung"
    EXPECT_LT(Since(start), 1800);
}

class NameServerStallMailTest : public ::testing::Test {
protected:
    NameServerStallMailTest() {
        mail_ = DefaultMailData();
        mail_.Server = kStalledName;
        mail_.POP3Srv = kStalledName;
        mail_.From = "ip@example.org";
        mail_.To = "anna@example.org";
        mail_.AuthID = "anna";
        mail_.AuthPw = "geheim";
        link_.DialogueTimeoutMs = kLimitMs;
    }

    // The mail's code and how long it took.
    std::pair<int, long long> Send() {
        const long long start = kClock.MonotonicMs();
        const int code = DeliverAddressMail(mail_, "10.1.2.3", clock_, nullptr, link_);
        return {code, Since(start)};
    }

    static constexpr int kLimitMs = 1500;
    SilentNameServer server_;
    test::StageClock clock_;
    TMailData mail_;
    MailLinkOptions link_;
};

TEST_F(NameServerStallMailTest, AMailWithItsCheckBeforeEndsWithinOneLimit) {
    ASSERT_TRUE(server_.Ready()) << server_.Problem();
    mail_.Auth = "Pop3"; // the POP3 check, this computer's full name, the SMTP server: three names
    const auto [code, took] = Send();
    EXPECT_EQ(SmtpResultText(code), "keine Netzwerksverbindung");
    EXPECT_GE(took, kLimitMs - 100);
    EXPECT_LT(took, kLimitMs + 1000);
}

TEST_F(NameServerStallMailTest, ASecureMailInItsHelperEndsWithinItsLimit) {
    ASSERT_TRUE(server_.Ready()) << server_.Problem();
    mail_.Security = "tls";
    const auto [code, took] = Send();
    EXPECT_EQ(SmtpResultText(code), "keine Netzwerksverbindung");
    EXPECT_LT(took, kLimitMs + 1500); // the helper's start included
}

// libcurl's resolver would outlast any time limit; its names are looked up before it starts.
TEST(NameServerStallNetTest, TheHttpsFetchAndTheFtpLoginEndWithinTheirLimits) {
    SilentNameServer server;
    ASSERT_TRUE(server.Ready()) << server.Problem();
    std::string response;
    std::string reason;
    std::uint32_t error = 0;
    long long start = kClock.MonotonicMs();
    EXPECT_FALSE(wininet::FetchHttps(std::string("https://") + kStalledName + ":8443/ip.htm", 800, 1024,
                                     response, error, reason));
    EXPECT_LT(Since(start), 1800);
    EXPECT_EQ(error, wininet::kErrorInternetNameNotResolved);
    EXPECT_EQ(reason, std::string("Could not resolve host: ") + kStalledName);

    PageUploadParams params;
    params.Host = kStalledName;
    params.User = "anna";
    params.Password = "geheim";
    start = kClock.MonotonicMs();
    {
        const ScopedNetworkDeadline action(Deadline::In(kClock, 800));
        EXPECT_EQ(CheckLogin(params).Outcome, PageUploadOutcome::LoginFailed);
    }
    EXPECT_LT(Since(start), 1800);
}

} // namespace
} // namespace pelorix
