// The service publishing (router mode against a real address-source page and FTP server on
// loopback) and running its command after each publication: with the new address filled in
// and the previous one in the environment. Twice in this process on the simulated clock, and
// once as the real program, which runs the command in its own directory. A service run by
// root runs no command, so the test starts the program as user nobody when it is root itself.

#include "ServerProcess.h"
#include "SimulatedService.h"
#include "TempDir.h"

#include "FtpTestServer.h"
#include "base/Latin1.h"
#include "common/Config.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>

namespace pelorix::test {
namespace {

std::string AddressPage(const std::string& address) {
    return "<html><body>Current IP Address: " + address + "</body></html>\n";
}

std::string Settings(const std::string& home) {
    return "[Settings]\r\nTempSite=" + home +
           "PelorTmp.htm\r\nFTPHost=127.0.0.1\r\nFTPUser=" + FtpTestServer::kUser +
           "\r\nFTPPass=" + ScramblePassword(FtpTestServer::kPassword) +
           "\r\nFTPPassive=1\r\nRouter=1\r\nIPSource=127.0.0.1/ip.htm\r\n"
           "Intervall=1\r\nMessages=0\r\nMsgLevel=4\r\nLogFile=1\r\n"
           "OnPublish=echo \"%IP%|$PELORIX_OLD_IP|$(id -un)\" >>command.txt\r\n";
}

// The address-source page and the web space.
class ServiceCommandNetTest : public ::testing::Test {
protected:
    void SetUp() override {
        site.Write("ip.htm", AddressPage("84.123.45.6"));
        web = std::make_unique<ServerProcess>(std::vector<std::string>{SystemPython(), "-m", "http.server",
                                                                       "80", "--bind", "127.0.0.1",
                                                                       "--directory", site.Path()},
                                              site.File("http.log"));
        ASSERT_TRUE(web->WaitForPort(80));
        ASSERT_TRUE(ftp.Ready()) << ftp.Log();
    }

    TempDir site;
    std::unique_ptr<ServerProcess> web;
    FtpTestServer ftp{21};
};

TEST_F(ServiceCommandNetTest, CommandGetsTheNewAndThePreviousAddressAfterEachPublication) {
    TempDir home;
    home.Write("Pelorix.ini", Settings(home.Path()));
    // A command run as root would be refused; this one may.
    TShellCommandRunner commands(SystemClock::Instance(), false);
    SimulatedService run(home.Path(), &commands);
    run.sleeper.betweenTicks = [&](int) { site.Write("ip.htm", AddressPage("84.123.45.7")); };
    ASSERT_TRUE(run.Run(2)) << run.Log();

    const std::string user = ::getpwuid(::geteuid())->pw_name;
    EXPECT_EQ(home.Read("command.txt"), "84.123.45.6||" + user + "\n84.123.45.7|84.123.45.6|" + user + "\n");
    const std::string log = home.Read("Pelorix.log");
    const auto done = log.find("+Befehl ausgeführt"_l1);
    ASSERT_NE(done, std::string::npos) << log;
    EXPECT_LT(log.find("+FTP-Upload OK mit 84.123.45.6"), done) << "the command follows the upload";
    EXPECT_NE(log.find("+Befehl ausgeführt"_l1, done + 1), std::string::npos) << log;
    EXPECT_NE(run.LogAfter(2).find("+FTP-Upload OK mit 84.123.45.7"), std::string::npos)
        << "the new address is published at the next check";
}

// The program in a directory whose name has an umlaut: it finds its settings there, writes its
// log there and runs the command there.
TEST_F(ServiceCommandNetTest, ProgramRunsTheCommandInItsDirectoryAfterPublishing) {
    TempDir root;
    const std::string home = root.File("Prüfung/"); // UTF-8, as on disk
    std::filesystem::create_directories(home);
    std::filesystem::permissions(root.Path(), std::filesystem::perms::all);
    std::filesystem::permissions(home, std::filesystem::perms::all);
    std::filesystem::copy_file(BinaryPath("src/svc/PelorixSvc"), home + "PelorixSvc");
    std::ofstream(home + "Pelorix.ini") << Settings(Utf8ToLatin1(home));
    std::vector<std::string> argv{home + "PelorixSvc", "-foreground"};
    std::string user = "nobody";
    if (::geteuid() == 0)
        argv.insert(argv.begin(),
                    {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"});
    else
        user = ::getpwuid(::geteuid())->pw_name;
    ServerProcess service(argv, root.File("console.log"), root.Path());
    ASSERT_TRUE(service.Started());

    // The first check comes after the worker's start delay of five seconds.
    const auto read = [&](const std::string& name) {
        std::ifstream in(home + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    for (int i = 0; i < 400 && read("command.txt").find('\n') == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    service.Signal(SIGTERM);
    service.Wait(5000);

    EXPECT_EQ(read("command.txt"), "84.123.45.6||" + user + "\n")
        << read("Pelorix.log") << root.Read("console.log");
    const std::string log = read("Pelorix.log");
    const auto done = log.find("+Befehl ausgeführt"_l1);
    ASSERT_NE(done, std::string::npos) << log;
    EXPECT_LT(log.find("+FTP-Upload OK mit 84.123.45.6"), done) << "the command follows the upload";
}

} // namespace
} // namespace pelorix::test
