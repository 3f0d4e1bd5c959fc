// The HTTPS fetch on libcurl hands the server's chain to the trust module within its one
// connection: against openssl s_server that takes a single connection and then ends, a refused
// certificate still names its key, and the host name is checked although libcurl's own check
// of it is off.

#include "SecureServers.h"
#include "ServerProcess.h"
#include "TempDir.h"
#include "net/InternetSession.h"
#include "net/Trust.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

namespace pelorix {
namespace {

constexpr int kPort = 8443;

class OneConnectionServer {
public:
    OneConnectionServer(const test::TempDir& dir, const std::string& cert, const std::string& key)
        : dir_(dir), log_("s_server" + std::to_string(++started_) + ".log"),
          process_({"/usr/bin/openssl", "s_server", "-4", "-www", "-naccept", "1", "-accept",
                    std::to_string(kPort), "-cert", cert, "-key", key},
                   dir.File(log_)) {}

    // Listening once it says so; a probe connection would use up its one connection.
    bool Ready() const {
        for (int i = 0; i < 200; ++i) {
            if (dir_.Exists(log_) && dir_.Read(log_).find("ACCEPT") != std::string::npos)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        return false;
    }

private:
    static inline int started_ = 0;
    const test::TempDir& dir_;
    std::string log_;
    test::ServerProcess process_;
};

struct Fetched {
    bool ok = false;
    std::uint32_t error = 0;
    std::string reason;
    std::string untrusted;
};

Fetched Fetch(const std::string& host) {
    Fetched result;
    std::string response;
    result.ok = wininet::FetchHttps("https://" + host + ":" + std::to_string(kPort) + "/", 10000, 65536,
                                    response, result.error, result.reason);
    result.untrusted = wininet::LastUntrustedKey();
    return result;
}

class TrustNetTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(certs_.Made);
        SetAuthorityFile(certs_.AuthorityFile);
    }
    void TearDown() override { SetAuthorityFile({}); }

    test::TempDir dir_;
    test::TestCertificates certs_{dir_};
};

TEST_F(TrustNetTest, AuthorityAndHostNameAreCheckedByTheModule) {
    {
        OneConnectionServer server(dir_, certs_.ServerCert, certs_.ServerKey);
        ASSERT_TRUE(server.Ready());
        const Fetched fetched = Fetch("127.0.0.1");
        EXPECT_TRUE(fetched.ok) << fetched.reason;
    }
    // The same certificate under an address it was not issued for.
    OneConnectionServer server(dir_, certs_.ServerCert, certs_.ServerKey);
    ASSERT_TRUE(server.Ready());
    const Fetched fetched = Fetch("127.0.0.2");
    EXPECT_FALSE(fetched.ok);
    EXPECT_EQ(fetched.error, wininet::kErrorInternetSecurityFailure);
    EXPECT_NE(fetched.reason.find("IP address mismatch"), std::string::npos) << fetched.reason;
    EXPECT_EQ(fetched.untrusted, test::PinOf(certs_.ServerCert));
}

TEST_F(TrustNetTest, RefusedCertificateNamesItsKeyFromTheSameConnection) {
    OneConnectionServer server(dir_, certs_.SelfSignedCert, certs_.SelfSignedKey);
    ASSERT_TRUE(server.Ready());
    const Fetched fetched = Fetch("127.0.0.1");
    EXPECT_FALSE(fetched.ok);
    EXPECT_EQ(fetched.error, wininet::kErrorInternetSecurityFailure);
    EXPECT_EQ(fetched.reason, "SSL certificate problem: self-signed certificate");
    EXPECT_EQ(fetched.untrusted, test::PinOf(certs_.SelfSignedCert));
}

} // namespace
} // namespace pelorix
