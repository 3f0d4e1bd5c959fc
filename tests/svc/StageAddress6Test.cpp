// IPv6 beside IPv4 in the publishing cycle: the interface's address chosen and kept, each
// family's change publishing, "%IP6%" in the page, the mail and the command, IPv6 alone, and
// the line about an IPv4 address no visitor can reach. The cycle runs on a sleeper that never
// sleeps; the probe and the upload are scripted, the page is really generated.

#include "SvcFakes.h"
#include "TempDir.h"

#include "platform/CommandRunner.h"
#include "svc/MailCompose.h"

#include <gtest/gtest.h>

namespace pelorix::test {
namespace {

using Lines = std::vector<std::string>;

class Listed6 final : public IHostAddressSource {
public:
    std::vector<std::string> HostAddresses() const override { return {"100.64.12.34"}; }
    InterfaceAddresses6 HostAddresses6(const std::string& name) const override {
        asked.push_back(name);
        return {"veth0", list};
    }
    std::vector<HostAddress6> list;
    mutable std::vector<std::string> asked;
};

HostAddress6 Address(const char* text, std::uint32_t preferred = 3600, bool temporary = false) {
    HostAddress6 a;
    a.Address = text;
    a.PreferredLifetime = preferred;
    a.Temporary = temporary;
    return a;
}

class RecordingCommands final : public ICommandRunner {
public:
    CommandResult Run(const CommandRequest& request) override {
        requests.push_back(request);
        CommandResult result;
        result.Outcome = CommandOutcome::Exited;
        return result;
    }
    void Stop() override {}
    std::vector<CommandRequest> requests;
};

// The real address stages for IPv6, the page generation, and the command; the FTP probe and
// the upload scripted (the upload keeps the page it would send).
class Worker6 : public TPeloThread {
public:
    using TPeloThread::TPeloThread;
    std::function<std::string(int)> probeIP = [](int) { return "100.64.12.34"; };
    std::function<int()> tick;
    Lines uploaded;
    Lines monitor;
    TempDir* dir = nullptr;

    void SendToMonitor(const std::string& line) override { monitor.push_back(line); }

    bool CheckHostAddresses() override { return true; }
    bool ProbeFTPAddress() override {
        CurrentIP = probeIP(tick());
        return !CurrentIP.empty();
    }
    bool UploadPage() override {
        uploaded.push_back(dir->Read("PelorTmp.htm"));
        return true;
    }
};

class StageAddress6Test : public ::testing::Test {
protected:
    StageAddress6Test() : service_(dir_.Path(), clock_, hosts_, &sleeper_) {
        service_.MsgLevel = 4;
        service_.Messages = true;
        service_.IntervalTicks = 0;
        service_.TempSite = dir_.File("PelorTmp.htm");
        service_.HTMLTemplate = dir_.File("Pelorix.htm");
        service_.IPv6.Use = 1;
        dir_.Write("Pelorix.htm", "v4 %IP% v6 %IP6%");
    }

    Worker6& MakeWorker() {
        worker_ = std::make_unique<Worker6>(service_, clock_, sleeper_, hosts_, &commands_);
        worker_->tick = [this] { return sleeper_.ticks; };
        worker_->dir = &dir_;
        return *worker_;
    }

    void RunTicks(int count, std::function<void(int)> between = {}) {
        sleeper_.onTick = [this, count, between](int done) {
            if (between)
                between(done);
            if (done >= count)
                worker_->Terminate();
        };
        worker_->Execute();
    }

    // The kept lines without time stamps, only those that mention an address family.
    Lines AddressLines() {
        Lines lines;
        for (const std::string& line : worker_->monitor)
            if (line.find("IPv") != std::string::npos)
                lines.push_back(line.substr(11));
        return lines;
    }

    TempDir dir_;
    FixedClock clock_;
    Listed6 hosts_;
    TickSleeper sleeper_;
    RecordingCommands commands_;
    TPelorixService service_;
    std::unique_ptr<Worker6> worker_;
};

TEST_F(StageAddress6Test, TheStableAddressIsPublishedBesideTheIPv4OneAndKeptWhileItLasts) {
    hosts_.list = {Address("fe80::1"), Address("fd00::1"), Address("2001:db8:1::aaaa", 86400, true),
                   Address("2001:db8:1::1", 3600)};
    service_.IPv6.Interface = "veth0";
    service_.OnPublish = "echo %IP6%";
    auto& w = MakeWorker();
    RunTicks(4, [this](int done) {
        if (done == 2) // a second stable address with a longer life: the published one stays
            hosts_.list.push_back(Address("2001:db8:2::1", 7200));
    });
    EXPECT_EQ(w.uploaded, Lines{"v4 100.64.12.34 v6 2001:db8:1::1\r\n"});
    EXPECT_EQ(hosts_.asked.front(), "veth0");
    EXPECT_EQ(
        AddressLines(),
        (Lines{"-IPv4-Adresse 100.64.12.34 ist nicht öffentlich (Carrier-Grade-NAT) - Routerbetrieb oder "
               "IPv6 verwenden"_l1,
               "+IPv6-Adresse ermittelt als: 2001:db8:1::1", "+IPv6-Adresse unverändert"_l1,
               "+IPv6-Adresse unverändert"_l1, "+IPv6-Adresse unverändert"_l1}));
    ASSERT_EQ(commands_.requests.size(), 1u);
    EXPECT_EQ(commands_.requests[0].CommandLine, "echo 2001:db8:1::1");
    const auto& env = commands_.requests[0].Environment;
    EXPECT_EQ(env, (std::vector<std::pair<std::string, std::string>>{{"PELORIX_IP", "100.64.12.34"},
                                                                     {"PELORIX_OLD_IP", ""},
                                                                     {"PELORIX_IP6", "2001:db8:1::1"},
                                                                     {"PELORIX_OLD_IP6", ""}}));
}

TEST_F(StageAddress6Test, EachFamilysChangePublishesAndTheNonPublicLineComesOncePerChange) {
    hosts_.list = {Address("2001:db8:1::1")};
    auto& w = MakeWorker();
    w.probeIP = [](int tick) { return tick < 4 ? "192.168.178.20" : "84.1.2.3"; };
    RunTicks(6, [this](int done) {
        if (done == 2) { // the prefix replaced: the old address deprecated, a new one beside it
            hosts_.list[0].Deprecated = true;
            hosts_.list.push_back(Address("2001:db8:2::1"));
        }
    });
    EXPECT_EQ(w.uploaded,
              (Lines{"v4 192.168.178.20 v6 2001:db8:1::1\r\n", "v4 192.168.178.20 v6 2001:db8:2::1\r\n",
                     "v4 84.1.2.3 v6 2001:db8:2::1\r\n"}));
    const Lines lines = AddressLines();
    EXPECT_EQ(
        std::count(lines.begin(), lines.end(),
                   "-IPv4-Adresse 192.168.178.20 ist nicht öffentlich (privates Netz) - Routerbetrieb oder "
                   "IPv6 verwenden"_l1),
        1);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "+IPv6-Adresse aufgegeben: 2001:db8:1::1"), lines.end());
    ASSERT_EQ(commands_.requests.size(), 0u); // no command set
}

TEST_F(StageAddress6Test, WithoutAPublishableAddressTheLineComesOnceAndThePageSaysNothing) {
    hosts_.list = {Address("fd00::1"), Address("2001:db8::9", 0)};
    auto& w = MakeWorker();
    RunTicks(3);
    EXPECT_EQ(w.uploaded, Lines{"v4 100.64.12.34 v6 \r\n"});
    const Lines lines = AddressLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "-keine öffentliche IPv6-Adresse an veth0"_l1), 1);
}

TEST_F(StageAddress6Test, IPv6AloneFillsBothPlaceholdersAndTheDefaultPageLeadsToIt) {
    service_.IPv6.Use = 2;
    service_.HTMLTemplate = dir_.File("fehlt.htm");
    hosts_.list = {Address("2001:db8:1::1")};
    auto& w = MakeWorker();
    w.probeIP = [](int) -> std::string { throw std::logic_error("no IPv4 wanted"); };
    RunTicks(2);
    ASSERT_EQ(w.uploaded.size(), 1u);
    EXPECT_NE(w.uploaded[0].find(R"(<H2><BR><a href="http://[2001:db8:1::1]/">2001:db8:1::1</a></H2>)"),
              std::string::npos);
    EXPECT_EQ(w.PublishedIP, "2001:db8:1::1");
    EXPECT_EQ(AddressLines(),
              (Lines{"+IPv6-Adresse ermittelt als: 2001:db8:1::1", "+IPv6-Adresse unverändert"_l1}));
}

TEST_F(StageAddress6Test, IPv6OffLeavesThePlaceholderAndAsksForNoIPv6Address) {
    service_.IPv6.Use = 0;
    hosts_.list = {Address("2001:db8:1::1")};
    auto& w = MakeWorker();
    w.probeIP = [](int) { return "84.1.2.3"; };
    RunTicks(2);
    EXPECT_EQ(w.uploaded, Lines{"v4 84.1.2.3 v6 %IP6%\r\n"});
    EXPECT_TRUE(hosts_.asked.empty());
    EXPECT_TRUE(AddressLines().empty());
}

TEST_F(StageAddress6Test, TheIPv6PageIsSplitLikeTheIPv4OneAndRefusedWithoutAPath) {
    service_.FTPHost = "ftp.example";
    service_.FTPUser = "u";
    service_.FTPPass = "p";
    service_.Router = true;
    service_.SourcePath = "http://v4.example/ip";
    service_.SourcePath6 = "https://v6.example/ip?x";
    EXPECT_TRUE(service_.CheckParams());
    EXPECT_EQ(service_.SourceHost6, "v6.example");
    EXPECT_EQ(service_.SourcePath6, "/ip?x");
    EXPECT_TRUE(service_.SourceSecure6);

    service_.SourcePath6 = "v6.example";
    service_.SourcePath = "v4.example/ip";
    EXPECT_FALSE(service_.CheckParams());
    EXPECT_NE(service_.ServiceLogBuffer.find("-keine HTTP-Seite für IPv6 eingetragen"_l1), std::string::npos);
}

TEST(MailAddress6Test, SubjectAndTextGetTheIPv6AddressOnlyWhenItIsOn) {
    FixedClock clock;
    EXPECT_EQ(FillMailSubject("%IP% / %IP6%", "84.1.2.3"), "84.1.2.3 / %IP6%");
    EXPECT_EQ(FillMailSubject("%IP% / %IP6%", "84.1.2.3", "2001:db8::1"), "84.1.2.3 / 2001:db8::1");
    EXPECT_EQ(FillMailText("http://[%IP6%]/ %Time%", "offline", clock, "offline"), "http://[offline]/ 22:05");
}

} // namespace
} // namespace pelorix::test
