// The worker's upload stage end to end against a real FTP server on port 21, and the whole
// service (in this process, on the simulated clock) publishing through it: a page with the
// address an address-source page reports, retried while the FTP server is away. Runs in a
// private network namespace with only loopback up.

#include "SimulatedService.h"
#include "StageTestKit.h"

#include "../net/LoopbackPeer.h"
#include "FtpTestServer.h"
#include "HelperChildren.h"
#include "ServerProcess.h"
#include "TempDir.h"
#include "common/Config.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

namespace pelorix {
namespace {

using Lines = std::vector<std::string>;
using test::FtpTestServer;
using test::ServerProcess;
using test::StageKit;
using test::TempDir;

// A real worker whose mail stage only records that it ran, and which status lines preceded it.
class MailSpyWorker : public TPeloThread {
public:
    using TPeloThread::TPeloThread;
    bool NotifyByMail(bool online) override {
        mails.push_back(online);
        logBeforeMail = TakeLog();
        LogStatus(0, "+Mail");
        return true;
    }
    std::vector<bool> mails;
    std::string logBeforeMail;
};

class StageUploadNetTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Ready()) << server.Log();
        std::filesystem::create_directories(server.Root().File("web/ip"));
        local.Write("PelorTmp.htm", "<p>1.2.3.4</p>\r\n");
        kit.service.FTPHost = "127.0.0.1";
        kit.service.FTPUser = FtpTestServer::kUser;
        kit.service.FTPPass = FtpTestServer::kPassword;
        kit.service.FTPSite = "/myserver.htm";
        kit.service.TempSite = local.File("PelorTmp.htm");
        kit.worker = std::make_unique<MailSpyWorker>(kit.service, kit.clock, kit.sleeper, kit.hosts);
        kit.worker->MsgLevel = 4;
        kit.worker->CurrentIP = "1.2.3.4";
    }
    MailSpyWorker& Worker() { return static_cast<MailSpyWorker&>(*kit.worker); }

    FtpTestServer server{21};
    TempDir local;
    StageKit kit;
};

TEST_F(StageUploadNetTest, PageGoesToTheRoot) {
    EXPECT_TRUE(Worker().UploadPage());
    EXPECT_EQ(kit.Lines(), (Lines{"+FTP-Login gestartet", "+FTP-Upload OK mit 1.2.3.4 als /myserver.htm"}));
    EXPECT_EQ(server.Root().Read("myserver.htm"), "<p>1.2.3.4</p>\r\n");
    EXPECT_TRUE(Worker().mails.empty()) << "mail is off";
}

TEST_F(StageUploadNetTest, PageGoesIntoItsDirectoryAndTheMailFollows) {
    kit.service.FTPSite = "/web/ip/index.htm";
    kit.service.FTPPassive = true;
    kit.service.eMail = true;
    EXPECT_TRUE(Worker().UploadPage());
    EXPECT_EQ(server.Root().Read("web/ip/index.htm"), "<p>1.2.3.4</p>\r\n");
    EXPECT_EQ(Worker().mails, std::vector<bool>{true});
    const std::string& before = Worker().logBeforeMail;
    const std::string success = "+FTP-Upload OK mit 1.2.3.4 als /web/ip/index.htm";
    const auto at = before.find(success);
    ASSERT_NE(at, std::string::npos) << before;
    EXPECT_EQ(before.find_first_not_of("\r\n", at + success.size()), std::string::npos)
        << "the mail comes right after the success line";
}

TEST_F(StageUploadNetTest, MissingDirectoryShowsOnlyTheFileName) {
    kit.service.FTPSite = "/nowhere/index.htm";
    EXPECT_TRUE(Worker().UploadPage());
    EXPECT_EQ(kit.Lines(), (Lines{"+FTP-Login gestartet", "+FTP-Upload OK mit 1.2.3.4 als index.htm"}));
    EXPECT_TRUE(server.Root().Exists("index.htm"));
}

TEST_F(StageUploadNetTest, WrongPasswordFailsWithoutMail) {
    kit.service.FTPPass = "falsch";
    kit.service.eMail = true;
    EXPECT_FALSE(Worker().UploadPage());
    // The server's own reason follows the failure line.
    const Lines lines = kit.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(Lines(lines.begin(), lines.begin() + 2),
              (Lines{"+FTP-Login gestartet", "-FTP-Upload gescheitert"}));
    EXPECT_EQ(lines[2].rfind("-FTP-Antwort: 530 ", 0), 0u) << lines[2];
    EXPECT_TRUE(Worker().mails.empty());
}

TEST_F(StageUploadNetTest, EmptyRemotePathUploadsNothing) {
    kit.service.FTPSite = "";
    EXPECT_FALSE(Worker().UploadPage());
    EXPECT_EQ(kit.Lines(), (Lines{"-FTP-Upload gescheitert"}));
    EXPECT_EQ(server.Log().find("USER"), std::string::npos) << "no login";
}

TEST_F(StageUploadNetTest, MissingLocalPageIsReportedAsAnError) {
    kit.service.TempSite = local.File("gone.htm");
    EXPECT_FALSE(Worker().UploadPage());
    EXPECT_EQ(kit.Lines(),
              (Lines{"+FTP-Login gestartet", "-FTP-Fehler: Cannot open file \"" + local.File("gone.htm") +
                                                 "\". No such file or directory"}));
}

TEST_F(StageUploadNetTest, LoginLineIsDetailOnly) {
    kit.worker->MsgLevel = 0;
    server.Stop();
    EXPECT_FALSE(Worker().UploadPage());
    EXPECT_EQ(kit.Lines(), (Lines{"-FTP-Upload gescheitert"}));
}

// Helpers of this process whose command line names them so, by process id.
bool CurlMappedHere() {
    std::ifstream maps("/proc/self/maps");
    const std::string all((std::istreambuf_iterator<char>(maps)), std::istreambuf_iterator<char>());
    return all.find("libcurl") != std::string::npos;
}

// A helper that dies in the middle is a failed attempt, never a reason to upload in the
// service's own process; the next attempt starts a new helper.
TEST_F(StageUploadNetTest, KilledHelperFailsTheAttemptAndTheNextOneUsesANewHelper) {
    server.Stop();
    std::optional<test::LoopbackPeer> stalling;
    stalling.emplace(
        [&](int fd) { // greets, then says nothing more
            test::LoopbackPeer::SendAll(fd, "220 hello\r\n");
            stalling->WaitForClose(fd, 10000);
        },
        21);
    ASSERT_TRUE(stalling->Listening());
    bool uploaded = true;
    std::thread attempt([&] { uploaded = Worker().UploadPage(); });
    std::vector<pid_t> helpers;
    for (int i = 0; i < 500 && helpers.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        helpers = test::HelperChildren();
    }
    ASSERT_EQ(helpers.size(), 1u);
    ::kill(helpers.front(), SIGKILL);
    attempt.join();
    EXPECT_FALSE(uploaded);
    EXPECT_EQ(kit.Lines(), (Lines{"+FTP-Login gestartet", "-Upload-Prozess unerwartet beendet",
                                  "-FTP-Upload gescheitert"}));
    EXPECT_FALSE(CurlMappedHere()) << "no upload in this process";

    stalling.reset();
    ASSERT_TRUE(server.Start());
    EXPECT_TRUE(Worker().UploadPage());
    EXPECT_EQ(server.Root().Read("myserver.htm"), "<p>1.2.3.4</p>\r\n");
    EXPECT_FALSE(CurlMappedHere());
}

// The whole service on the simulated clock: the FTP server is away at the first check, so the
// upload fails and is retried at the next tick, when the server is back, and the page is
// published.
TEST(ServiceUploadNetTest, PublishesOnceTheFtpServerIsBack) {
    TempDir site;
    site.Write("ip.htm", "<html><body>Current IP Address: 84.123.45.6</body></html>\n");
    ServerProcess web(
        {test::SystemPython(), "-m", "http.server", "80", "--bind", "127.0.0.1", "--directory", site.Path()},
        site.File("http.log"));
    ASSERT_TRUE(web.WaitForPort(80));

    TempDir home;
    home.Write("Pelorix.htm", "<p>Server: <a href=\"http://%IP%/\">%IP%</a></p>\n");
    home.Write("Pelorix.ini", "[Settings]\r\nHTMLTemplate=" + home.File("Pelorix.htm") +
                                  "\r\nTempSite=" + home.File("PelorTmp.htm") +
                                  "\r\nFTPHost=127.0.0.1\r\nFTPUser=" + FtpTestServer::kUser +
                                  "\r\nFTPPass=" + ScramblePassword(FtpTestServer::kPassword) +
                                  "\r\nFTPSite=/myserver.htm\r\nFTPPassive=1\r\nRouter=1\r\n"
                                  "IPSource=127.0.0.1/ip.htm\r\nIntervall=1\r\nMessages=0\r\n"
                                  "MsgLevel=4\r\nLogFile=1\r\n");

    FtpTestServer ftp(21);
    ftp.Stop();
    bool back = false;
    test::SimulatedService run(home.Path());
    run.sleeper.betweenTicks = [&](int) { back = ftp.Start(); };
    ASSERT_TRUE(run.Run(2)) << run.Log();
    ASSERT_TRUE(back) << ftp.Log();

    // The first check fails, the quick retry at the next tick publishes.
    EXPECT_NE(run.LogAfter(1).find("-FTP-Upload gescheitert"), std::string::npos) << run.LogAfter(1);
    const std::string published = "+FTP-Upload OK mit 84.123.45.6 als /myserver.htm";
    EXPECT_EQ(run.LogAfter(1).find(published), std::string::npos);
    EXPECT_NE(run.LogAfter(2).find(published), std::string::npos) << run.LogAfter(2);
    EXPECT_EQ(ftp.Root().Read("myserver.htm"),
              "<p>Server: <a href=\"http://84.123.45.6/\">84.123.45.6</a></p>\r\n");
    const std::string log = home.Read("Pelorix.log");
    const auto generated = log.find("+Seitengenerierung ausgeführt"_l1);
    ASSERT_NE(generated, std::string::npos);
    EXPECT_EQ(log.find("+Seitengenerierung ausgeführt"_l1, generated + 1), std::string::npos)
        << "the retry uploads the page generated before";
}

// Umlauts in the program directory, the template's directory and the remote name: the
// settings hold them in Latin-1, the file system and a server that announces UTF8 get UTF-8.
// The address is the one the FTP server sees, found by the probe at the first check.
TEST(ServiceUploadNetTest, UmlautsInPathsReachDiskAndServerInUtf8) {
    TempDir root;
    const std::string home = root.File("Prüfung/"); // UTF-8, as on disk
    const std::string homeText = root.File("Pr\xFC"
                                           "fung/"); // the same as Latin-1 text
    std::filesystem::create_directories(home + "jürgen");
    std::ofstream(home + "jürgen/Vorlage.htm") << "<p>Vorlage %IP%</p>\n";
    std::ofstream(home + "Pelorix.ini") << "[Settings]\r\nHTMLTemplate=" + homeText + "j\xFCrgen/Vorlage.htm"
                                        << "\r\nFTPHost=127.0.0.1\r\nFTPUser=" << FtpTestServer::kUser
                                        << "\r\nFTPPass=" << ScramblePassword(FtpTestServer::kPassword)
                                        << "\r\nFTPSite=/\xDC"
                                           "bergang.htm\r\nMessages=0\r\nMsgLevel=4\r\nLogFile=1\r\n";
    FtpTestServer ftp(21);
    ASSERT_TRUE(ftp.Ready());
    test::SimulatedService run(homeText);
    ASSERT_TRUE(run.Run(1));
    std::ifstream logFile(home + "Pelorix.log");
    const std::string log((std::istreambuf_iterator<char>(logFile)), std::istreambuf_iterator<char>());
    EXPECT_NE(log.find("+FTP-Upload OK mit 127.0.0.1 als /\xDC"
                       "bergang.htm"),
              std::string::npos)
        << log;
    EXPECT_EQ(ftp.Root().Read("Übergang.htm"), "<p>Vorlage 127.0.0.1</p>\r\n");
    EXPECT_TRUE(std::filesystem::exists(home + "PelorTmp.htm")) << "the default beside the program";
}

} // namespace
} // namespace pelorix
