// The address stages end to end against real peers on the system's ports (an FTP greeting on
// 21, Python's http.server on 80), with every failure they report; and the whole service in
// router mode (in this process, on the simulated clock) publishing a page with the address a
// local page reports. Runs in a private network namespace with only loopback up (no name
// service: unknown names fail at once).

#include "SimulatedService.h"
#include "StageTestKit.h"

#include "../net/LoopbackPeer.h"
#include "ServerProcess.h"
#include "TempDir.h"
#include "common/Config.h"

#include <gtest/gtest.h>

namespace pelorix {
namespace {

using Lines = std::vector<std::string>;
using test::LoopbackPeer;
using test::ServerProcess;
using test::StageKit;
using test::TempDir;

const std::string kAnswerPage = "<html><head><title>Current IP Check</title></head>"
                                "<body>Current IP Address: 84.123.45.6</body></html>\n";

// Python's http.server on 127.0.0.1:80, serving dir.
std::unique_ptr<ServerProcess> StartWebServer(const TempDir& dir) {
    auto server = std::make_unique<ServerProcess>(
        std::vector<std::string>{test::SystemPython(), "-m", "http.server", "80", "--bind", "127.0.0.1",
                                 "--directory", dir.Path()},
        dir.File("http.log"));
    if (!server->WaitForPort(80))
        return nullptr;
    return server;
}

TEST(StageAddressNetTest, ProbeTakesTheLocalEndOfTheFtpConnection) {
    LoopbackPeer ftp(
        [&ftp](int fd) {
            LoopbackPeer::SendAll(fd, "220 FTP-Server bereit\r\n");
            ftp.ReadUntil(fd, "\r\n");
            LoopbackPeer::SendAll(fd, "221 Goodbye\r\n");
        },
        21);
    ASSERT_TRUE(ftp.Listening());
    StageKit kit;
    kit.service.FTPHost = "localhost";
    EXPECT_TRUE(kit.Worker().ProbeFTPAddress());
    EXPECT_EQ(kit.Worker().CurrentIP, "127.0.0.1");
    EXPECT_EQ(kit.Lines(), (Lines{"+FTP-Login gestartet (Ping)", "+IP-Adresse ermittelt als: 127.0.0.1"}));
    EXPECT_EQ(ftp.Received(), "QUIT\r\n");
}

TEST(StageAddressNetTest, ProbeFailuresLeaveTheAddressAlone) {
    StageKit kit;
    kit.Worker().CurrentIP = "84.1.2.3";
    kit.service.FTPHost = "127.0.0.1"; // nothing listens on 21
    EXPECT_FALSE(kit.Worker().ProbeFTPAddress());
    EXPECT_EQ(kit.Lines(), (Lines{"+FTP-Login gestartet (Ping)", "-FTP-Fehler: Server nicht erreicht"}));

    kit.service.FTPHost = "nohost.invalid";
    EXPECT_FALSE(kit.Worker().ProbeFTPAddress());
    EXPECT_EQ(kit.Lines(), (Lines{"+FTP-Login gestartet (Ping)", "-FTP-Fehler: keine Netzwerksverbindung"}));
    EXPECT_EQ(kit.Worker().CurrentIP, "84.1.2.3");
}

TEST(StageAddressNetTest, QueryReadsTheAddressFromAWebPage) {
    TempDir site;
    site.Write("ip.htm", kAnswerPage);
    site.Write("leer.txt", "Hier steht keine Adresse, nur Version 1.3.26.\n");
    const auto server = StartWebServer(site);
    ASSERT_TRUE(server);

    StageKit kit;
    kit.service.SourceHost = "127.0.0.1";
    kit.service.SourcePath = "/ip.htm";
    EXPECT_TRUE(kit.Worker().QueryAddressSource());
    EXPECT_EQ(kit.Worker().CurrentIP, "84.123.45.6");
    EXPECT_EQ(kit.Lines(), (Lines{"+Adressquelle wird kontaktiert", "+HTTP-Antwortseite gelesen",
                                  "+IP-Adresse ermittelt als: 84.123.45.6"}));

    const Lines noAddress{"+Adressquelle wird kontaktiert", "+HTTP-Antwortseite gelesen",
                          "-keine IP-Adresse in Abfrageseite enthalten"};
    kit.service.SourcePath = "/leer.txt";
    EXPECT_FALSE(kit.Worker().QueryAddressSource());
    EXPECT_EQ(kit.Worker().CurrentIP, "###");
    EXPECT_EQ(kit.Lines(), noAddress);

    // The server's error page is an answer like any other.
    kit.service.SourcePath = "/fehlt.htm";
    EXPECT_FALSE(kit.Worker().QueryAddressSource());
    EXPECT_EQ(kit.Lines(), noAddress);
}

TEST(StageAddressNetTest, QueryFailures) {
    StageKit kit;
    kit.service.SourceHost = "127.0.0.1";
    kit.service.SourcePath = "/ip.htm";
    kit.Worker().CurrentIP = "84.1.2.3";
    EXPECT_FALSE(kit.Worker().QueryAddressSource());
    EXPECT_EQ(kit.Worker().CurrentIP, "###");
    EXPECT_EQ(kit.Lines(), (Lines{"+Adressquelle wird kontaktiert", "-HTTP-Fehler: Server nicht erreicht"}));

    kit.service.SourceHost = "nohost.invalid";
    EXPECT_FALSE(kit.Worker().QueryAddressSource());
    EXPECT_EQ(kit.Lines(),
              (Lines{"+Adressquelle wird kontaktiert", "-HTTP-Fehler: keine Netzwerksverbindung"}));

    {
        LoopbackPeer silent([&silent](int fd) { silent.ReadUntil(fd, "\r\n\r\n"); }, 80);
        ASSERT_TRUE(silent.Listening());
        kit.service.SourceHost = "localhost";
        EXPECT_FALSE(kit.Worker().QueryAddressSource());
        EXPECT_EQ(kit.Lines(), (Lines{"+Adressquelle wird kontaktiert", "-HTTP-Fehler: Verbindungsfehler"}));
        EXPECT_EQ(silent.Received(), "GET /ip.htm HTTP/1.0\r\nHost: localhost\r\n\r\n");
    }
    EXPECT_EQ(kit.Worker().CurrentIP, "###");
}

TEST(StageAddressNetTest, ServiceInRouterModePublishesTheQueriedAddressIntoTheLocalPage) {
    TempDir site;
    site.Write("ip.htm", kAnswerPage);
    const auto server = StartWebServer(site);
    ASSERT_TRUE(server);

    // The service finds its configuration in its program directory.
    TempDir home;
    home.Write("Pelorix.htm", "<p>Server: <a href=\"http://%IP%/\">%IP%</a></p>\n");
    home.Write("Pelorix.ini", "[Settings]\r\n"
                              "HTMLTemplate=" +
                                  home.File("Pelorix.htm") +
                                  "\r\n"
                                  "TempSite=" +
                                  home.File("PelorTmp.htm") +
                                  "\r\n"
                                  "FTPHost=127.0.0.1\r\n"
                                  "FTPUser=anonymous\r\n"
                                  "FTPPass=" +
                                  ScramblePassword("geheim") +
                                  "\r\n"
                                  "FTPSite=/index.htm\r\n"
                                  "Router=1\r\n"
                                  "IPSource=127.0.0.1/ip.htm\r\n"
                                  "Messages=0\r\n"
                                  "MsgLevel=4\r\n"
                                  "LogFile=1\r\n");

    test::SimulatedService run(home.Path());
    ASSERT_TRUE(run.Run(1)) << run.Log();
    EXPECT_NE(run.LogAfter(1).find("+Seitengenerierung ausgeführt"_l1), std::string::npos) << run.LogAfter(1);

    const std::string log = home.Read("Pelorix.log");
    EXPECT_NE(log.find("+Adressquelle wird kontaktiert"), std::string::npos);
    EXPECT_NE(log.find("+IP-Adresse ermittelt als: 84.123.45.6"), std::string::npos);
    EXPECT_EQ(home.Read("PelorTmp.htm"),
              "<p>Server: <a href=\"http://84.123.45.6/\">84.123.45.6</a></p>\r\n");
}

} // namespace
} // namespace pelorix
