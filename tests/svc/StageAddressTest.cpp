// The worker's host-address check over a sequence of address lists, and the address stages'
// parameter checks (no network needed).

#include "StageTestKit.h"

#include <gtest/gtest.h>

namespace pelorix {
namespace {

using Lines = std::vector<std::string>;
using test::StageKit;

const std::string kUnchanged = "+IP-Adresse(n) unverändert"_l1;

TEST(StageAddressTest, HostAddressesOverSeveralChecks) {
    StageKit kit;
    TPeloThread& worker = kit.Worker();

    kit.hosts.list = {"192.168.1.5"};
    EXPECT_TRUE(worker.CheckHostAddresses());
    EXPECT_EQ(kit.Lines(), Lines{"+IP-Adresse ermittelt als: 192.168.1.5"});

    kit.hosts.list = {"192.168.1.5", "84.1.2.3"};
    EXPECT_TRUE(worker.CheckHostAddresses());
    EXPECT_EQ(kit.Lines(), Lines{"+IP-Adresse ermittelt als: 84.1.2.3"});

    kit.hosts.list = {"84.1.2.3", "192.168.1.5"};
    EXPECT_FALSE(worker.CheckHostAddresses());
    EXPECT_EQ(kit.Lines(), Lines{kUnchanged});

    kit.hosts.list = {"84.1.2.3", "84.9.9.9"};
    EXPECT_TRUE(worker.CheckHostAddresses());
    EXPECT_EQ(kit.Lines(),
              (Lines{"+IP-Adresse aufgegeben: 192.168.1.5", "+IP-Adresse ermittelt als: 84.9.9.9"}));

    kit.hosts.list = {"10.0.0.1", "84.1.2.3", "84.9.9.9"};
    EXPECT_TRUE(worker.CheckHostAddresses());
    EXPECT_EQ(kit.Lines(), Lines{"+IP-Adresse ermittelt als: 10.0.0.1"});

    // Of several addresses gone, only the last one is reported.
    kit.hosts.list = {"84.9.9.9"};
    EXPECT_FALSE(worker.CheckHostAddresses());
    EXPECT_EQ(kit.Lines(), Lines{"+IP-Adresse aufgegeben: 84.1.2.3"});

    // The dial-up connection went down.
    kit.hosts.list = {"127.0.0.1"};
    EXPECT_FALSE(worker.CheckHostAddresses());
    EXPECT_EQ(kit.Lines(),
              (Lines{"+IP-Adresse aufgegeben: 84.9.9.9", "+IP-Adresse ermittelt als: 127.0.0.1"}));
    EXPECT_EQ(worker.PreviousHostAddresses, Lines{"127.0.0.1"});

    // Listing failed.
    kit.hosts.list = {};
    EXPECT_FALSE(worker.CheckHostAddresses());
    EXPECT_EQ(kit.Lines(), Lines{"+IP-Adresse aufgegeben: 127.0.0.1"});
    kit.hosts.list = {};
    EXPECT_FALSE(worker.CheckHostAddresses());
    EXPECT_EQ(kit.Lines(), Lines{kUnchanged});
    EXPECT_EQ(worker.CurrentIP, "0"); // the check never touches the address
}

TEST(StageAddressTest, LoneLoopbackOnTheFirstCheckCountsAsNew) {
    StageKit kit;
    kit.hosts.list = {"127.0.0.1"};
    EXPECT_TRUE(kit.Worker().CheckHostAddresses());
    EXPECT_EQ(kit.Lines(), Lines{"+IP-Adresse ermittelt als: 127.0.0.1"});
}

TEST(StageAddressTest, HostCheckMessagesHaveLevelThree) {
    StageKit kit;
    kit.Worker().MsgLevel = 2;
    kit.hosts.list = {"84.1.2.3"};
    EXPECT_TRUE(kit.Worker().CheckHostAddresses());
    EXPECT_EQ(kit.Lines(), Lines{});
}

TEST(StageAddressTest, MissingHostsAreReportedWithoutNetwork) {
    StageKit kit;
    kit.service.FTPHost = "x";
    kit.service.SourceHost = "";
    kit.service.SourcePath = "/ip";
    TPeloThread& worker = kit.Worker();
    worker.CurrentIP = "84.1.2.3";

    EXPECT_FALSE(worker.ProbeFTPAddress());
    EXPECT_EQ(worker.CurrentIP, "84.1.2.3");
    EXPECT_EQ(kit.Lines(), (Lines{"+FTP-Login gestartet (Ping)", "-FTP-Fehler: unzureichende(r) Parameter"}));

    EXPECT_FALSE(worker.QueryAddressSource());
    EXPECT_EQ(worker.CurrentIP, "###");
    EXPECT_EQ(kit.Lines(),
              (Lines{"+Adressquelle wird kontaktiert", "-HTTP-Fehler: unzureichende(r) Parameter"}));
}

TEST(StageAddressTest, OnlyFailuresPassLevelZero) {
    StageKit kit;
    kit.service.FTPHost = "";
    kit.Worker().MsgLevel = 0;
    EXPECT_FALSE(kit.Worker().ProbeFTPAddress());
    EXPECT_EQ(kit.Lines(), Lines{"-FTP-Fehler: unzureichende(r) Parameter"});
}

} // namespace
} // namespace pelorix
