// The real service publishing twice (router mode against a real address-source page and FTP
// server on loopback) and running its command after each publication: with the new address
// filled in and the previous one in the environment. A service run by root runs no command,
// so the test starts it as user nobody when it is root itself.

#include "SvcProcess.h"

#include "FtpTestServer.h"
#include "base/Latin1.h"
#include "common/Config.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>

namespace pelorix::test {
namespace {

TEST(ServiceCommandNetTest, CommandGetsTheNewAndThePreviousAddressAfterEachPublication) {
    TempDir site;
    site.Write("ip.htm", "<html><body>Current IP Address: 84.123.45.6</body></html>\n");
    ServerProcess web(
        {SystemPython(), "-m", "http.server", "80", "--bind", "127.0.0.1", "--directory", site.Path()},
        site.File("http.log"));
    ASSERT_TRUE(web.WaitForPort(80));
    FtpTestServer ftp(21);
    ASSERT_TRUE(ftp.Ready()) << ftp.Log();

    TempDir home;
    std::filesystem::permissions(home.Path(), std::filesystem::perms::all);
    const std::string program =
        InstallService(home, "[Settings]\r\nTempSite=" + home.File("PelorTmp.htm") +
                                 "\r\nFTPHost=127.0.0.1\r\nFTPUser=" + FtpTestServer::kUser +
                                 "\r\nFTPPass=" + ScramblePassword(FtpTestServer::kPassword) +
                                 "\r\nFTPPassive=1\r\nRouter=1\r\nIPSource=127.0.0.1/ip.htm\r\n"
                                 "Intervall=1\r\nMessages=0\r\nMsgLevel=4\r\nLogFile=1\r\n"
                                 "OnPublish=echo \"%IP%|$PELORIX_OLD_IP|$(id -un)\" >>command.txt\r\n");
    std::vector<std::string> argv{program, "-foreground"};
    std::string user = "nobody";
    if (::geteuid() == 0)
        argv.insert(argv.begin(),
                    {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"});
    else
        user = ::getpwuid(::geteuid())->pw_name;
    ServerProcess service(argv, home.File("console.log"), home.Path());
    ASSERT_TRUE(service.Started());

    // The first check comes after the worker's start delay of five seconds.
    ASSERT_TRUE(WaitForText(home, "command.txt", "\n", 20000))
        << ReadIfThere(home, "Pelorix.log") << ReadIfThere(home, "console.log");
    site.Write("ip.htm", "<html><body>Current IP Address: 84.123.45.7</body></html>\n");
    // The next check follows one tick (about ten seconds) later.
    ASSERT_TRUE(WaitForText(home, "command.txt", "84.123.45.7", 20000)) << ReadIfThere(home, "Pelorix.log");
    service.Signal(SIGTERM);
    service.Wait(5000);

    EXPECT_EQ(home.Read("command.txt"), "84.123.45.6||" + user + "\n84.123.45.7|84.123.45.6|" + user + "\n");
    const std::string log = home.Read("Pelorix.log");
    const auto done = log.find("+Befehl ausgeführt"_l1);
    ASSERT_NE(done, std::string::npos) << log;
    EXPECT_LT(log.find("+FTP-Upload OK mit 84.123.45.6"), done) << "the command follows the upload";
    EXPECT_NE(log.find("+Befehl ausgeführt"_l1, done + 1), std::string::npos) << log;
}

} // namespace
} // namespace pelorix::test
