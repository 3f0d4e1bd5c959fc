// This build carries no TLS or SSH library: every protected connection the settings ask for is
// refused at each attempt with its own line, nothing goes out unprotected, and plain FTP stays
// what it was. The upload runs through the real helper process, as in the service.

#include "../svc/StageTestKit.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace pelorix {
namespace {

const std::string kUnavailable = "-Verbindungsart auf diesem System nicht verfügbar"_l1;

bool Has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(UnavailableConnectionTest, EachProtectedFtpModeIsRefusedAtEveryAttempt) {
    for (const int mode : {1, 2, 3}) {
        test::StageKit kit;
        kit.service.FTPHost = "127.0.0.1";
        kit.service.FTPUser = "user";
        kit.service.FTPPass = "geheim";
        kit.service.FTPSite = "/index.htm";
        kit.service.FTPMode = mode;
        kit.Worker().CurrentIP = "203.0.113.7";
        for (int attempt = 0; attempt < 2; ++attempt) {
            EXPECT_FALSE(kit.Worker().UploadPage()) << "mode " << mode;
            const auto lines = kit.Lines();
            EXPECT_TRUE(Has(lines, "-FTP-Upload gescheitert")) << "mode " << mode;
            EXPECT_TRUE(Has(lines, kUnavailable)) << "mode " << mode << ", attempt " << attempt;
        }
    }
}

TEST(UnavailableConnectionTest, AnHttpsAddressSourceIsRefused) {
    test::StageKit kit;
    kit.service.Router = true;
    kit.service.SourceSecure = true;
    kit.service.SourceHost = "127.0.0.1";
    kit.service.SourcePath = "/ip.htm";
    EXPECT_FALSE(kit.Worker().QueryAddressSource());
    const auto lines = kit.Lines();
    EXPECT_TRUE(Has(lines, kUnavailable));
    EXPECT_EQ(kit.Worker().CurrentIP, "###");
}

TEST(UnavailableConnectionTest, PlainFtpIsNotTakenForUnavailable) {
    test::StageKit kit;
    kit.service.FTPHost = "127.0.0.1"; // nobody listens
    kit.service.FTPUser = "user";
    kit.service.FTPPass = "geheim";
    kit.service.FTPSite = "/index.htm";
    kit.service.FTPMode = 0;
    kit.service.FTPPort = 1;
    kit.Worker().CurrentIP = "203.0.113.7";
    EXPECT_FALSE(kit.Worker().UploadPage());
    const auto lines = kit.Lines();
    EXPECT_TRUE(Has(lines, "-FTP-Upload gescheitert"));
    EXPECT_FALSE(Has(lines, kUnavailable));
}

} // namespace
} // namespace pelorix
