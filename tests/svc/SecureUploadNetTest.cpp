// Secure publishing end to end against Debian's real servers, in a private network namespace:
// vsftpd with explicit TLS (logins forced onto TLS), vsftpd with implicit TLS on 990, sshd with
// internal-sftp on 22 (also with only an RSA host key), an HTTPS address-source page, and a
// plain FTP server killed half way through a transfer. The upload runs in the helper process,
// as in the service; the SFTP session is also driven straight, in this process.

#include "StageTestKit.h"

#include "FtpTestServer.h"
#include "SecureServers.h"
#include "ServerProcess.h"
#include "TempDir.h"
#include "base/Latin1.h"
#include "net/FailureCause.h"
#include "net/InternetSession.h"
#include "net/SshLibrary.h"
#include "net/Trust.h"
#include "net/TrustText.h"
#include "platform/Clock.h"
#include "platform/NetworkDeadline.h"
#include "svc/PageUpload.h"
#include "svc/ServiceHelpers.h"

#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace pelorix {
namespace {

using Lines = std::vector<std::string>;
using test::StageKit;
using test::TempDir;
using test::TestUser;

const std::string kPage = "<p>Seite mit 1.2.3.4</p>\r\n" + std::string(3000, 'x') + "\r\n";

class SecureUploadNetTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::SecureServersAvailable())
            GTEST_SKIP() << "needs root, vsftpd and sshd";
        ASSERT_TRUE(user.Made());
        local.Write("page.htm", kPage);
        kit.service.FTPHost = "127.0.0.1";
        kit.service.FTPUser = user.Name();
        kit.service.FTPPass = TestUser::kPassword;
        kit.service.FTPSite = user.Home() + "/myserver.htm";
        kit.service.FTPPassive = true;
        kit.service.TempSite = local.File("page.htm");
        kit.Worker().MsgLevel = 1;
        kit.Worker().CurrentIP = "1.2.3.4";
    }
    bool Upload() { return kit.Worker().UploadPage(); }

    TestUser user;
    TempDir local;
    StageKit kit;
};

TEST_F(SecureUploadNetTest, ExplicitTlsRefusesAnUnknownCertificateAndPublishesWithItsPin) {
    test::VsftpdServer server(test::VsftpdServer::Tls::Explicit, 21, user);
    ASSERT_TRUE(server.Ready()) << server.Log();

    // Plain FTP: the server's reason now reaches the log.
    EXPECT_FALSE(Upload());
    EXPECT_EQ(kit.Lines(), (Lines{"-FTP-Upload gescheitert",
                                  "-FTP-Antwort: 530 Non-anonymous sessions must use encryption."}));

    kit.service.FTPMode = 1;
    for (const std::string& trust :
         {std::string(), std::string("sha256//47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=")}) {
        kit.service.FTPTrust = trust;
        EXPECT_FALSE(Upload());
        const Lines lines = kit.Lines();
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[0], "-FTP-Upload gescheitert");
        // Another stored pin: the key changed since it was trusted.
        EXPECT_EQ(lines[1], trust.empty()
                                ? "-Zertifikat nicht vertrauenswürdig (selbst signiert): "_l1 + server.Pin()
                                : "-Zertifikat geändert: "_l1 + server.Pin());
    }
    EXPECT_EQ(server.Log().find("PASS"), std::string::npos) << "no password before the trust check";
    EXPECT_FALSE(user.Exists("myserver.htm"));

    kit.service.FTPTrust = server.Pin();
    EXPECT_TRUE(Upload()) << server.Log();
    EXPECT_EQ(kit.Lines(), (Lines{"+FTP-Upload OK mit 1.2.3.4 als " + user.Home() + "/myserver.htm"}));
    EXPECT_EQ(user.Read("myserver.htm"), kPage);
    EXPECT_FALSE(user.Exists(std::string("myserver.htm") + kTemporarySuffix));
    EXPECT_NE(server.Log().find("RNTO"), std::string::npos) << "stored under a temporary name, then renamed";
    EXPECT_NE(server.Log().find("PASS"), std::string::npos) << "the log shows a password sent";
}

// A server pinned while its certificate was its own, now with one from an authority and a new
// key: the authorities' word still counts, and the log says the pin is no longer needed.
TEST_F(SecureUploadNetTest, PinnedServerWithACertificateFromAnAuthorityKeepsPublishing) {
    TempDir dir;
    const test::TestCertificates certs(dir);
    ASSERT_TRUE(certs.Made);
    ::setenv("PELORIX_TEST_AUTHORITIES", certs.AuthorityFile.c_str(), 1);
    test::VsftpdServer server(test::VsftpdServer::Tls::Explicit, 21, user, certs.ServerCert, certs.ServerKey);
    ASSERT_TRUE(server.Ready()) << server.Log();
    kit.service.FTPMode = 1;
    kit.service.FTPTrust = test::PinOf(certs.SelfSignedCert);
    const bool published = Upload();
    ::unsetenv("PELORIX_TEST_AUTHORITIES");
    EXPECT_TRUE(published) << server.Log();
    EXPECT_EQ(kit.Lines(),
              (Lines{PinUnneededLine(), "+FTP-Upload OK mit 1.2.3.4 als " + user.Home() + "/myserver.htm"}));
    EXPECT_EQ(user.Read("myserver.htm"), kPage);
}

TEST_F(SecureUploadNetTest, ImplicitTlsOn990) {
    test::VsftpdServer server(test::VsftpdServer::Tls::Implicit, 990, user);
    ASSERT_TRUE(server.Ready()) << server.Log();
    kit.service.FTPMode = 2;
    EXPECT_FALSE(Upload());
    const Lines lines = kit.Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[1], "-Zertifikat nicht vertrauenswürdig (selbst signiert): "_l1 + server.Pin());
    EXPECT_EQ(server.Log().find("PASS"), std::string::npos);

    kit.service.FTPTrust = server.Pin();
    user.Write("myserver.htm", "alte Seite");
    EXPECT_TRUE(Upload()) << server.Log();
    EXPECT_EQ(user.Read("myserver.htm"), kPage);
    kit.Worker().CurrentIP = "5.6.7.8";
    EXPECT_TRUE(kit.Worker().ProbeFTPAddress()) << "the probe connects to 990 without waiting for a greeting";
}

TEST_F(SecureUploadNetTest, SftpRefusesAnUnknownHostKeyBeforeThePassword) {
    test::SftpServer server(22, user);
    ASSERT_TRUE(server.Ready()) << server.Log();
    kit.service.FTPMode = 3;
    for (const std::string& trust :
         {std::string(), std::string("SHA256:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA")}) {
        kit.service.FTPTrust = trust;
        EXPECT_FALSE(Upload());
        const Lines lines = kit.Lines();
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[1], trust.empty() ? UnknownHostKeyLine(server.Fingerprint())
                                          : "-SFTP-Schlüssel geändert: "_l1 + server.Fingerprint());
    }
    EXPECT_EQ(server.Log().find("password"), std::string::npos) << server.Log();

    kit.service.FTPTrust = server.Fingerprint();
    EXPECT_TRUE(Upload()) << server.Log();
    EXPECT_NE(server.Log().find("Accepted password"), std::string::npos) << "the log shows a password sent";
    EXPECT_EQ(user.Read("myserver.htm"), kPage);
    // A second publication replaces the page (SFTP's rename does not overwrite by itself).
    local.Write("page.htm", "neu");
    EXPECT_TRUE(Upload()) << kit.Lines().size();
    EXPECT_EQ(user.Read("myserver.htm"), "neu");
    EXPECT_FALSE(user.Exists(std::string("myserver.htm") + kTemporarySuffix));
}

// OpenSSH since 8.8 takes an RSA host key only with SHA-2 signatures.
TEST_F(SecureUploadNetTest, SftpWithOnlyAnRsaHostKeyPublishes) {
    test::SftpServer server(22, user, test::SftpServer::HostKey::RsaOnly);
    ASSERT_TRUE(server.Ready()) << server.Log();
    kit.service.FTPMode = 3;
    EXPECT_FALSE(Upload());
    const Lines lines = kit.Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[1], UnknownHostKeyLine(server.Fingerprint()));
    EXPECT_EQ(server.Log().find("password"), std::string::npos) << server.Log();

    kit.service.FTPTrust = server.Fingerprint();
    EXPECT_TRUE(Upload()) << server.Log();
    EXPECT_EQ(kit.Lines(), (Lines{"+FTP-Upload OK mit 1.2.3.4 als " + user.Home() + "/myserver.htm"}));
    EXPECT_EQ(user.Read("myserver.htm"), kPage);
    EXPECT_NE(server.Log().find("host key algorithm: rsa-sha2-"), std::string::npos) << server.Log();
}

// Whether the dynamic linker has libssh mapped, whoever loaded it.
bool LibsshMapped() {
    void* handle = ::dlopen("libssh.so.4", RTLD_NOW | RTLD_NOLOAD);
    if (handle)
        ::dlclose(handle); // NOLOAD counted one more user
    return handle != nullptr;
}

// The processes below pid (sshd serves each connection in children of its own).
std::vector<int> DescendantsOf(int pid) {
    std::vector<int> found;
    DIR* proc = ::opendir("/proc");
    for (dirent* entry = proc ? ::readdir(proc) : nullptr; entry; entry = ::readdir(proc)) {
        std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
        std::string comm, state;
        int self = 0, parent = 0;
        if (stat >> self >> comm >> state >> parent && parent == pid)
            found.push_back(self);
    }
    if (proc)
        ::closedir(proc);
    for (std::size_t i = 0, n = found.size(); i < n; ++i)
        for (int below : DescendantsOf(found[i]))
            found.push_back(below);
    return found;
}

class SftpSessionNetTest : public SecureUploadNetTest {
protected:
    std::unique_ptr<wininet::FtpConnection> Connect(const test::SftpServer& server) {
        session.SetSecurity(ConnectionMode::Sftp, {{}, server.Fingerprint().substr(7)});
        return session.ConnectFtp("127.0.0.1", 22, user.Name(), TestUser::kPassword, 0, 0);
    }
    wininet::InternetSession session{"Pelorix", wininet::kOpenTypeDirect, {}, {}, 0};
};

TEST_F(SftpSessionNetTest, LibsshIsLoadedOnlyWhileAConnectionIsOpen) {
    test::SftpServer server(22, user);
    ASSERT_TRUE(server.Ready()) << server.Log();
    {
        auto sftp = Connect(server);
        ASSERT_TRUE(sftp) << wininet::LastFailureReason();
        EXPECT_TRUE(wininet::SshLibraryLoaded());
        std::string directory;
        EXPECT_TRUE(sftp->QueryCurrentDirectory(directory));
        EXPECT_EQ(directory, user.Home());
        EXPECT_FALSE(sftp->ChangeDirectory("fehlt"));
        EXPECT_EQ(wininet::LastError(), wininet::kErrorInternetExtendedError);
        EXPECT_TRUE(sftp->ChangeDirectory(user.Home()));
        // Names are system text here and UTF-8 on the server.
        EXPECT_TRUE(sftp->PutFile(local.File("page.htm"), "Seite-ä.htm"_l1, wininet::kTransferTypeBinary, 0));
        EXPECT_EQ(user.Read("Seite-ä.htm"), kPage);
        EXPECT_TRUE(sftp->RemoveFile("Seite-ä.htm"_l1));
        EXPECT_FALSE(user.Exists("Seite-ä.htm"));
        EXPECT_FALSE(sftp->RemoveFile("Seite-ä.htm"_l1));
        EXPECT_EQ(wininet::LastFailureReason(), "No such file");
    }
    EXPECT_FALSE(wininet::SshLibraryLoaded());
    EXPECT_FALSE(LibsshMapped());

    wininet::SetSshLibraryFile("libssh-pelorix-missing.so.4");
    EXPECT_FALSE(Connect(server));
    EXPECT_EQ(wininet::LastError(), wininet::kErrorInternetInternalError);
    EXPECT_NE(wininet::LastFailureReason().find("libssh-pelorix-missing.so.4"), std::string::npos);
    wininet::SetSshLibraryFile({});
}

TEST_F(SftpSessionNetTest, StalledServerIsGivenUpAtTheDeadline) {
    test::SftpServer server(22, user);
    ASSERT_TRUE(server.Ready()) << server.Log();
    auto sftp = Connect(server);
    ASSERT_TRUE(sftp) << wininet::LastFailureReason();
    const std::vector<int> serving = DescendantsOf(server.Pid());
    ASSERT_FALSE(serving.empty());
    for (int pid : serving)
        ::kill(pid, SIGSTOP);
    const auto start = std::chrono::steady_clock::now();
    {
        const ScopedNetworkDeadline deadline(Deadline::In(SystemClock::Instance(), 400));
        EXPECT_FALSE(sftp->PutFile(local.File("page.htm"), "myserver.htm", wininet::kTransferTypeBinary, 0));
        EXPECT_EQ(wininet::LastError(), wininet::kErrorInternetTimeout);
        sftp.reset(); // past the deadline the goodbye is not waited for
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
    for (int pid : serving)
        ::kill(pid, SIGCONT);
}

// Plain FTP (pyftpdlib, a data connection limited to 64 KiB/s), killed during the transfer.
TEST(BrokenTransferNetTest, LeavesThePreviousPageInPlace) {
    test::FtpTestServer server(0, {}, 64 * 1024);
    ASSERT_TRUE(server.Ready()) << server.Log();
    server.Root().Write("myserver.htm", "die gute alte Seite");
    TempDir local;
    local.Write("page.htm", std::string(400000, 'n'));
    PageUploadParams params;
    params.Host = "127.0.0.1";
    params.User = test::FtpTestServer::kUser;
    params.Password = test::FtpTestServer::kPassword;
    params.Passive = true;
    params.Port = server.Port();
    params.LocalFile = local.File("page.htm");
    params.RemoteSite = "/myserver.htm";
    std::thread killer([&] {
        for (int i = 0; i < 100 && !server.Root().Exists(std::string("myserver.htm") + kTemporarySuffix); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ::kill(-server.Pid(), SIGKILL);
    });
    const auto result = UploadPageInHelper(params);
    killer.join();
    ASSERT_TRUE(result);
    EXPECT_FALSE(result->Succeeded());
    EXPECT_EQ(server.Root().Read("myserver.htm"), "die gute alte Seite");
}

// A server that refuses to rename gets the page directly, and from then on for the whole run.
TEST(RenameRefusedNetTest, FallsBackToTheDirectUploadForTheRun) {
    test::FtpTestServer server(0, {}, 0, true);
    ASSERT_TRUE(server.Ready()) << server.Log();
    TempDir local;
    local.Write("page.htm", kPage);
    StageKit kit;
    kit.service.FTPHost = "127.0.0.1";
    kit.service.FTPPort = server.Port();
    kit.service.FTPUser = test::FtpTestServer::kUser;
    kit.service.FTPPass = test::FtpTestServer::kPassword;
    kit.service.FTPSite = "/myserver.htm";
    kit.service.FTPPassive = true;
    kit.service.TempSite = local.File("page.htm");
    kit.Worker().CurrentIP = "1.2.3.4";
    for (int run = 0; run < 2; ++run) {
        EXPECT_TRUE(kit.Worker().UploadPage());
        EXPECT_EQ(server.Root().Read("myserver.htm"), kPage);
        EXPECT_FALSE(server.Root().Exists(std::string("myserver.htm") + kTemporarySuffix));
        EXPECT_TRUE(kit.Worker().DirectUpload);
    }
    const std::string log = server.Log();
    const auto first = log.find(std::string("STOR myserver.htm") + kTemporarySuffix);
    ASSERT_NE(first, std::string::npos) << log;
    EXPECT_EQ(log.find(std::string("STOR myserver.htm") + kTemporarySuffix, first + 1), std::string::npos)
        << "the second upload goes straight to the page's name";
}

// Router mode with an address page over HTTPS; the server's certificate comes from a test
// authority that the test programs are told to trust.
TEST(HttpsAddressSourceNetTest, VerifiedPageGivesTheAddressAnUnverifiedOneNothing) {
    TempDir dir;
    const test::TestCertificates certs(dir);
    ASSERT_TRUE(certs.Made);
    ::setenv("PELORIX_TEST_AUTHORITIES", certs.AuthorityFile.c_str(), 1);
    const int goodPort = test::FreeLoopbackPort();
    test::ServerProcess good({test::SystemPython(), test::SourcePath("tests/support/https_server.py"),
                              std::to_string(goodPort), certs.ServerCert, certs.ServerKey, "84.123.45.6\n"});
    const int badPort = test::FreeLoopbackPort();
    test::ServerProcess bad({test::SystemPython(), test::SourcePath("tests/support/https_server.py"),
                             std::to_string(badPort), certs.SelfSignedCert, certs.SelfSignedKey,
                             "9.9.9.9\n"});
    ASSERT_TRUE(good.WaitForPort(goodPort));
    ASSERT_TRUE(bad.WaitForPort(badPort));

    StageKit kit;
    kit.service.Router = true;
    kit.service.FTPHost = "127.0.0.1";
    kit.service.FTPUser = "u";
    kit.service.FTPPass = "p";
    kit.service.SourcePath = "https://127.0.0.1:" + std::to_string(goodPort) + "/ip";
    ASSERT_TRUE(kit.service.CheckParams());
    EXPECT_TRUE(kit.service.SourceSecure);
    kit.Worker().MsgLevel = 2;
    EXPECT_TRUE(kit.Worker().QueryAddressSource());
    EXPECT_EQ(kit.Worker().CurrentIP, "84.123.45.6");

    kit.service.SourceHost = "127.0.0.1:" + std::to_string(badPort);
    kit.Lines();
    EXPECT_FALSE(kit.Worker().QueryAddressSource());
    EXPECT_EQ(kit.Worker().CurrentIP, "###");
    const Lines lines = kit.Lines();
    // The cause in German, libcurl's own words as the detail, then the refusal with its reason.
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "-HTTP-Fehler: " + CertificateCauseText());
    EXPECT_EQ(lines[1].rfind("-HTTP-Antwort: SSL certificate problem", 0), 0u) << lines[1];
    EXPECT_EQ(lines[2].rfind("-Zertifikat nicht vertrauenswürdig (selbst signiert): sha256//"_l1, 0), 0u)
        << lines[2];
    ::unsetenv("PELORIX_TEST_AUTHORITIES");
}

} // namespace
} // namespace pelorix
